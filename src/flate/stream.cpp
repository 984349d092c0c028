// Stream decoding: the bytes of one stream object after its filter.
//
// Exactly one filter is known. A stream whose dictionary range holds the
// name FlateDecode anywhere (as /Filter, inside a filter array, even inside
// /DecodeParms) is inflated into the caller's Buf; every other stream comes
// back raw, as a pointer into the file image, copying nothing. Predictors
// are not undone and later filters of an array are not applied: callers get
// the inflated bytes as they are.
//
// The inflated path first reserves a fixed factor of the raw length plus
// slack in the caller's Buf and decodes once, which fits nearly every stream.
// Data that inflates to more (long runs, blank images: about one FlateDecode
// stream in fifteen in real files) is decoded again into a scratch block four
// times larger each time, never beyond what DEFLATE can produce from the raw
// length (1032 bytes per input byte) nor the decoder's limit, and copied into
// the Buf once it fits. Dropping such data would silently lose page content.
#include <cstdlib>
#include <cstring>
#include <memory>

#include "flate/flate.h"
#include "flate/flate_limits.h"

namespace zyk {

const unsigned char *decoded_stream(const ObjEntry &e, const unsigned char *pdf, int pdf_len, Buf *out, int *len) {
  static const unsigned char k_empty[1] = {0};
  if (!e.is_stream) return nullptr;
  int n = e.data_end - e.data_off;
  if (n <= 0) {
    *len = 0;
    return k_empty;
  }
  // The raw bytes must lie inside the image the caller passed; a table
  // entry that does not fit it is not read at all.
  if (e.data_off < 0 || e.data_end > pdf_len) return nullptr;
  const unsigned char *raw = pdf + e.data_off;
  const unsigned char *text;
  int start, end;
  if (!dict_range(pdf, pdf_len, e, &text, &start, &end) || find_name(text, end, start, end, "FlateDecode") < 0) {
    *len = n;
    return raw;
  }
  std::uint64_t cap = k_stream_out_factor * static_cast<std::uint64_t>(n) + k_stream_out_slack;
  // Above the decoder's limit the decode is refused anyway; reserving first
  // would only allocate memory that can never be used.
  if (cap > k_inflate_max_out) return nullptr;
  buf_reserve(out, cap);
  if (!out->chars) return nullptr;
  auto *dst = reinterpret_cast<unsigned char *>(out->chars + out->used);
  std::uint64_t produced = 0;
  if (inflate_decompress(raw, static_cast<std::uint64_t>(n), dst, cap, &produced) != 0) {
    // Too small a destination and a truncated stream both fail; only a
    // larger destination tells them apart.
    std::uint64_t most = k_deflate_max_ratio * static_cast<std::uint64_t>(n) + k_deflate_max_ratio_slack;
    if (most > k_inflate_max_out) most = k_inflate_max_out;
    bool ok = false;
    while (!ok && cap < most) {
      cap = cap * 4 < most ? cap * 4 : most;
      std::unique_ptr<unsigned char, decltype(&std::free)> scratch(
          static_cast<unsigned char *>(std::malloc(static_cast<std::size_t>(cap))), &std::free);
      if (!scratch) return nullptr;
      if (inflate_decompress(raw, static_cast<std::uint64_t>(n), scratch.get(), cap, &produced) != 0) continue;
      buf_reserve(out, produced);
      if (!out->chars) return nullptr;
      dst = reinterpret_cast<unsigned char *>(out->chars + out->used);
      std::memcpy(dst, scratch.get(), static_cast<std::size_t>(produced));
      ok = true;
    }
    if (!ok) return nullptr;
  }
  out->used += produced;
  out->chars[out->used] = 0;
  *len = static_cast<int>(produced);
  return dst;
}

}  // namespace zyk
