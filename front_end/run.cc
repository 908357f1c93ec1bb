// run.cc: from the parsed command line to the run's exit status.
#include <cstdio>

#include "front_end/command_line.h"
#include "front_end/execution.h"
#include "front_end/nvm_options.h"
#include "front_end/reports.h"
#include "front_end/run_settings.h"
#include "front_end/selection.h"
#include "front_end/writers.h"
#include "ndam/ngndam.h"

int vrexcup_main(int argc, char** argv) {
  if (int status = parse_command_line(argc, argv); status >= 0) return status;

  Selection selected;
  if (int status = selection(run_settings.command, &selected)) return status;

  if (run_settings.getoption &&
      getoption_form(selected.adapters.get(), selected.supported_count,
                     run_settings.device_selector, run_settings.port,
                     run_settings.option_number)) {
    ngNdamUninitialize();
    return 0;
  }

  switch (run_settings.command) {
    case COMMAND_INVENTORY:
      write_inventory_report(selected.adapters.get(), selected.supported_count);
      std::fflush(run_settings.out);
      ngNdamUninitialize();
      return 0;
    case COMMAND_UPGRADE:
    case COMMAND_INSTALL:
      return static_cast<int>(execution_run(run_settings.command, selected.adapters.get(),
                                            selected.supported_count, run_settings.by_date,
                                            run_settings.restore_factory_defaults));
    default:
      return report_failure(110, "Unrecognized command value: %u", run_settings.command);
  }
}
