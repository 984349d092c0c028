// The conversion exports. Both load the input (a protected file that opens
// with an empty password deciphered), run the writer's driver with
// their PDF/A part in a context of their own, and release the document on
// every path; any exception (only std::bad_alloc is expected) becomes the
// failure result with its message, so none crosses the C boundary.
#include <atomic>

#include "api/guard.h"
#include "base/base.h"
#include "pdf/pdf.h"
#include "writer/writer.h"
#include "zyk_out_pdfa.h"

namespace {

// Each conversion's temporary names start from a salt of their own, so
// conversions running at once in one process try different names first.
std::atomic<unsigned> g_next_salt{0};

int convert(const char *input_path, const char *output_path, int part) {
  return zyk::run_guarded(0, [&] {
    if (!input_path || !output_path) {
      zyk::set_error("NULL path argument");
      return 0;
    }
    zyk::Context ctx;
    ctx.temp_salt = g_next_salt.fetch_add(zyk::k_temp_attempts, std::memory_order_relaxed);
    zyk::DocGuard g;
    const bool done = zyk::doc_load(input_path, &g.d, &ctx.err, zyk::LoadMode::decrypted) &&
                      zyk::pdfa_convert_core(ctx, &g.d, output_path, part);
    if (!done) {
      // Every failing path says why; should one ever not, the caller must
      // not be left with the text of an earlier call.
      if (ctx.err.empty()) (void)ctx.err.fail("internal error: the conversion failed without a message");
      zyk::report_error(ctx.err);
      return 0;
    }
    zyk::clear_error();
    return 1;
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
