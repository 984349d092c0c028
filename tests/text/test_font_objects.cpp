// The substitute font objects: widths runs of the glyphs used and the
// descendant font's required entries.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <sstream>

#include "flate/flate.h"
#include "writer/text.h"
#include "writer/writer.h"

namespace {

const int k_upm = zyk::substitute_font().upm;

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
    zyk::GlyphUse use;
    for (int g : c.used) use.mark(g, 0);
    std::string w = zyk::width_runs(use, font.data(), font.size(), k_upm);
    if (c.runs) {
      EXPECT_EQ(w, c.runs);
    }
    auto m = parse_runs(w);
    EXPECT_EQ(m.size(), c.used.size()) << w;
    for (int g : c.used) {
      int adv = zyk::ttf_advance(font.data(), font.size(), static_cast<std::uint32_t>(g));
      EXPECT_EQ(m[g], adv > 0 ? (adv * 1000LL + k_upm / 2) / k_upm : 500) << "glyph " << g;
    }
  }
}

TEST(FontObjects, DescendantHasIdentityGidMapAndWidthsOfUsedGlyphs) {
  zyk::Context ctx;
  ctx.glyphs.mark(36, 0);
  zyk::Out out;
  zyk::Numbering nb{1, 6};
  ASSERT_TRUE(zyk::write_font_objects(ctx, nb, 1, &out));
  std::string s(out.b.chars, out.b.used);
  std::size_t a = s.find("7 0 obj\n");
  ASSERT_NE(a, std::string::npos);
  std::string cid = s.substr(a, s.find("endobj", a) - a);
  EXPECT_NE(cid.find("/Subtype /CIDFontType2"), std::string::npos);
  EXPECT_NE(cid.find("/CIDToGIDMap /Identity"), std::string::npos);
  EXPECT_NE(cid.find("/W [\n36 36 667\n]"), std::string::npos) << cid;
}

}  // namespace

namespace {

// Object num of the font objects' text: from its header to "endobj".
std::string object(const std::string &s, int num) {
  std::string hdr = std::to_string(num) + " 0 obj\n";
  std::size_t a = s.find(hdr);
  if (a == std::string::npos) return "";
  return s.substr(a, s.find("endobj", a) - a);
}

// Stream data of an object, inflated when it names /FlateDecode.
std::string stream_data(const std::string &obj) {
  std::size_t len_at = obj.find("/Length ");
  std::size_t s = obj.find("\nstream\n");
  if (len_at == std::string::npos || s == std::string::npos) return "<no stream>";
  std::string raw = obj.substr(s + 8, std::stoul(obj.substr(len_at + 8)));
  if (obj.find("/Filter /FlateDecode") == std::string::npos) return raw;
  std::string out(1 << 20, '\0');
  std::uint64_t n = 0;
  if (zyk::inflate_decompress(reinterpret_cast<const unsigned char *>(raw.data()), raw.size(),
                              reinterpret_cast<unsigned char *>(out.data()), out.size(), &n) != 0)
    return "<inflate failed>";
  out.resize(n);
  return out;
}

}  // namespace

// The embedded program is a subset of the glyphs used under a tagged name;
// part 1 lists the glyphs it holds in a CIDSet (B + 7), part 2 writes none.
TEST(FontObjects, SubsetProgramTaggedNameAndCidSet) {
  for (int part : {1, 2}) {
    SCOPED_TRACE(part);
    zyk::Context ctx;
    ctx.glyphs.mark(36, 0);
    ctx.glyphs.mark(169, 0);  // e acute, a composite glyph
    zyk::Out out;
    zyk::Numbering nb{1, 6};
    ASSERT_TRUE(zyk::write_font_objects(ctx, nb, part, &out));
    std::string s(out.b.chars, out.b.used);
    std::string type0 = object(s, 6), desc = object(s, 10), file = object(s, 8);
    std::size_t at = type0.find("/BaseFont /");
    ASSERT_NE(at, std::string::npos);
    std::string name = type0.substr(at + 11, type0.find_first_of(" \n", at + 11) - at - 11);
    ASSERT_EQ(name.size(), 6 + std::string("+Liberation-Sans").size()) << name;
    for (std::size_t i = 0; i < 6; i++) EXPECT_TRUE(name[i] >= 'A' && name[i] <= 'Z') << name;
    EXPECT_EQ(name.substr(6), "+Liberation-Sans");
    EXPECT_NE(object(s, 7).find("/BaseFont /" + name + "\n"), std::string::npos);
    EXPECT_NE(desc.find("/FontName /" + name + " "), std::string::npos);

    std::string program = stream_data(file);
    EXPECT_NE(file.find("/Length1 " + std::to_string(program.size()) + " "), std::string::npos) << file;
    const auto *p = reinterpret_cast<const unsigned char *>(program.data());
    zyk::TtfInfo info{};
    ASSERT_EQ(zyk::ttf_info(p, program.size(), &info), 1);
    EXPECT_LT(program.size(), 20000u);
    // The glyphs the program holds outlines for: .notdef, the two used and
    // the components of the composite.
    std::uint32_t lo = 0, ll = 0;
    ASSERT_EQ(zyk::find_table(p, program.size(), "loca", &lo, &ll), 1);
    std::set<int> with_outline;
    for (int g = 0; g < info.num_glyphs; g++) {
      auto at16 = [&](int k) {
        const auto u = static_cast<std::uint32_t>(k);
        return 2 * (p[lo + 2 * u] << 8 | p[lo + 2 * u + 1]);
      };
      if (at16(g + 1) > at16(g)) with_outline.insert(g);
    }
    EXPECT_TRUE(with_outline.count(0) && with_outline.count(36) && with_outline.count(169));
    EXPECT_GT(with_outline.size(), 3u) << "components";

    std::string cidset = object(s, 13);
    if (part == 1) {
      EXPECT_NE(desc.find("/CIDSet 13 0 R"), std::string::npos) << desc;
      std::string bits = stream_data(cidset);
      std::set<int> listed;
      for (std::size_t i = 0; i < bits.size() * 8; i++)
        if (static_cast<unsigned char>(bits[i / 8]) & 0x80 >> (i % 8)) listed.insert(static_cast<int>(i));
      EXPECT_EQ(listed, with_outline);
    } else {
      EXPECT_EQ(desc.find("/CIDSet"), std::string::npos) << desc;
      EXPECT_EQ(cidset, "13 0 obj\nnull\n");
    }
  }
}
