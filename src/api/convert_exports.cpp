// The conversion exports. Both load the input (a protected file that opens
// with an empty password deciphered), run the writer's driver with
// their PDF/A part, and release the document on every path; any exception
// (only std::bad_alloc is expected) becomes the failure result with its
// message, so none crosses the C boundary.
#include "api/guard.h"
#include "base/base.h"
#include "pdf/pdf.h"
#include "writer/writer.h"
#include "zyk_out_pdfa.h"

namespace {

int convert(const char *input_path, const char *output_path, int part) {
  return zyk::run_guarded(0, [&] {
    if (!input_path || !output_path) {
      zyk::set_error("NULL path argument");
      return 0;
    }
    zyk::DocGuard g;
    if (zyk::doc_load(input_path, &g.d, zyk::LoadMode::decrypted) != 0) return 0;
    return zyk::pdfa_convert_core(&g.d, output_path, part);
  });
}

}  // namespace

extern "C" {

ZYK_PDFA_API int pdfa_convert_1b(const char *input_path, const char *output_path) {
  return convert(input_path, output_path, 1);
}

ZYK_PDFA_API int pdfa_convert_2b(const char *input_path, const char *output_path) {
  return convert(input_path, output_path, 2);
}

}  // extern "C"
