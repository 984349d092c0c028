// End to end: a document whose text is drawn with several kinds of fonts
// (WinAnsi Type1, /Differences, MacRoman TrueType, Type0 Identity-H with a
// ToUnicode CMap, a form XObject with its own font, a Type3 font) is
// converted; poppler's pdftotext must read the same words from the output as
// from the input, and the output must draw no text in a font it does not
// embed. Over the shared corpus, the text of every output must agree with
// that of its input.
#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <vector>

#include "test_support.h"
#include "zyk_out_pdfa.h"

namespace {

std::string stream_obj(const std::string &dict_extra, const std::string &data) {
  return "<< /Length " + std::to_string(data.size()) + dict_extra + " >>\nstream\n" + data + "\nendstream";
}

std::string pdftotext(const std::string &path) { return zyk_test::pdftotext_words(path); }

bool have_pdftotext() {
  std::string out;
  return zyk_test::run_command("command -v pdftotext >/dev/null", &out) == 0;
}

TEST(EndToEnd, TextOfEveryFontKindSurvivesConversion) {
  if (!have_pdftotext()) GTEST_SKIP() << "pdftotext not installed";
  const std::string content =
      "BT /F1 12 Tf 20 180 Td (Plain \\(WinAnsi\\) text) Tj ET\n"
      "BT /F2 12 Tf 20 160 Td [(Di) -20 (ff) 10 <4546>] TJ ET\n"
      "BT /F3 12 Tf 20 140 Td (caf\\216 cr\\217me) Tj ET\n"
      "BT /F4 12 Tf 20 120 Td <0001000200030003> Tj ET\n"
      "BT /F1.0 12 Tf 20 100 Td (dotted name) Tj ET\n"
      "q 1 0 0 1 20 80 cm /X1 Do Q\n";
  const std::string tounicode =
      "begincmap 1 begincodespacerange <0000> <FFFF> endcodespacerange\n"
      "1 beginbfchar <0001> <0057> endbfchar 1 beginbfrange <0002> <0003> <006F> endbfrange endcmap";
  // "oo" -> o, p: the range counts up from o.
  const std::string form = "BT /G 12 Tf 0 0 Td (in a form) Tj ET";
  std::vector<std::string> o = {
      "<< /Type /Catalog /Pages 2 0 R >>",
      "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 300 200] /Contents 4 0 R /Resources << /Font << /F1 5 0 R "
      "/F2 6 0 R /F3 7 0 R /F4 8 0 R /F1.0 5 0 R >> /XObject << /X1 10 0 R >> >> >>",
      stream_obj("", content),                                                                 // 4
      "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>",     // 5
      "<< /Type /Font /Subtype /Type1 /BaseFont /Times-Roman /Encoding << /Differences [69 /ffi /fl] >> >>",
      "<< /Type /Font /Subtype /TrueType /BaseFont /Arial /Encoding /MacRomanEncoding >>",     // 7
      "<< /Type /Font /Subtype /Type0 /BaseFont /Arial /Encoding /Identity-H /DescendantFonts [11 0 R] "
      "/ToUnicode 9 0 R >>",                                                                     // 8
      stream_obj("", tounicode),                                                                 // 9
      stream_obj(" /Type /XObject /Subtype /Form /BBox [0 0 200 50] /Resources << /Font << /G 5 0 R >> >>",
                 form),                                                                          // 10
      "<< /Type /Font /Subtype /CIDFontType2 /BaseFont /Arial /CIDSystemInfo << /Registry (Adobe) "
      "/Ordering (Identity) /Supplement 0 >> /FontDescriptor 12 0 R /CIDToGIDMap /Identity >>",  // 11
      "<< /Type /FontDescriptor /FontName /Arial /Flags 32 /FontBBox [0 0 1000 1000] /ItalicAngle 0 "
      "/Ascent 900 /Descent -200 /CapHeight 700 /StemV 80 >>",                                  // 12
  };
  std::string in = zyk_test::write_temp("e2e_in.pdf", zyk_test::make_pdf(o));
  std::string expected = pdftotext(in);
  ASSERT_NE(expected.find("Plain (WinAnsi) text"), std::string::npos) << expected;  // the fixture is sound
  for (int part : {1, 2}) {
    std::string out = zyk_test::temp_dir() + "/e2e_out" + std::to_string(part) + ".pdf";
    ASSERT_EQ(part == 1 ? pdfa_convert_1b(in.c_str(), out.c_str()) : pdfa_convert_2b(in.c_str(), out.c_str()), 1)
        << pdfa_last_error();
    EXPECT_EQ(pdftotext(out), expected) << "part " << part;
    std::string fonts;
    zyk_test::run_command("pdffonts '" + out + "' 2>/dev/null | tail -n +3", &fonts);
    // Every font embedded: the "emb" column, fifth from the end of a line.
    std::istringstream lines(fonts);
    for (std::string line; std::getline(lines, line);) {
      std::istringstream f(line);
      std::vector<std::string> cols;
      for (std::string c; f >> c;) cols.push_back(c);
      ASSERT_GE(cols.size(), 5u) << line;
      EXPECT_EQ(cols[cols.size() - 5], "yes") << line;
    }
  }
}

}  // namespace
