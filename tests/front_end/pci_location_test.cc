// Location texts of PCI devices: the three known forms and what they refuse.
#include <gtest/gtest.h>

#include <cstdint>

#include "front_end/pci_device.h"

namespace {

struct LocationCase {
  const char* text;
  int parsed;
  uint32_t bus, device, function;
};

TEST(PciLocation, ReadsTheThreeFormsAndRefusesOthers) {
  const LocationCase cases[] = {
      {"PCI bus 59, device 0, function 1", 1, 59, 0, 1},
      {"PCI Express Bus 4, Device 2, Function 3", 1, 4, 2, 3},
      {"PCI Express Root Port 3, Bus 4, Device 0, Function 0", 1, 4, 0, 0},
      // A blank takes any run of white space, none included.
      {"PCI  bus\t7,device 1,   function 2", 1, 7, 1, 2},
      // The second form's capitals matter; the first form's do too.
      {"pci bus 1, device 0, function 0", 0, 0, 0, 0},
      {"PCI bus 1, device 0", 0, 0, 0, 0},
      {"PCI bus x, device 0, function 0", 0, 0, 0, 0},
      {"PCI Express Root Port, Bus 4, Device 0, Function 0", 0, 0, 0, 0},
      {"", 0, 0, 0, 0},
      {"@System32\\drivers\\pci.sys,#65536;PCI bus %1, device %2, function %3", 0, 0, 0, 0},
  };
  for (const LocationCase& c : cases) {
    uint32_t bus = 0, device = 0, function = 0;
    EXPECT_EQ(parse_pci_location(c.text, &bus, &device, &function), c.parsed) << c.text;
    if (c.parsed) {
      EXPECT_EQ(bus, c.bus) << c.text;
      EXPECT_EQ(device, c.device) << c.text;
      EXPECT_EQ(function, c.function) << c.text;
    }
  }
}

}  // namespace
