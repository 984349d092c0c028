// Test-only DEFLATE tooling: a bit writer to craft streams symbol by symbol,
// zlib as a compressor, and a plain bit-at-a-time reference decoder that
// follows the decoding rules literally (one bit per step, canonical codes
// without tables) and can trace what it decodes. The production decoder is
// table-driven; the reference is the oracle for "same result, same length,
// same result class on every input".
#pragma once

#include <zlib.h>

#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

namespace flate_kit {

using Bytes = std::vector<unsigned char>;

inline Bytes bytes_of(const std::string &s) { return Bytes(s.begin(), s.end()); }

// ---- zlib as the compressing oracle ----------------------------------------------

inline Bytes zlib_compress(const Bytes &in, int level, int strategy = Z_DEFAULT_STRATEGY, int window_bits = 15) {
  z_stream z{};
  if (deflateInit2(&z, level, Z_DEFLATED, window_bits, 8, strategy) != Z_OK) throw std::runtime_error("deflateInit2");
  Bytes out(deflateBound(&z, static_cast<uLong>(in.size())) + 64);
  z.next_in = const_cast<unsigned char *>(in.data());
  z.avail_in = static_cast<uInt>(in.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  int r = deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  if (r != Z_STREAM_END) throw std::runtime_error("deflate");
  return out;
}

// ---- crafting streams -----------------------------------------------------------------

class BitWriter {
 public:
  // Appends n bits of v, least significant first (header fields, extra bits).
  void bits(std::uint32_t v, int n) {
    for (int i = 0; i < n; i++) put(i < 32 ? (v >> i) & 1u : 0u);
  }
  // Appends a Huffman code of n bits, most significant bit first.
  void code(std::uint32_t c, int n) {
    for (int i = n - 1; i >= 0; i--) put((c >> i) & 1u);
  }
  void align() {
    while (nbits_ % 8) put(0);
  }
  void byte(unsigned char b) { bits(b, 8); }
  Bytes take() const { return buf_; }
  std::size_t bit_len() const { return nbits_; }

 private:
  void put(std::uint32_t b) {
    if (nbits_ % 8 == 0) buf_.push_back(0);
    buf_.back() = static_cast<unsigned char>(buf_.back() | (b << (nbits_ % 8)));
    nbits_++;
  }
  Bytes buf_;
  std::size_t nbits_ = 0;
};

// Canonical codes from code lengths (0 = no code).
inline std::vector<std::uint32_t> canonical_codes(const std::vector<int> &lens) {
  int count[16] = {};
  for (int l : lens) count[l]++;
  count[0] = 0;
  std::uint32_t next[16] = {};
  std::uint32_t code = 0;
  for (int l = 1; l < 16; l++) {
    code = (code + static_cast<std::uint32_t>(count[l - 1])) << 1;
    next[l] = code;
  }
  std::vector<std::uint32_t> codes(lens.size());
  for (std::size_t s = 0; s < lens.size(); s++)
    if (lens[s]) codes[s] = next[lens[s]]++;
  return codes;
}

constexpr int k_len_base[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr int k_len_extra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr int k_dist_base[30] = {1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
                                 193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr int k_dist_extra[30] = {0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
constexpr int k_clen_order[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

inline int len_symbol(int len) {
  if (len == 258) return 285;
  int m = 0;
  for (int i = 0; i < 28; i++)
    if (k_len_base[i] <= len) m = i;
  return 257 + m;
}
inline int dist_symbol(int dist) {
  int d = 0;
  for (int i = 0; i < 30; i++)
    if (k_dist_base[i] <= dist) d = i;
  return d;
}

// Writes the symbols of one block with given literal/length and distance
// code lengths (the header is written separately).
class BlockWriter {
 public:
  BlockWriter(BitWriter *w, std::vector<int> lit_lens, std::vector<int> dist_lens)
      : w_(w), ll_(std::move(lit_lens)), dl_(std::move(dist_lens)), lc_(canonical_codes(ll_)), dc_(canonical_codes(dl_)) {}
  void sym(int s) { w_->code(lc_.at(static_cast<std::size_t>(s)), ll_.at(static_cast<std::size_t>(s))); }
  void lit(int c) { sym(c); }
  void eob() { sym(256); }
  void dist_sym(int d) { w_->code(dc_.at(static_cast<std::size_t>(d)), dl_.at(static_cast<std::size_t>(d))); }
  void match(int len, int dist) {
    int ls = len_symbol(len);
    sym(ls);
    w_->bits(static_cast<std::uint32_t>(len - k_len_base[ls - 257]), k_len_extra[ls - 257]);
    int ds = dist_symbol(dist);
    dist_sym(ds);
    w_->bits(static_cast<std::uint32_t>(dist - k_dist_base[ds]), k_dist_extra[ds]);
  }

 private:
  BitWriter *w_;
  std::vector<int> ll_, dl_;
  std::vector<std::uint32_t> lc_, dc_;
};

inline std::vector<int> fixed_lit_lens() {
  std::vector<int> l(288);
  for (int i = 0; i < 288; i++) l[static_cast<std::size_t>(i)] = i < 144 ? 8 : i < 256 ? 9 : i < 280 ? 7 : 8;
  return l;
}
inline std::vector<int> fixed_dist_lens() { return std::vector<int>(30, 5); }

// Header of a fixed block; the returned writer sends its symbols.
inline BlockWriter fixed_block(BitWriter *w, bool final_block) {
  w->bits(final_block ? 1 : 0, 1);
  w->bits(1, 2);
  return BlockWriter(w, fixed_lit_lens(), fixed_dist_lens());
}

// Header of a dynamic block sending the given lengths with a code-length code
// of sixteen 4-bit codes (symbols 0-15, complete), one symbol per length.
inline BlockWriter dynamic_block(BitWriter *w, bool final_block, std::vector<int> lit_lens, std::vector<int> dist_lens) {
  w->bits(final_block ? 1 : 0, 1);
  w->bits(2, 2);
  w->bits(static_cast<std::uint32_t>(lit_lens.size() - 257), 5);
  w->bits(static_cast<std::uint32_t>(dist_lens.size() - 1), 5);
  w->bits(19 - 4, 4);
  std::vector<int> cl(19, 0);
  for (int s = 0; s < 16; s++) cl[static_cast<std::size_t>(s)] = 4;
  for (int i = 0; i < 19; i++) w->bits(static_cast<std::uint32_t>(cl[static_cast<std::size_t>(k_clen_order[i])]), 3);
  auto cc = canonical_codes(cl);
  for (int l : lit_lens) w->code(cc[static_cast<std::size_t>(l)], 4);
  for (int l : dist_lens) w->code(cc[static_cast<std::size_t>(l)], 4);
  return BlockWriter(w, std::move(lit_lens), std::move(dist_lens));
}

inline Bytes with_header(const Bytes &deflate_data, unsigned char b0 = 0x78, unsigned char b1 = 0x9c) {
  Bytes out{b0, b1};
  out.insert(out.end(), deflate_data.begin(), deflate_data.end());
  return out;
}

// ---- the reference decoder -----------------------------------------------------------

struct RefBlock {
  int type;
  bool final_block;
  int hlit = 0, hdist = 0, hclen = 0;  // dynamic blocks: the counts as sent
  std::vector<int> lit_lens;           // dynamic blocks: the literal/length code lengths
  std::vector<int> dist_lens;          // dynamic blocks: the distance code lengths
  std::size_t first_symbol = 0;        // index of the block's first traced symbol
};
struct RefSymbol {
  int length;  // 0: literal
  int value;   // literal byte or distance
};
struct RefTrace {
  std::vector<RefBlock> blocks;
  std::vector<RefSymbol> symbols;
};

struct RefResult {
  int rc;                 // 0 or -1
  std::uint64_t out_len;  // 0 unless rc == 0
  Bytes out;              // the bytes produced (the prefix when corrupt)
};

class RefInflater {
 public:
  RefInflater(const unsigned char *src, std::size_t n, std::uint64_t cap, RefTrace *t)
      : in_(src), n_(n), cap_(cap), trace_(t) {}

  RefResult run() {
    if (n_ < 2 || cap_ > (std::uint64_t{1} << 30) || (in_[0] & 15) != 8 || (in_[1] & 0x20)) return {-1, 0, {}};
    pos_ = 2;
    try {
      int r;
      do {
        int last = static_cast<int>(bits(1));
        int type = static_cast<int>(bits(2));
        if (trace_) trace_->blocks.push_back({type, last != 0, 0, 0, 0, {}, {}, trace_->symbols.size()});
        if (type == 0)
          r = stored();
        else if (type == 1)
          r = fixed();
        else if (type == 2)
          r = dynamic();
        else
          r = -1;  // corrupt
        if (r != 0) break;
        if (last) break;
      } while (true);
      if (r > 0) return {-1, 0, {}};  // destination full
      return {0, out_.size(), out_};  // done, or corrupt with the prefix
    } catch (const OutOfInput &) {
      return {-1, 0, {}};
    }
  }

 private:
  struct OutOfInput {};
  struct Huff {
    std::vector<int> count = std::vector<int>(16, 0);
    std::vector<int> symbol;
  };

  std::uint32_t bits(int n) {
    std::uint32_t v = 0;
    for (int i = 0; i < n; i++) {
      if (bitcnt_ == 0) {
        if (pos_ >= n_) throw OutOfInput{};
        bitbuf_ = in_[pos_++];
        bitcnt_ = 8;
      }
      v |= (bitbuf_ & 1u) << i;
      bitbuf_ >>= 1;
      bitcnt_--;
    }
    return v;
  }

  // 0 complete (or empty), > 0 incomplete, < 0 over-subscribed.
  static int construct(Huff &h, const int *lens, int n) {
    h.count.assign(16, 0);
    for (int i = 0; i < n; i++) h.count[static_cast<std::size_t>(lens[i])]++;
    h.symbol.assign(static_cast<std::size_t>(n), 0);
    if (h.count[0] == n) return 0;
    int left = 1;
    for (int l = 1; l < 16; l++) {
      left = left * 2 - h.count[static_cast<std::size_t>(l)];
      if (left < 0) return left;
    }
    std::vector<int> offs(16, 0);
    for (int l = 1; l < 15; l++) offs[static_cast<std::size_t>(l + 1)] = offs[static_cast<std::size_t>(l)] + h.count[static_cast<std::size_t>(l)];
    for (int s = 0; s < n; s++)
      if (lens[s]) h.symbol[static_cast<std::size_t>(offs[static_cast<std::size_t>(lens[s])]++)] = s;
    return left;
  }

  // Bit at a time: codes of one length are consecutive integers.
  int decode(const Huff &h) {
    int code = 0, first = 0, index = 0;
    for (int l = 1; l < 16; l++) {
      code |= static_cast<int>(bits(1));
      int count = h.count[static_cast<std::size_t>(l)];
      if (code - count < first) return h.symbol[static_cast<std::size_t>(index + (code - first))];
      index += count;
      first += count;
      first <<= 1;
      code <<= 1;
    }
    return -1;
  }

  int stored() {
    bitcnt_ = 0;
    if (pos_ + 4 > n_) throw OutOfInput{};
    unsigned len = in_[pos_] | (in_[pos_ + 1] << 8);
    if (in_[pos_ + 2] != (in_[pos_] ^ 0xff) || in_[pos_ + 3] != (in_[pos_ + 1] ^ 0xff)) return -1;
    pos_ += 4;
    if (pos_ + len > n_) throw OutOfInput{};
    if (out_.size() + len > cap_) return 1;
    out_.insert(out_.end(), in_ + pos_, in_ + pos_ + len);
    pos_ += len;
    return 0;
  }

  int codes(const Huff &lc, const Huff &dc) {
    for (;;) {
      int s = decode(lc);
      if (s < 0) return -1;
      if (s < 256) {
        if (out_.size() == cap_) return 1;
        out_.push_back(static_cast<unsigned char>(s));
        if (trace_) trace_->symbols.push_back({0, s});
      } else if (s == 256) {
        return 0;
      } else {
        s -= 257;
        if (s >= 29) return -1;
        int len = k_len_base[s] + static_cast<int>(bits(k_len_extra[s]));
        int d = decode(dc);
        if (d < 0) return -1;
        int dist = k_dist_base[d] + static_cast<int>(bits(k_dist_extra[d]));
        if (static_cast<std::size_t>(dist) > out_.size()) return -1;
        if (out_.size() + static_cast<std::uint64_t>(len) > cap_) return 1;
        for (int i = 0; i < len; i++) out_.push_back(out_[out_.size() - static_cast<std::size_t>(dist)]);
        if (trace_) trace_->symbols.push_back({len, dist});
      }
    }
  }

  int fixed() {
    std::vector<int> l(288);
    for (int i = 0; i < 288; i++) l[static_cast<std::size_t>(i)] = i < 144 ? 8 : i < 256 ? 9 : i < 280 ? 7 : 8;
    std::vector<int> d(30, 5);
    Huff lc, dc;
    construct(lc, l.data(), 288);
    construct(dc, d.data(), 30);
    return codes(lc, dc);
  }

  int dynamic() {
    int nlen = static_cast<int>(bits(5)) + 257;
    int ndist = static_cast<int>(bits(5)) + 1;
    int ncode = static_cast<int>(bits(4)) + 4;
    if (trace_) {
      trace_->blocks.back().hlit = nlen;
      trace_->blocks.back().hdist = ndist;
      trace_->blocks.back().hclen = ncode;
    }
    if (nlen > 286 || ndist > 30) return -1;
    int lens[316] = {};
    for (int i = 0; i < ncode; i++) lens[k_clen_order[i]] = static_cast<int>(bits(3));
    Huff lc, dc;
    if (construct(lc, lens, 19) != 0) return -1;
    int index = 0;
    while (index < nlen + ndist) {
      int s = decode(lc);
      if (s < 0) return -1;
      if (s < 16) {
        lens[index++] = s;
        continue;
      }
      int len = 0, rep;
      if (s == 16) {
        if (index == 0) return -1;
        len = lens[index - 1];
        rep = 3 + static_cast<int>(bits(2));
      } else if (s == 17) {
        rep = 3 + static_cast<int>(bits(3));
      } else {
        rep = 11 + static_cast<int>(bits(7));
      }
      if (index + rep > nlen + ndist) return -1;
      while (rep--) lens[index++] = len;
    }
    if (lens[256] == 0) return -1;
    if (trace_) {
      trace_->blocks.back().lit_lens.assign(lens, lens + nlen);
      trace_->blocks.back().dist_lens.assign(lens + nlen, lens + nlen + ndist);
    }
    int e = construct(lc, lens, nlen);
    if (e < 0 || (e > 0 && nlen != lc.count[0] + lc.count[1])) return -1;
    e = construct(dc, lens + nlen, ndist);
    if (e < 0 || (e > 0 && ndist != dc.count[0] + dc.count[1])) return -1;
    return codes(lc, dc);
  }

  const unsigned char *in_;
  std::size_t n_;
  std::uint64_t cap_;
  RefTrace *trace_;
  std::size_t pos_ = 0;
  unsigned bitbuf_ = 0;
  int bitcnt_ = 0;
  Bytes out_;
};

inline RefResult ref_inflate(const Bytes &src, std::uint64_t cap, RefTrace *trace = nullptr) {
  return RefInflater(src.data(), src.size(), cap, trace).run();
}

}  // namespace flate_kit
