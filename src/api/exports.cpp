// The exported C functions. This is the only place that catches exceptions:
// nothing thrown inside the library may cross the C boundary.
#include "api/guard.h"
#include "base/base.h"
#include "zyk_out_pdfa.h"

extern "C" {

ZYK_PDFA_API const char *pdfa_last_error(void) { return zyk::error_text(); }

ZYK_PDFA_API void pdfa_cleanup(void) { zyk::clear_error(); }

}  // extern "C"
