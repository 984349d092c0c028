// The substitute font's facts, and the record of the glyphs one conversion
// uses.
//
// The facts are read from the embedded font the first time they are asked
// for, by the initialisation of a function-local constant, which C++ runs
// once even when several threads ask at the same time; after that they are
// only read. The glyph-use record belongs to one conversion (its context),
// so conversions in different threads never share one.
#include <bit>
#include <cstring>

#include "font/font.h"

namespace zyk {

namespace {

// Reads units per em and family name of the embedded font, and its cmap
// and advances for every BMP code point and every 16-bit glyph id. An
// unreadable font leaves the fallbacks (1000 units, "EmbeddedSans", not
// ready), under which every character maps to glyph 0.
SubstituteFont read_substitute() {
  SubstituteFont s;
  auto font = font_liberation_sans();
  TtfInfo info;
  if (ttf_info(font.data(), font.size(), &info) && info.ok == 1) {
    s.ready = true;
    s.upm = info.upm;
    s.family.assign(info.family, strnlen(info.family, sizeof info.family));
  }
  s.gids.resize(65536);
  s.advances.resize(65536);
  for (std::uint32_t k = 0; k < 65536; k++) {
    s.gids[k] = ttf_unicode_to_gid(font.data(), font.size(), k);
    s.advances[k] = ttf_advance(font.data(), font.size(), k);
  }
  return s;
}

}  // namespace

const SubstituteFont &substitute_font() {
  static const SubstituteFont facts = read_substitute();
  return facts;
}

int SubstituteFont::gid(std::uint32_t cp) const {
  if (cp <= 0xFFFF) return gids[cp];
  auto font = font_liberation_sans();
  return ttf_unicode_to_gid(font.data(), font.size(), cp);
}

int SubstituteFont::advance(std::uint32_t g) const { return advances[g & 0xFFFF]; }

int substitute_gid(std::uint32_t cp) { return substitute_font().gid(cp); }

int substitute_advance(std::uint32_t gid) { return substitute_font().advance(gid); }

GlyphUse::GlyphUse() : used_(k_tu_glyphs / 64), uni_(k_tu_glyphs) {}

void GlyphUse::mark(int g, std::uint32_t u) {
  if (g < 0 || g >= k_tu_glyphs) return;
  const auto k = static_cast<std::size_t>(g);
  used_[k >> 6] |= std::uint64_t{1} << (k & 63);
  if (u != 0 && uni_[k] == 0) uni_[k] = u;
}

std::vector<int> GlyphUse::glyphs() const {
  std::vector<int> out;
  for (std::size_t w = 0; w < used_.size(); w++) {
    std::uint64_t bits = used_[w];
    while (bits) {
      out.push_back(static_cast<int>(w * 64) + std::countr_zero(bits));
      bits &= bits - 1;
    }
  }
  return out;
}

std::uint32_t GlyphUse::first_char(int g) const {
  return g >= 0 && g < k_tu_glyphs ? uni_[static_cast<std::size_t>(g)] : 0;
}

}  // namespace zyk
