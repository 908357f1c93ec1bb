// package_list.cc: one package record's listing and verdict.
#include "front_end/package_list.h"

#include <algorithm>

bool list_package(PackageRecord* record, LineWriter write) {
  write("%s:\n", record->path);
  write("desc:      %s\n", record->desc);
  write("ver:       %s\n", record->ver);
  write("requires:  %s\n", record->requires_ver);
  write("timestamp: %s\n", record->timestamp);

  bool supported = false;
  if (record->dev_id_count <= 0 || record->ver[0] == '\0') {
    write("Package missing device-ID and/or version: Not supported!\n");
  } else {
    // The count follows the property's length; only the slots that exist are read.
    int32_t ids = std::min<int32_t>(record->dev_id_count, kPackageDevIdSlots);
    for (int32_t i = 0; i < ids; ++i)
      write("dev-id:    %04x:%04x:%04x\n", record->dev_ids[i], record->subsys_vendor,
            record->subsys_id);
    int32_t index = -1;
    int32_t status = package_validate(record->view(), &index);
    if (status == TSYRETVAL_SUCCESS) {
      write("Package supported.\n");
      supported = true;
    } else {
      write("Package corrupted! Error: %d (%s), index=%d\n", status, status_name(status), index);
    }
  }

  if (!supported) {
    record->data = PackageBuffer{};
    record->data_size = 0;
  }
  return supported;
}
