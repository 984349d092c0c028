// The substitute font objects: widths runs of the glyphs used and the
// descendant font's required entries.
#include <gtest/gtest.h>

#include <map>
#include <sstream>

#include "writer/text.h"
#include "writer/writer.h"

namespace {

void use(int g) { zyk::g_tu_used[g >> 3] = static_cast<unsigned char>(zyk::g_tu_used[g >> 3] | 1u << (g & 7)); }

// glyph -> width from "first last width" lines; a glyph listed twice fails.
std::map<int, long long> parse_runs(const std::string &w) {
  std::map<int, long long> m;
  std::istringstream in(w);
  int a, b;
  long long width;
  while (in >> a >> b >> width) {
    EXPECT_LE(a, b);
    for (int g = a; g <= b; g++) EXPECT_TRUE(m.emplace(g, width).second) << "glyph " << g << " twice";
  }
  return m;
}

TEST(FontObjects, WidthRunsListEveryUsedGlyphOnceWithItsAdvance) {
  zyk::ttf_global_init();
  auto font = zyk::font_liberation_sans();
  struct Case {
    std::vector<int> used;
    const char *runs;  // the exact text where it is short and telling
  } cases[] = {
      {{}, ""},
      {{36, 37}, "36 37 667\n"},        // A and B: same advance, 1366 / 2048 rounded
      {{36, 38}, "36 36 667\n38 38 722\n"},  // C is wider; 37 unused gets nothing
      {{3, 4, 5, 36, 37, 38, 39, 40, 1000, 1001}, nullptr},
  };
  for (const Case &c : cases) {
    zyk::tu_reset();
    for (int g : c.used) use(g);
    std::string w = zyk::width_runs(font.data(), font.size(), zyk::g_ttf_upm);
    if (c.runs) {
      EXPECT_EQ(w, c.runs);
    }
    auto m = parse_runs(w);
    EXPECT_EQ(m.size(), c.used.size()) << w;
    for (int g : c.used) {
      int adv = zyk::ttf_advance(font.data(), font.size(), static_cast<std::uint32_t>(g));
      EXPECT_EQ(m[g], adv > 0 ? (adv * 1000LL + zyk::g_ttf_upm / 2) / zyk::g_ttf_upm : 500) << "glyph " << g;
    }
  }
}

TEST(FontObjects, DescendantHasIdentityGidMapAndWidthsOfUsedGlyphs) {
  zyk::ttf_global_init();
  zyk::tu_reset();
  use(36);
  zyk::Out out;
  zyk::Numbering nb{1, 6};
  ASSERT_TRUE(zyk::write_font_objects(nb, &out));
  std::string s(out.b.chars, out.b.used);
  std::size_t a = s.find("7 0 obj\n");
  ASSERT_NE(a, std::string::npos);
  std::string cid = s.substr(a, s.find("endobj", a) - a);
  EXPECT_NE(cid.find("/Subtype /CIDFontType2"), std::string::npos);
  EXPECT_NE(cid.find("/CIDToGIDMap /Identity"), std::string::npos);
  EXPECT_NE(cid.find("/W [\n36 36 667\n]"), std::string::npos) << cid;
}

}  // namespace
