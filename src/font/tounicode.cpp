// ToUnicode CMap of the substitute font: maps every glyph id used in the
// conversion (the codes of Identity-H text are glyph ids) back to the
// character it was drawn for.
//
// The mappings are bfchar entries ordered by glyph id. PDF limits one
// beginbfchar ... endbfchar block to 100 entries and requires the count in
// front of "beginbfchar" to equal the number of entries, so the entries are
// cut into blocks of at most 100, each announced with its own count. A glyph
// with no recorded character (only code 0 reached it) maps to its own id,
// which for glyph 0 is U+0000. Characters beyond the Basic Multilingual
// Plane (none arise from the single-byte encodings) become surrogate pairs.
#include <cstdio>

#include "font/font.h"

namespace zyk {
namespace {

constexpr std::size_t k_bfchar_block_max = 100;

}  // namespace

void tu_emit(const GlyphUse &use, Buf *out) {
  buf_str(out,
          "/CIDInit /ProcSet findresource begin\n"
          "12 dict begin\n"
          "begincmap\n"
          "/CIDSystemInfo << /Registry (Adobe) /Ordering (UCS) /Supplement 0 >> def\n"
          "/CMapName /Adobe-Identity-UCS def\n"
          "/CMapType 2 def\n"
          "1 begincodespacerange\n<0000> <FFFF>\nendcodespacerange\n");
  const std::vector<int> used = use.glyphs();
  for (std::size_t at = 0; at < used.size(); at += k_bfchar_block_max) {
    const std::size_t block = used.size() - at < k_bfchar_block_max ? used.size() - at : k_bfchar_block_max;
    buf_printf(out, "%zu beginbfchar\n", block);
    for (std::size_t k = at; k < at + block; k++) {
      const int g = used[k];
      std::uint32_t u = use.first_char(g);
      char line[48];
      int n;
      if (u > 0xFFFF && u <= 0x10FFFF)  // outside the BMP: a UTF-16 surrogate pair
        n = std::snprintf(line, sizeof line, "<%04X> <%04X%04X>\n", static_cast<unsigned>(g),
                          0xD800 + ((u - 0x10000) >> 10), 0xDC00 + ((u - 0x10000) & 0x3FF));
      else
        n = std::snprintf(line, sizeof line, "<%04X> <%04X>\n", static_cast<unsigned>(g),
                          u ? (u & 0xFFFF) : static_cast<unsigned>(g));
      buf_bytes(out, line, static_cast<std::uint64_t>(n));
    }
    buf_str(out, "endbfchar\n");
  }
  buf_str(out,
          "endcmap\n"
          "CMapName currentdict /CMap defineresource pop\n"
          "end\nend\n");
}

}  // namespace zyk
