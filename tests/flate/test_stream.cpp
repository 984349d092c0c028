// decoded_stream over loaded documents: which streams are inflated, which
// come back raw, and what the caller's Buf and length look like afterwards.
#include <gtest/gtest.h>

#include "deflate_kit.h"
#include "flate/flate.h"
#include "pdf_fixture.h"

using namespace flate_kit;
using namespace flate_fixture;

namespace {

const std::string k_text = "q 1 0 0 1 20 20 cm 0 0 50 50 re f Q\n";

std::string z(const std::string &s) { return str(zlib_compress(bytes_of(s), 9)); }

// A stream of 'a' bytes of exactly `out` bytes from a fixed block, padded
// with zero bytes (ignored after the final block) to `raw` bytes.
std::string run_of(std::size_t out, std::size_t raw) {
  BitWriter w;
  BlockWriter b = fixed_block(&w, true);
  b.lit('a');
  std::size_t left = out - 1;
  while (left >= 3) {
    std::size_t m = left >= 261 || left == 258 ? 258 : left > 258 ? left - 3 : left;
    b.match(static_cast<int>(m), 1);
    left -= m;
  }
  while (left--) b.lit('a');
  b.eob();
  Bytes s = with_header(w.take());
  EXPECT_LE(s.size(), raw);
  s.resize(raw, 0);
  return str(s);
}

enum class Kind { null, empty, raw, inflated };

struct Case {
  const char *name;
  std::string dict;
  std::string data;
  Kind kind;
  std::string bytes;  // expected content for raw and inflated
};

TEST(DecodedStream, ChoosesTheFilterFromTheDictionaryRange) {
  const std::string png_rows = std::string("\x02") + "abcde" + std::string("\x02") + "\x01\x01\x01\x01\x01";
  const std::string a85 = "GhQOK0Q>@\\~>";
  std::string corrupt;  // a good start, then a distance past the start
  {
    BitWriter w;
    BlockWriter b = fixed_block(&w, true);
    for (char ch : std::string("q 1 0 0")) b.lit(ch);
    b.match(3, 100);
    b.eob();
    corrupt = str(with_header(w.take()));
  }
  const Case cases[] = {
      {"FlateDecode", "/Filter /FlateDecode", z(k_text), Kind::inflated, k_text},
      {"filter array starting with FlateDecode", "/Filter [/FlateDecode /DCTDecode]", z(k_text), Kind::inflated, k_text},
      {"another filter before FlateDecode", "/Filter [/ASCII85Decode /FlateDecode]", a85, Kind::null, ""},
      {"abbreviated name", "/Filter /Fl", z(k_text), Kind::raw, z(k_text)},
      {"other filter", "/Filter /LZWDecode", "\x80\x0b\x60", Kind::raw, "\x80\x0b\x60"},
      {"no filter", "", k_text, Kind::raw, k_text},
      {"FlateDecode named only in DecodeParms", "/DecodeParms << /FlateDecode 1 >>", z(k_text), Kind::inflated, k_text},
      {"predictor not undone", "/Filter /FlateDecode /DecodeParms << /Predictor 12 /Columns 5 >>", z(png_rows),
       Kind::inflated, png_rows},
      {"empty data", "/Filter /FlateDecode", "", Kind::empty, ""},
      {"corrupt after a good start: the prefix", "/Filter /FlateDecode", corrupt, Kind::inflated, "q 1 0 0"},
      {"truncated", "/Filter /FlateDecode", z(k_text).substr(0, 12), Kind::null, ""},
      {"exactly 20 n + 4096 bytes", "/Filter /FlateDecode", run_of(20 * 300 + 4096, 300), Kind::inflated,
       std::string(20 * 300 + 4096, 'a')},
      {"one byte more: decoded again with more room", "/Filter /FlateDecode", run_of(20 * 300 + 4097, 300),
       Kind::inflated, std::string(20 * 300 + 4097, 'a')},
      {"a long run far beyond the first room", "/Filter /FlateDecode", run_of(200000, 1300), Kind::inflated,
       std::string(200000, 'a')},
  };
  for (const Case &c : cases) {
    Loaded l(one_page_pdf({stream_obj(c.dict, c.data)}));
    ASSERT_EQ(l.rc, 0) << c.name << ": " << l.err;
    const zyk::ObjEntry *e = l.obj(4);
    ASSERT_NE(e, nullptr) << c.name;
    zyk::BufGuard buf;
    int len = -7;
    const unsigned char *p = zyk::decoded_stream(*e, l.g.d.pdf, l.g.d.pdf_len, &buf.b, &len);
    switch (c.kind) {
      case Kind::null:
        EXPECT_EQ(p, nullptr) << c.name;
        EXPECT_EQ(len, -7) << c.name;
        EXPECT_EQ(buf.b.used, 0u) << c.name;
        break;
      case Kind::empty:
        ASSERT_NE(p, nullptr) << c.name;
        EXPECT_EQ(len, 0) << c.name;
        EXPECT_EQ(*p, 0) << c.name;
        EXPECT_EQ(buf.b.chars, nullptr) << c.name;  // the Buf is never touched
        break;
      case Kind::raw:
        EXPECT_EQ(p, l.g.d.pdf + e->data_off) << c.name;  // in place, no copy
        EXPECT_EQ(std::string(reinterpret_cast<const char *>(p), static_cast<std::size_t>(len)), c.bytes) << c.name;
        EXPECT_EQ(buf.b.chars, nullptr) << c.name;
        break;
      case Kind::inflated:
        ASSERT_NE(p, nullptr) << c.name;
        EXPECT_EQ(p, reinterpret_cast<unsigned char *>(buf.b.chars)) << c.name;
        EXPECT_EQ(buf.b.used, static_cast<std::uint64_t>(len)) << c.name;
        EXPECT_EQ(p[len], 0) << c.name;  // NUL-terminated
        EXPECT_EQ(std::string(reinterpret_cast<const char *>(p), static_cast<std::size_t>(len)), c.bytes) << c.name;
        break;
    }
  }
}

TEST(DecodedStream, NonStreamObjectLeavesLengthAndBufAlone) {
  Loaded l(one_page_pdf({}));
  ASSERT_EQ(l.rc, 0) << l.err;
  zyk::BufGuard buf;
  int len = 42;
  EXPECT_EQ(zyk::decoded_stream(*l.obj(1), l.g.d.pdf, l.g.d.pdf_len, &buf.b, &len), nullptr);
  EXPECT_EQ(len, 42);
  EXPECT_EQ(buf.b.chars, nullptr);
}

TEST(DecodedStream, SecondCallAppendsToTheSameBuf) {
  const std::string other = "BT /F1 9 Tf (second) Tj ET";
  Loaded l(one_page_pdf({stream_obj("/Filter /FlateDecode", z(k_text)), stream_obj("/Filter /FlateDecode", z(other))}));
  ASSERT_EQ(l.rc, 0) << l.err;
  zyk::BufGuard buf;
  int n1 = 0, n2 = 0;
  ASSERT_NE(zyk::decoded_stream(*l.obj(4), l.g.d.pdf, l.g.d.pdf_len, &buf.b, &n1), nullptr);
  const unsigned char *p2 = zyk::decoded_stream(*l.obj(5), l.g.d.pdf, l.g.d.pdf_len, &buf.b, &n2);
  ASSERT_NE(p2, nullptr);
  EXPECT_EQ(p2, reinterpret_cast<unsigned char *>(buf.b.chars) + n1);
  EXPECT_EQ(std::string(buf.b.chars, buf.b.used), k_text + other);
  EXPECT_EQ(buf.b.chars[buf.b.used], 0);
}

// Table entries are trusted only as far as the image reaches, and data that
// could only inflate past the decoder's limit is refused before any memory
// is reserved for it.
TEST(DecodedStream, RefusesRangesOutsideTheImageAndOversizedData) {
  const std::string dict = "<< /Filter /FlateDecode >>\nstream\n";
  std::vector<unsigned char> image(dict.begin(), dict.end());
  const int data_off = static_cast<int>(image.size());
  image.resize(static_cast<std::size_t>(data_off) + 53686887, 0);  // 20 n + 4096 passes 2^30
  image[static_cast<std::size_t>(data_off)] = 0x78;
  image[static_cast<std::size_t>(data_off) + 1] = 0x9c;
  zyk::ObjEntry e{4, 0, 0, data_off - 7, data_off, static_cast<int>(image.size()), -1, 1, 0, nullptr, 0};
  zyk::BufGuard buf;
  int len = -1;
  EXPECT_EQ(zyk::decoded_stream(e, image.data(), static_cast<int>(image.size()), &buf.b, &len), nullptr);
  EXPECT_EQ(buf.b.chars, nullptr);

  e.data_end = data_off + 100;
  EXPECT_EQ(zyk::decoded_stream(e, image.data(), data_off + 50, &buf.b, &len), nullptr);  // image shorter than the entry
  EXPECT_EQ(len, -1);
}

}  // namespace
