// Form fields of a form that asks viewers to draw them (/NeedAppearances):
// their values are painted into the page from /V, where the field is.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "test_support.h"
#include "writer_fixture.h"

namespace {

struct Word {
  std::string text;
  double x0, y0, x1, y1;  // pdftotext's box, y down from the page top
};

std::vector<Word> bbox_words(const std::string &path) {
  std::string html;
  std::vector<Word> out;
  if (zyk_test::run_command("pdftotext -bbox '" + path + "' - 2>/dev/null", &html) != 0) return out;
  for (std::size_t p = 0; (p = html.find("<word xMin=\"", p)) != std::string::npos;) {
    Word w{};
    auto at = [&](const char *key) { return std::strtod(html.c_str() + html.find(key, p) + std::strlen(key), nullptr); };
    w.x0 = at("xMin=\""), w.y0 = at("yMin=\""), w.x1 = at("xMax=\""), w.y1 = at("yMax=\"");
    std::size_t s = html.find('>', p) + 1, e = html.find("</word>", s);
    w.text = html.substr(s, e - s);
    out.push_back(w);
    p = e;
  }
  return out;
}

// An empty stored appearance, as form fillers leave it when they set /V
// and the flag instead of drawing the value.
const std::string k_stale = wt::stream("/Type /XObject /Subtype /Form /BBox [0 0 100 20]", "/Tx BMC EMC");

// A page of 300 x 300 with the given widget annotations (objects 5..) and
// a form whose /AcroForm has `acroform` entries. Object 4 is the page
// content, object 5 an appearance stream (by default a stale one).
std::string form_pdf(const std::string &acroform, const std::vector<std::string> &widgets,
                     const std::string &appearance = k_stale) {
  std::vector<std::string> bodies = {
      "<< /Type /Catalog /Pages 2 0 R /AcroForm << /Fields [] /DA (/Helv 0 Tf 0 g) " + acroform + " >> >>",
      "<< /Type /Pages /Kids [3 0 R] /Count 1 >>", "", wt::stream("", "BT /F1 10 Tf 10 280 Td (Form) Tj ET"),
      appearance};
  std::string annots;
  for (std::size_t i = 0; i < widgets.size(); i++) {
    bodies.push_back(widgets[i]);
    annots += std::to_string(6 + i) + " 0 R ";
  }
  bodies[2] =
      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 300 300] /Contents 4 0 R /Resources << /Font << /F1 << /Type "
      "/Font /Subtype /Type1 /BaseFont /Helvetica >> >> >> /Annots [" +
      annots + "] >>";
  return zyk_test::make_pdf(bodies);
}

struct FieldCase {
  const char *name;
  std::string widget;
  std::vector<std::string> shown;  // words expected inside the field's rectangle
  std::vector<std::string> absent;  // words that must not be drawn
  double rect[4];
};

}  // namespace

// Each kind of field a viewer draws from its value: the value's words are
// in the output's text, inside the field's rectangle, in both parts.
TEST(Fields, ValuesAreDrawnWhenTheFormNeedsAppearances) {
  if (!wt::have_tool("pdftotext")) GTEST_SKIP() << "pdftotext not installed";
  const std::vector<FieldCase> cases = {
      {"text field over a stale appearance",
       "<< /Type /Annot /Subtype /Widget /FT /Tx /T (a) /V (Hello fields) /DA (/Helv 12 Tf 0 0 1 rg) "
       "/Rect [20 250 200 270] /AP << /N 5 0 R >> >>",
       {"Hello", "fields"}, {}, {20, 250, 200, 270}},
      {"UTF-16 value, automatic size, centred",
       "<< /Type /Annot /Subtype /Widget /FT /Tx /T (b) /Q 1 /V <FEFF004700720075006500DF0065> "
       "/Rect [20 220 200 240] /MK << /BG [0.9] /BC [0 0 1] >> >>",
       {"Grue\xC3\x9F" "e"}, {}, {20, 220, 200, 240}},
      {"multiline value wrapped at the field's width",
       "<< /Type /Annot /Subtype /Widget /FT /Tx /T (c) /Ff 4096 /DA (/Helv 10 Tf 0 g) "
       "/V (First line\\rsecond paragraph that is long enough to wrap) /Rect [20 140 120 210] >>",
       {"First", "line", "second", "paragraph", "wrap"}, {}, {20, 140, 120, 210}},
      {"combo box showing the text of its export value",
       "<< /Type /Annot /Subtype /Widget /FT /Ch /Ff 131072 /T (d) /V (e2) /Opt [[(e1) (Apples)] [(e2) (Pears)]] "
       "/DA (/Helv 10 Tf 0 g) /Rect [150 110 280 130] >>",
       {"Pears"}, {"e2", "Apples"}, {150, 110, 280, 130}},
      {"list box with its chosen option",
       "<< /Type /Annot /Subtype /Widget /FT /Ch /T (e) /V (Two) /Opt [(One) (Two) (Three)] "
       "/DA (/Helv 10 Tf 0 g) /Rect [20 40 120 100] >>",
       {"One", "Two", "Three"}, {}, {20, 40, 120, 100}},
      {"field entries inherited from the parent field",
       "<< /Type /Annot /Subtype /Widget /Parent << /FT /Tx /T (f) /V (Inherited) /DA (/Helv 9 Tf 0 g) >> "
       "/Rect [150 60 280 80] >>",
       {"Inherited"}, {}, {150, 60, 280, 80}},
      {"password field",
       "<< /Type /Annot /Subtype /Widget /FT /Tx /Ff 8192 /T (g) /V (Secret) /Rect [150 20 280 40] >>",
       {}, {"Secret"}, {150, 20, 280, 40}},
      {"hidden field",
       "<< /Type /Annot /Subtype /Widget /F 2 /FT /Tx /T (h) /V (Invisible) /Rect [150 150 280 170] >>",
       {}, {"Invisible"}, {150, 150, 280, 170}},
  };
  std::vector<std::string> widgets;
  for (const FieldCase &c : cases) widgets.push_back(c.widget);
  const std::string pdf = form_pdf("/NeedAppearances true", widgets);
  for (int part : {1, 2}) {
    SCOPED_TRACE(part);
    wt::Converted out = wt::convert_text(pdf, part);
    ASSERT_EQ(out.rc, 1) << out.err;
    const std::vector<Word> words = bbox_words(out.out_path);
    for (const FieldCase &c : cases) {
      SCOPED_TRACE(c.name);
      for (const std::string &want : c.shown) {
        bool inside = false, found = false;
        for (const Word &w : words) {
          if (w.text != want) continue;
          found = true;
          // pdftotext measures from the top of the 300 pt page.
          inside = inside || (w.x0 >= c.rect[0] - 0.5 && w.x1 <= c.rect[2] + 0.5 && 300 - w.y1 >= c.rect[1] - 0.5 &&
                              300 - w.y0 <= c.rect[3] + 0.5);
        }
        EXPECT_TRUE(found) << want;
        EXPECT_TRUE(inside) << want;
      }
      for (const std::string &not_drawn : c.absent)
        for (const Word &w : words) EXPECT_NE(w.text, not_drawn);
    }
    std::string lint = wt::lint_command(part);
    if (!lint.empty()) {
      EXPECT_EQ(zyk_test::run_command(lint + " '" + out.out_path + "' >/dev/null 2>&1", nullptr), 0);
    }
  }
}

// Without the flag the stored appearance is what viewers show: the writer
// paints it and draws no value of its own.
TEST(Fields, WithoutTheFlagTheStoredAppearanceStands) {
  if (!wt::have_tool("pdftotext")) GTEST_SKIP() << "pdftotext not installed";
  const std::string stored = wt::stream("/Type /XObject /Subtype /Form /BBox [0 0 100 20] /Resources << /Font << /F1 "
                                        "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >> >> >>",
                                        "BT /F1 10 Tf 2 5 Td (Stored) Tj ET");
  for (const char *flag : {"", "/NeedAppearances false"}) {
    SCOPED_TRACE(flag);
    std::string pdf = form_pdf(
        flag, {"<< /Type /Annot /Subtype /Widget /FT /Tx /T (a) /V (Value) /Rect [20 250 120 270] /AP << /N 5 0 R >> >>"},
        stored);
    wt::Converted out = wt::convert_text(pdf, 2);
    ASSERT_EQ(out.rc, 1) << out.err;
    std::string words = zyk_test::pdftotext_words(out.out_path);
    EXPECT_NE(words.find("Stored"), std::string::npos) << words;
    EXPECT_EQ(words.find("Value"), std::string::npos) << words;
  }
}
