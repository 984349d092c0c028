// The output file as a whole: numbering, cross-reference table, trailer,
// stream syntax, the fixed colour and metadata objects, reproducibility.
#include <zlib.h>

#include <cstring>
#include <regex>

#include "crypt/crypt.h"
#include "font/font.h"
#include "writer/writer.h"
#include "writer_fixture.h"
#include "zyk_version.h"

namespace {

std::string two_page_pdf() {
  return zyk_test::make_pdf(
      {"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R 4 0 R] /Count 2 >>",
       "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 100] /Resources << /XObject << /Im 7 0 R >> >> /Contents 5 0 R "
       ">>",
       "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 300 100] /Contents 6 0 R >>",
       wt::stream("", "q 10 0 0 10 0 0 cm /Im Do Q"), wt::stream("", "0 0 1 rg 0 0 50 50 re f"),
       wt::stream("/Type /XObject /Subtype /Image /Width 1 /Height 1 /ColorSpace /DeviceGray /BitsPerComponent 8",
                  "\x80")});
}

// Every object of the file, found by scanning for headers: number -> offset.
std::map<int, std::size_t> scanned_headers(const std::string &bytes) {
  std::map<int, std::size_t> found;
  std::regex hdr("(^|\n)(\\d+) 0 obj\n");
  for (auto it = std::sregex_iterator(bytes.begin(), bytes.end(), hdr); it != std::sregex_iterator(); ++it) {
    std::size_t at = static_cast<std::size_t>(it->position(2));
    found.emplace(std::stoi((*it)[2]), at);
  }
  return found;
}

}  // namespace

TEST(Layout, NumberingTableAndTrailer) {
  wt::Converted c = wt::convert_text(two_page_pdf());
  ASSERT_EQ(c.rc, 1) << c.err;
  EXPECT_EQ(c.err, "");
  const std::string &b = c.bytes;
  EXPECT_EQ(b.substr(0, 15), "%PDF-1.4\n%\xE2\xE3\xCF\xD3\n");
  wt::Output o = wt::read_output(b);
  // Two pages: B = 9; the fixed block 9..19; the image is the one copied
  // object, 20. Every number is in use.
  EXPECT_EQ(o.size, 21);
  EXPECT_EQ(o.offsets.size(), 20u);
  for (auto [num, off] : o.offsets) {
    std::string hdr = std::to_string(num) + " 0 obj\n";
    EXPECT_EQ(b.compare(off, hdr.size(), hdr), 0) << "entry " << num;
    EXPECT_TRUE(off == 15 || b[off - 1] == '\n') << "entry " << num;
  }
  EXPECT_EQ(scanned_headers(b), o.offsets) << "objects and table disagree";
  EXPECT_NE(o.obj(1).find("<< /Type /Catalog /Pages 2 0 R /Metadata 18 0 R /OutputIntents [ 17 0 R ] >>"),
            std::string::npos);
  EXPECT_NE(o.obj(2).find("/Count 2 /Kids [3 0 R 6 0 R]>>"), std::string::npos);
  EXPECT_NE(o.obj(3).find("/MediaBox [0 0 200 100] /Contents 5 0 R"), std::string::npos);
  EXPECT_NE(o.obj(3).find("/XObject << /P0 4 0 R >>"), std::string::npos);
  EXPECT_NE(o.obj(6).find("/XObject << /P1 7 0 R >>"), std::string::npos);
  EXPECT_EQ(o.data(8), "q 1 0 0 1 0 0 cm /P1 Do Q\n");
  EXPECT_NE(o.obj(4).find("/Im 20 0 R"), std::string::npos);
  EXPECT_NE(o.obj(20).find("/Subtype /Image"), std::string::npos);
  EXPECT_NE(o.obj(9).find("/Subtype /Type0"), std::string::npos);
  EXPECT_NE(o.obj(19).find("/Producer (vexlorin-pdfa " ZYK_VERSION ")"), std::string::npos);

  // Trailer: the listed keys, two equal 16-byte identifiers, and the three
  // final lines each on their own.
  std::smatch m;
  ASSERT_TRUE(std::regex_search(o.trailer, m,
                                std::regex("^trailer\n<< /Size 21 /Root 1 0 R /Info 19 0 R /ID \\[<([0-9a-f]{32})>"
                                           "<([0-9a-f]{32})>\\] >>\n$")))
      << o.trailer;
  EXPECT_EQ(m[1], m[2]);
}

TEST(Layout, EveryStreamLengthCountsItsDataAndAnEndOfLineFollows) {
  for (int part : {1, 2}) {
    wt::Converted c = wt::convert_text(two_page_pdf(), part);
    ASSERT_EQ(c.rc, 1) << c.err;
    wt::Output o = wt::read_output(c.bytes);
    int streams = 0;
    for (auto [num, off] : o.offsets) {
      std::string obj = o.obj(num);
      std::size_t s = obj.find("\nstream\n");
      if (s == std::string::npos) continue;
      streams++;
      std::smatch m;
      std::string dict = o.dict(num);
      ASSERT_TRUE(std::regex_search(dict, m, std::regex("/Length (\\d+) "))) << num;
      std::size_t end = s + 8 + std::stoul(m[1]);
      EXPECT_EQ(obj.compare(end, 11, "\nendstream\n"), 0) << "object " << num;
      EXPECT_EQ(obj.size(), end + 11) << "object " << num;
    }
    // Forms and contents, the fixed streams (font program, ToUnicode, ICC
    // profile, metadata, and in part 1 the CIDSet), the image.
    EXPECT_EQ(streams, 2 * 2 + (part == 1 ? 5 : 4) + 1);
  }
}

TEST(Layout, SameInputGivesIdenticalBytes) {
  std::string pdf = two_page_pdf();
  for (int part : {1, 2}) {
    wt::Converted a = wt::convert_text(pdf, part);
    wt::Converted b = wt::convert_text(pdf, part);
    ASSERT_EQ(a.rc, 1);
    ASSERT_EQ(b.rc, 1);
    EXPECT_EQ(a.bytes, b.bytes);
  }
  // The identifier follows the content: the two parts differ in metadata.
  std::regex id("/ID \\[<([0-9a-f]{32})>");
  std::smatch m1, m2;
  std::string b1 = wt::convert_text(pdf, 1).bytes, b2 = wt::convert_text(pdf, 2).bytes;
  ASSERT_TRUE(std::regex_search(b1, m1, id));
  ASSERT_TRUE(std::regex_search(b2, m2, id));
  EXPECT_NE(m1[1], m2[1]);
}

// The identifier fingerprints every byte before the trailer, so inputs that
// differ by one byte of page content or of a copied image get different
// identifiers, while the rest of the file stays as it was.
TEST(Layout, IdentifierFollowsEveryByteBeforeTheTrailer) {
  auto id_of = [](const std::string &bytes) {
    std::smatch m;
    EXPECT_TRUE(std::regex_search(bytes, m, std::regex("/ID \\[<([0-9a-f]{32})>")));
    return m.size() > 1 ? m[1].str() : std::string();
  };
  const std::string pdf = two_page_pdf();
  wt::Converted base = wt::convert_text(pdf);
  ASSERT_EQ(base.rc, 1) << base.err;
  const std::size_t trailer = base.bytes.rfind("trailer\n");
  ASSERT_NE(trailer, std::string::npos);
  unsigned char d[16];
  zyk::murmur3_128(base.bytes.data(), trailer, 0, d);
  std::string want;
  for (unsigned char c : d) want += "0123456789abcdef"[c >> 4], want += "0123456789abcdef"[c & 15];
  EXPECT_EQ(id_of(base.bytes), want);

  struct Change {
    const char *what, *from, *to;
  } changes[] = {{"page colour", "0 0 1 rg", "0 1 1 rg"}, {"image sample", "\x80", "\x81"}};
  for (const Change &c : changes) {
    std::string other = pdf;
    const std::size_t at = other.find(c.from);
    ASSERT_NE(at, std::string::npos) << c.what;
    other.replace(at, std::strlen(c.from), c.to);
    wt::Converted o = wt::convert_text(other);
    ASSERT_EQ(o.rc, 1) << c.what << ": " << o.err;
    EXPECT_NE(o.bytes, base.bytes) << c.what;
    EXPECT_NE(id_of(o.bytes), id_of(base.bytes)) << c.what;
  }
}

TEST(Layout, ColourProfileAndOutputIntent) {
  wt::Converted c = wt::convert_text(zyk_test::make_pdf(wt::one_page("", "0 0 1 1 re f")));
  ASSERT_EQ(c.rc, 1) << c.err;
  wt::Output o = wt::read_output(c.bytes);
  const int B = 6;
  auto icc = zyk::icc_srgb_profile();
  EXPECT_EQ(o.dict(B + 5).rfind(std::to_string(B + 5) + " 0 obj\n<< /N 3 /Length ", 0), 0u) << o.dict(B + 5);
  EXPECT_NE(o.dict(B + 5).find("/Filter /FlateDecode"), std::string::npos) << "the profile is compressed";
  EXPECT_EQ(o.data(B + 5), std::string(reinterpret_cast<const char *>(icc.data()), icc.size()));
  EXPECT_EQ(o.obj(B + 6), "12 0 obj\n[ /ICCBased 11 0 R ]\n");
  std::string oi = o.obj(B + 8);
  for (const char *key :
       {"/Type /OutputIntent", "/S /GTS_PDFA1", "/OutputConditionIdentifier (", "/DestOutputProfile 11 0 R"})
    EXPECT_NE(oi.find(key), std::string::npos) << key;
  EXPECT_EQ(oi.find("GTS_PDFX"), std::string::npos);
  // The page and its form paint RGB in the embedded space.
  EXPECT_NE(o.obj(3).find("/DefaultRGB 12 0 R"), std::string::npos);
  EXPECT_NE(o.dict(4).find("/DefaultRGB 12 0 R"), std::string::npos);
}

TEST(Layout, MetadataMatchesInformationDictionaryForBothParts) {
  for (int part : {1, 2}) {
    SCOPED_TRACE(part);
    wt::Converted c = wt::convert_text(zyk_test::make_pdf(wt::one_page("", "0 0 1 1 re f")), part);
    ASSERT_EQ(c.rc, 1) << c.err;
    wt::Output o = wt::read_output(c.bytes);
    std::string dict = o.dict(15);
    std::string packet = o.data(15);
    if (part == 1) {
      EXPECT_EQ(dict.find("/Filter"), std::string::npos) << "PDF/A-1 forbids a filtered catalog metadata stream";
    } else {
      ASSERT_NE(dict.find("/Filter /FlateDecode"), std::string::npos);
    }
    EXPECT_EQ(packet, zyk::xmp_packet(part));
    std::string part_attr = "pdfaid:part=\"" + std::to_string(part) + "\"";
    EXPECT_EQ(packet.find("pdfaid:part"), packet.find(part_attr)) << "the first occurrence is the attribute";
    EXPECT_NE(packet.find("pdfaid:conformance=\"B\""), std::string::npos);
    EXPECT_EQ(packet.find("revision"), std::string::npos);
    // Each information entry has its XMP twin with the same value.
    std::string info = o.obj(16);
    std::smatch m;
    for (auto [pdf_key, xmp_key] :
         {std::pair<const char *, const char *>{"Producer", "pdf:Producer"}, {"Creator", "xmp:CreatorTool"}}) {
      ASSERT_TRUE(std::regex_search(info, m, std::regex(std::string("/") + pdf_key + " \\(([^)]*)\\)")));
      EXPECT_NE(packet.find(std::string(xmp_key) + "=\"" + m[1].str() + "\""), std::string::npos) << xmp_key;
    }
    for (auto [pdf_key, xmp_key] :
         {std::pair<const char *, const char *>{"CreationDate", "xmp:CreateDate"}, {"ModDate", "xmp:ModifyDate"}}) {
      ASSERT_TRUE(std::regex_search(
          info, m,
          std::regex(std::string("/") + pdf_key + " \\(D:(\\d{4})(\\d\\d)(\\d\\d)(\\d\\d)(\\d\\d)(\\d\\d)Z\\)")));
      std::string xmp_date = m[1].str() + "-" + m[2].str() + "-" + m[3].str() + "T" + m[4].str() + ":" + m[5].str() +
                             ":" + m[6].str() + "Z";
      EXPECT_NE(packet.find(std::string(xmp_key) + "=\"" + xmp_date + "\""), std::string::npos) << xmp_key;
    }
    EXPECT_EQ(pdfa_check(c.out_path.c_str()), part);
  }
}

// Independent readers agree with the structure: qpdf finds no error and the
// PDF/A checker passes the whole file for both parts.
TEST(Layout, ExternalCheckersAcceptASimpleOutput) {
  std::string pdf = zyk_test::make_pdf(wt::one_page("", "0 0 1 rg 10 10 50 50 re f 0.2 g 60 10 20 20 re f"));
  bool have_lint = !wt::lint_command(1).empty();
  if (!wt::have_tool("qpdf") && !have_lint) GTEST_SKIP() << "neither qpdf nor pdfa-lint available";
  for (int part : {1, 2}) {
    wt::Converted c = wt::convert_text(pdf, part);
    ASSERT_EQ(c.rc, 1) << c.err;
    std::string out;
    if (wt::have_tool("qpdf")) {
      EXPECT_EQ(zyk_test::run_command("qpdf --check \"" + c.out_path + "\" 2>&1", &out), 0) << out;
    }
    if (have_lint) {
      int rc = zyk_test::run_command(wt::lint_command(part) + " \"" + c.out_path + "\" 2>&1", &out);
      EXPECT_EQ(rc, 0) << out;
      EXPECT_EQ(out.substr(0, 4), "PASS") << out;
    }
  }
}
