// ndam_peer.cc: a second process for the library's cross-process tests. On
// the machine named by VREX_SIM_MACHINE it initialises the library, tries to
// take adapter 1, fills its record and prints what it saw, one "name value"
// line each.
#include <cstdio>

#include "ndam/ngndam.h"

int main() {
  std::uint32_t status =
      ngNdamInitialize(ngNDAM_VERSION_MAJOR, ngNDAM_VERSION_MINOR, ngNDAM_VERSION_BUILD);
  std::printf("init %u\n", status);
  if (status == ngNDAM_OK) {
    std::uint32_t count = 0;
    std::printf("count_status %u\n", ngNdamGetNumPhyNic(&count));
    std::printf("count %u\n", count);
    std::uint32_t diag = ngNdamInitDiag(1);
    std::printf("initdiag %u\n", diag);
    if (diag == ngNDAM_OK) ngNdamUnInitDiag(1);
    PhyNic record{};
    std::printf("fill %u\n", ngNdamGetPhyNic(1, &record));
    std::printf("locked %u\n", record.locked);
  }
  std::printf("uninit %u\n", ngNdamUninitialize());
  return 0;
}
