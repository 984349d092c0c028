// The shared library as a host sees it: exactly the plain C names of the
// public interface, loadable with dlopen, with the error-text behaviour the
// host relies on.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <string>

#include "test_support.h"

namespace {

const std::set<std::string> kPublic = {"pdfa_init",       "pdfa_cleanup", "pdfa_last_error", "pdfa_convert_1b",
                                       "pdfa_convert_2b", "pdfa_check",   "pdfa_report"};

std::set<std::string> defined_symbols(const std::string &nm_args) {
  std::string out;
  EXPECT_EQ(zyk_test::run_command("nm " + nm_args + " 2>/dev/null", &out), 0) << nm_args;
  std::set<std::string> names;
  std::istringstream in(out);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream row(line);
    std::string addr, type, name;
    if (!(row >> addr >> type >> name)) continue;
    names.insert(name);
  }
  return names;
}

}  // namespace

TEST(Exports, ExactlyThePublicCNamesAreVisible) {
  std::set<std::string> exported = defined_symbols("-D --defined-only " ZYK_SHARED_LIB);
  EXPECT_EQ(exported, kPublic);
}

TEST(Exports, HostLoadsLibraryAndReadsErrorText) {
  void *lib = dlopen(ZYK_SHARED_LIB, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(lib, nullptr) << dlerror();
  using TextFn = const char *(*)();
  using VoidFn = void (*)();
  auto last_error = reinterpret_cast<TextFn>(dlsym(lib, "pdfa_last_error"));
  auto cleanup = reinterpret_cast<VoidFn>(dlsym(lib, "pdfa_cleanup"));
  ASSERT_NE(last_error, nullptr);
  ASSERT_NE(cleanup, nullptr);
  // Right after loading: an empty text, never null.
  ASSERT_NE(last_error(), nullptr);
  EXPECT_STREQ(last_error(), "");
  cleanup();
  EXPECT_STREQ(last_error(), "");
  // Internal C++ names are not reachable.
  EXPECT_EQ(dlsym(lib, "_ZN3zyk8doc_loadEPKcPNS_3DocE"), nullptr);
  dlclose(lib);
}
