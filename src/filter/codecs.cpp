// The decoders of the filter chain that are not predictors: Flate (through
// the inflate decoder), LZW, ASCII85, ASCIIHex and RunLength.
//
// Each decodes one whole input into a std::string it replaces, bounded by a
// cap on its output; passing the cap is `limit`, never a silent cut.
#include <algorithm>
#include <memory>
#include <vector>

#include "filter/filter.h"

namespace zyk {

namespace {

bool is_ws(unsigned char c) { return c == 0 || c == 9 || c == 10 || c == 12 || c == 13 || c == 32; }

}  // namespace

// The destination starts at a small multiple of the input and doubles only
// when the decoder says it is full, never beyond what DEFLATE can produce
// from the input (1032 bytes per byte) or the cap: a truncated stream or a
// bad header is final at once.
DecodeStatus flate_decode(const unsigned char *in, std::size_t n, std::uint64_t cap, std::string *out, bool *damaged) {
  *damaged = false;
  out->clear();
  const auto len = static_cast<std::uint64_t>(n);
  const std::uint64_t useful =
      std::min({cap, k_deflate_max_ratio * len + k_inflate_slack, k_inflate_max_out});
  for (std::uint64_t size = std::min(useful, k_inflate_first_factor * len + k_inflate_slack);; size *= 2) {
    size = std::min(size, useful);
    auto dst = std::make_unique_for_overwrite<unsigned char[]>(static_cast<std::size_t>(size));
    std::uint64_t produced = 0;
    switch (inflate_run(in, len, dst.get(), size, &produced)) {
      case InflateResult::corrupt:
        *damaged = true;
        [[fallthrough]];
      case InflateResult::done:
        out->assign(reinterpret_cast<const char *>(dst.get()), static_cast<std::size_t>(produced));
        return DecodeStatus::done;
      case InflateResult::truncated:
        return DecodeStatus::truncated;
      case InflateResult::refused:
        return DecodeStatus::corrupt;
      case InflateResult::output_full:
        break;
    }
    // Full at the most DEFLATE can produce is impossible for valid data.
    if (size >= useful)
      return useful < k_deflate_max_ratio * len + k_inflate_slack ? DecodeStatus::limit : DecodeStatus::corrupt;
  }
}

// LZW with 9- to 12-bit codes, clear code 256, end code 257; with early
// change (the default) the code width grows one code earlier. Input that
// ends without the end code ends the data, as in other readers.
DecodeStatus lzw_decode(const unsigned char *in, std::size_t n, int early, std::uint64_t cap, std::string *out) {
  struct Entry {
    int prev;
    unsigned char last;
    int len;
  };
  std::vector<Entry> table(4096);
  for (int i = 0; i < 256; i++) table[static_cast<std::size_t>(i)] = {-1, static_cast<unsigned char>(i), 1};
  int next = 258;
  int width = 9;
  int prev = -1;
  std::uint32_t bits = 0;
  int nbits = 0;
  std::string chunk;
  out->clear();
  for (std::size_t at = 0; at < n; at++) {
    bits = (bits << 8) | in[at];
    nbits += 8;
    while (nbits >= width) {
      int code = static_cast<int>((bits >> (nbits - width)) & ((1u << width) - 1));
      nbits -= width;
      if (code == 256) {
        next = 258;
        width = 9;
        prev = -1;
        continue;
      }
      if (code == 257) return DecodeStatus::done;
      int emit;
      if (code < next) {
        emit = code;
      } else if (code == next && prev >= 0) {
        emit = prev;  // KwKwK: the previous string plus its own first byte
      } else {
        return DecodeStatus::corrupt;
      }
      // The string of `emit`, written backwards into chunk.
      int len = table[static_cast<std::size_t>(emit)].len;
      chunk.resize(static_cast<std::size_t>(len));
      for (int c = emit, k = len - 1; c >= 0 && k >= 0; c = table[static_cast<std::size_t>(c)].prev, k--)
        chunk[static_cast<std::size_t>(k)] = static_cast<char>(table[static_cast<std::size_t>(c)].last);
      unsigned char first = static_cast<unsigned char>(chunk[0]);
      if (code == next) chunk.push_back(static_cast<char>(first));
      if (out->size() + chunk.size() > cap) return DecodeStatus::limit;
      out->append(chunk);
      if (prev >= 0 && next < 4096) {
        table[static_cast<std::size_t>(next)] = {prev, first, table[static_cast<std::size_t>(prev)].len + 1};
        next++;
      }
      prev = code;
      if (next + early >= (1 << width) && width < 12) width++;
    }
  }
  return DecodeStatus::done;
}

// ASCII85: groups of five digits '!'..'u' make four bytes, 'z' four zero
// bytes, '~' ends the data; a final partial group of k digits is padded
// with 'u' and makes k - 1 bytes. A group above 2^32 - 1 or a lone digit
// is corrupt.
DecodeStatus ascii85_decode(const unsigned char *in, std::size_t n, std::uint64_t cap, std::string *out) {
  out->clear();
  std::uint64_t group = 0;
  int count = 0;
  for (std::size_t i = 0; i < n; i++) {
    unsigned char c = in[i];
    if (is_ws(c)) continue;
    if (c == '~') break;
    if (c == 'z' && count == 0) {
      if (out->size() + 4 > cap) return DecodeStatus::limit;
      out->append(4, '\0');
      continue;
    }
    if (c < '!' || c > 'u') return DecodeStatus::corrupt;
    group = group * 85 + (c - '!');
    if (++count == 5) {
      if (group > 0xffffffffULL) return DecodeStatus::corrupt;
      if (out->size() + 4 > cap) return DecodeStatus::limit;
      for (int k = 3; k >= 0; k--) out->push_back(static_cast<char>(group >> (8 * k)));
      group = 0;
      count = 0;
    }
  }
  if (count == 1) return DecodeStatus::corrupt;
  if (count > 1) {
    for (int k = count; k < 5; k++) group = group * 85 + 84;
    if (group > 0xffffffffULL) return DecodeStatus::corrupt;
    if (out->size() + static_cast<std::size_t>(count - 1) > cap) return DecodeStatus::limit;
    for (int k = 0; k < count - 1; k++) out->push_back(static_cast<char>(group >> (8 * (3 - k))));
  }
  return DecodeStatus::done;
}

// RunLength: a length byte l < 128 copies the next l + 1 bytes, l > 128
// repeats the next byte 257 - l times, 128 ends the data. Input that ends
// inside a run ends the data with what it holds.
DecodeStatus runlength_decode(const unsigned char *in, std::size_t n, std::uint64_t cap, std::string *out) {
  out->clear();
  std::size_t i = 0;
  while (i < n) {
    unsigned char l = in[i++];
    if (l == 128) break;
    if (l < 128) {
      std::size_t k = std::min<std::size_t>(l + 1u, n - i);
      out->append(reinterpret_cast<const char *>(in) + i, k);
      i += k;
    } else {
      if (i >= n) break;
      out->append(static_cast<std::size_t>(257 - l), static_cast<char>(in[i++]));
    }
    if (out->size() > cap) return DecodeStatus::limit;
  }
  return DecodeStatus::done;
}

int hex_digit_value(unsigned char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool hex_decode(const unsigned char *t, std::size_t s, std::size_t e, bool skip_other, std::string *out) {
  out->clear();
  int hi = -1;
  for (std::size_t i = s; i < e; i++) {
    unsigned char c = t[i];
    if (c == '>') break;
    if (is_ws(c)) continue;
    int v = hex_digit_value(c);
    if (v < 0) {
      if (skip_other) continue;
      return false;
    }
    if (hi < 0) {
      hi = v;
    } else {
      out->push_back(static_cast<char>(hi << 4 | v));
      hi = -1;
    }
  }
  if (hi >= 0) out->push_back(static_cast<char>(hi << 4));
  return true;
}

}  // namespace zyk
