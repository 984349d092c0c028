// Stream filters: the decoders of the PDF filter chain as pure codecs over
// byte ranges, and the chain that runs them in order under one set of limits.
//
// Nothing here reads PDF syntax. The stream service of pdf/ (stream_decode
// in pdf/pdf.h) turns a stream dictionary's /Filter and /DecodeParms into
// FilterSteps and calls filter_chain; tests and tools may call the codecs
// directly.
//
// Results are distinct, so a caller never has to guess:
//   done         the whole output is there;
//   truncated    the input ended inside the encoded data;
//   corrupt      the data breaks the filter's rules;
//   limit        the output would pass the stream's limit or the budget;
//   unsupported  a filter (or parameter) this library does not decode: the
//                image codecs DCT, JPX, CCITT fax and JBIG2 are "not
//                decodable here", as are Crypt and unknown names.
// A Flate stage whose data turns corrupt after a good start delivers the
// bytes before the fault and the chain goes on with them (`damaged` is set):
// the inflate decoder defines corrupt data that way, readers show such
// content, and real files rely on it. Every other corrupt stage ends the
// chain.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "flate/flate.h"
#include "flate/flate_limits.h"

namespace zyk {

enum class DecodeStatus { done, truncated, corrupt, limit, unsupported };

// Short lower-case text for messages: "truncated data", "corrupt data",
// "decoded size limit reached", "not decodable here".
const char *decode_status_text(DecodeStatus s);

enum class FilterKind { flate, lzw, ascii85, asciihex, runlength, dct, jpx, ccitt, jbig2, crypt, unknown };

// The filter a /Filter name (without its slash, #xx already resolved) names,
// full or abbreviated (Fl, LZW, A85, AHx, RL, DCT, CCF).
FilterKind filter_kind(std::string_view name);
// The filter's full name, for messages ("FlateDecode").
const char *filter_kind_name(FilterKind k);

// /DecodeParms values that matter here (the PDF defaults when absent).
struct FilterParams {
  int predictor = 1;
  int colors = 1;
  int bpc = 8;
  int columns = 1;
  int early = 1;  // LZW EarlyChange
};

struct FilterStep {
  FilterKind kind = FilterKind::unknown;
  FilterParams params{};
};

// A running total of decoded bytes shared by every stream of one conversion.
// The chain takes what a stream's final output needs and refuses with
// `limit` when the budget has less left; each stage is also capped by it.
struct DecodeBudget {
  std::uint64_t left = 0;
};

struct DecodeLimits {
  std::uint64_t max_out = k_max_decoded;  // per stage of one stream
  DecodeBudget *budget = nullptr;         // optional, shared
};

struct ChainResult {
  DecodeStatus status = DecodeStatus::done;
  std::size_t failed_step = 0;  // index of the step that ended the chain
  bool damaged = false;         // a Flate stage delivered a prefix only
};

// Runs the steps over in[0, n) into *out (replaced). With no steps the
// output is the input.
[[nodiscard]] ChainResult filter_chain(const FilterStep *steps, std::size_t nsteps, const unsigned char *in,
                                       std::size_t n, const DecodeLimits &limits, std::string *out);

// ---- the codecs: each replaces *out; cap bounds the output ------------------

// Flate with growth on "output full" only; `*damaged` set for a corrupt
// stream whose prefix is delivered (the result is then done).
[[nodiscard]] DecodeStatus flate_decode(const unsigned char *in, std::size_t n, std::uint64_t cap, std::string *out,
                                        bool *damaged);
// LZW with 9- to 12-bit codes; early = 1 widens codes one code early.
[[nodiscard]] DecodeStatus lzw_decode(const unsigned char *in, std::size_t n, int early, std::uint64_t cap,
                                      std::string *out);
[[nodiscard]] DecodeStatus ascii85_decode(const unsigned char *in, std::size_t n, std::uint64_t cap, std::string *out);
[[nodiscard]] DecodeStatus runlength_decode(const unsigned char *in, std::size_t n, std::uint64_t cap,
                                            std::string *out);
// Undoes a TIFF (2) or PNG (10..15) predictor in place; 1 or less is none.
[[nodiscard]] DecodeStatus unpredict(const FilterParams &p, std::string *data);

// Value of a hexadecimal digit, or -1.
int hex_digit_value(unsigned char c);
// Decodes the hexadecimal digits of t[s, e) into *out (ASCIIHexDecode, and
// the bytes of hexadecimal strings): PDF white space is skipped, a '>' ends
// the data and an odd last digit is padded with 0. Any other byte makes it
// fail, or is passed over when `skip_other` is set.
[[nodiscard]] bool hex_decode(const unsigned char *t, std::size_t s, std::size_t e, bool skip_other, std::string *out);

}  // namespace zyk
