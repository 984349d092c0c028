// The substitute font objects B ... B + 4: a Type0 font with the Identity-H
// encoding over a CIDFontType2 descendant whose CIDs are the glyph ids of the
// embedded TrueType font, the font program itself (whole, unfiltered), the
// ToUnicode CMap of the glyphs used, and the font descriptor.
//
// Every replaced source font points at B, so these objects must form a
// valid, embedded font whatever the pages show. The descendant names its
// CID-to-glyph mapping (/CIDToGIDMap /Identity) because PDF/A requires one
// for every CIDFontType2 font. Widths come from the font program for every
// glyph marked used; glyphs not listed take /DW.
//
// This file is the slot of the text re-encoding work, which marks the glyphs
// the pages use and may refine these objects; until then no glyph is marked
// and the widths array is absent.
#include <cstdio>

#include "writer/writer.h"

namespace zyk {

namespace {

constexpr const char *k_required_tables[] = {"head", "hhea", "maxp", "hmtx", "cmap", "loca", "glyf", "name", "post"};
constexpr int k_font_name_max_len = 159;

// The family name with the characters that cannot stand in a PDF name
// replaced by '-'.
std::string font_name() {
  if (g_ttf_ready != 1 || !g_ttf_family[0]) return "EmbeddedSans";
  std::string n;
  for (const char *p = g_ttf_family; *p && static_cast<int>(n.size()) < k_font_name_max_len; p++) {
    char c = *p;
    bool bad = c == '[' || c == ']' || c == '{' || c == '}' || c == ' ' || c == '#' || c == '(' || c == ')' ||
               c == '/' || c == '<' || c == '>' || c == '%' || static_cast<unsigned char>(c) < 33 ||
               static_cast<unsigned char>(c) > 126;
    n += bad ? '-' : c;
  }
  return n;
}

}  // namespace

bool write_font_objects(const Numbering &nb, Out *out) {
  auto font = font_liberation_sans();
  for (const char *tag : k_required_tables) {
    std::uint32_t off = 0, len = 0;
    if (find_table(font.data(), font.size(), tag, &off, &len) != 1) {
      set_error("cannot extract TTF tables from embedded font");
      return false;
    }
  }
  const std::string name = font_name();
  const int upm = g_ttf_ready == 1 && g_ttf_upm > 0 ? g_ttf_upm : 1000;

  out->begin_obj(nb.type0());
  out->printf(
      "<< /Type /Font /Subtype /Type0 /BaseFont /%s\n   /Encoding /Identity-H /DescendantFonts [ %d 0 R ]\n"
      "   /ToUnicode %d 0 R >>\nendobj\n",
      name.c_str(), nb.cidfont(), nb.tounicode());

  std::string widths;
  char item[48];
  for (int g = 0; g < k_tu_glyphs; g++) {
    if (!(g_tu_used[g >> 3] & 1u << (g & 7))) continue;
    int adv = ttf_advance(font.data(), font.size(), static_cast<std::uint32_t>(g));
    long long w = adv > 0 ? static_cast<long long>(adv) * 1000 / upm : 500;
    std::snprintf(item, sizeof item, "%d [%lld]\n", g, w);
    widths += item;
  }
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

  char dict[96];
  std::snprintf(dict, sizeof dict, "<< /Length %zu /Length1 %zu >>", font.size(), font.size());
  out->stream_obj(nb.fontfile(), dict, font.data(), font.size());

  BufGuard cmap;
  tu_emit(&cmap.b);
  if (!cmap.b.chars) {
    out->failed = true;
    return true;
  }
  std::snprintf(dict, sizeof dict, "<< /Length %llu >>", static_cast<unsigned long long>(cmap.b.used));
  out->stream_obj(nb.tounicode(), dict, cmap.b.chars, cmap.b.used);

  out->begin_obj(nb.descriptor());
  out->printf(
      "<< /Type /FontDescriptor /FontName /%s /Flags 32\n   /FontBBox [-100 -200 1100 900] /ItalicAngle 0\n"
      "   /Ascent 750 /Descent -250 /CapHeight 700 /StemV 80\n   /FontFile2 %d 0 R >>\nendobj\n",
      name.c_str(), nb.fontfile());
  return true;
}

}  // namespace zyk
