// Inflate: a zlib-wrapped DEFLATE stream (RFC 1950 header, RFC 1951 data)
// decoded in one call into a caller's buffer of fixed capacity.
//
// Design decisions, and why each makes it fast or keeps it exact:
//  - Full-buffer only. The whole input and the whole destination are in
//    memory; the destination is the window, so there is no window copy and a
//    match can reach back only into bytes this call has written.
//  - Wide bit buffer. 64 bits, refilled with one unaligned 8-byte load while
//    8 input bytes remain; after a refill at least 56 bits are buffered, which
//    covers a whole match (length code 15 + extra 5 + distance code 15 +
//    extra 13 = 48 bits) without another refill.
//  - Whole-code table lookup. The next 10 bits (literal/length) or 8 bits
//    (distance) index a table whose entry gives the symbol's kind, code
//    length, base value and extra-bit count; longer codes take one more
//    lookup in a second-level table. The fixed-code tables are built at
//    compile time, so no call builds shared state and none can race.
//  - Word-sized match copies. A match whose source lies at least 8 bytes
//    back and whose end leaves 8 bytes of room before the capacity moves 8
//    bytes at a time (overshooting only into room that later output
//    overwrites); distance 1 is a fill; other short distances copy byte by
//    byte, which repeats the pattern as the format requires.
//  - Results identical to a bit-at-a-time decoder. Input past its end reads
//    as zero bits, and the decoder knows how many it fed. A step that ends in
//    "done" or "corrupt" counts only if it used no such padding bits;
//    otherwise a bit-at-a-time decoder would have run out of input first and
//    the call is truncated. A bit pattern that matches no code is corrupt
//    only when 15 real bits were there, because a bit-at-a-time decoder reads
//    15 bits before it gives up. Padding is also checked at every slow
//    refill, so a truncated stream stops within 64 bits of its end.
//
// Result classes: corrupt data is success with the prefix produced before
// the corrupt point; truncated input, a destination too small, or a refused
// header is failure with output length 0. The header's window size, level
// bits and check value are not examined, the Adler-32 trailer is not read,
// and bytes after the final block are ignored.
#include <bit>
#include <cstdint>
#include <cstring>

#include "flate/flate.h"
#include "flate/flate_limits.h"

namespace zyk {

namespace {

// How one step of decoding ended. `ok` means the step (a block, or the whole
// stream) ended normally.
enum class Outcome { ok, corrupt, truncated, full, refused };

// The safety policy in one place: every test of a value that comes from the
// input (header bytes, code lengths, symbols, distances, lengths, remaining
// input and room) goes through this macro, which names the outcome of a
// failing test. `leave` is the current function's exit: it saves decoder
// state and turns a corrupt or finished step that used padding bits into a
// truncated one.
#define INFLATE_CHECK(cond, outcome)   \
  do {                                 \
    if (!(cond)) [[unlikely]]          \
      return leave(outcome);           \
  } while (0)

constexpr int k_max_code_bits = 15;
constexpr int k_max_lit_codes = 286;   // HLIT limit of a dynamic block
constexpr int k_max_dist_codes = 30;   // HDIST limit of a dynamic block
constexpr int k_fixed_lit_codes = 288;
constexpr int k_clen_codes = 19;

// Table geometry: root bits per table, and a bound on entries that holds
// whatever valid code arrives (every second-level table serves at least one
// symbol and has at most 2^(15 - root) entries).
constexpr int k_lit_root = 10;
constexpr int k_dist_root = 8;
constexpr int k_clen_root = 7;
constexpr int k_lit_table = (1 << k_lit_root) + k_fixed_lit_codes * (1 << (k_max_code_bits - k_lit_root));
constexpr int k_dist_table = (1 << k_dist_root) + k_max_dist_codes * (1 << (k_max_code_bits - k_dist_root));
constexpr int k_clen_table = 1 << k_clen_root;

// A table entry: bits 0-3 code length, 4-7 kind, 8-15 extra-bit count (for a
// link: the second-level table's index bits), 16-31 value (literal byte,
// base length, base distance, code-length symbol, or second-level start).
using Entry = std::uint32_t;
enum Kind : std::uint32_t { k_lit = 0, k_len = 1, k_eob = 2, k_link = 3, k_invalid = 4, k_bad = 5 };

constexpr Entry entry(std::uint32_t kind, std::uint32_t extra, std::uint32_t value, std::uint32_t bits = 0) {
  return value << 16 | extra << 8 | kind << 4 | bits;
}
constexpr unsigned e_bits(Entry e) { return e & 15u; }
constexpr unsigned e_kind(Entry e) { return (e >> 4) & 15u; }
constexpr unsigned e_extra(Entry e) { return (e >> 8) & 0xffu; }
constexpr unsigned e_value(Entry e) { return e >> 16; }

constexpr std::uint16_t k_len_base[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                          31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr std::uint8_t k_len_extra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                          2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr std::uint16_t k_dist_base[30] = {1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
                                           193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr std::uint8_t k_dist_extra[30] = {0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6,
                                           6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
constexpr std::uint8_t k_clen_order[k_clen_codes] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

// What each symbol decodes to, without its code length.
struct SymbolEntries {
  Entry lit[k_fixed_lit_codes];
  Entry dist[k_max_dist_codes];
  Entry clen[k_clen_codes];
};

constexpr SymbolEntries make_symbol_entries() {
  SymbolEntries s{};
  for (int i = 0; i < 256; i++) s.lit[i] = entry(k_lit, 0, static_cast<std::uint32_t>(i));
  s.lit[256] = entry(k_eob, 0, 0);
  for (int i = 0; i < 29; i++) s.lit[257 + i] = entry(k_len, k_len_extra[i], k_len_base[i]);
  s.lit[286] = s.lit[287] = entry(k_bad, 0, 0);  // only the fixed code has them
  for (int i = 0; i < k_max_dist_codes; i++) s.dist[i] = entry(k_len, k_dist_extra[i], k_dist_base[i]);
  for (int i = 0; i < k_clen_codes; i++) s.clen[i] = entry(k_lit, 0, static_cast<std::uint32_t>(i));
  return s;
}
constexpr SymbolEntries k_sym = make_symbol_entries();

// Counts code lengths and classifies the code: 0 complete (or no codes at
// all), > 0 incomplete (unused codes at length 15), < 0 over-subscribed.
constexpr int code_status(const std::uint8_t *lens, int n, int count[k_max_code_bits + 1]) {
  for (int l = 0; l <= k_max_code_bits; l++) count[l] = 0;
  for (int i = 0; i < n; i++) count[lens[i]]++;
  if (count[0] == n) return 0;
  int left = 1;
  for (int l = 1; l <= k_max_code_bits; l++) {
    left <<= 1;
    left -= count[l];
    if (left < 0) return left;
  }
  return left;
}

constexpr std::uint32_t reverse_bits(std::uint32_t code, int len) {
  std::uint32_t r = 0;
  for (int i = 0; i < len; i++) {
    r = (r << 1) | (code & 1u);
    code >>= 1;
  }
  return r;
}

// Builds a lookup table for a code that is not over-subscribed. Root entries
// hold codes of up to `root` bits, replicated over the bits they leave
// unused; longer codes sharing their first `root` bits get one second-level
// table sized for the longest of them. Patterns that match no code (the room
// an incomplete code leaves) hold k_invalid. Returns false only if the table
// would pass `cap`, which no code that passed code_status can cause.
constexpr bool build_table(const std::uint8_t *lens, int n, const Entry *sym, int root, Entry *table, int cap) {
  int count[k_max_code_bits + 1] = {};
  for (int i = 0; i < n; i++) count[lens[i]]++;
  count[0] = 0;
  int offs[k_max_code_bits + 2] = {};
  for (int l = 1; l <= k_max_code_bits; l++) offs[l + 1] = offs[l] + count[l];
  std::uint16_t sorted[k_fixed_lit_codes] = {};
  std::uint32_t codes[k_fixed_lit_codes] = {};
  int nsorted = offs[k_max_code_bits + 1];
  for (int i = 0; i < n; i++)
    if (lens[i]) sorted[offs[lens[i]]++] = static_cast<std::uint16_t>(i);
  // Canonical codes in sorted order (RFC 1951 section 3.2.2).
  std::uint32_t next = 0;
  int k = 0;
  for (int l = 1; l <= k_max_code_bits; l++) {
    for (int c = 0; c < count[l]; c++) codes[k++] = reverse_bits(next++, l);
    next <<= 1;
  }
  const int root_size = 1 << root;
  if (root_size > cap) return false;
  for (int i = 0; i < root_size; i++) table[i] = entry(k_invalid, 0, 0);
  int used = root_size;
  const std::uint32_t root_mask = static_cast<std::uint32_t>(root_size - 1);
  for (int i = 0; i < nsorted;) {
    int s = sorted[i];
    int len = lens[s];
    if (len <= root) {
      for (std::uint32_t j = codes[i]; j < static_cast<std::uint32_t>(root_size); j += 1u << len)
        table[j] = sym[s] | static_cast<Entry>(len);
      i++;
      continue;
    }
    // Codes sharing these root bits are consecutive in canonical order and
    // their lengths never decrease, so the group's last code is its longest.
    std::uint32_t prefix = codes[i] & root_mask;
    int g = i;
    while (g + 1 < nsorted && (codes[g + 1] & root_mask) == prefix) g++;
    int sub_bits = lens[sorted[g]] - root;
    int sub_size = 1 << sub_bits;
    if (used + sub_size > cap) return false;
    table[prefix] = entry(k_link, static_cast<std::uint32_t>(sub_bits), static_cast<std::uint32_t>(used));
    for (int j = 0; j < sub_size; j++) table[used + j] = entry(k_invalid, 0, 0);
    for (; i <= g; i++) {
      int si = sorted[i];
      int sl = lens[si];
      for (std::uint32_t j = codes[i] >> root; j < static_cast<std::uint32_t>(sub_size); j += 1u << (sl - root))
        table[used + static_cast<int>(j)] = sym[si] | static_cast<Entry>(sl);
    }
    used += sub_size;
  }
  return true;
}

struct FixedTables {
  Entry lit[1 << k_lit_root];
  Entry dist[1 << k_dist_root];
};

constexpr FixedTables make_fixed_tables() {
  FixedTables t{};
  std::uint8_t lens[k_fixed_lit_codes] = {};
  for (int i = 0; i < 144; i++) lens[i] = 8;
  for (int i = 144; i < 256; i++) lens[i] = 9;
  for (int i = 256; i < 280; i++) lens[i] = 7;
  for (int i = 280; i < k_fixed_lit_codes; i++) lens[i] = 8;
  build_table(lens, k_fixed_lit_codes, k_sym.lit, k_lit_root, t.lit, 1 << k_lit_root);
  std::uint8_t dl[k_max_dist_codes] = {};
  for (int i = 0; i < k_max_dist_codes; i++) dl[i] = 5;
  build_table(dl, k_max_dist_codes, k_sym.dist, k_dist_root, t.dist, 1 << k_dist_root);
  return t;
}
constexpr FixedTables k_fixed = make_fixed_tables();

inline std::uint64_t load_le64(const unsigned char *p) {
  std::uint64_t v;
  std::memcpy(&v, p, sizeof v);
  if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap64(v);
  return v;
}

inline std::uint64_t low_bits(std::uint64_t v, unsigned n) { return v & ((std::uint64_t{1} << n) - 1); }

// The bit reader. `ip` counts bytes fed into `bitbuf`, including zero bytes
// fed past the end of the input, so 8 x ip - bitcnt is the number of bits
// consumed and the reader has used padding exactly when that exceeds
// 8 x in_len.
struct Bits {
  const unsigned char *in;
  std::uint64_t in_len;
  std::uint64_t ip;
  std::uint64_t bitbuf;  // bits above bitcnt may hold the next input byte's low bits
  unsigned bitcnt;

  bool overran() const { return ip > in_len && (ip - in_len) * 8 > bitcnt; }

  // The outcome of a code lookup that matched nothing: corrupt when 15 real
  // bits were buffered, else a bit-at-a-time reader would have run out.
  Outcome unmatched() const {
    std::int64_t pad = ip > in_len ? static_cast<std::int64_t>(ip - in_len) * 8 : 0;
    return static_cast<std::int64_t>(bitcnt) - pad >= k_max_code_bits ? Outcome::corrupt : Outcome::truncated;
  }

  // Buffers at least 56 bits. Past the end of the input it feeds zero bytes.
  void refill() {
    if (ip + 8 <= in_len) [[likely]] {
      bitbuf |= load_le64(in + ip) << bitcnt;
      ip += (63 - bitcnt) >> 3;
      bitcnt |= 56;
      return;
    }
    bitbuf = bitcnt ? low_bits(bitbuf, bitcnt) : 0;
    while (bitcnt < 56) {
      std::uint64_t b = ip < in_len ? in[ip] : 0;
      bitbuf |= b << bitcnt;
      ip++;
      bitcnt += 8;
    }
  }

  std::uint32_t take(unsigned n) {
    auto v = static_cast<std::uint32_t>(low_bits(bitbuf, n));
    bitbuf >>= n;
    bitcnt -= n;
    return v;
  }
};

struct Inflater {
  Bits br;
  unsigned char *out;
  std::uint64_t out_cap;
  std::uint64_t op;
  // Working storage of dynamic blocks: code lengths and the two tables.
  std::uint8_t lens[k_max_lit_codes + k_max_dist_codes];
  Entry lit[k_lit_table];
  Entry dist[k_dist_table];

  Outcome leave(Outcome o) const {
    if ((o == Outcome::ok || o == Outcome::corrupt) && br.overran()) return Outcome::truncated;
    return o;
  }

  // Refills and abandons the call once padding bits have been consumed: no
  // later step can turn a truncated stream into a result.
  Outcome refill() {
    br.refill();
    INFLATE_CHECK(!br.overran(), Outcome::truncated);
    return Outcome::ok;
  }

  Outcome run();
  Outcome stored();
  Outcome dynamic();
  Outcome codes(const Entry *lt, const Entry *dt);
};

Outcome Inflater::run() {
  for (;;) {
    if (Outcome r = refill(); r != Outcome::ok) return r;
    std::uint32_t final_block = br.take(1);
    std::uint32_t type = br.take(2);
    Outcome r = Outcome::ok;
    if (type == 0)
      r = stored();
    else if (type == 1)
      r = codes(k_fixed.lit, k_fixed.dist);
    else if (type == 2)
      r = dynamic();
    else
      INFLATE_CHECK(false, Outcome::corrupt);
    if (r != Outcome::ok) return r;
    if (final_block) return leave(Outcome::ok);
  }
}

// Stored block: the data starts at the next byte boundary, after LEN and its
// one's complement.
Outcome Inflater::stored() {
  br.take(br.bitcnt & 7);
  std::uint64_t p = br.ip - br.bitcnt / 8;  // first byte not consumed
  br.ip = p;
  br.bitbuf = 0;
  br.bitcnt = 0;
  const unsigned char *in = br.in;
  INFLATE_CHECK(p <= br.in_len && br.in_len - p >= 4, Outcome::truncated);
  std::uint32_t len = in[p] | static_cast<std::uint32_t>(in[p + 1]) << 8;
  INFLATE_CHECK(in[p + 2] == (in[p] ^ 0xffu) && in[p + 3] == (in[p + 1] ^ 0xffu), Outcome::corrupt);
  p += 4;
  INFLATE_CHECK(br.in_len - p >= len, Outcome::truncated);
  INFLATE_CHECK(out_cap - op >= len, Outcome::full);
  if (len) std::memcpy(out + op, in + p, len);
  op += len;
  br.ip = p + len;
  return Outcome::ok;
}

// Dynamic block header: the code-length code, then the literal/length and
// distance code lengths sent with it.
Outcome Inflater::dynamic() {
  if (Outcome r = refill(); r != Outcome::ok) return r;
  int nlen = static_cast<int>(br.take(5)) + 257;
  int ndist = static_cast<int>(br.take(5)) + 1;
  int ncode = static_cast<int>(br.take(4)) + 4;
  INFLATE_CHECK(nlen <= k_max_lit_codes && ndist <= k_max_dist_codes, Outcome::corrupt);

  std::uint8_t clens[k_clen_codes] = {};
  for (int i = 0; i < ncode; i++) {
    if (br.bitcnt < 3)
      if (Outcome r = refill(); r != Outcome::ok) return r;
    clens[k_clen_order[i]] = static_cast<std::uint8_t>(br.take(3));
  }
  int count[k_max_code_bits + 1];
  INFLATE_CHECK(code_status(clens, k_clen_codes, count) == 0, Outcome::corrupt);
  Entry ct[k_clen_table];
  build_table(clens, k_clen_codes, k_sym.clen, k_clen_root, ct, k_clen_table);

  const int total = nlen + ndist;
  for (int index = 0; index < total;) {
    if (Outcome r = refill(); r != Outcome::ok) return r;
    Entry e = ct[low_bits(br.bitbuf, k_clen_root)];
    INFLATE_CHECK(e_kind(e) != k_invalid, br.unmatched());
    br.take(e_bits(e));
    unsigned sym = e_value(e);
    if (sym < 16) {
      lens[index++] = static_cast<std::uint8_t>(sym);
      continue;
    }
    std::uint8_t val = 0;
    int rep;
    if (sym == 16) {
      INFLATE_CHECK(index > 0, Outcome::corrupt);
      val = lens[index - 1];
      rep = 3 + static_cast<int>(br.take(2));
    } else if (sym == 17) {
      rep = 3 + static_cast<int>(br.take(3));
    } else {
      rep = 11 + static_cast<int>(br.take(7));
    }
    INFLATE_CHECK(index + rep <= total, Outcome::corrupt);
    std::memset(lens + index, val, static_cast<std::size_t>(rep));
    index += rep;
  }
  INFLATE_CHECK(lens[256] != 0, Outcome::corrupt);

  // Over-subscribed is corrupt; incomplete only passes as a single one-bit
  // code (every used length is 1).
  int st = code_status(lens, nlen, count);
  INFLATE_CHECK(st == 0 || (st > 0 && nlen == count[0] + count[1]), Outcome::corrupt);
  st = code_status(lens + nlen, ndist, count);
  INFLATE_CHECK(st == 0 || (st > 0 && ndist == count[0] + count[1]), Outcome::corrupt);
  build_table(lens, nlen, k_sym.lit, k_lit_root, lit, k_lit_table);
  build_table(lens + nlen, ndist, k_sym.dist, k_dist_root, dist, k_dist_table);
  return codes(lit, dist);
}

// Symbols of one compressed block up to its end-of-block code. The bit
// reader and output position live in locals here: stores through the output
// pointer may alias anything reachable, and this keeps them in registers.
Outcome Inflater::codes(const Entry *lt, const Entry *dt) {
  Bits b = br;
  unsigned char *const start = out;
  unsigned char *const end = out + out_cap;
  unsigned char *o = out + op;
  auto leave = [&](Outcome r) {
    br = b;
    op = static_cast<std::uint64_t>(o - start);
    return this->leave(r);
  };
  constexpr std::uint64_t lit_mask = (1u << k_lit_root) - 1;
  constexpr std::uint64_t dist_mask = (1u << k_dist_root) - 1;

  for (;;) {
    b.refill();
    INFLATE_CHECK(!b.overran(), Outcome::truncated);
    Entry e = lt[b.bitbuf & lit_mask];
    if (e_kind(e) == k_link) e = lt[e_value(e) + low_bits(b.bitbuf >> k_lit_root, e_extra(e))];
    if (e_kind(e) == k_lit) [[likely]] {
      b.take(e_bits(e));
      INFLATE_CHECK(o != end, Outcome::full);
      *o++ = static_cast<unsigned char>(e_value(e));
      // A second literal from the same refill when the buffer still holds a
      // whole code.
      if (b.bitcnt >= k_max_code_bits) {
        e = lt[b.bitbuf & lit_mask];
        if (e_kind(e) == k_link) e = lt[e_value(e) + low_bits(b.bitbuf >> k_lit_root, e_extra(e))];
        if (e_kind(e) == k_lit) {
          b.take(e_bits(e));
          INFLATE_CHECK(o != end, Outcome::full);
          *o++ = static_cast<unsigned char>(e_value(e));
        }
      }
      continue;
    }
    if (e_kind(e) == k_len) {
      b.take(e_bits(e));
      std::uint32_t len = e_value(e) + b.take(e_extra(e));
      Entry d = dt[b.bitbuf & dist_mask];
      if (e_kind(d) == k_link) d = dt[e_value(d) + low_bits(b.bitbuf >> k_dist_root, e_extra(d))];
      INFLATE_CHECK(e_kind(d) != k_invalid, b.unmatched());
      b.take(e_bits(d));
      std::uint32_t distance = e_value(d) + b.take(e_extra(d));
      INFLATE_CHECK(distance <= static_cast<std::uint64_t>(o - start), Outcome::corrupt);
      INFLATE_CHECK(len <= static_cast<std::uint64_t>(end - o), Outcome::full);
      const unsigned char *src = o - distance;
      unsigned char *mend = o + len;
      if (end - mend >= 8 && distance >= 8) {
        do {
          std::memcpy(o, src, 8);
          o += 8;
          src += 8;
        } while (o < mend);
      } else if (distance == 1) {
        std::memset(o, *src, len);
      } else {
        while (o < mend) *o++ = *src++;
      }
      o = mend;
      continue;
    }
    if (e_kind(e) == k_eob) {
      b.take(e_bits(e));
      return leave(Outcome::ok);
    }
    if (e_kind(e) == k_bad) b.take(e_bits(e));  // symbols 286 and 287 are read, then refused
    INFLATE_CHECK(e_kind(e) != k_bad, Outcome::corrupt);
    INFLATE_CHECK(false, b.unmatched());
  }
}

// Entry checks, before any destination byte is written.
Outcome check_header(const unsigned char *src, std::uint64_t src_len, const unsigned char *dst,
                     std::uint64_t dst_cap, const std::uint64_t *out_len) {
  auto leave = [](Outcome o) { return o; };
  INFLATE_CHECK(out_len != nullptr && src != nullptr, Outcome::refused);
  INFLATE_CHECK(src_len >= 2, Outcome::refused);
  INFLATE_CHECK(dst_cap <= k_inflate_max_out, Outcome::refused);
  INFLATE_CHECK(dst != nullptr || dst_cap == 0, Outcome::refused);
  INFLATE_CHECK((src[0] & 0x0f) == 8, Outcome::refused);      // compression method
  INFLATE_CHECK((src[1] & 0x20) == 0, Outcome::refused);      // preset dictionary
  return Outcome::ok;
}

#undef INFLATE_CHECK

}  // namespace

InflateResult inflate_run(const unsigned char *src, std::uint64_t src_len, unsigned char *dst, std::uint64_t dst_cap,
                          std::uint64_t *out_len) {
  if (out_len) *out_len = 0;
  if (check_header(src, src_len, dst, dst_cap, out_len) != Outcome::ok) return InflateResult::refused;
  // The working state is large (two dynamic tables, about 57 KiB) and
  // deliberately left uninitialised: every entry is written before it is read.
  Inflater s;
  s.br = Bits{src + 2, src_len - 2, 0, 0, 0};
  s.out = dst;
  s.out_cap = dst_cap;
  s.op = 0;
  switch (s.run()) {
    case Outcome::ok:
      *out_len = s.op;
      return InflateResult::done;
    case Outcome::corrupt:
      *out_len = s.op;
      return InflateResult::corrupt;
    case Outcome::truncated:
      return InflateResult::truncated;
    case Outcome::full:
      return InflateResult::output_full;
    case Outcome::refused:
      break;
  }
  return InflateResult::refused;
}

int inflate_decompress(const unsigned char *src, std::uint64_t src_len, unsigned char *dst, std::uint64_t dst_cap,
                       std::uint64_t *out_len) {
  if (!out_len) return -1;
  std::uint64_t produced = 0;
  InflateResult r = inflate_run(src, src_len, dst, dst_cap, &produced);
  *out_len = 0;
  if (r != InflateResult::done && r != InflateResult::corrupt) return -1;
  *out_len = produced;
  return 0;
}

}  // namespace zyk
