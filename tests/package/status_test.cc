#include <gtest/gtest.h>

#include <string>

#include "package/package.h"

namespace {

struct NameCase {
  int32_t code;
  const char* name;
};

TEST(StatusName, MembersGapsAndOutOfRange) {
  const NameCase cases[] = {
      {0, "SUCCESS"},
      {-24, "INVALID_MANIFEST"},
      {-151, "NVM_INSTALL_UPDATE_CMD_ERR_CODE_ANTI_ROLLBACK"},
      {-200, "CAP"},
      {-15, "Unknown: -15"},
      {-140, "Unknown: -140"},
      {-201, "Unknown: -201"},
      {1, "Unknown: 1"},
      {7, "Unknown: 7"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(std::string(status_name(c.code)), c.name) << c.code;
  }
}

TEST(StatusName, FamilyHasEveryListedMember) {
  int members = 0;
  for (int32_t code = -200; code <= 0; ++code) {
    if (std::string(status_name(code)).rfind("Unknown: ", 0) != 0) ++members;
  }
  EXPECT_EQ(members, 103);
}

}  // namespace
