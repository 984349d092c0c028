// Font subsets of the embedded substitute font: the file structure a
// TrueType reader checks (sorted, aligned, checksummed tables), glyph ids
// and advances kept, outlines kept exactly for the glyphs asked for and
// their components, and FreeType as an independent reader of the result.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "font/font.h"
#include "sfnt_builder.h"

#ifdef ZYK_HAVE_FREETYPE
#include <ft2build.h>
#include FT_FREETYPE_H
#endif

using namespace zyk;

namespace {

std::uint32_t rd32(const std::string &s, std::size_t at) {
  std::uint32_t v = 0;
  for (std::size_t k = 0; k < 4; k++) v = v << 8 | static_cast<unsigned char>(s[at + k]);
  return v;
}
std::uint16_t rd16(const std::string &s, std::size_t at) {
  return static_cast<std::uint16_t>(static_cast<unsigned char>(s[at]) << 8 | static_cast<unsigned char>(s[at + 1]));
}
std::uint32_t sum32(const std::string &s, std::size_t at, std::size_t n) {
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i < n; i += 4) {
    std::uint32_t w = 0;
    for (std::size_t k = 0; k < 4; k++) w = w << 8 | (i + k < n ? static_cast<unsigned char>(s[at + i + k]) : 0u);
    sum += w;
  }
  return sum;
}

TtfSubset subset_of(const std::vector<int> &used) {
  auto f = font_liberation_sans();
  TtfSubset s;
  EXPECT_TRUE(ttf_subset(f.data(), f.size(), used, &s));
  return s;
}

const unsigned char *bytes(const std::string &s) { return reinterpret_cast<const unsigned char *>(s.data()); }

// The outline bytes of glyph g as loca gives them (short or long offsets).
std::string outline(const unsigned char *font, std::uint64_t len, int g) {
  std::uint32_t ho = 0, hl = 0, lo = 0, ll = 0, go = 0, gl = 0;
  if (find_table(font, len, "head", &ho, &hl) != 1 || find_table(font, len, "loca", &lo, &ll) != 1 ||
      find_table(font, len, "glyf", &go, &gl) != 1)
    return "<no table>";
  std::string f(reinterpret_cast<const char *>(font), len);
  bool long_loca = rd16(f, ho + 50) != 0;
  const auto ug = static_cast<std::uint32_t>(g);
  std::uint32_t a = long_loca ? rd32(f, lo + 4 * ug) : 2u * rd16(f, lo + 2 * ug);
  std::uint32_t b = long_loca ? rd32(f, lo + 4 * ug + 4) : 2u * rd16(f, lo + 2 * ug + 2);
  return f.substr(go + a, b - a);
}

}  // namespace

TEST(FontSubset, FileStructureAndChecksums) {
  TtfSubset s = subset_of({36, 37, 169});
  const std::string &f = s.program;
  ASSERT_GE(f.size(), 12u);
  EXPECT_EQ(rd32(f, 0), 0x00010000u);
  const unsigned n = rd16(f, 4);
  unsigned pow2 = 1;
  while (pow2 * 2 <= n) pow2 *= 2;
  EXPECT_EQ(rd16(f, 6), pow2 * 16);
  EXPECT_EQ(rd16(f, 10), n * 16 - pow2 * 16);
  std::set<std::string> tags;
  std::string prev;
  for (unsigned i = 0; i < n; i++) {
    std::size_t rec = 12 + 16 * i;
    std::string tag = f.substr(rec, 4);
    std::uint32_t off = rd32(f, rec + 8), len = rd32(f, rec + 12);
    EXPECT_GT(tag, prev) << "tags sorted";
    prev = tag;
    tags.insert(tag);
    EXPECT_EQ(off % 4, 0u) << tag;
    ASSERT_LE(static_cast<std::uint64_t>(off) + len, f.size()) << tag;
    std::uint32_t want = sum32(f, off, len);
    if (tag == "head") want -= rd32(f, off + 8);  // checkSumAdjustment counts as 0
    EXPECT_EQ(rd32(f, rec + 4), want) << tag;
  }
  EXPECT_EQ(sum32(f, 0, f.size()), 0xB1B0AFBAu) << "whole-file checksum";
  for (const char *t : {"OS/2", "cmap", "cvt ", "fpgm", "glyf", "head", "hhea", "hmtx", "loca", "maxp", "name", "post",
                        "prep"})
    EXPECT_TRUE(tags.count(t)) << t;
  for (const char *t : {"GPOS", "GSUB", "GDEF", "kern", "FFTM"}) EXPECT_FALSE(tags.count(t)) << t;
  EXPECT_LT(f.size(), 30000u) << "three glyphs";
}

// Every glyph keeps its id; the glyphs asked for, .notdef and the
// components of composites keep their outline bytes and advance exactly;
// the rest are empty with advance 0.
TEST(FontSubset, KeepsIdsAdvancesAndTheOutlinesAskedFor) {
  auto orig = font_liberation_sans();
  struct Case {
    const char *what;
    std::vector<int> used;
  } cases[] = {
      {"nothing", {}},
      {"letters A B and space", {3, 36, 37}},
      {"e acute (a composite) alone", {169}},
      {"ids beyond the font are ignored", {36, 681, 65535, -1}},
      {"every glyph", {}},
  };
  for (int g = 0; g < 681; g++) cases[4].used.push_back(g);
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    TtfSubset s = subset_of(c.used);
    const auto *p = bytes(s.program);
    const std::uint64_t len = s.program.size();
    TtfInfo info{};
    ASSERT_EQ(ttf_info(p, len, &info), 1);
    EXPECT_EQ(info.num_glyphs, 681);
    EXPECT_EQ(info.upm, 2048);
    std::set<int> kept(s.glyphs.begin(), s.glyphs.end());
    EXPECT_TRUE(kept.count(0)) << ".notdef";
    for (int g : c.used) {
      if (g >= 0 && g < 681) {
        EXPECT_TRUE(kept.count(g)) << g;
      }
    }
    for (int g = 0; g < 681; g++) {
      ASSERT_EQ(ttf_advance(p, len, static_cast<std::uint32_t>(g)),
                kept.count(g) ? ttf_advance(orig.data(), orig.size(), static_cast<std::uint32_t>(g)) : 0)
          << g;
      std::string want = kept.count(g) ? outline(orig.data(), orig.size(), g) : "";
      std::string got = outline(p, len, g);
      ASSERT_EQ(got.substr(0, want.size()), want) << "glyph " << g;
      ASSERT_LE(got.size(), want.size() + 3) << "glyph " << g << ": only padding follows";
    }
    EXPECT_EQ(ttf_unicode_to_gid(p, len, 0x41), 36) << "cmap kept";
    if (c.used == std::vector<int>{169}) {
      EXPECT_GT(kept.size(), 2u) << "components of the composite";
    }
  }
}

#ifdef ZYK_HAVE_FREETYPE
// FreeType reads the subset as a font: every kept glyph has the outline of
// the original (a missing component would lose its points), every other
// glyph is empty.
TEST(FontSubset, FreeTypeLoadsTheSameOutlines) {
  FT_Library lib;
  ASSERT_EQ(FT_Init_FreeType(&lib), 0);
  auto orig = font_liberation_sans();
  TtfSubset s = subset_of({36, 72, 169, 170, 171, 172, 3});
  FT_Face a, b;
  ASSERT_EQ(FT_New_Memory_Face(lib, orig.data(), static_cast<FT_Long>(orig.size()), 0, &a), 0);
  ASSERT_EQ(FT_New_Memory_Face(lib, bytes(s.program), static_cast<FT_Long>(s.program.size()), 0, &b), 0);
  EXPECT_EQ(b->num_glyphs, a->num_glyphs);
  std::set<int> kept(s.glyphs.begin(), s.glyphs.end());
  for (int g = 0; g < a->num_glyphs; g++) {
    ASSERT_EQ(FT_Load_Glyph(a, static_cast<FT_UInt>(g), FT_LOAD_NO_SCALE), 0);
    const int pa = a->glyph->outline.n_points, ca = a->glyph->outline.n_contours;
    const long adv = a->glyph->advance.x;
    ASSERT_EQ(FT_Load_Glyph(b, static_cast<FT_UInt>(g), FT_LOAD_NO_SCALE), 0) << g;
    EXPECT_EQ(b->glyph->advance.x, kept.count(g) ? adv : 0) << g;
    if (kept.count(g)) {
      EXPECT_EQ(b->glyph->outline.n_points, pa) << g;
      EXPECT_EQ(b->glyph->outline.n_contours, ca) << g;
    } else {
      EXPECT_EQ(b->glyph->outline.n_points, 0) << g;
    }
  }
  // Hinted loading runs the font's instructions (fpgm, prep, cvt kept).
  ASSERT_EQ(FT_Set_Pixel_Sizes(b, 0, 16), 0);
  for (int g : s.glyphs) EXPECT_EQ(FT_Load_Glyph(b, static_cast<FT_UInt>(g), FT_LOAD_DEFAULT), 0) << g;
  FT_Done_Face(a);
  FT_Done_Face(b);
  FT_Done_FreeType(lib);
}
#endif

// With the characters given, the cmap maps exactly those whose glyph is
// kept, through segments the reader resolves.
TEST(FontSubset, CmapOfTheCharactersGiven) {
  auto orig = font_liberation_sans();
  const std::vector<std::pair<std::uint32_t, int>> chars = {
      {0x42, 37}, {0x41, 36}, {0xE9, 169}, {0x20, 3}, {0xA0, 3}, {0x43, 38}, {0x44, 0}, {0x45, 9999}};
  TtfSubset s;
  ASSERT_TRUE(ttf_subset(orig.data(), orig.size(), {3, 36, 37, 169}, &s, &chars));
  const auto *p = bytes(s.program);
  struct Case {
    std::uint32_t cp;
    int gid;
  } cases[] = {{0x41, 36}, {0x42, 37}, {0xE9, 169}, {0x20, 3}, {0xA0, 3},
               {0x43, -1} /* glyph not kept */, {0x44, -1}, {0x45, -1}, {0x61, -1}, {0xFFFF, 0}};
  for (const Case &c : cases) EXPECT_EQ(ttf_unicode_to_gid(p, s.program.size(), c.cp), c.gid) << std::hex << c.cp;
#ifdef ZYK_HAVE_FREETYPE
  FT_Library lib;
  ASSERT_EQ(FT_Init_FreeType(&lib), 0);
  FT_Face f;
  ASSERT_EQ(FT_New_Memory_Face(lib, p, static_cast<FT_Long>(s.program.size()), 0, &f), 0);
  EXPECT_EQ(FT_Get_Char_Index(f, 0x41), 36u);
  EXPECT_EQ(FT_Get_Char_Index(f, 0xE9), 169u);
  EXPECT_EQ(FT_Get_Char_Index(f, 0x43), 0u);
  FT_Done_Face(f);
  FT_Done_FreeType(lib);
#endif
}

TEST(FontSubset, RefusesFontsItCannotSubset) {
  using sfnt::Table;
  auto orig = font_liberation_sans();
  std::string f(reinterpret_cast<const char *>(orig.data()), orig.size());
  auto table = [&](const char *tag) {
    std::uint32_t off = 0, len = 0;
    EXPECT_EQ(find_table(orig.data(), orig.size(), tag, &off, &len), 1);
    return f.substr(off, len);
  };
  std::string bad_loca = table("loca");
  bad_loca[2] = '\x7F';  // glyph 1 starts far beyond glyf's end
  std::string falling = table("loca");
  falling[4] = falling[5] = 0;  // glyph 2 starts before glyph 1
  struct Case {
    const char *what;
    std::vector<Table> tables;
  } cases[] = {
      {"no glyf", {{"head", table("head")}, {"hhea", table("hhea")}, {"hmtx", table("hmtx")}, {"loca", table("loca")},
                   {"maxp", table("maxp")}}},
      {"loca beyond glyf",
       {{"glyf", table("glyf")}, {"head", table("head")}, {"hhea", table("hhea")}, {"hmtx", table("hmtx")},
        {"loca", bad_loca}, {"maxp", table("maxp")}}},
      {"loca falling",
       {{"glyf", table("glyf")}, {"head", table("head")}, {"hhea", table("hhea")}, {"hmtx", table("hmtx")},
        {"loca", falling}, {"maxp", table("maxp")}}},
      {"loca too short",
       {{"glyf", table("glyf")}, {"head", table("head")}, {"hhea", table("hhea")}, {"hmtx", table("hmtx")},
        {"loca", table("loca").substr(0, 100)}, {"maxp", table("maxp")}}},
      {"hmtx short of one metric per glyph",
       {{"glyf", table("glyf")}, {"head", table("head")}, {"hhea", table("hhea")},
        {"hmtx", table("hmtx").substr(0, 2720)}, {"loca", table("loca")}, {"maxp", table("maxp")}}},
      {"head cut short",
       {{"glyf", table("glyf")}, {"head", table("head").substr(0, 40)}, {"hhea", table("hhea")},
        {"hmtx", table("hmtx")}, {"loca", table("loca")}, {"maxp", table("maxp")}}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    auto font = sfnt::build(c.tables);
    TtfSubset s;
    EXPECT_FALSE(ttf_subset(font.data(), font.size(), {36}, &s));
  }
  // The same tables, sound, make a subset.
  auto font = sfnt::build({{"glyf", table("glyf")}, {"head", table("head")}, {"hhea", table("hhea")},
                           {"hmtx", table("hmtx")}, {"loca", table("loca")}, {"maxp", table("maxp")}});
  TtfSubset s;
  EXPECT_TRUE(ttf_subset(font.data(), font.size(), {36}, &s));
}

TEST(FontSubset, TagIsSixCapitalsAndFollowsTheGlyphs) {
  const std::vector<std::vector<int>> lists = {{0}, {0, 36}, {0, 37}, {0, 36, 37}, {0, 3, 36, 37, 38}};
  std::set<std::string> seen;
  for (const auto &l : lists) {
    std::string t = subset_tag(l);
    ASSERT_EQ(t.size(), 6u);
    for (char c : t) EXPECT_TRUE(c >= 'A' && c <= 'Z') << t;
    EXPECT_EQ(subset_tag(l), t) << "deterministic";
    seen.insert(t);
  }
  EXPECT_EQ(seen.size(), lists.size()) << "different glyph lists, different tags";
}
