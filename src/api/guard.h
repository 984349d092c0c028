// Runs the body of an export and turns any escaping exception into the
// export's failure result with a matching error text.
#pragma once

#include <exception>
#include <new>

#include "base/base.h"

namespace zyk {

// Copies the error of one call into the exports' last-error text. An empty
// one (nothing failed) leaves the text as it was.
inline void report_error(const ErrorText &err) {
  if (!err.empty()) set_error("%s", err.text.c_str());
}

template <class R, class F>
R run_guarded(R failure, F &&body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc &) {
    set_error("out of memory");
  } catch (const std::exception &e) {
    set_error("internal error: %s", e.what());
  } catch (...) {
    set_error("internal error");
  }
  return failure;
}

}  // namespace zyk
