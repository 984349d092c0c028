// The substitute font's facts, and the record of the glyphs one conversion
// uses.
//
// The facts are read from the embedded font the first time they are asked
// for, by the initialisation of a function-local constant, which C++ runs
// once even when several threads ask at the same time; its cmap and advance
// answers are remembered slot by slot as they are first asked for. The
// glyph-use record belongs to one conversion (its context), so conversions
// in different threads never share one.
#include <bit>
#include <cstring>

#include "font/font.h"

namespace zyk {

// Reads units per em and family name of the embedded font. An unreadable
// font (or one without units per em) leaves the fallbacks (1000 units,
// "EmbeddedSans", not ready), under which every character maps to glyph 0.
SubstituteFont::SubstituteFont()
    : gids_(std::make_unique<std::atomic<std::int32_t>[]>(65536)),
      advances_(std::make_unique<std::atomic<std::int32_t>[]>(65536)) {
  auto font = font_liberation_sans();
  TtfInfo info;
  if (ttf_info(font.data(), font.size(), &info) && info.ok == 1 && info.upm > 0) {
    ready = true;
    upm = info.upm;
    family.assign(info.family, strnlen(info.family, sizeof info.family));
  }
}

const SubstituteFont &substitute_font() {
  static const SubstituteFont facts;
  return facts;
}

int SubstituteFont::gid(std::uint32_t cp) const {
  if (cp > 0xFFFF) {
    auto font = font_liberation_sans();
    return ttf_unicode_to_gid(font.data(), font.size(), cp);
  }
  std::atomic<std::int32_t> &slot = gids_[cp];
  std::int32_t v = slot.load(std::memory_order_relaxed);
  if (v == 0) {
    auto font = font_liberation_sans();
    v = ttf_unicode_to_gid(font.data(), font.size(), cp) + 2;
    slot.store(v, std::memory_order_relaxed);
  }
  return v - 2;
}

int SubstituteFont::advance(std::uint32_t g) const {
  std::atomic<std::int32_t> &slot = advances_[g & 0xFFFF];
  std::int32_t v = slot.load(std::memory_order_relaxed);
  if (v == 0) {
    auto font = font_liberation_sans();
    v = ttf_advance(font.data(), font.size(), g & 0xFFFF) + 2;
    slot.store(v, std::memory_order_relaxed);
  }
  return v - 2;
}

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
