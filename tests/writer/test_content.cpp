// Page content: decoding through every filter chain, the ways /Contents may
// be written, and the conversion of device CMYK painting to RGB.
#include <zlib.h>

#include "writer/writer.h"
#include "writer_fixture.h"

namespace {

std::string deflate(const std::string &s) {
  uLongf n = compressBound(s.size());
  std::string out(n, '\0');
  compress(reinterpret_cast<Bytef *>(out.data()), &n, reinterpret_cast<const Bytef *>(s.data()), s.size());
  out.resize(n);
  return out;
}

std::string hex(const std::string &s) {
  static const char d[] = "0123456789ABCDEF";
  std::string out;
  for (char ch : s) {
    const auto c = static_cast<unsigned char>(ch);
    out += d[c >> 4];
    out += d[c & 15];
    if (out.size() % 60 == 0) out += '\n';  // white space is ignored
  }
  return out + ">";
}

std::string ascii85(const std::string &s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); i += 4) {
    std::size_t n = std::min<std::size_t>(4, s.size() - i);
    std::uint32_t v = 0;
    for (std::size_t k = 0; k < 4; k++) v = v << 8 | (k < n ? static_cast<unsigned char>(s[i + k]) : 0);
    if (v == 0 && n == 4) {
      out += 'z';
      continue;
    }
    char g[5];
    for (int k = 4; k >= 0; k--, v /= 85) g[k] = static_cast<char>('!' + v % 85);
    out.append(g, n + 1);
  }
  return out + "~>";
}

// The form of page 1 holds the page's decoded content.
std::string page_content(const std::string &contents_value, const std::vector<std::string> &extra_objects,
                         std::string *err = nullptr) {
  std::vector<std::string> b = {"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
                                "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 100 100] " + contents_value + " >>"};
  b.insert(b.end(), extra_objects.begin(), extra_objects.end());
  wt::Converted c = wt::convert_text(zyk_test::make_pdf(b));
  if (err) *err = c.err;
  if (c.rc != 1) return "<failed: " + c.err + ">";
  return wt::read_output(c.bytes).data(4);
}

}  // namespace

TEST(Content, DecodesEveryFilterChain) {
  // Graphics only: the text re-encoding would change shown strings, and this
  // test is about the bytes the filters give back.
  const std::string text = "q 0 0 1 rg 10 10 50 50 re f Q 1 w 0 0 m 100 100 l S";
  std::string zero4("\0\0\0\0", 4);
  // Row 2 is stored as its difference to row 1 (PNG filter "Up").
  const std::string row1 = "0 g ", row2 = "1 G ";
  std::string rows = std::string("\x00", 1) + row1 + std::string("\x02", 1);
  for (std::size_t i = 0; i < row1.size(); i++) rows += static_cast<char>(row2[i] - row1[i]);
  struct Case {
    const char *what;
    std::string dict;
    std::string data;
    std::string expect;
  };
  const Case cases[] = {
      {"flate", "/Filter /FlateDecode", deflate(text), text},
      {"abbreviated flate in an array", "/Filter [/Fl]", deflate(text), text},
      {"hex then flate", "/Filter [/ASCIIHexDecode /FlateDecode]", hex(deflate(text)), text},
      {"ascii85", "/Filter /ASCII85Decode", ascii85(text + zero4 + "h"), text + zero4 + "h"},
      {"ascii85 then flate", "/Filter [/A85 /FlateDecode]", ascii85(deflate(text)), text},
      {"lzw", "/Filter /LZWDecode", wt::lzw_plain(text), text},
      {"run length", "/Filter /RunLengthDecode", "\x02q 1\xfe \x80", "q 1   "},
      {"flate with PNG predictor", "/Filter /FlateDecode /DecodeParms << /Predictor 12 /Columns 4 >>", deflate(rows),
       row1 + row2},
      {"unfiltered", "", text, text},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(page_content("/Contents 4 0 R", {wt::stream(c.dict, c.data)}), c.expect);
  }
}

TEST(Content, ContentsValueForms) {
  const std::string q = wt::stream("", "q"), body = wt::stream("", "0 0 1 1 re f"), end = wt::stream("", "Q");
  struct Case {
    const char *what;
    std::string value;
    std::vector<std::string> objects;
    std::string expect;
  };
  const Case cases[] = {
      // Streams of an array end and begin at token boundaries: joined with
      // a line feed so that "Q" and "q" never merge into one token.
      {"array", "/Contents [4 0 R 5 0 R 6 0 R]", {q, body, end}, "q\n0 0 1 1 re f\nQ"},
      {"indirect array", "/Contents 4 0 R", {"[5 0 R 6 0 R]", q, end}, "q\nQ"},
      {"array with a missing stream", "/Contents [4 0 R 9 0 R]", {q}, "q"},
      {"empty array", "/Contents []", {}, ""},
      {"null", "/Contents null", {}, ""},
      {"missing object", "/Contents 9 0 R", {}, ""},
      {"absent", "", {}, ""},
      {"annotation contents do not count", "/Annots [<< /Contents (note) >>] /Contents 4 0 R", {q}, "q"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    std::string err;
    EXPECT_EQ(page_content(c.value, c.objects, &err), c.expect) << err;
  }
}

TEST(Content, DeviceCmykPaintingBecomesRgb) {
  struct Case {
    const char *in;
    const char *out;
  };
  const Case cases[] = {
      {"0 0 0 1 k", "0 0 0 rg"},
      {"1 0 0 0 K", "0 1 1 RG"},
      {"0.5 0.5 0.5 0.5 k 10 w", "0.25 0.25 0.25 rg 10 w"},
      {"2 -1 0 0 k", "0 1 1 rg"},
      {"/DeviceCMYK cs 0 1 0 0 sc /DeviceCMYK CS 0 0 1 0 SCN", "/DeviceRGB cs 1 0 1 sc /DeviceRGB CS 1 1 0 SCN"},
      {"q /DeviceCMYK cs Q 0 1 0 0 sc", "q /DeviceRGB cs Q 0 1 0 0 sc"},
      {"/DeviceCMYK cs 1 0 0 0 sc 0 g 1 0 0 0 sc", "/DeviceRGB cs 0 1 1 sc 0 g 1 0 0 0 sc"},
      {"/CS0 cs 1 0 0 0 sc", "/CS0 cs 1 0 0 0 sc"},
      {"(0 0 0 1 k) Tj [(a) 0 0 0 1 (b)] TJ % 0 0 0 1 k\n", "(0 0 0 1 k) Tj [(a) 0 0 0 1 (b)] TJ % 0 0 0 1 k\n"},
      {"BI /W 1 /H 1 /BPC 8 /CS /G ID 0 0 0 1 k EI 0 0 0 1 k", "BI /W 1 /H 1 /BPC 8 /CS /G ID 0 0 0 1 k EI 0 0 0 rg"},
      {"/P0 0 0 0 1 k", "/P0 0 0 0 rg"},
      {"1 0 0 k", "1 0 0 k"},
  };
  for (const Case &c : cases) {
    std::string out;
    zyk::cmyk_to_rgb(c.in, &out);
    EXPECT_EQ(out, c.out) << "in: " << c.in;
  }
}

TEST(Content, FormContentInCmykIsConvertedToo) {
  std::vector<std::string> b = {
      "<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 100 100] /Resources << /XObject << /X 5 0 R >> >> /Contents 4 0 R "
      ">>",
      wt::stream("", "0 0 0 1 k /X Do"),
      wt::stream("/Type /XObject /Subtype /Form /BBox [0 0 10 10] /Filter /ASCIIHexDecode", hex("1 0 0 0 K 0 0 m"))};
  wt::Converted c = wt::convert_text(zyk_test::make_pdf(b));
  ASSERT_EQ(c.rc, 1) << c.err;
  wt::Output o = wt::read_output(c.bytes);
  EXPECT_EQ(o.data(4), "0 0 0 rg /X Do");
  std::string form = o.dict(17);
  EXPECT_NE(form.find("/Filter /FlateDecode"), std::string::npos) << form;
  EXPECT_EQ(form.find("ASCIIHex"), std::string::npos);
  EXPECT_EQ(o.data(17), "0 1 1 RG 0 0 m");
}

// A stream named several times (by one page's /Contents array or by many
// pages) is read for each use, and a page whose joined content would exceed
// what one page may hold is refused, however small the file.
TEST(Content, SharedStreamsAndTheLengthOfOnePage) {
  const std::string draw = "0 0 m 10 10 l S";
  EXPECT_EQ(page_content("/Contents [4 0 R 4 0 R]", {wt::stream("/Filter /FlateDecode", deflate(draw))}),
            draw + "\n" + draw);

  std::vector<std::string> b = {"<< /Type /Catalog /Pages 2 0 R >>", ""};
  std::string kids;
  const int pages = 20;
  for (int i = 0; i < pages; i++) kids += std::to_string(4 + i) + " 0 R ";
  b[1] = "<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(pages) + " >>";
  b.push_back(wt::stream("/Filter /FlateDecode", deflate(draw)));
  for (int i = 0; i < pages; i++)
    b.push_back("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 100 100] /Contents 3 0 R >>");
  wt::Converted c = wt::convert_text(zyk_test::make_pdf(b));
  ASSERT_EQ(c.rc, 1) << c.err;
  wt::Output out = wt::read_output(c.bytes);
  // Every page draws the content, through the one form the first page's
  // content became.
  for (int i = 0; i < pages; i++) {
    std::smatch m;
    const std::string page = out.obj(3 * i + 3);
    ASSERT_TRUE(std::regex_search(page, m, std::regex("/P" + std::to_string(i) + " (\\d+) 0 R"))) << page;
    EXPECT_EQ(std::stoi(m[1]), 4) << "page " << i + 1;
  }
  EXPECT_EQ(out.data(4), draw);

  // 30 MiB of white space (30 KiB compressed) named nine times.
  const std::string blank = deflate(std::string(std::size_t{30} << 20, ' '));
  std::string err;
  std::string contents = "/Contents [";
  for (int i = 0; i < 9; i++) contents += "4 0 R ";
  page_content(contents + "]", {wt::stream("/Filter /FlateDecode", blank)}, &err);
  EXPECT_EQ(err, "page 1: content too large (more than 268435456 bytes)");
}
