// The export pdfa_init: clears the error text and reads the substitute font's
// facts ahead of the first conversion. Optional for a host; conversions read
// the facts themselves. Like every export it lets no exception escape.
#include "api/guard.h"
#include "base/base.h"
#include "font/font.h"
#include "zyk_out_pdfa.h"

extern "C" {

ZYK_PDFA_API int pdfa_init(void) {
  return zyk::run_guarded(1, [] {
    zyk::clear_error();
    (void)zyk::substitute_font();
    return 1;
  });
}

}  // extern "C"
