// The stream service and its filter chain: each way a stream can end is a
// distinct result, chains decode in /Filter order with their parameters,
// limits and the budget bound every stage, and the cache decodes once.
#include <gtest/gtest.h>

#include "deflate_kit.h"
#include "filter/filter.h"
#include "pdf_fixture.h"

namespace {

using flate_fixture::Loaded;
using flate_fixture::one_page_pdf;
using flate_fixture::stream_obj;
using flate_fixture::str;
using zyk::DecodeStatus;

std::string zlib(const std::string &s) { return str(flate_kit::zlib_compress(flate_kit::bytes_of(s), 9)); }

std::string hex(const std::string &s) {
  static const char *d = "0123456789ABCDEF";
  std::string o;
  for (char ch : s) {
    const auto c = static_cast<unsigned char>(ch);
    o += d[c >> 4];
    o += d[c & 15];
  }
  return o + ">";
}

struct Case {
  const char *what;
  std::string dict;
  std::string data;
  DecodeStatus status;
  std::string decoded;  // checked when done
  const char *message;  // stream_failure_text when not done
};

TEST(StreamService, EachEndingIsDistinct) {
  const std::string text = "BT /F1 12 Tf (Hello) Tj ET";
  const std::string z = zlib(text);
  const std::string big(300000, 'a');  // inflates far beyond 8x + 4096
  const std::vector<Case> cases = {
      {"no filter", "", "raw bytes", DecodeStatus::done, "raw bytes", ""},
      {"flate", "/Filter /FlateDecode", z, DecodeStatus::done, text, ""},
      {"abbreviated, in an array", "/Filter [/AHx /Fl]", hex(z), DecodeStatus::done, text, ""},
      {"high ratio grows", "/Filter /FlateDecode", zlib(big), DecodeStatus::done, big, ""},
      {"truncated", "/Filter /FlateDecode", z.substr(0, z.size() / 2), DecodeStatus::truncated, "",
       "FlateDecode: truncated data"},
      {"bad header", "/Filter /FlateDecode", "xyz", DecodeStatus::corrupt, "", "FlateDecode: corrupt data"},
      // The example of the LZW description in the PDF reference.
      {"lzw", "/Filter /LZWDecode", "\x80\x0b\x60\x50\x22\x0c\x0c\x85\x01", DecodeStatus::done, "-----A---B", ""},
      {"ascii85", "/Filter /ASCII85Decode", "87cURD]i,\"Ebo80~>", DecodeStatus::done, "Hello World!", ""},
      {"ascii85 bad digit", "/Filter /A85", "87cUR\x7f~>", DecodeStatus::corrupt, "", "ASCII85Decode: corrupt data"},
      {"run length", "/Filter /RunLengthDecode", std::string("\x02" "abc" "\xfe" "z" "\x80", 7), DecodeStatus::done,
       "abczzz", ""},
      {"image codec", "/Filter /DCTDecode", "\xff\xd8", DecodeStatus::unsupported, "",
       "DCTDecode: not decodable here"},
      {"after a good filter", "/Filter [/AHx /JBIG2Decode]", "00>", DecodeStatus::unsupported, "",
       "JBIG2Decode: not decodable here"},
      {"crypt", "/Filter /Crypt", "x", DecodeStatus::unsupported, "", "Crypt: not decodable here"},
      {"unknown name", "/Filter /Foo", "x", DecodeStatus::unsupported, "", "unknown filter: not decodable here"},
      {"filter no name", "/Filter 5", "x", DecodeStatus::corrupt, "", "corrupt data"},
  };
  std::vector<std::string> objs;
  for (const Case &c : cases) objs.push_back(stream_obj(c.dict, c.data));
  Loaded l(one_page_pdf(objs));
  ASSERT_EQ(l.rc, 0) << l.err;
  for (std::size_t k = 0; k < cases.size(); k++) {
    const Case &c = cases[k];
    const zyk::ObjEntry *e = l.obj(static_cast<int>(k) + 4);
    ASSERT_NE(e, nullptr) << c.what;
    std::string out;
    zyk::StreamResult r = zyk::stream_decode(l.g.d, *e, zyk::DecodeLimits{}, &out);
    EXPECT_EQ(r.status, c.status) << c.what;
    if (c.status == DecodeStatus::done) {
      EXPECT_EQ(out, c.decoded) << c.what;
    } else {
      EXPECT_EQ(zyk::stream_failure_text(r), c.message) << c.what;
    }
  }
}

TEST(StreamService, IndirectFilterAndPredictorParameters) {
  // PNG "up" predictor, 3 columns: rows 1 2 3 / +1 +1 +1 -> 1 2 3 / 2 3 4.
  const std::string rows("\x02\x01\x02\x03\x02\x01\x01\x01", 8);
  const std::string dict = "/Filter 5 0 R /DecodeParms 6 0 R";
  Loaded l(one_page_pdf({stream_obj(dict, zlib(rows)), "[/FlateDecode]", "[<< /Predictor 12 /Columns 3 >>]"}));
  ASSERT_EQ(l.rc, 0) << l.err;
  std::string out;
  ASSERT_TRUE(zyk::stream_decode(l.g.d, *l.obj(4), zyk::DecodeLimits{}, &out).ok());
  EXPECT_EQ(out, std::string("\x01\x02\x03\x02\x03\x04", 6));
}

TEST(StreamService, LimitsAndBudgetStopEveryStage) {
  const std::string big(100000, 'b');
  Loaded l(one_page_pdf({stream_obj("/Filter /FlateDecode", zlib(big)), stream_obj("/Filter /AHx", hex(big))}));
  ASSERT_EQ(l.rc, 0) << l.err;
  std::string out;
  zyk::DecodeLimits small;
  small.max_out = 99999;
  EXPECT_EQ(zyk::stream_decode(l.g.d, *l.obj(4), small, &out).status, DecodeStatus::limit);
  EXPECT_EQ(zyk::stream_decode(l.g.d, *l.obj(5), small, &out).status, DecodeStatus::limit);

  // The budget is shared: the first stream takes 100000 of 150000 bytes,
  // the second no longer fits.
  zyk::DecodeBudget budget{150000};
  zyk::DecodeLimits shared;
  shared.budget = &budget;
  EXPECT_TRUE(zyk::stream_decode(l.g.d, *l.obj(4), shared, &out).ok());
  EXPECT_EQ(budget.left, 50000u);
  EXPECT_EQ(zyk::stream_decode(l.g.d, *l.obj(5), shared, &out).status, DecodeStatus::limit);
}

TEST(StreamService, CorruptFlateDeliversItsPrefix) {
  // A stored block followed by a block of the reserved type 3.
  flate_kit::Bytes d = {0x00, 0x05, 0x00, 0xfa, 0xff, 'h', 'e', 'l', 'l', 'o', 0x07};
  std::string z = str(flate_kit::with_header(d));
  Loaded l(one_page_pdf({stream_obj("/Filter /FlateDecode", z)}));
  ASSERT_EQ(l.rc, 0) << l.err;
  std::string out;
  zyk::StreamResult r = zyk::stream_decode(l.g.d, *l.obj(4), zyk::DecodeLimits{}, &out);
  EXPECT_TRUE(r.ok());
  EXPECT_TRUE(r.damaged);
  EXPECT_EQ(out, "hello");
}

TEST(StreamService, CacheDecodesOnceAndKeepsNoFailure) {
  Loaded l(one_page_pdf({stream_obj("/Filter /FlateDecode", zlib("q Q")), stream_obj("/Filter /DCT", "x")}));
  ASSERT_EQ(l.rc, 0) << l.err;
  zyk::StreamCache cache;
  zyk::StreamResult r;
  auto a = cache.get(l.g.d, *l.obj(4), zyk::DecodeLimits{}, &r);
  auto b = cache.get(l.g.d, *l.obj(4), zyk::DecodeLimits{}, &r);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a.get(), b.get());
  EXPECT_EQ(*a, "q Q");
  EXPECT_EQ(cache.get(l.g.d, *l.obj(5), zyk::DecodeLimits{}, &r), nullptr);
  EXPECT_EQ(r.status, DecodeStatus::unsupported);

  // A bounded cache keeps what fits; a stream beyond the bound is decoded
  // again each time, and each decoding is charged to the budget.
  zyk::StreamCache small(2);
  zyk::DecodeBudget budget{100};
  const zyk::DecodeLimits limits{zyk::k_max_decoded, &budget};
  auto c = small.get(l.g.d, *l.obj(4), limits, &r);
  auto d = small.get(l.g.d, *l.obj(4), limits, &r);
  ASSERT_NE(c, nullptr);
  ASSERT_NE(d, nullptr);
  EXPECT_NE(c.get(), d.get());
  EXPECT_EQ(*d, "q Q");
  EXPECT_EQ(budget.left, 94u);
  zyk::StreamCache roomy(3);
  c = roomy.get(l.g.d, *l.obj(4), limits, &r);
  d = roomy.get(l.g.d, *l.obj(4), limits, &r);
  EXPECT_EQ(c.get(), d.get());
  EXPECT_EQ(budget.left, 91u);
}

TEST(InflateRun, TellsFullFromTruncated) {
  const std::string z = zlib(std::string(5000, 'x'));
  const auto *src = reinterpret_cast<const unsigned char *>(z.data());
  std::vector<unsigned char> dst(5000);
  std::uint64_t n = 0;
  EXPECT_EQ(zyk::inflate_run(src, z.size(), dst.data(), 4999, &n), zyk::InflateResult::output_full);
  EXPECT_EQ(zyk::inflate_run(src, z.size() - 6, dst.data(), 5000, &n), zyk::InflateResult::truncated);
  EXPECT_EQ(zyk::inflate_run(src, z.size(), dst.data(), 5000, &n), zyk::InflateResult::done);
  EXPECT_EQ(n, 5000u);
  // The two-valued interface keeps its answer for both failures.
  EXPECT_EQ(zyk::inflate_decompress(src, z.size(), dst.data(), 4999, &n), -1);
  EXPECT_EQ(n, 0u);
}

}  // namespace
