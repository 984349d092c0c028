// Compression: the zlib-format DEFLATE decoder and encoder, pure codecs over
// byte ranges. Nothing here knows PDF syntax; the stream service of pdf/
// runs the decoder for FlateDecode streams.
#pragma once

#include <cstdint>

namespace zyk {

// How one inflate call ended. Only `output_full` says that a larger
// destination could help: callers grow their buffer on it and on nothing
// else.
enum class InflateResult {
  done,         // final block decoded
  corrupt,      // bad data; the bytes before the fault were produced
  truncated,    // the input ended inside the stream
  output_full,  // the destination is too small
  refused,      // bad header, or a destination above the decoder's limit
};

// Decodes a zlib-wrapped DEFLATE stream into dst (capacity dst_cap, at most
// k_inflate_max_out). *out_len receives the bytes produced: the whole stream
// for `done`, the prefix before the fault for `corrupt`, 0 otherwise.
[[nodiscard]] InflateResult inflate_run(const unsigned char *src, std::uint64_t src_len, unsigned char *dst,
                                        std::uint64_t dst_cap, std::uint64_t *out_len);

// The same decoder with the two-valued result the format's reference
// interface pins: 0 with *out_len bytes produced (only a prefix when the data
// turns corrupt), or -1 with *out_len 0 (bad header, truncated input, or the
// destination too small).
int inflate_decompress(const unsigned char *src, std::uint64_t src_len, unsigned char *dst, std::uint64_t dst_cap,
                       std::uint64_t *out_len);

// Compresses len bytes into a new zlib stream allocated with malloc; the
// caller frees *out. Returns 0, or -1 with nothing handed over.
int sx_deflate(const unsigned char *in, std::uint64_t len, unsigned char **out, std::uint64_t *out_len);

// How hard the matcher looks: at most max_chain hash-chain candidates per
// position (at least 1), and a match of nice_length bytes or more ends the
// walk at once (3..258). The defaults are the encoder's fixed behaviour.
struct DeflateEffort {
  int max_chain = 128;  // k_deflate_max_chain
  int nice_length = 258;
};
int sx_deflate(const unsigned char *in, std::uint64_t len, unsigned char **out, std::uint64_t *out_len,
               const DeflateEffort &effort);

}  // namespace zyk
