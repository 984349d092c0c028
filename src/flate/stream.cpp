// Stream decoding: the bytes of one stream object after its filter.
//
// Exactly one filter is known. A stream whose dictionary range holds the
// name FlateDecode anywhere (as /Filter, inside a filter array, even inside
// /DecodeParms) is inflated into the caller's Buf; every other stream comes
// back raw, as a pointer into the file image, copying nothing. Predictors
// are not undone and later filters of an array are not applied: callers get
// the inflated bytes as they are.
//
// The inflated path reserves the worst case it accepts (a fixed factor of
// the raw length plus slack) and decodes once. Data that inflates to more is
// unavailable here by design: one decode, bounded memory, no retry loop that
// a hostile stream could drive to the decoder's limit.
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
  if (inflate_decompress(raw, static_cast<std::uint64_t>(n), dst, cap, &produced) != 0) return nullptr;
  out->used += produced;
  out->chars[out->used] = 0;
  *len = static_cast<int>(produced);
  return dst;
}

}  // namespace zyk
