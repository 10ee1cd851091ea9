// Loading a library at run time: the first name that loads wins, and what
// cannot be had is said, never a crash.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/shared_library.h"

namespace raid {
namespace {

TEST(SharedLibrary, OpensTheFirstNameThatLoadsAndFindsItsSymbols) {
  SharedLibrary lib;
  ASSERT_TRUE(lib.Open({"libdoes-not-exist.so.9", "libc.so.6"})) << lib.Error();
  using Strlen = size_t (*)(const char*);
  auto strlenAt = reinterpret_cast<Strlen>(lib.Symbol("strlen"));
  ASSERT_NE(strlenAt, nullptr);
  EXPECT_EQ(strlenAt("enclosure"), 9u);
  EXPECT_EQ(lib.Symbol("no_such_symbol_in_libc"), nullptr);
  EXPECT_NE(lib.Error().find("no_such_symbol_in_libc"), std::string::npos) << lib.Error();
}

TEST(SharedLibrary, NothingThatLoadsIsSaidForEachName) {
  SharedLibrary lib;
  EXPECT_FALSE(lib.Open({"libdoes-not-exist.so.9", "libnor-this.so.1"}));
  EXPECT_NE(lib.Error().find("libdoes-not-exist.so.9"), std::string::npos) << lib.Error();
  EXPECT_NE(lib.Error().find("libnor-this.so.1"), std::string::npos) << lib.Error();
  EXPECT_EQ(lib.Symbol("strlen"), nullptr);
}

}  // namespace
}  // namespace raid
