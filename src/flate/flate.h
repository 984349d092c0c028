// Compression: the zlib-format DEFLATE decoder, the FlateDecode stream
// filter over a loaded document, and the zlib-format DEFLATE encoder.
#pragma once

#include <cstdint>

#include "base/base.h"
#include "pdf/pdf.h"

namespace zyk {

// Decodes a zlib-wrapped DEFLATE stream into dst (capacity dst_cap, at most
// 2^30). Returns 0 with *out_len bytes produced (only a prefix when the data
// turns corrupt), or -1 with *out_len 0 (bad header, truncated input, or the
// destination too small).
int inflate_decompress(const unsigned char *src, std::uint64_t src_len, unsigned char *dst, std::uint64_t dst_cap,
                       std::uint64_t *out_len);

// The bytes of a stream object after its filter: FlateDecode data inflated
// into `out` (appended at out->used, NUL-terminated), anything else returned
// in place in the file image. Null when the entry is no stream or decoding
// fails.
const unsigned char *decoded_stream(const ObjEntry &e, const unsigned char *pdf, int pdf_len, Buf *out, int *len);

// Compresses len bytes into a new zlib stream allocated with malloc; the
// caller frees *out. Returns 0, or -1 with nothing handed over.
int sx_deflate(const unsigned char *in, std::uint64_t len, unsigned char **out, std::uint64_t *out_len);

}  // namespace zyk
