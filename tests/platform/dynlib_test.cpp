#include "platform/dynlib.h"

#include <gtest/gtest.h>

#include <utility>

namespace zirk::platform {
namespace {

using AddFn = int (*)(int, int);
using CountFn = int (*)();

TEST(DynamicLibrary, LoadsAndResolvesByName) {
  DynamicLibrary lib;
  EXPECT_FALSE(lib.isOpen());
  ASSERT_TRUE(lib.open(ZIRK_TEST_DYNLIB)) << lib.error();
  EXPECT_TRUE(lib.isOpen());
  auto add = lib.function<AddFn>("zirk_test_add");
  ASSERT_NE(add, nullptr) << lib.error();
  EXPECT_EQ(add(40, 2), 42);
}

TEST(DynamicLibrary, FailuresSayWhy) {
  struct Case {
    const char* path;
    const char* symbol;  // nullptr: opening itself fails
  } cases[] = {
      {"/nonexistent/libnothing.so", nullptr},
      {"", nullptr},
      {ZIRK_TEST_DYNLIB, "zirk_test_missing"},
  };
  for (auto c : cases) {
    SCOPED_TRACE(c.path);
    DynamicLibrary lib;
    if (!c.symbol) {
      EXPECT_FALSE(lib.open(c.path));
      EXPECT_FALSE(lib.isOpen());
      EXPECT_FALSE(lib.error().empty());
      // Asking a library that is not loaded fails the same way.
      EXPECT_EQ(lib.symbol("zirk_test_add"), nullptr);
      EXPECT_FALSE(lib.error().empty());
    } else {
      ASSERT_TRUE(lib.open(c.path));
      EXPECT_EQ(lib.symbol(c.symbol), nullptr);
      EXPECT_NE(lib.error().find(c.symbol), std::string::npos) << lib.error();
      // The library stays usable after a failed look-up.
      EXPECT_NE(lib.symbol("zirk_test_add"), nullptr);
    }
  }
}

TEST(DynamicLibrary, ClosingUnloadsAndMovingTransfersOwnership) {
  DynamicLibrary lib;
  ASSERT_TRUE(lib.open(ZIRK_TEST_DYNLIB));
  auto count = lib.function<CountFn>("zirk_test_count");
  EXPECT_EQ(count(), 1);
  EXPECT_EQ(count(), 2);

  DynamicLibrary moved = std::move(lib);
  EXPECT_FALSE(lib.isOpen());
  ASSERT_TRUE(moved.isOpen());
  // Still the same loaded copy: its state went along.
  EXPECT_EQ(moved.function<CountFn>("zirk_test_count")(), 3);

  moved.close();
  EXPECT_FALSE(moved.isOpen());
  EXPECT_EQ(moved.symbol("zirk_test_count"), nullptr);
  // Loaded afresh: the library's state starts over, so the old copy was freed.
  ASSERT_TRUE(moved.open(ZIRK_TEST_DYNLIB));
  EXPECT_EQ(moved.function<CountFn>("zirk_test_count")(), 1);

  // Assigning over an open library releases it first.
  DynamicLibrary other;
  ASSERT_TRUE(other.open(ZIRK_TEST_DYNLIB));
  other = std::move(moved);
  EXPECT_TRUE(other.isOpen());
  EXPECT_EQ(other.function<CountFn>("zirk_test_count")(), 2);
}

TEST(DynamicLibrary, HostNamesOfWindowsLibraries) {
  struct Case {
    const char* dll;
    const char* host;
  } cases[] = {
      {"zirk.dll", "libzirk.so"},     {"ZirkLog.dll", "libzirklog.so"},
      {"DSOUND.DLL", "libdsound.so"}, {"C:\\Windows\\wsock32.dll", "libwsock32.so"},
      {"plain", "libplain.so"},
  };
  for (auto c : cases) EXPECT_EQ(hostLibraryName(c.dll), c.host) << c.dll;
}

TEST(DynamicLibrary, ProgramFolderHoldsTheTestBinary) {
  auto folder = programFolder();
  EXPECT_TRUE(folder.is_absolute());
  EXPECT_TRUE(std::filesystem::exists(folder / "platform_tests")) << folder;
}

}  // namespace
}  // namespace zirk::platform
