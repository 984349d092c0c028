// The exports' last-error text, and the error text of one call.
#include <cstdarg>
#include <cstdio>

#include "base/base.h"

namespace zyk {

namespace {
// Empty when the library is loaded; never freed, never null.
char g_err[k_err_size];
}  // namespace

int set_error(const char *fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  int r = std::vsnprintf(g_err, sizeof g_err, fmt, ap);
  va_end(ap);
  return r;
}

const char *error_text() { return g_err; }

void clear_error() { g_err[0] = 0; }

bool ErrorText::fail(const char *fmt, ...) {
  char line[k_err_size];
  va_list ap;
  va_start(ap, fmt);
  std::vsnprintf(line, sizeof line, fmt, ap);
  va_end(ap);
  text = line;
  return false;
}

}  // namespace zyk
