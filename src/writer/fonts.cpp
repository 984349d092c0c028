// The substitute font objects B ... B + 4: a Type0 font with the Identity-H
// encoding over a CIDFontType2 descendant whose CIDs are the glyph ids of the
// embedded TrueType font, the font program, the ToUnicode CMap of the glyphs
// used, and the font descriptor; and B + 7, the subset's CIDSet.
//
// Every replaced source font points at B, so these objects must form a
// valid, embedded font whatever the pages show. The descendant names its
// CID-to-glyph mapping (/CIDToGIDMap /Identity) because PDF/A requires one
// for every CIDFontType2 font. Widths come from the font program for every
// glyph marked used; glyphs not listed take /DW.
//
// The font program is a subset: the outlines of the glyphs the text
// re-encoding marked, .notdef and the components of composite glyphs, with
// every glyph id kept and the advances of those glyphs (font/subset.cpp),
// its cmap mapping the characters recorded for them; compressed. A subset's
// name carries a six-letter tag (PDF readers and validators tell subsets by
// it); the tag is a function of the glyphs kept, so the same input gives the
// same name. PDF/A-1 requires a CIDSet for a subset font: a bit per CID, most
// significant bit first, set for every glyph whose outline the subset holds.
// PDF/A-2 makes it optional but then requires it to match the program
// exactly, under rules that differ between readers for glyphs without
// contours (a space); part 2 therefore writes none, and B + 7 is an empty
// object there. Should the embedded font ever fail to subset, the whole
// program is embedded under its plain name, and no CIDSet is written.
//
// With no glyph used, the widths array is absent and the subset holds
// .notdef alone.
#include <cstdio>

#include "writer/text.h"
#include "writer/writer.h"

namespace zyk {

namespace {

constexpr const char *k_required_tables[] = {"head", "hhea", "maxp", "hmtx", "cmap", "loca", "glyf", "name", "post"};
constexpr int k_font_name_max_len = 159;

// The family name with the characters that cannot stand in a PDF name
// replaced by '-'.
std::string font_name(const SubstituteFont &sf) {
  if (!sf.ready || sf.family.empty()) return "EmbeddedSans";
  std::string n;
  for (std::size_t k = 0; k < sf.family.size() && static_cast<int>(n.size()) < k_font_name_max_len; k++) {
    char c = sf.family[k];
    bool bad = c == '[' || c == ']' || c == '{' || c == '}' || c == ' ' || c == '#' || c == '(' || c == ')' ||
               c == '/' || c == '<' || c == '>' || c == '%' || static_cast<unsigned char>(c) < 33 ||
               static_cast<unsigned char>(c) > 126;
    n += bad ? '-' : c;
  }
  return n;
}

}  // namespace

// Widths of the glyphs used, as "first last width" runs: a run is a
// maximal sequence of consecutive used glyph ids of the same width, so
// every used glyph is listed exactly once and no unused glyph is given a
// width. A width is advance x 1000 / units per em, rounded (truncation
// would be off by up to one unit for most glyphs); a glyph
// without an advance gets 500 (the /DW).
std::string width_runs(const GlyphUse &use, const unsigned char *font, std::uint64_t len, int upm) {
  std::string out;
  int start = -1, prev = -1;
  long long run_w = 0;
  char line[64];
  auto close = [&] {
    if (start < 0) return;
    std::snprintf(line, sizeof line, "%d %d %lld\n", start, prev, run_w);
    out += line;
  };
  for (int g : use.glyphs()) {
    int adv = ttf_advance(font, len, static_cast<std::uint32_t>(g));
    long long w = adv > 0 && upm > 0 ? (static_cast<long long>(adv) * 1000 + upm / 2) / upm : 500;
    if (start >= 0 && g == prev + 1 && w == run_w) {
      prev = g;
      continue;
    }
    close();
    start = prev = g;
    run_w = w;
  }
  close();
  return out;
}

bool write_font_objects(Context &ctx, const Numbering &nb, int part, Out *out) {
  auto font = font_liberation_sans();
  for (const char *tag : k_required_tables) {
    std::uint32_t off = 0, len = 0;
    if (find_table(font.data(), font.size(), tag, &off, &len) != 1) {
      return ctx.err.fail("cannot extract TTF tables from embedded font");
    }
  }
  const SubstituteFont &sf = substitute_font();
  const std::vector<int> used = ctx.glyphs.glyphs();
  // The characters the glyphs were drawn for, for the subset's cmap: only
  // where the font's own cmap agrees (glyph 0 stands for missing ones).
  std::vector<std::pair<std::uint32_t, int>> chars;
  for (int g : used) {
    const std::uint32_t u = ctx.glyphs.first_char(g);
    if (g > 0 && u > 0 && u < 0xFFFF && sf.gid(u) == g) chars.emplace_back(u, g);
  }
  TtfSubset sub;
  const bool subset = sf.ready && ttf_subset(font.data(), font.size(), used, &sub, &chars);
  const std::string name = subset ? subset_tag(sub.glyphs) + "+" + font_name(sf) : font_name(sf);
  const int upm = sf.upm;
  const bool cidset = subset && part == 1;

  out->begin_obj(nb.type0());
  out->printf(
      "<< /Type /Font /Subtype /Type0 /BaseFont /%s\n   /Encoding /Identity-H /DescendantFonts [ %d 0 R ]\n"
      "   /ToUnicode %d 0 R >>\nendobj\n",
      name.c_str(), nb.cidfont(), nb.tounicode());

  const std::string widths = width_runs(ctx.glyphs, font.data(), font.size(), upm);
  out->begin_obj(nb.cidfont());
  out->printf(
      "<< /Type /Font /Subtype /CIDFontType2 /BaseFont /%s\n"
      "   /CIDSystemInfo << /Registry (Adobe) /Ordering (Identity) /Supplement 0 >>\n"
      "   /FontDescriptor %d 0 R /CIDToGIDMap /Identity /DW 500",
      name.c_str(), nb.descriptor());
  if (!widths.empty()) {
    out->str(" /W [\n");
    out->str(widths);
    out->str("]");
  }
  out->str(" >>\nendobj\n");

  const std::string program =
      subset ? std::move(sub.program) : std::string(reinterpret_cast<const char *>(font.data()), font.size());
  out->packed_stream_obj(nb.fontfile(), " /Length1 " + std::to_string(program.size()), program.data(),
                         program.size());

  BufGuard cmap;
  tu_emit(ctx.glyphs, &cmap.b);
  if (!cmap.b.chars) {
    out->failed = true;
    return true;
  }
  out->packed_stream_obj(nb.tounicode(), "", cmap.b.chars, cmap.b.used);

  out->begin_obj(nb.descriptor());
  out->printf(
      "<< /Type /FontDescriptor /FontName /%s /Flags 32\n   /FontBBox [-100 -200 1100 900] /ItalicAngle 0\n"
      "   /Ascent 750 /Descent -250 /CapHeight 700 /StemV 80\n   /FontFile2 %d 0 R",
      name.c_str(), nb.fontfile());
  if (cidset) out->printf(" /CIDSet %d 0 R", nb.cidset());
  out->str(" >>\nendobj\n");

  if (cidset) {
    std::string bits(static_cast<std::size_t>(sub.glyphs.back() / 8 + 1), '\0');
    for (int g : sub.glyphs) bits[static_cast<std::size_t>(g / 8)] |= static_cast<char>(0x80 >> (g % 8));
    out->packed_stream_obj(nb.cidset(), "", bits.data(), bits.size());
  } else {
    out->begin_obj(nb.cidset());
    out->str("null\nendobj\n");
  }
  return true;
}

}  // namespace zyk
