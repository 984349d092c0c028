// The inflate decoder against two oracles: zlib for what valid streams
// decode to, and the bit-at-a-time reference decoder for the exact result
// (code, length, prefix) on every input, valid or not.
#include <gtest/gtest.h>

#include <random>

#include "deflate_kit.h"
#include "flate/flate.h"

using namespace flate_kit;

namespace {

struct Result {
  int rc;
  std::uint64_t len;
  Bytes out;
};

// Decodes into a heap buffer of exactly `cap` bytes, so that ASan sees any
// write past the capacity. Capacities too large to allocate (above 64 MiB)
// get a 4 KiB buffer: only streams with small outputs are decoded with them.
Result inflate(const Bytes &src, std::uint64_t cap) {
  const std::uint64_t alloc = cap > (1u << 26) ? 4096 : cap;
  auto buf = std::make_unique<unsigned char[]>(alloc ? alloc : 1);
  std::uint64_t len = 12345;
  int rc = zyk::inflate_decompress(src.data(), src.size(), buf.get(), cap, &len);
  return {rc, len, Bytes(buf.get(), buf.get() + (rc == 0 ? len : 0))};
}

// Same result code, length and bytes as the reference decoder.
void expect_same_as_reference(const Bytes &src, std::uint64_t cap, const std::string &what) {
  Result got = inflate(src, cap);
  RefResult want = ref_inflate(src, cap);
  ASSERT_EQ(got.rc, want.rc) << what;
  ASSERT_EQ(got.len, want.out_len) << what;
  ASSERT_TRUE(got.out == want.out) << what;
}

// Inputs of several shapes: what real streams look like to a compressor.
Bytes make_input(int shape, std::size_t n, std::mt19937 &rng) {
  Bytes b(n);
  static const char *words[] = {"stream ", "endobj\n", "/Type ", "/Page ", "0 0 612 792 re f\n", "BT /F1 12 Tf ", "(Hello) Tj ET\n"};
  std::size_t i = 0;
  switch (shape) {
    case 0:  // incompressible
      for (auto &c : b) c = static_cast<unsigned char>(rng());
      break;
    case 1:  // text-like
      while (i < n) {
        const char *w = words[rng() % 7];
        for (std::size_t k = 0; w[k] && i < n; k++) b[i++] = static_cast<unsigned char>(w[k]);
      }
      break;
    case 2:  // long runs
      while (i < n) {
        unsigned char c = static_cast<unsigned char>(rng() % 3);
        std::size_t run = 1 + rng() % 2000;
        for (std::size_t k = 0; k < run && i < n; k++) b[i++] = c;
      }
      break;
    case 3:  // small alphabet, short periods (overlapping copies of distance 2..7)
      for (; i < n; i++) b[i] = i >= 5 && rng() % 8 ? b[i - 1 - (rng() % 5)] : static_cast<unsigned char>('a' + rng() % 4);
      break;
    default:  // far repeats (distances near 32 KiB)
      for (; i < n; i++) b[i] = i >= 32700 && rng() % 16 ? b[i - 32000 - rng() % 700] : static_cast<unsigned char>(rng());
      break;
  }
  return b;
}

TEST(Inflate, DecodesWhatZlibCompressesAtEveryLevelAndStrategy) {
  std::mt19937 rng(7);
  const int strategies[] = {Z_DEFAULT_STRATEGY, Z_FILTERED, Z_HUFFMAN_ONLY, Z_RLE, Z_FIXED};
  const int levels[] = {0, 1, 6, 9};
  const std::size_t sizes[] = {0, 1, 3, 258, 4096, 65535, 65536 + 17, 200000};
  for (int shape = 0; shape < 5; shape++)
    for (std::size_t n : sizes) {
      Bytes in = make_input(shape, n, rng);
      for (int level : levels)
        for (int strategy : strategies) {
          Bytes z = zlib_compress(in, level, strategy);
          std::string what = "shape " + std::to_string(shape) + " n " + std::to_string(n) + " level " +
                             std::to_string(level) + " strategy " + std::to_string(strategy);
          Result r = inflate(z, n);  // exactly the decoded size
          ASSERT_EQ(r.rc, 0) << what;
          ASSERT_EQ(r.len, n) << what;
          ASSERT_TRUE(r.out == in) << what;
          if (n > 0) {
            Result small = inflate(z, n - 1);  // one byte short: failure, no length
            ASSERT_EQ(small.rc, -1) << what;
            ASSERT_EQ(small.len, 0u) << what;
          }
        }
    }
}

TEST(Inflate, DecodesFlushedStreamsAndSmallWindows) {
  std::mt19937 rng(11);
  Bytes in = make_input(1, 100000, rng);
  // Several deflate calls with sync and full flushes: empty stored blocks and
  // block boundaries at byte edges in the middle of the stream.
  z_stream z{};
  ASSERT_EQ(deflateInit2(&z, 6, Z_DEFLATED, 9, 8, Z_DEFAULT_STRATEGY), Z_OK);  // header 18 xx
  Bytes out(deflateBound(&z, in.size()) + 4096);
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  const int flushes[] = {Z_SYNC_FLUSH, Z_FULL_FLUSH, Z_BLOCK, Z_PARTIAL_FLUSH, Z_FINISH};
  for (int k = 0; k < 5; k++) {
    z.next_in = in.data() + k * 20000;
    z.avail_in = 20000;
    ASSERT_GE(deflate(&z, flushes[k]), Z_OK);
  }
  out.resize(z.total_out);
  deflateEnd(&z);
  Result r = inflate(out, in.size());
  ASSERT_EQ(r.rc, 0);
  EXPECT_TRUE(r.out == in);
}

// ---- result classes -----------------------------------------------------------------

Bytes fixed_stream(void (*body)(BlockWriter &), bool final_block = true) {
  BitWriter w;
  BlockWriter b = fixed_block(&w, final_block);
  body(b);
  return with_header(w.take());
}

// Literal/length lengths: 'a' and 'b' and end-of-block and length 258, all
// other symbols without a code; the caller chooses the distance lengths.
std::vector<int> small_lit_lens() {
  std::vector<int> l(286, 0);
  l['a'] = 2;
  l['b'] = 2;
  l[256] = 2;
  l[285] = 2;
  return l;
}

struct ClassCase {
  const char *name;
  Bytes src;
  std::uint64_t cap;
  int rc;
  std::uint64_t len;  // expected output length
};

std::vector<ClassCase> class_cases() {
  std::vector<ClassCase> c;
  Bytes hello = zlib_compress(bytes_of("hello, hello, hello"), 9);
  auto with_first = [&](unsigned char b0, unsigned char b1) {
    Bytes s = hello;
    s[0] = b0;
    s[1] = b1;
    return s;
  };
  c.push_back({"empty input", {}, 64, -1, 0});
  c.push_back({"one byte", {0x78}, 64, -1, 0});
  c.push_back({"header only: the first block header cannot be read", {0x78, 0x9c}, 64, -1, 0});
  c.push_back({"header 78 01", with_first(0x78, 0x01), 64, 0, 19});
  c.push_back({"header 78 DA", with_first(0x78, 0xda), 64, 0, 19});
  c.push_back({"header 48 89 (small window)", with_first(0x48, 0x89), 64, 0, 19});
  c.push_back({"header check value wrong", with_first(0x78, 0x00), 64, 0, 19});
  c.push_back({"compression method 7", with_first(0x77, 0x9c), 64, -1, 0});
  c.push_back({"preset dictionary flag", with_first(0x78, 0xbb), 64, -1, 0});
  c.push_back({"capacity 2^30 accepted", hello, std::uint64_t{1} << 30, 0, 19});
  c.push_back({"capacity 2^30 + 1 refused", hello, (std::uint64_t{1} << 30) + 1, -1, 0});
  c.push_back({"exact capacity", hello, 19, 0, 19});
  c.push_back({"one byte short", hello, 18, -1, 0});
  {
    Bytes s = hello;
    s.back() ^= 0x55;
    c.push_back({"wrong Adler-32 trailer", s, 64, 0, 19});
    s.resize(s.size() - 4);
    c.push_back({"no trailer", s, 64, 0, 19});
    s.insert(s.end(), 100, 0xee);
    c.push_back({"garbage after the final block", s, 64, 0, 19});
  }
  {
    Bytes s = hello;
    s.resize(s.size() - 6);  // cut inside the block, after some bytes decoded
    c.push_back({"cut inside a block", s, 64, -1, 0});
  }
  {
    BitWriter w;
    w.bits(1, 1);
    w.bits(3, 2);
    c.push_back({"block type 3", with_header(w.take()), 64, 0, 0});
  }
  c.push_back({"fixed block with only end-of-block", fixed_stream([](BlockWriter &b) { b.eob(); }), 64, 0, 0});
  c.push_back({"distance equal to bytes produced",
               fixed_stream([](BlockWriter &b) {
                 b.lit('x');
                 b.lit('y');
                 b.match(3, 2);
                 b.eob();
               }),
               64, 0, 5});
  c.push_back({"distance one past the bytes produced: prefix",
               fixed_stream([](BlockWriter &b) {
                 b.lit('x');
                 b.lit('y');
                 b.match(3, 3);
                 b.eob();
               }),
               64, 0, 2});
  c.push_back({"match as the very first symbol", fixed_stream([](BlockWriter &b) {
                 b.match(10, 1);
                 b.eob();
               }),
               64, 0, 0});
  c.push_back({"symbol 286 of the fixed code: prefix", fixed_stream([](BlockWriter &b) {
                 b.lit('q');
                 b.sym(286);
                 b.eob();
               }),
               64, 0, 1});
  c.push_back({"match passing the capacity", fixed_stream([](BlockWriter &b) {
                 b.lit('q');
                 b.match(20, 1);
                 b.eob();
               }),
               20, -1, 0});
  c.push_back({"non-final block then end of input", fixed_stream([](BlockWriter &b) {
                 b.lit('q');
                 b.eob();
               }, false),
               64, -1, 0});
  {
    // Fixed distance code 30 (5 bits 11110) is not a code: a bit-at-a-time
    // decoder reads 15 bits before giving up. With the stream ending right
    // after the 5 bits it runs out first (failure); with 10 more bits it
    // finds the data corrupt (the prefix).
    auto unmatched = [](int more_bits) {
      BitWriter w;
      BlockWriter b = fixed_block(&w, true);
      b.lit('k');
      b.sym(257);
      w.code(30, 5);
      w.bits(0, more_bits);
      return with_header(w.take());
    };
    c.push_back({"unmatched distance code, input ends", unmatched(0), 64, -1, 0});
    c.push_back({"unmatched distance code, 9 bits follow", unmatched(9), 64, -1, 0});
    c.push_back({"unmatched distance code, 10 bits follow", unmatched(10), 64, 0, 1});
  }
  {
    BitWriter w;
    w.bits(0, 1);
    w.bits(0, 2);  // stored, not final
    w.align();
    w.bits(5, 16);
    w.bits(0xfffa, 16);
    for (char ch : std::string("abcde")) w.byte(static_cast<unsigned char>(ch));
    w.bits(1, 1);
    w.bits(0, 2);  // stored, final, complement wrong
    w.align();
    w.bits(3, 16);
    w.bits(0x1234, 16);
    w.bits(0, 24);
    c.push_back({"stored length and complement disagree: prefix", with_header(w.take()), 64, 0, 5});
  }
  {
    BitWriter w;
    w.bits(1, 1);
    w.bits(0, 2);
    w.align();
    w.bits(10, 16);
    w.bits(0xfff5, 16);
    w.bits(0, 8 * 9);  // one byte missing
    c.push_back({"stored block cut short", with_header(w.take()), 64, -1, 0});
    c.push_back({"stored block of 3 length bytes", Bytes{0x78, 0x9c, 0x01, 0x0a, 0x00, 0xf5}, 64, -1, 0});
  }
  {
    BitWriter w;
    w.bits(1, 1);
    w.bits(0, 2);
    w.align();
    w.bits(10, 16);
    w.bits(0xfff5, 16);
    w.bits(0, 8 * 10);
    c.push_back({"stored block larger than the capacity", with_header(w.take()), 9, -1, 0});
    c.push_back({"stored block exactly the capacity", with_header(w.take()), 10, 0, 10});
  }
  {
    std::vector<int> one_dist(30, 0);
    one_dist[0] = 1;  // a single one-bit distance code: accepted
    BitWriter w;
    BlockWriter b = dynamic_block(&w, true, small_lit_lens(), one_dist);
    b.lit('a');
    b.match(258, 1);
    b.eob();
    c.push_back({"single one-bit distance code", with_header(w.take()), 1000, 0, 259});
  }
  {
    std::vector<int> bad_dist(30, 0);
    bad_dist[0] = 1;
    bad_dist[1] = 2;  // incomplete with two codes: corrupt
    BitWriter w;
    BlockWriter b = dynamic_block(&w, true, small_lit_lens(), bad_dist);
    b.lit('a');
    b.eob();
    c.push_back({"distance code of one 1-bit and one 2-bit code", with_header(w.take()), 1000, 0, 0});
  }
  {
    std::vector<int> lit = small_lit_lens();
    lit['c'] = 1;  // over-subscribed
    BitWriter w;
    dynamic_block(&w, true, lit, std::vector<int>(30, 0));
    w.bits(0, 32);
    c.push_back({"over-subscribed literal/length code", with_header(w.take()), 1000, 0, 0});
  }
  {
    std::vector<int> lit = small_lit_lens();
    lit[256] = 0;
    lit['c'] = 2;
    BitWriter w;
    dynamic_block(&w, true, lit, std::vector<int>(30, 0));
    w.bits(0, 32);
    c.push_back({"no code for end-of-block", with_header(w.take()), 1000, 0, 0});
  }
  {
    // No distance codes at all is accepted; a length symbol then cannot
    // find a distance and the data is corrupt.
    BitWriter w;
    BlockWriter b = dynamic_block(&w, true, small_lit_lens(), std::vector<int>(1, 0));
    b.lit('a');
    b.lit('b');
    b.sym(285);
    w.bits(0, 15);
    c.push_back({"length symbol with an empty distance code", with_header(w.take()), 1000, 0, 2});
  }
  auto dyn_header = [](int hlit, int hdist, int hclen, const std::vector<int> &clens, const std::vector<std::pair<int, int>> &syms) {
    // syms: (code-length symbol, extra value) sent with the code-length code
    BitWriter w;
    w.bits(1, 1);
    w.bits(2, 2);
    w.bits(static_cast<std::uint32_t>(hlit), 5);
    w.bits(static_cast<std::uint32_t>(hdist), 5);
    w.bits(static_cast<std::uint32_t>(hclen), 4);
    for (int i = 0; i < hclen + 4; i++) w.bits(static_cast<std::uint32_t>(clens[static_cast<std::size_t>(k_clen_order[i])]), 3);
    auto cc = canonical_codes(clens);
    for (auto [s, extra] : syms) {
      w.code(cc[static_cast<std::size_t>(s)], clens[static_cast<std::size_t>(s)]);
      if (s == 16) w.bits(static_cast<std::uint32_t>(extra), 2);
      if (s == 17) w.bits(static_cast<std::uint32_t>(extra), 3);
      if (s == 18) w.bits(static_cast<std::uint32_t>(extra), 7);
    }
    w.bits(0, 40);
    return with_header(w.take());
  };
  std::vector<int> clen_all(19, 0);
  for (int s = 0; s < 16; s++) clen_all[static_cast<std::size_t>(s)] = 5;
  clen_all[16] = clen_all[17] = clen_all[18] = 3;  // 16 x 2^-5 + 3 x 2^-3 = 7/8: incomplete
  std::vector<int> clen_ok(19, 0);
  clen_ok[16] = clen_ok[17] = clen_ok[18] = 2;
  clen_ok[1] = 2;  // four 2-bit codes: complete
  c.push_back({"incomplete code-length code", dyn_header(0, 0, 15, clen_all, {}), 1000, 0, 0});
  c.push_back({"287 literal/length codes", dyn_header(30, 0, 15, clen_ok, {}), 1000, 0, 0});
  c.push_back({"31 distance codes", dyn_header(0, 30, 15, clen_ok, {}), 1000, 0, 0});
  c.push_back({"repeat code 16 first", dyn_header(0, 0, 15, clen_ok, {{16, 0}}), 1000, 0, 0});
  c.push_back({"zero run past the end of the lengths", dyn_header(0, 0, 15, clen_ok, {{18, 127}, {18, 127}, {18, 127}}), 1000,
               0, 0});
  c.push_back({"header cut inside the code lengths", Bytes{0x78, 0x9c, 0x05, 0xc1}, 1000, -1, 0});
  return c;
}

TEST(Inflate, ResultClassesOfTruncatedCorruptAndOversizedInput) {
  for (const ClassCase &k : class_cases()) {
    Result r = inflate(k.src, k.cap);
    EXPECT_EQ(r.rc, k.rc) << k.name;
    EXPECT_EQ(r.len, k.len) << k.name;
    // The reference decoder agrees on every case, prefix included.
    if (k.cap <= (1u << 26)) expect_same_as_reference(k.src, k.cap, k.name);
  }
}

TEST(Inflate, PrefixOfCorruptDataIsTheBytesBeforeTheFault) {
  BitWriter w;
  BlockWriter b = fixed_block(&w, true);
  for (char ch : std::string("abc")) b.lit(ch);
  b.match(6, 3);
  b.match(4, 100);  // past the start
  b.lit('z');
  b.eob();
  Result r = inflate(with_header(w.take()), 64);
  ASSERT_EQ(r.rc, 0);
  EXPECT_EQ(std::string(r.out.begin(), r.out.end()), "abcabcabc");
}

// ---- hostile input ------------------------------------------------------------------------

// A dynamic block whose 2-bit codes repeat 258-byte matches: about 1 GiB of
// output claimed by 2 MB of input.
Bytes bomb_stream(std::size_t matches) {
  std::vector<int> dist(30, 0);
  dist[0] = 1;
  BitWriter w;
  BlockWriter b = dynamic_block(&w, true, small_lit_lens(), dist);
  b.lit('a');
  for (std::size_t i = 0; i < matches; i++) b.match(258, 1);
  b.eob();
  return with_header(w.take());
}

TEST(Inflate, HostileInputStaysInsideTheDestination) {
  const Bytes bomb = bomb_stream(4161600);  // 1,073,692,801 bytes claimed
  Result r = inflate(bomb, 1 << 20);
  EXPECT_EQ(r.rc, -1);
  EXPECT_EQ(r.len, 0u);

  std::mt19937 rng(99);
  for (int round = 0; round < 20; round++) {
    Bytes garbage(65536);
    for (auto &c : garbage) c = static_cast<unsigned char>(rng());
    garbage[0] = 0x78;  // past the header checks
    garbage[1] = static_cast<unsigned char>(garbage[1] & ~0x20);
    expect_same_as_reference(garbage, 1 << 16, "garbage round " + std::to_string(round));
    expect_same_as_reference(garbage, 7, "garbage into 7 bytes, round " + std::to_string(round));
  }
}

// Every mutation of valid streams (bit flips, cuts, random capacities) gives
// the reference decoder's exact result. This is where a table-driven decoder
// would differ from a bit-at-a-time one: codes near the end of the input,
// invalid codes, stored blocks after odd bit positions.
TEST(Inflate, MatchesTheBitAtATimeDecoderOnMutatedStreams) {
  std::mt19937 rng(2024);
  const int strategies[] = {Z_DEFAULT_STRATEGY, Z_FIXED, Z_HUFFMAN_ONLY, Z_RLE};
  for (int round = 0; round < 6000; round++) {
    std::size_t n = rng() % 3000;
    Bytes in = make_input(static_cast<int>(rng() % 4), n, rng);
    Bytes z = zlib_compress(in, static_cast<int>(rng() % 10), strategies[rng() % 4]);
    switch (rng() % 4) {
      case 0:  // flip a few bits
        for (int k = 1 + static_cast<int>(rng() % 3); k > 0; k--) z[2 + rng() % (z.size() - 2)] ^= static_cast<unsigned char>(1u << (rng() % 8));
        break;
      case 1:  // cut
        z.resize(2 + rng() % (z.size() - 1));
        break;
      case 2:  // overwrite a run with random bytes
        for (std::size_t p = 2 + rng() % (z.size() - 2), k = 0; p < z.size() && k < 8; p++, k++) z[p] = static_cast<unsigned char>(rng());
        break;
      default:  // keep valid, vary the capacity below
        break;
    }
    std::uint64_t cap = rng() % 3 == 0 ? rng() % (n + 2) : n + rng() % 64;
    expect_same_as_reference(z, cap, "round " + std::to_string(round));
  }
}

// Short random streams end inside codes, headers and stored blocks at every
// bit position: the cases where "ran out" and "corrupt" are decided by how
// many real bits were left.
TEST(Inflate, MatchesTheBitAtATimeDecoderOnShortGarbage) {
  std::mt19937 rng(5);
  for (int round = 0; round < 40000; round++) {
    Bytes g(2 + rng() % 40);
    for (auto &c : g) c = static_cast<unsigned char>(rng());
    g[0] = 0x78;
    g[1] = static_cast<unsigned char>(g[1] & ~0x20);
    // Bias the first block header toward fixed blocks, whose distance code
    // has two unmatched patterns.
    if (g.size() > 2 && rng() % 2) g[2] = static_cast<unsigned char>((g[2] & ~6) | 2);
    expect_same_as_reference(g, rng() % 300, "garbage " + std::to_string(round));
  }
}

}  // namespace
