// The last-error text: formatting, cutting and clearing.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "base/base.h"

using namespace zyk;

TEST(ErrorText, FormatsReplacesAndClears) {
  set_error("cannot open %s", "a.pdf");
  EXPECT_STREQ(error_text(), "cannot open a.pdf");
  set_error("page %ld: empty content", 3L);
  EXPECT_STREQ(error_text(), "page 3: empty content");
  clear_error();
  EXPECT_STREQ(error_text(), "");
}

TEST(ErrorText, LongMessageIsCutTo1023BytesAndTerminated) {
  std::string path(3000, 'p');
  int r = set_error("cannot open %s", path.c_str());
  EXPECT_EQ(r, static_cast<int>(std::strlen("cannot open ") + path.size()));
  EXPECT_EQ(std::strlen(error_text()), 1023u);
  EXPECT_EQ(std::string(error_text(), 12), "cannot open ");
}
