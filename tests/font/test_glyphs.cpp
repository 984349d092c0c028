// The substitute font's facts, the glyph-use record and the ToUnicode CMap.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "base/base.h"
#include "font/font.h"
#include "writer/text.h"
#include "zyk_out_pdfa.h"

using namespace zyk;

namespace {

bool used(const GlyphUse &use, int g) {
  const std::vector<int> gs = use.glyphs();
  return std::binary_search(gs.begin(), gs.end(), g);
}

int used_count(const GlyphUse &use) { return static_cast<int>(use.glyphs().size()); }

std::string emit(const GlyphUse &use) {
  BufGuard b;
  tu_emit(use, &b.b);
  return b.b.chars ? std::string(b.b.chars, b.b.used) : std::string("<no storage>");
}

const std::string k_header =
    "/CIDInit /ProcSet findresource begin\n12 dict begin\nbegincmap\n"
    "/CIDSystemInfo << /Registry (Adobe) /Ordering (UCS) /Supplement 0 >> def\n"
    "/CMapName /Adobe-Identity-UCS def\n/CMapType 2 def\n"
    "1 begincodespacerange\n<0000> <FFFF>\nendcodespacerange\n";
const std::string k_trailer = "endcmap\nCMapName currentdict /CMap defineresource pop\nend\nend\n";

// The mapping part between header and trailer.
std::string mappings(const std::string &cmap) {
  if (cmap.compare(0, k_header.size(), k_header) != 0) return "<bad header>";
  if (cmap.size() < k_header.size() + k_trailer.size() ||
      cmap.compare(cmap.size() - k_trailer.size(), k_trailer.size(), k_trailer) != 0)
    return "<bad trailer>";
  return cmap.substr(k_header.size(), cmap.size() - k_header.size() - k_trailer.size());
}

class Glyphs : public ::testing::Test {
 protected:
  GlyphUse use;
};

}  // namespace

TEST_F(Glyphs, SubstituteFontFacts) {
  const SubstituteFont &f = substitute_font();
  EXPECT_TRUE(f.ready);
  EXPECT_EQ(f.upm, 2048);
  EXPECT_EQ(f.family, "Liberation Sans");
  EXPECT_EQ(&substitute_font(), &f) << "read once";
}

// The remembered cmap and advances answer exactly what the font's own
// tables say, for every BMP code point and every glyph id, the first time
// (filling the tables) and again (from them); above the BMP they read the
// font each time.
TEST_F(Glyphs, RememberedLookupsAgreeWithTheFont) {
  const SubstituteFont &sub = substitute_font();
  auto font = font_liberation_sans();
  int mapped = 0, with_advance = 0;
  for (int pass = 0; pass < 2; pass++) {
    for (std::uint32_t cp = 0; cp <= 0xFFFF; cp++) {
      const int want = ttf_unicode_to_gid(font.data(), font.size(), cp);
      ASSERT_EQ(sub.gid(cp), want) << "U+" << std::hex << cp << " pass " << pass;
      mapped += want > 0;
    }
    for (std::uint32_t g = 0; g <= 0xFFFF; g++) {
      const int want = ttf_advance(font.data(), font.size(), g);
      ASSERT_EQ(sub.advance(g), want) << "glyph " << g << " pass " << pass;
      with_advance += want >= 0;
    }
  }
  EXPECT_GT(mapped, 2 * 500) << "the font maps hundreds of BMP characters";
  EXPECT_GT(with_advance, 2 * 500);
  for (std::uint32_t cp : {0x10000u, 0x1F600u, 0x10FFFFu, 0x110000u, 0xFFFFFFFFu})
    EXPECT_EQ(sub.gid(cp), ttf_unicode_to_gid(font.data(), font.size(), cp)) << std::hex << cp;
  // An advance asked for with high bits set is the advance of the low 16 bits, as in the font reader.
  EXPECT_EQ(sub.advance(0x10024u), ttf_advance(font.data(), font.size(), 0x24u));
}

TEST_F(Glyphs, PdfaInitClearsTheErrorAndReadsTheFont) {
  set_error("stale %d", 1);
  EXPECT_EQ(pdfa_init(), 1);
  EXPECT_STREQ(error_text(), "");
  EXPECT_TRUE(substitute_font().ready);
}

// The export as a host sees it: a plain name in the shared library.
TEST(PdfaInitExport, VisibleInTheSharedLibrary) {
  void *h = dlopen(ZYK_SHARED_LIB, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(h, nullptr) << dlerror();
  auto init = reinterpret_cast<int (*)()>(dlsym(h, "pdfa_init"));
  auto last = reinterpret_cast<const char *(*)()>(dlsym(h, "pdfa_last_error"));
  ASSERT_NE(init, nullptr);
  ASSERT_NE(last, nullptr);
  EXPECT_EQ(init(), 1);
  EXPECT_STREQ(last(), "");
  EXPECT_EQ(dlsym(h, "substitute_font"), nullptr);
  dlclose(h);
}

// The writer marks a glyph with the first character drawn with it: the
// ToUnicode CMap then gives that character back.
TEST_F(Glyphs, TextGlyphRecordsFirstCharacterPerGlyph) {
  struct Step {
    std::uint32_t u;
    int gid;
  };
  struct Record {
    int gid;
    std::uint32_t uni;
  };
  struct Case {
    const char *what;
    std::vector<Step> steps;
    std::vector<Record> after;  // glyphs that must be marked, with their record
    int marked;                 // number of glyphs marked in all
  } cases[] = {
      {"A", {{0x41, 36}}, {{36, 0x41}}, 1},
      {"space then no-break space keeps U+0020", {{0x20, 3}, {0xA0, 3}}, {{3, 0x20}}, 1},
      {"no-break space then space keeps U+00A0", {{0xA0, 3}, {0x20, 3}}, {{3, 0xA0}}, 1},
      {"U+0000 marks nothing", {{0, -1}}, {}, 0},
      {"a character the font lacks marks nothing", {{0xF8FF, -1}, {0x10000, -1}}, {}, 0},
      {"euro and A", {{0x20AC, 549}, {0x41, 36}}, {{549, 0x20AC}, {36, 0x41}}, 2},
  };
  for (const Case &c : cases) {
    GlyphUse fresh;
    for (const Step &s : c.steps) EXPECT_EQ(text_glyph(fresh, s.u), s.gid) << c.what << " U+" << std::hex << s.u;
    for (const Record &r : c.after) {
      EXPECT_TRUE(used(fresh, r.gid)) << c.what;
      EXPECT_EQ(fresh.first_char(r.gid), r.uni) << c.what;
    }
    EXPECT_EQ(used_count(fresh), c.marked) << c.what;
  }
}

// Two records are independent: what one conversion draws never shows in
// another's font objects.
TEST_F(Glyphs, RecordsOfTwoConversionsAreSeparate) {
  GlyphUse other;
  text_glyph(use, 'A');
  EXPECT_EQ(used_count(other), 0);
  EXPECT_EQ(other.first_char(36), 0u);
  EXPECT_EQ(mappings(emit(other)), "");
  EXPECT_EQ(mappings(emit(use)), "1 beginbfchar\n<0024> <0041>\nendbfchar\n");
}

// Ids outside the 16-bit range are not recorded (and do not write outside
// the record).
TEST_F(Glyphs, OutOfRangeIdsAreIgnored) {
  use.mark(-1, 'A');
  use.mark(65536, 'B');
  use.mark(65535, 'C');
  EXPECT_EQ(use.glyphs(), std::vector<int>{65535});
  EXPECT_EQ(use.first_char(65536), 0u);
}

TEST_F(Glyphs, ToUnicodeSmallCases) {
  struct Case {
    const char *what;
    std::vector<std::pair<int, std::uint32_t>> marks;  // glyph, character (0: none)
    std::string body;
  } cases[] = {
      {"nothing used: header and trailer only", {}, ""},
      {"A and B", {{36, 'A'}, {37, 'B'}}, "2 beginbfchar\n<0024> <0041>\n<0025> <0042>\nendbfchar\n"},
      {"ordered by glyph id, not by first use", {{37, 'B'}, {36, 'A'}},
       "2 beginbfchar\n<0024> <0041>\n<0025> <0042>\nendbfchar\n"},
      {"glyph 0 with U+0001", {{0, 0x01}}, "1 beginbfchar\n<0000> <0001>\nendbfchar\n"},
      {"a glyph without character maps to its own id", {{0, 0}, {40, 0}},
       "2 beginbfchar\n<0000> <0000>\n<0028> <0028>\nendbfchar\n"},
      {"euro", {{549, 0x20AC}}, "1 beginbfchar\n<0225> <20AC>\nendbfchar\n"},
      {"beyond the BMP: a surrogate pair", {{100, 0x1F600}}, "1 beginbfchar\n<0064> <D83DDE00>\nendbfchar\n"},
  };
  for (const Case &c : cases) {
    GlyphUse fresh;
    for (auto [g, u] : c.marks) fresh.mark(g, u);
    EXPECT_EQ(mappings(emit(fresh)), c.body) << c.what;
  }
}

// PDF allows at most 100 entries per bfchar block and requires each block's
// count to match its entries; large glyph sets are cut into such blocks.
TEST_F(Glyphs, ToUnicodeBlocksCarryTheirOwnCounts) {
  for (int n : {99, 100, 101, 250, 600, 65536}) {
    GlyphUse fresh;
    for (int g = 0; g < n; g++) fresh.mark(65535 - g * (65536 / n), 0x4E00 + static_cast<std::uint32_t>(g % 0x5000));
    std::istringstream in(mappings(emit(fresh)));
    std::string line;
    int total = 0, prev = -1;
    std::vector<int> blocks;
    while (std::getline(in, line)) {
      int count = 0;
      ASSERT_EQ(std::sscanf(line.c_str(), "%d beginbfchar", &count), 1) << n << ": " << line;
      ASSERT_TRUE(count >= 1 && count <= 100) << line;
      blocks.push_back(count);
      for (int k = 0; k < count; k++) {
        ASSERT_TRUE(std::getline(in, line));
        unsigned g = 0, u = 0;
        ASSERT_EQ(std::sscanf(line.c_str(), "<%4X> <%4X>", &g, &u), 2) << line;
        EXPECT_GT(static_cast<int>(g), prev) << "ascending glyph ids";
        EXPECT_EQ(u, fresh.first_char(static_cast<int>(g)));
        prev = static_cast<int>(g);
        total++;
      }
      ASSERT_TRUE(std::getline(in, line));
      ASSERT_EQ(line, "endbfchar");
    }
    EXPECT_EQ(total, n);
    EXPECT_EQ(static_cast<int>(blocks.size()), (n + 99) / 100) << n;
  }
}

TEST_F(Glyphs, ToUnicodeBeyondTheBasicPlaneUsesSurrogates) {
  use.mark(5, 0x1F600);
  use.mark(6, 0x10FFFF);
  EXPECT_EQ(mappings(emit(use)), "2 beginbfchar\n<0005> <D83DDE00>\n<0006> <DBFFDFFF>\nendbfchar\n");
}

TEST_F(Glyphs, ToUnicodeAppendsToExistingContent) {
  BufGuard b;
  buf_str(&b.b, "prefix|");
  tu_emit(use, &b.b);
  ASSERT_NE(b.b.chars, nullptr);
  EXPECT_EQ(std::string(b.b.chars, 7), "prefix|");
  EXPECT_EQ(std::string(b.b.chars + 7, b.b.used - 7), k_header + k_trailer);
}
