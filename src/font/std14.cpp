// The 14 standard fonts: which one a /BaseFont names, and their widths.
//
// Producers name the standard faces in several ways: the PostScript names
// (Helvetica-BoldOblique), the TrueType names of the same designs (Arial,
// ArialMT, TimesNewRomanPSMT, CourierNew) and style suffixes after a comma
// or hyphen (Arial,Bold; TimesNewRoman,BoldItalic). A name is split into its
// family and its style words, so all of these find the same metrics; a
// subset tag (six capitals and "+") is ignored. Anything else is no standard
// font: its widths come from its own dictionary or not at all.
#include <algorithm>
#include <cstring>

#include "font/source_font.h"

namespace zyk {

namespace {

bool has(std::string_view s, std::string_view part) { return s.find(part) != std::string_view::npos; }

}  // namespace

int std14_index(std::string_view n) {
  if (n.size() > 7 && n[6] == '+') {
    bool tag = true;
    for (int i = 0; i < 6; i++) tag = tag && n[static_cast<std::size_t>(i)] >= 'A' && n[static_cast<std::size_t>(i)] <= 'Z';
    if (tag) n.remove_prefix(7);
  }
  if (n == "Symbol") return 8;
  if (n == "ZapfDingbats" || n == "Dingbats") return 13;
  std::size_t cut = std::min(n.find(','), n.find('-'));
  std::string_view family = n.substr(0, cut);
  std::string_view style = cut == std::string_view::npos ? std::string_view() : n.substr(cut + 1);
  // Styles may also be glued to the family (ArialBold, TimesNewRomanPS-BoldMT).
  for (std::string_view f : {"ArialMT", "Arial", "Helvetica", "TimesNewRomanPSMT", "TimesNewRomanPS", "TimesNewRoman",
                             "Times", "CourierNewPSMT", "CourierNewPS", "CourierNew", "Courier"}) {
    if (family.size() > f.size() && family.substr(0, f.size()) == f && style.empty()) {
      style = family.substr(f.size());
      family = f;
      break;
    }
  }
  int base;
  if (family == "Helvetica" || family == "Arial" || family == "ArialMT")
    base = 4;
  else if (family == "Times" || family == "TimesNewRoman" || family == "TimesNewRomanPS" || family == "TimesNewRomanPSMT")
    base = 9;
  else if (family == "Courier" || family == "CourierNew" || family == "CourierNewPS" || family == "CourierNewPSMT")
    base = 0;
  else
    return -1;
  bool bold = has(style, "Bold") || has(style, "Black") || has(style, "Heavy");
  bool italic = has(style, "Italic") || has(style, "Oblique");
  // Remaining style words other than these (Condensed, Narrow, Light...) are
  // other designs whose widths differ: no standard font.
  std::string rest(style);
  for (const char *w : {"Bold", "Italic", "Oblique", "Roman", "Regular", "Normal", "Medium", "Book", "MT", "PS"}) {
    for (std::size_t at; (at = rest.find(w)) != std::string::npos;) rest.erase(at, std::strlen(w));
  }
  if (!rest.empty()) return -1;
  if (base == 9) return bold && italic ? 10 : bold ? 9 : italic ? 11 : 12;
  // Courier and Helvetica: plain, Bold, BoldOblique, Oblique.
  return base + (bold && italic ? 2 : bold ? 1 : italic ? 3 : 0);
}

int std14_width(int font, std::uint32_t u) {
  if (font < 0 || font >= 14 || u > 0xFFFF) return -1;
  const Std14Font &f = k_std14_fonts[font];
  const Std14Width *e = f.widths + f.count;
  const Std14Width *it = std::lower_bound(f.widths, e, u, [](const Std14Width &w, std::uint32_t v) { return w.u < v; });
  return it != e && it->u == u ? it->w : -1;
}

}  // namespace zyk
