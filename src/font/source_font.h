// What the fonts of a source document say about their characters and their
// widths, beyond the font dictionary itself: the base encodings a simple font
// falls back on, the built-in encodings of embedded font programs (Type 1,
// CFF, TrueType), the metrics of the 14 standard fonts, and the predefined
// CJK CMaps. The writer's text re-encoding combines these (writer/text.h).
//
// Every reader here takes a font program as a pointer and a length, reads
// only inside it, and answers "nothing known" for anything it cannot read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace zyk {

// ---- fixed tables (generated: tools/gen_std14.py, tools/gen_font_name_tables.py) ----

struct Std14Width {
  std::uint16_t u;  // Unicode value of the glyph
  std::uint16_t w;  // advance in 1/1000 em
};
struct Std14Font {
  const char *name;
  const Std14Width *widths;  // sorted by u
  int count;
};
extern const Std14Font k_std14_fonts[14];

// Built-in encodings, code -> Unicode (0: no glyph at that code): the
// standard Latin text fonts' StandardEncoding, and the encodings of Symbol
// and ZapfDingbats.
extern const std::uint16_t k_standard_encoding[256];
extern const std::uint16_t k_symbol_encoding[256];
extern const std::uint16_t k_dingbats_encoding[256];

inline constexpr int k_cff_std_string_count = 391;
extern const char *const k_cff_std_strings[k_cff_std_string_count];
inline constexpr int k_mac_glyph_name_count = 258;
extern const char *const k_mac_glyph_names[k_mac_glyph_name_count];

// ---- the standard 14 fonts -----------------------------------------------------

// Index into k_std14_fonts of the standard font a /BaseFont names, or -1. A
// subset tag ("ABCDEF+") is ignored, and the names producers use for the
// same faces count too (Arial and Helvetica, TimesNewRoman and Times-Roman,
// CourierNew and Courier, with ",Bold", "-BoldItalic", "MT" styles).
int std14_index(std::string_view base_font);
// Advance of character u in standard font `font` (1/1000 em), or -1.
int std14_width(int font, std::uint32_t u);

// ---- built-in encodings of embedded programs ------------------------------------

// Type 1 (FontFile): the /Encoding of the clear-text part. True when one was
// found; *standard is set when it is StandardEncoding, otherwise names[code]
// holds the glyph names given by "dup code /name put" (empty: none).
[[nodiscard]] bool type1_builtin_encoding(const unsigned char *p, std::size_t n, std::string names[256],
                                          bool *standard);

// CFF (FontFile3 /Type1C or /CIDFontType0C): the first font of the set.
struct CffFont {
  bool cid_keyed = false;
  std::string registry, ordering;      // of a CID-keyed font's ROS
  int num_glyphs = 0;
  std::vector<std::string> glyph_names;  // by glyph id (name-keyed fonts)
  std::vector<std::uint16_t> gid_cid;    // by glyph id (CID-keyed fonts)
  bool standard_encoding = true;         // encoding offset 0
  int code_gid[256];                     // custom encoding: glyph id per code, or -1
};
[[nodiscard]] bool cff_read(const unsigned char *p, std::size_t n, CffFont *out);

// TrueType: code -> glyph id through the symbolic (3,0) subtable (codes at
// 0xF000 + code, or the code itself), else the (1,0) subtable; -1 when the
// font has neither or maps nothing.
struct TtfCmaps {
  std::vector<std::int32_t> symbolic;  // 256 entries, or empty
  std::vector<std::int32_t> mac_roman; // 256 entries, or empty
  // Per glyph id: the character the font's Unicode subtable (3,1)/(3,10)/(0,x)
  // gives it (the lowest code point mapped to the glyph), 0 for none.
  std::vector<std::uint32_t> gid_unicode;
  // Per glyph id: the character of its 'post' glyph name, 0 for none.
  std::vector<std::uint32_t> gid_post;
};
[[nodiscard]] bool ttf_read_cmaps(const unsigned char *font, std::size_t len, TtfCmaps *out);

// ---- predefined CJK CMaps (data/cjk-cmaps.bin) -----------------------------------

// A predefined CMap by name: code-space ranges and code -> CID runs, sorted
// by low code. The Unicode CMaps (Uni...-UCS2-H, -UTF16-V, ...) all answer
// with their ordering's UTF-16 horizontal CMap: their codes are characters
// already, and their CIDs serve the widths.
struct PredefinedCMap {
  int wmode = 0;
  int ordering = -1;  // 0 Japan1, 1 GB1, 2 CNS1, 3 Korea1
  struct Space {
    int nbytes;
    std::uint32_t lo, hi;
  };
  std::vector<Space> spaces;
  struct Range {
    std::uint32_t lo, hi, cid;
  };
  std::vector<Range> ranges;
};
[[nodiscard]] bool predefined_cmap(std::string_view name, PredefinedCMap *out);
// The compressed resource itself (embedded.cpp).
std::span<const unsigned char> cjk_cmap_data();

// The characters of the CIDs of an Adobe ordering ("Japan1", "GB1", "CNS1",
// "Korea1"), indexed by CID (0: none). False for any other ordering.
[[nodiscard]] bool cid_ordering_chars(std::string_view ordering, std::vector<std::uint32_t> *out);

}  // namespace zyk
