#include "base/vocab.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace zirk {
namespace {

TEST(Vocab, PropertyNamesAreUniqueAndRoundTrip) {
  std::set<std::string> names;
  int named = 0;
  for (int32_t id = 0; id < kPropertyCount; ++id) {
    std::string name = PropertyName(id);
    if (name.empty()) continue;
    ++named;
    EXPECT_TRUE(names.insert(name).second) << name;
    EXPECT_EQ(PropertyIdOf(name.c_str()), id) << name;
  }
  EXPECT_GE(named, 139);
  EXPECT_STREQ(PropertyName(PR_LEFT), "PR_LEFT");
  EXPECT_STREQ(PropertyName(162), "");
  EXPECT_EQ(PropertyIdOf("PR_NOSUCH"), -1);
  EXPECT_STREQ(ObjectKindName(LT_MENU), "LT_MENU");
  EXPECT_STREQ(ObjectKindName(LT_CABINET), "LT_CABINET");
  // The nine border cells are one run of ids, addressed as the first + cell.
  EXPECT_EQ(PR_BORDERSOURCEBR - PR_BORDERSOURCETL, 8);
}

}  // namespace
}  // namespace zirk
