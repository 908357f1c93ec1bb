// run.cc: from the parsed command line to the run's exit status.
#include "front_end/command_line.h"
#include "front_end/run_settings.h"
#include "front_end/selection.h"
#include "front_end/writers.h"

namespace {

// The getoption action on the supported adapter whose name equals the device
// selector. Returns false when there is no such adapter.
bool run_getoption(const Selection& selected) {
  (void)selected;  // no adapters are discovered yet
  return false;
}

}  // namespace

int vrexcup_main(int argc, char** argv) {
  if (int status = parse_command_line(argc, argv); status >= 0) return status;

  Selection selected;
  if (int status = selection(run_settings.command, &selected)) return status;

  if (run_settings.getoption && run_getoption(selected)) return 0;

  switch (run_settings.command) {
    case COMMAND_INVENTORY:
      // The inventory report follows adapter discovery.
      return 0;
    case COMMAND_UPGRADE:
    case COMMAND_INSTALL:
      // The execution run follows adapter discovery.
      return 0;
    default:
      return report_failure(110, "Unrecognized command value: %u", run_settings.command);
  }
}
