// The deflate encoder: its output decodes with zlib (which checks the
// Adler-32 trailer) and with the library's decoder, and its block and symbol
// choices (traced by the reference decoder) are the fixed ones.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <random>
#include <thread>
#include <vector>

#include "deflate_kit.h"
#include "flate/flate.h"

using namespace flate_kit;

namespace {

struct FreeBytes {
  void operator()(unsigned char *p) const { std::free(p); }
};

Bytes deflate(const Bytes &in) {
  unsigned char *out = nullptr;
  std::uint64_t len = 0;
  EXPECT_EQ(zyk::sx_deflate(in.data(), in.size(), &out, &len), 0);
  std::unique_ptr<unsigned char, FreeBytes> own(out);
  return Bytes(out, out + len);
}

RefTrace trace_of(const Bytes &in) {
  Bytes z = deflate(in);
  RefTrace t;
  RefResult r = ref_inflate(z, in.size(), &t);
  EXPECT_EQ(r.rc, 0);
  EXPECT_TRUE(r.out == in);
  return t;
}

std::string symbols_text(const RefTrace &t) {
  std::string s;
  for (const RefSymbol &y : t.symbols) {
    if (y.length == 0)
      s += std::string(1, static_cast<char>(y.value));
    else
      s += "<" + std::to_string(y.length) + "," + std::to_string(y.value) + ">";
  }
  return s;
}

TEST(Deflate, EmptyInputIsTheFixedEighteenBytes) {
  Bytes z = deflate({});
  const Bytes want = {0x78, 0x01, 0x05, 0xC1, 0x81, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0xFF, 0xD5, 0x08, 0x00, 0x00, 0x00, 0x01};
  EXPECT_TRUE(z == want);
}

TEST(Deflate, OutputInflatesWithZlibAndTheLibraryDecoder) {
  std::mt19937 rng(3);
  std::vector<Bytes> inputs;
  for (std::size_t n : {1u, 2u, 3u, 100u, 65535u, 65536u, 65537u, 200000u}) {
    Bytes random(n), text(n), runs(n);
    for (std::size_t i = 0; i < n; i++) {
      random[i] = static_cast<unsigned char>(rng());
      text[i] = static_cast<unsigned char>("<rdf:Description rdf:about=\"\"/>\n"[i % 32]);
      runs[i] = static_cast<unsigned char>((i / 700) % 3);
    }
    inputs.push_back(random);
    inputs.push_back(text);
    inputs.push_back(runs);
  }
  for (const Bytes &in : inputs) {
    Bytes z = deflate(in);
    ASSERT_GE(z.size(), 6u);
    EXPECT_EQ(z[0], 0x78);
    EXPECT_EQ(z[1], 0x01);
    // zlib verifies the header check and the Adler-32 trailer.
    Bytes back(in.size() + 1);
    uLongf back_len = static_cast<uLongf>(back.size());
    ASSERT_EQ(uncompress(back.data(), &back_len, z.data(), static_cast<uLong>(z.size())), Z_OK) << in.size();
    back.resize(back_len);
    EXPECT_TRUE(back == in) << in.size();
    uLong adler = adler32(1, in.data(), static_cast<uInt>(in.size()));
    const Bytes trailer = {static_cast<unsigned char>(adler >> 24), static_cast<unsigned char>(adler >> 16),
                           static_cast<unsigned char>(adler >> 8), static_cast<unsigned char>(adler)};
    EXPECT_TRUE(Bytes(z.end() - 4, z.end()) == trailer);

    std::vector<unsigned char> mine(in.size());
    std::uint64_t len = 0;
    ASSERT_EQ(zyk::inflate_decompress(z.data(), z.size(), mine.data(), mine.size(), &len), 0);
    EXPECT_EQ(len, in.size());
    EXPECT_TRUE(mine == in);
  }
}

TEST(Deflate, GreedyMatchingChoosesTheFixedSymbols) {
  struct Case {
    std::string in;
    std::string symbols;
  } cases[] = {
      // Block position 0 is never a match source.
      {std::string(300, 'q'), "qq<258,1><40,1>"},
      {"abcabcabcabc", "abca<8,3>"},
      {"xyzxyz", "xyzxyz"},
      // The nearest of equally long candidates wins.
      {"_abcd1abcd2abcd", "_abcd1<4,5>2<4,5>"},
  };
  for (const Case &c : cases) EXPECT_EQ(symbols_text(trace_of(bytes_of(c.in))), c.symbols) << c.in;
}

TEST(Deflate, BlocksHoldAtMost64KiBAndMatchesStayInside) {
  // Repeating data: every position could match something in the previous
  // block, but matches never reach across a block boundary.
  for (std::size_t n : {65536u, 65537u, 200000u}) {
    Bytes in(n);
    for (std::size_t i = 0; i < n; i++) in[i] = static_cast<unsigned char>("0123456789"[i % 10]);
    RefTrace t = trace_of(in);
    const std::size_t want_blocks = (n + 65535) / 65536;
    ASSERT_EQ(t.blocks.size(), want_blocks) << n;
    for (std::size_t b = 0; b < t.blocks.size(); b++) {
      EXPECT_EQ(t.blocks[b].type, 2);
      EXPECT_EQ(t.blocks[b].final_block, b + 1 == t.blocks.size());
      std::size_t end = b + 1 < t.blocks.size() ? t.blocks[b + 1].first_symbol : t.symbols.size();
      std::size_t pos = 0;  // position inside the block
      for (std::size_t k = t.blocks[b].first_symbol; k < end; k++) {
        const RefSymbol &y = t.symbols[k];
        if (y.length) {
          EXPECT_LE(static_cast<std::size_t>(y.value), pos) << "block " << b;
        }
        pos += y.length ? static_cast<std::size_t>(y.length) : 1;
      }
      EXPECT_EQ(pos, b + 1 < t.blocks.size() ? 65536u : n - 65536 * b);
    }
  }
  // 65537 bytes: the second block holds the last byte alone.
  Bytes in(65537, 'k');
  RefTrace t = trace_of(in);
  ASSERT_EQ(t.blocks.size(), 2u);
  EXPECT_EQ(t.symbols.size() - t.blocks[1].first_symbol, 1u);
}

TEST(Deflate, DistancesAndLengthsStayInTheirLimits) {
  // Far repeats: the same 40 KiB of random bytes twice, so candidates beyond
  // 32 KiB exist and must be refused.
  std::mt19937 rng(8);
  Bytes half(40000);
  for (auto &c : half) c = static_cast<unsigned char>(rng());
  Bytes in = half;
  in.insert(in.end(), half.begin(), half.begin() + 25000);
  in.insert(in.end(), 5000, 'z');
  RefTrace t = trace_of(in);
  int max_dist = 0, max_len = 0;
  for (const RefSymbol &y : t.symbols) {
    if (!y.length) continue;
    max_dist = std::max(max_dist, y.value);
    max_len = std::max(max_len, y.length);
  }
  EXPECT_LE(max_dist, 32767);
  EXPECT_GT(max_dist, 20000);  // the near part of the repeat was found
  EXPECT_EQ(max_len, 258);
}

// The first `count` symbols of a de Bruijn sequence of order 3 over k
// symbols: no 3-symbol string occurs twice, so the encoder finds no match.
std::vector<int> de_bruijn3(int k, std::size_t count) {
  std::vector<int> out;
  int a[4] = {};
  auto db = [&](auto &&self, int t, int p) -> void {
    if (out.size() >= count) return;
    if (t > 3) {
      if (3 % p == 0)
        for (int i = 1; i <= p; i++) out.push_back(a[i]);
      return;
    }
    a[t] = a[t - p];
    self(self, t + 1, p);
    for (int j = a[t - p] + 1; j < k; j++) {
      a[t] = j;
      self(self, t + 1, t);
    }
  };
  db(db, 1, 1);
  out.resize(std::min(out.size(), count));
  return out;
}

// Thirteen literals with Fibonacci frequencies (1, 1, 2, ... 233) merge into
// a chain 12 levels deep before the other 200 literals take part, so an
// unlimited Huffman tree would be about 19 levels deep. The limited code must
// reach exactly 15 bits and still decode (trace_of checks the round trip).
TEST(Deflate, SkewedFrequenciesGiveCodesOfAtMost15Bits) {
  std::vector<int> base = de_bruijn3(200, 64000);
  std::vector<unsigned char> rare;
  for (int sym = 0, a = 1, b = 1; sym < 13; sym++) {
    rare.insert(rare.end(), static_cast<std::size_t>(a), static_cast<unsigned char>(200 + sym));
    int c = a + b;
    a = b;
    b = c;
  }
  std::mt19937 rng(4);
  std::vector<std::size_t> at(rare.size());
  for (auto &p : at) p = rng() % base.size();
  std::sort(at.begin(), at.end());
  Bytes data;
  for (std::size_t i = 0, r = 0; i < base.size(); i++) {
    while (r < at.size() && at[r] == i) data.push_back(rare[r++]);
    data.push_back(static_cast<unsigned char>(base[i]));
  }
  ASSERT_LE(data.size(), 65536u);
  RefTrace t = trace_of(data);
  ASSERT_EQ(t.blocks.size(), 1u);
  int longest = 0;
  for (int l : t.blocks[0].lit_lens) longest = std::max(longest, l);
  EXPECT_EQ(longest, 15);
}

TEST(Deflate, BlockWithoutMatchesStillSendsTwoDistanceCodes) {
  RefTrace t = trace_of(bytes_of("xyzxyz"));
  ASSERT_EQ(t.blocks.size(), 1u);
  EXPECT_EQ(t.blocks[0].hdist, 2);
  EXPECT_EQ(t.blocks[0].dist_lens, (std::vector<int>{1, 1}));
  EXPECT_GE(t.blocks[0].hclen, 4);
}

}  // namespace

// The encoder keeps its work area from call to call: what an earlier call
// compressed (larger or smaller inputs, other bytes) never changes what a
// later call writes, which must equal the output of a thread that has
// compressed nothing before.
TEST(Deflate, OutputDoesNotDependOnEarlierCalls) {
  std::mt19937 rng(7);
  auto text = [&](std::size_t n, int alphabet) {
    Bytes b(n);
    for (auto &c : b) c = static_cast<unsigned char>('a' + rng() % static_cast<unsigned>(alphabet));
    return b;
  };
  const Bytes probe = text(3000, 4);
  Bytes fresh;
  std::thread([&] { fresh = deflate(probe); }).join();
  ASSERT_FALSE(fresh.empty());
  // Before the probe: nothing, a larger input of several blocks, a smaller
  // one, the probe itself, and one with the probe's bytes shifted.
  Bytes shifted = probe;
  std::rotate(shifted.begin(), shifted.begin() + 17, shifted.end());
  const std::vector<Bytes> before = {text(200000, 4), text(10, 4), probe, shifted, Bytes(70000, 'a'), Bytes()};
  for (std::size_t i = 0; i < before.size(); i++) {
    SCOPED_TRACE(i);
    (void)deflate(before[i]);
    EXPECT_TRUE(deflate(probe) == fresh);
  }
}
