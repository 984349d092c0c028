// Glyph names to Unicode: the Adobe Glyph List (generated table) and the two
// numeric forms of glyph names, used to read the /Differences of a source
// font's encoding.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace zyk {

struct GlyphName {
  const char *name;
  std::uint16_t code;
};
extern const GlyphName k_glyph_names[];
extern const int k_glyph_names_count;

// The characters a glyph name stands for, in the order of its components:
// the part before the first "." counts, components are separated by "_"
// ("f_i" is f then i), and each component is an Adobe Glyph List name,
// "uni" followed by groups of four upper-case hexadecimal digits (BMP
// values, surrogates excluded), or "u" followed by four to six of them (up
// to U+10FFFF, surrogates excluded). Empty when any component has no
// meaning: a partly understood name would put wrong text in the output.
std::u32string glyph_name_to_unicode(std::string_view name);

}  // namespace zyk
