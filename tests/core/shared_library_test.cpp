// Loading a library at run time: the first name that loads wins, and what
// cannot be had is said, never a crash.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/shared_library.h"

namespace raid {
namespace {

TEST(SharedLibrary, OpensTheFirstNameThatLoadsAndFindsItsSymbols) {
  SharedLibrary lib;
  const Outcome opened = lib.Open({"libdoes-not-exist.so.9", "libc.so.6"});
  ASSERT_TRUE(opened) << opened.error();
  using Strlen = size_t (*)(const char*);
  const Expected<void*> at = lib.Symbol("strlen");
  ASSERT_TRUE(at) << at.error();
  EXPECT_EQ(reinterpret_cast<Strlen>(*at)("enclosure"), 9u);
  const Expected<void*> missing = lib.Symbol("no_such_symbol_in_libc");
  EXPECT_FALSE(missing);
  EXPECT_NE(missing.error().find("no_such_symbol_in_libc"), std::string::npos) << missing.error();
}

TEST(SharedLibrary, NothingThatLoadsIsSaidForEachName) {
  SharedLibrary lib;
  const Outcome opened = lib.Open({"libdoes-not-exist.so.9", "libnor-this.so.1"});
  EXPECT_FALSE(opened);
  EXPECT_NE(opened.error().find("libdoes-not-exist.so.9"), std::string::npos) << opened.error();
  EXPECT_NE(opened.error().find("libnor-this.so.1"), std::string::npos) << opened.error();
  EXPECT_FALSE(lib.Symbol("strlen"));
}

}  // namespace
}  // namespace raid
