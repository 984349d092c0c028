// Glyph name decoding (see glyph_names.h for the rules).
#include <algorithm>
#include <cstring>

#include "font/glyph_names.h"

namespace zyk {

namespace {

// Longest glyph name looked at; longer names are no font's real names.
constexpr std::size_t k_glyph_name_max = 127;

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;  // lower case is not allowed by the naming rules
}

bool scalar_ok(std::uint32_t u) { return u <= 0x10FFFF && !(u >= 0xD800 && u <= 0xDFFF); }

// One component appended to out; false when it has no meaning.
bool component(std::string_view c, std::u32string *out) {
  if (c.empty()) return false;
  const GlyphName *first = k_glyph_names, *last = k_glyph_names + k_glyph_names_count;
  const GlyphName *it = std::lower_bound(first, last, c, [](const GlyphName &g, std::string_view key) {
    return std::string_view(g.name) < key;
  });
  if (it != last && std::string_view(it->name) == c) {
    out->push_back(it->code);
    return true;
  }
  if (c.size() >= 7 && c.substr(0, 3) == "uni" && (c.size() - 3) % 4 == 0) {
    std::u32string s;
    for (std::size_t i = 3; i < c.size(); i += 4) {
      std::uint32_t u = 0;
      for (std::size_t k = i; k < i + 4; k++) {
        int h = hex_value(c[k]);
        if (h < 0) return false;
        u = u << 4 | static_cast<std::uint32_t>(h);
      }
      if (!scalar_ok(u)) return false;
      s.push_back(u);
    }
    *out += s;
    return true;
  }
  if (c.size() >= 5 && c.size() <= 7 && c[0] == 'u') {
    std::uint32_t u = 0;
    for (std::size_t k = 1; k < c.size(); k++) {
      int h = hex_value(c[k]);
      if (h < 0) return false;
      u = u << 4 | static_cast<std::uint32_t>(h);
    }
    if (!scalar_ok(u)) return false;
    out->push_back(u);
    return true;
  }
  return false;
}

}  // namespace

std::u32string glyph_name_to_unicode(std::string_view name) {
  if (name.size() > k_glyph_name_max) return {};
  name = name.substr(0, std::min(name.find('.'), name.size()));
  std::u32string out;
  while (true) {
    std::size_t us = name.find('_');
    if (!component(name.substr(0, us), &out)) return {};
    if (us == std::string_view::npos) break;
    name.remove_prefix(us + 1);
  }
  return out;
}

}  // namespace zyk
