// Advances kept: a show operation written for the substitute font puts
// every word where the source font put it.
//
// The oracle is a small text-space interpreter of the written operators
// (Tz, TJ, Tj over two-byte glyph ids whose advances the output's /W gives),
// compared with the same interpretation of the source string with the
// source widths, Tc, Tw and Tz. Word starts must agree to 0.001 text-space
// unit, and so must the pen position after the whole operation.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "test_support.h"
#include "writer/text.h"
#include "zyk_out_pdfa.h"

namespace {

struct Pen {
  std::vector<double> word_starts;  // x where each word's first glyph starts
  double end = 0;
};

// The source: codes with their widths, under the caller's text state.
// A text state from the four values that decide advances: Tc, Tw, Tz, size.
zyk::TextState spacing(double tc, double tw, double tz, double size) {
  zyk::TextState ts;
  ts.char_spacing = tc;
  ts.word_spacing = tw;
  ts.scale = tz;
  ts.size = size;
  return ts;
}

Pen source_pen(const std::vector<zyk::ShowItem> &items, const zyk::TextState &ts) {
  Pen p;
  double x = 0, th = ts.scale / 100;
  bool in_word = false;
  for (const zyk::ShowItem &it : items) {
    if (it.is_number) {
      x += -it.number / 1000 * ts.size * th;
      if (it.number <= -100) in_word = false;  // a visible gap: readers start a new word
      continue;
    }
    for (const zyk::TextCode &c : it.codes) {
      bool space = c.nbytes == 1 && c.code == 32;
      if (!space && !in_word) p.word_starts.push_back(x);
      in_word = !space;
      x += (c.width / 1000 * ts.size + ts.char_spacing + (space ? ts.word_spacing : 0)) * th;
    }
  }
  p.end = x;
  return p;
}

// The output: parse numbers, strings and the operators Tz, Tj, TJ.
Pen output_pen(const std::string &ops, const zyk::TextState &ts, int space_glyph) {
  Pen p;
  double x = 0, tz = ts.scale;
  std::vector<double> nums;
  std::vector<std::string> strings;
  bool in_word = false;
  auto show_string = [&](const std::string &b) {
    for (std::size_t k = 0; k + 1 < b.size(); k += 2) {
      int g = static_cast<unsigned char>(b[k]) << 8 | static_cast<unsigned char>(b[k + 1]);
      bool space = g == space_glyph;
      if (!space && !in_word) p.word_starts.push_back(x);
      in_word = !space;
      x += (zyk::text_glyph_width(g) / 1000.0 * ts.size + ts.char_spacing) * tz / 100;
    }
  };
  for (std::size_t i = 0; i < ops.size();) {
    char c = ops[i];
    if (c == ' ' || c == '[' || c == ']') {
      i++;
    } else if (c == '(') {
      std::string b;
      for (i++; i < ops.size() && ops[i] != ')'; i++) {
        if (ops[i] == '\\') {
          char e = ops[++i];
          b += e == 'r' ? '\r' : e == 'n' ? '\n' : e;
        } else {
          b += ops[i];
        }
      }
      i++;
      show_string(b);
    } else if (c == '-' || c == '.' || (c >= '0' && c <= '9')) {
      char *end = nullptr;
      double v = std::strtod(ops.c_str() + i, &end);
      i = static_cast<std::size_t>(end - ops.c_str());
      nums.push_back(v);
      // A number inside an array moves the pen; before Tz it is the operand.
      std::size_t k = i;
      while (k < ops.size() && ops[k] == ' ') k++;
      if (ops.compare(k, 2, "Tz") != 0) {
        x += -v / 1000 * ts.size * tz / 100;
        if (v <= -100) in_word = false;
      }
    } else if (ops.compare(i, 2, "Tz") == 0) {
      tz = nums.back();
      i += 2;
    } else if (ops.compare(i, 2, "TJ") == 0 || ops.compare(i, 2, "Tj") == 0) {
      i += 2;
    } else {
      ADD_FAILURE() << "unexpected output: " << ops.substr(i);
      break;
    }
  }
  EXPECT_DOUBLE_EQ(tz, ts.scale) << "Tz restored: " << ops;
  p.end = x;
  return p;
}

zyk::ShowItem codes_of(const std::string &s, const float widths[256]) {
  zyk::ShowItem it;
  for (char c : s) {
    const auto b = static_cast<unsigned char>(c);
    it.codes.push_back({b, 1, std::u32string(1, b), widths[b]});
  }
  return it;
}
zyk::ShowItem number(double n) {
  zyk::ShowItem it;
  it.is_number = true;
  it.number = n;
  return it;
}

class Advances : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(zyk::substitute_font().ready);
    // Widths unlike the substitute's: Times-like narrow letters, Courier-like
    // fixed ones, and for "same" the substitute's own widths.
    for (int c = 0; c < 256; c++) {
      narrow_[c] = c == ' ' ? 250.0f : static_cast<float>(444 + (c % 7) * 20);
      fixed_[c] = 600;
      int g = zyk::text_glyph(use_, static_cast<std::uint32_t>(c));
      same_[c] = g > 0 ? static_cast<float>(zyk::text_glyph_width(g)) : 500;
    }
    space_glyph_ = zyk::text_glyph(use_, ' ');
    font_.kind = zyk::TextKind::simple;
  }
  std::string write(const std::vector<zyk::ShowItem> &items, const zyk::TextState &ts) {
    zyk::ShowMarks marks;
    std::string out;
    zyk::show_write(font_, ts, items, use_, &marks, &out);
    return out;
  }
  zyk::GlyphUse use_;
  float narrow_[256], fixed_[256], same_[256];
  int space_glyph_ = 0;
  zyk::SourceFont font_;
};

TEST_F(Advances, EveryWordStartsWhereTheSourcePutIt) {
  struct Case {
    const char *name;
    std::vector<zyk::ShowItem> items;
    zyk::TextState ts;
  } cases[] = {
      {"plain", {codes_of("Justified text in a narrow column", narrow_)}, spacing(0, 0, 100, 12)},
      {"fixed pitch", {codes_of("int main(void) { return 0; }", fixed_)}, spacing(0, 0, 100, 10)},
      {"Tc Tw Tz", {codes_of("spread  out words ", narrow_)}, spacing(0.4, 3.5, 85, 9)},
      {"kerning inside and between words",
       {codes_of("Wa", narrow_), number(80), codes_of("ter ", narrow_), number(-300), codes_of("flows", narrow_)},
       spacing(0, 0, 100, 11)},
      {"a wide TJ gap separates words",
       {codes_of("Ker", narrow_), number(40), codes_of("ned", narrow_), number(-600), codes_of("and", narrow_),
        number(250), codes_of("gapped", narrow_)},
       spacing(0, 0, 100, 12)},
      {"leading numbers and spaces", {number(-500), codes_of("  x y", narrow_), number(120)}, spacing(0.2, 1, 100, 8)},
      {"negative size", {codes_of("upside down", narrow_)}, spacing(0, 0, 100, -12)},
  };
  for (const Case &c : cases) {
    std::string out = write(c.items, c.ts);
    if (std::getenv("ZYK_SHOW_OPS")) {
      std::string vis;
      for (char ch : out) vis += ch >= 32 && ch < 127 ? std::string(1, ch) : "~";
      std::printf("%s: %s\n", c.name, vis.c_str());
    }
    Pen want = source_pen(c.items, c.ts), got = output_pen(out, c.ts, space_glyph_);
    ASSERT_EQ(got.word_starts.size(), want.word_starts.size()) << c.name << ": " << out;
    for (std::size_t k = 0; k < want.word_starts.size(); k++)
      EXPECT_NEAR(got.word_starts[k], want.word_starts[k], 1e-3) << c.name << " word " << k << ": " << out;
    EXPECT_NEAR(got.end, want.end, 1e-3) << c.name << ": " << out;
  }
}

// No scaling operator when the substitute's advances are the source's (or
// within 0.5%); the words still land in place.
TEST_F(Advances, NoScalingWhenAdvancesAlreadyAgree) {
  zyk::TextState ts = spacing(0, 0, 100, 12);
  std::string out = write({codes_of("same widths here", same_)}, ts);
  EXPECT_EQ(out.find("Tz"), std::string::npos) << out;
  float close[256];
  for (int c = 0; c < 256; c++) close[c] = same_[c] * 1.004f;
  out = write({codes_of("nearly the same", close)}, ts);
  EXPECT_EQ(out.find("Tz"), std::string::npos) << out;
  Pen want = source_pen({codes_of("nearly the same", close)}, ts), got = output_pen(out, ts, space_glyph_);
  EXPECT_NEAR(got.end, want.end, 1e-3) << out;
}

// Without every source width (or with a zero size, or a vertical font) the
// operation is written as the source wrote it.
// The known text goes with a show only when a stand-in glyph is drawn: then
// it holds every code's characters as drawn (a lone ligature as its
// letters) in UTF-16BE hex, supplementary characters as surrogate pairs.
TEST_F(Advances, ActualTextOnlyWithAStandIn) {
  auto code = [](std::u32string chars) {
    zyk::TextCode c{1, 1, std::move(chars), 500};
    return c;
  };
  const zyk::TextState ts = spacing(0, 0, 100, 12);
  struct Case {
    const char *what;
    std::vector<std::u32string> codes;
    bool standin;
    std::string actual;
  } cases[] = {
      {"all drawn", {U"A", U"\uFB01", U"b"}, false, ""},
      {"a character the font lacks", {U"A", U"\uFB01", U"\U0010FFFD"}, true, "004100660069DBFFDFFD"},
      {"a code without characters", {U"\u00E9", U"", U"z"}, true, "00E9007A"},
  };
  for (const Case &c : cases) {
    zyk::ShowItem it;
    for (const std::u32string &chars : c.codes) it.codes.push_back(code(chars));
    zyk::ShowMarks marks;
    std::string out;
    zyk::show_write(font_, ts, {it}, use_, &marks, &out);
    EXPECT_EQ(marks.standin, c.standin) << c.what;
    EXPECT_EQ(marks.actual, c.actual) << c.what;
  }
}

TEST_F(Advances, UnknownAdvancesKeepTheSourceShape) {
  float unknown[256];
  for (float &w : unknown) w = -1;
  zyk::TextState ts = spacing(0, 0, 100, 12);
  std::string out = write({codes_of("ab", unknown)}, ts);
  std::string expect = "(";
  zyk::put_glyph_bytes(&expect, zyk::text_glyph(use_, 'a'));
  zyk::put_glyph_bytes(&expect, zyk::text_glyph(use_, 'b'));
  EXPECT_EQ(out, expect + ") Tj");
  EXPECT_EQ(write({codes_of("a", narrow_), number(-250), codes_of("b", narrow_)}, spacing(0, 0, 100, 0)).find("Tz"),
            std::string::npos);
  font_.vertical = true;
  EXPECT_EQ(write({codes_of("ab", narrow_)}, ts), expect + ") Tj");
}

}  // namespace

namespace {

std::string stream_obj(const std::string &data) {
  return "<< /Length " + std::to_string(data.size()) + " >>\nstream\n" + data + "\nendstream";
}

struct Word {
  std::string text;
  double x, y;
};

// Words with their positions as pdftotext -bbox reports them.
std::vector<Word> bbox_words(const std::string &path) {
  std::string html;
  std::vector<Word> out;
  if (zyk_test::run_command("pdftotext -bbox '" + path + "' - 2>/dev/null", &html) != 0) return out;
  for (std::size_t p = 0; (p = html.find("<word xMin=\"", p)) != std::string::npos;) {
    Word w;
    w.x = std::strtod(html.c_str() + p + 12, nullptr);
    std::size_t y = html.find("yMin=\"", p);
    w.y = std::strtod(html.c_str() + y + 6, nullptr);
    std::size_t s = html.find('>', p) + 1, e = html.find("</word>", s);
    w.text = html.substr(s, e - s);
    out.push_back(w);
    p = e;
  }
  return out;
}

// A justified paragraph in Times-Roman (no /Widths: the standard metrics),
// one in a font with its own /Widths, Courier code, and the text-state
// operators: every word that pdftotext finds in the input is found in the
// output, with the same text, within 0.5 pt.
TEST(AdvancesEndToEnd, WordsKeepTheirPlaces) {
  std::string have;
  if (zyk_test::run_command("command -v pdftotext >/dev/null", &have) != 0) GTEST_SKIP() << "pdftotext not installed";
  std::string widths = "[";
  for (int c = 32; c < 127; c++) widths += std::to_string(c == 32 ? 200 : 380 + (c * 37) % 200) + " ";
  widths += "]";
  const std::string content =
      "BT /TR 11 Tf 40 560 Td 2.1 Tw (The quick brown fox jumps over the lazy dog and keeps) Tj ET\n"
      "BT /TR 11 Tf 40 546 Td 0.35 Tw (running until the column ends exactly at its right margin.) Tj ET\n"
      "BT /WD 10 Tf 40 520 Td (A font with widths of its own, condensed and uneven.) Tj ET\n"
      "BT /CO 9 Tf 40 500 Td (for (int i = 0; i < n; i++) total += price[i];) Tj ET\n"
      "BT /TR 12 Tf 40 480 Td 0.5 Tc 75 Tz (Spaced and scaled words) Tj ET\n"
      "BT /TR 12 Tf 40 460 Td [(Ker) 40 (ned) -600 (and) 250 (gapped)] TJ ET\n"
      "BT /TR 12 Tf 14 TL 40 440 Td (first line) Tj 3 0.2 (second line via quote) \" (third) ' ET\n"
      "BT /HV 12 Tf 40 400 Td 4 Ts (raised Helvetica text) Tj ET\n";
  std::vector<std::string> o = {
      "<< /Type /Catalog /Pages 2 0 R >>",
      "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 600] /Contents 4 0 R /Resources << /Font << /TR 5 0 R "
      "/WD 6 0 R /CO 7 0 R /HV 8 0 R >> >> >>",
      stream_obj(content),
      "<< /Type /Font /Subtype /Type1 /BaseFont /Times-Roman >>",
      "<< /Type /Font /Subtype /TrueType /BaseFont /Georgia /Encoding /WinAnsiEncoding /FirstChar 32 /LastChar 126 "
      "/Widths " + widths + " /FontDescriptor << /Type /FontDescriptor /FontName /Georgia /Flags 32 "
      "/FontBBox [0 -200 1000 900] /ItalicAngle 0 /Ascent 900 /Descent -200 /CapHeight 700 /StemV 80 >> >>",
      "<< /Type /Font /Subtype /Type1 /BaseFont /Courier /Encoding /WinAnsiEncoding >>",
      "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>",
  };
  std::string in = zyk_test::write_temp("advances_in.pdf", zyk_test::make_pdf(o));
  std::vector<Word> want = bbox_words(in);
  ASSERT_GT(want.size(), 40u);
  for (int part : {1, 2}) {
    std::string out = zyk_test::temp_dir() + "/advances_out" + std::to_string(part) + ".pdf";
    ASSERT_EQ(part == 1 ? pdfa_convert_1b(in.c_str(), out.c_str()) : pdfa_convert_2b(in.c_str(), out.c_str()), 1)
        << pdfa_last_error();
    std::vector<Word> got = bbox_words(out);
    ASSERT_EQ(got.size(), want.size()) << "part " << part;
    for (std::size_t k = 0; k < want.size(); k++) {
      EXPECT_EQ(got[k].text, want[k].text) << k;
      EXPECT_NEAR(got[k].x, want[k].x, 0.5) << want[k].text;
    }
  }
}

}  // namespace
