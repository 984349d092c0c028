// The inspection exports: the declared PDF/A part and the JSON report.
// Exceptions (only std::bad_alloc is expected) are caught here and become
// the failure result, so none crosses the C boundary.
#include "api/guard.h"
#include "base/base.h"
#include "inspect/inspect.h"
#include "pdf/pdf.h"
#include "zyk_out_pdfa.h"

namespace {

// The last report; each pdfa_report call overwrites it from the start.
// Hosts read it after the call, until the next one.
zyk::ReportText g_report;

}  // namespace

extern "C" {

// The error text is cleared only when a part is identified: a file that
// loads but declares nothing returns 0 and leaves the previous text.
ZYK_PDFA_API int pdfa_check(const char *input_path) {
  return zyk::run_guarded(0, [&] {
    if (!input_path) {
      zyk::set_error("NULL path argument");
      return 0;
    }
    zyk::DocGuard g;
    zyk::ErrorText err;
    if (!zyk::doc_load(input_path, &g.d, &err)) {
      zyk::report_error(err);
      return 0;
    }
    int level = zyk::pdfa_level_of(&g.d, g.d.pdf, g.d.pdf_len);
    if (level > 0) zyk::clear_error();
    return level;
  });
}

// Always returns the report buffer holding a complete JSON document; when
// building the report throws, the short "unreadable" form replaces the
// partial text, with the guard's message ("out of memory") as its error.
ZYK_PDFA_API const char *pdfa_report(const char *input_path) {
  zyk::ErrorText err;
  const bool built = zyk::run_guarded(false, [&] {
    zyk::report_build(input_path, &err, &g_report);
    return true;
  });
  if (built)
    zyk::report_error(err);
  else
    zyk::report_fallback(input_path, zyk::error_text(), &g_report);
  return g_report.chars;
}

}  // extern "C"
