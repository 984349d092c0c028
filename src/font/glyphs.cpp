// The substitute font's facts and the record of the glyphs one conversion
// uses. This file owns the process-global state of the folder: the facts are
// read once from the embedded font, the glyph-use record is cleared by the
// driver at the start of every conversion and read when the font objects and
// the ToUnicode CMap are written. Nothing here is locked; the library runs one
// call at a time.
#include <bit>
#include <cstring>

#include "font/font.h"

namespace zyk {

int g_ttf_upm = 1000;
int g_ttf_ready = 0;
char g_ttf_family[128] = "";

unsigned char g_tu_used[k_tu_glyphs / 8];
std::uint32_t g_tu_uni[k_tu_glyphs];

// Reads units per em and family name of the embedded font. A font read once
// is not read again; an unreadable font leaves the fallbacks (1000 units,
// "EmbeddedSans", not ready), under which every character maps to glyph 0.
void ttf_global_init() {
  if (g_ttf_upm != 1000 && g_ttf_ready) return;
  auto font = font_liberation_sans();
  TtfInfo info;
  if (ttf_info(font.data(), font.size(), &info) == 1 && info.ok == 1) {
    g_ttf_upm = info.upm;
    std::memcpy(g_ttf_family, info.family, sizeof g_ttf_family);
    g_ttf_family[sizeof g_ttf_family - 1] = 0;
    g_ttf_ready = 1;
  } else {
    g_ttf_upm = 1000;
    std::memcpy(g_ttf_family, "EmbeddedSans", sizeof "EmbeddedSans");
    g_ttf_ready = 0;
  }
}

std::vector<int> tu_used_glyphs() {
  std::vector<int> out;
  for (int w = 0; w < k_tu_glyphs / 64; w++) {
    std::uint64_t bits = 0;
    for (int k = 7; k >= 0; k--) bits = bits << 8 | g_tu_used[w * 8 + k];
    while (bits) {
      out.push_back(w * 64 + std::countr_zero(bits));
      bits &= bits - 1;
    }
  }
  return out;
}

// Both tables hold answer + 2, so that zero (the state of a table that was
// never written) means "not looked up yet" and the failure -1 is stored as 1.
// Glyph ids and advances are 16-bit, so the answers fit. The substitute font
// never changes in a process, so an answer stays true once computed.
namespace {

std::int32_t g_sub_gid[65536];
std::int32_t g_sub_adv[65536];

}  // namespace

int substitute_gid(std::uint32_t cp) {
  if (cp > 0xFFFF) {
    auto font = font_liberation_sans();
    return ttf_unicode_to_gid(font.data(), font.size(), cp);
  }
  std::int32_t &slot = g_sub_gid[cp];
  if (slot == 0) {
    auto font = font_liberation_sans();
    slot = ttf_unicode_to_gid(font.data(), font.size(), cp) + 2;
  }
  return slot - 2;
}

int substitute_advance(std::uint32_t gid) {
  std::int32_t &slot = g_sub_adv[gid & 0xFFFF];
  if (slot == 0) {
    auto font = font_liberation_sans();
    slot = ttf_advance(font.data(), font.size(), gid & 0xFFFF) + 2;
  }
  return slot - 2;
}

void tu_reset() {
  for (int g : tu_used_glyphs()) g_tu_uni[g] = 0;
  std::memset(g_tu_used, 0, sizeof g_tu_used);
}

}  // namespace zyk
