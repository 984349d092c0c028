// Fonts and colour data: the TrueType reader, the embedded substitute font
// with the record of the glyphs a conversion uses, the classification of the
// source document's fonts, the ToUnicode CMap text, and the embedded RGB
// display profile.
//
// The road through this folder: the writer reads the substitute font's facts
// (substitute_font, read once per process), classifies every transferred
// object (analyse_font), maps the characters of the source text to glyph ids
// of the substitute font (the writer marks the glyphs it draws in the
// conversion's GlyphUse), and finally writes the widths (ttf_advance) and the
// ToUnicode CMap (tu_emit) of the glyphs marked.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "base/base.h"
#include "pdf/pdf.h"

namespace zyk {

// ---- TrueType reader ----------------------------------------------------------
//
// Every operation takes the font as a pointer to its first byte and its length,
// reads only inside those bytes, keeps nothing, and fails before reading
// anything when the length is below 12 (the sfnt header). A table whose
// directory record points past the end of the file counts as absent.

struct TtfInfo {
  int upm;            // head.unitsPerEm
  int num_glyphs;     // maxp.numGlyphs
  char family[128];   // printable ASCII, NUL-terminated, at most 127 characters
  int ok;             // 1 once ttf_info has completed
};

// 1 when the first directory record with this 4-byte tag lies within the
// file; its offset and length are reported whenever a record matched.
int find_table(const unsigned char *font, std::uint64_t len, const char tag[4], std::uint32_t *off,
               std::uint32_t *length);
int ttf_info(const unsigned char *font, std::uint64_t len, TtfInfo *out);
// Glyph id the font's preferred Unicode cmap subtable gives the code point,
// or -1 when it maps nothing to it.
int ttf_unicode_to_gid(const unsigned char *font, std::uint64_t len, std::uint32_t cp);
// Advance width in font units of glyph id (low 16 bits of gid), or -1.
int ttf_advance(const unsigned char *font, std::uint64_t len, std::uint32_t gid);

// ---- single-byte encodings ------------------------------------------------------

inline constexpr std::int32_t k_no_char = 0xFFFF;
// Windows code page 1252 (the PDF WinAnsi character set), code -> Unicode.
extern const std::int32_t winansi_map[256];
// Apple's Mac OS Roman (the revision with the euro sign) for 0x80..0xFF.
extern const std::int32_t mac_roman_hi[128];
// Unicode code point of a code, or -1 (out of 0..255, or undefined).
int winansi_to_unicode(int code);
int macroman_to_unicode(int code);

// ---- embedded data ------------------------------------------------------------------

// Liberation Sans Regular 1.07.4, embedded whole in every output.
std::span<const unsigned char> font_liberation_sans();
// The RGB display profile (sRGB primaries and tone curve, ICC 2.1.0) used as
// output intent and default RGB colour space.
std::span<const unsigned char> icc_srgb_profile();
// The CMYK output profile (the naive CMYK-to-RGB mapping on that sRGB space,
// ICC 2.1.0) used for device CMYK that cannot be turned into RGB in place.
std::span<const unsigned char> icc_cmyk_profile();

// ---- source font analysis ---------------------------------------------------------

enum : int { FONT_OTHER = 0, FONT_SIMPLE = 1, FONT_TYPE0 = 2, FONT_TYPE3 = 4 };
enum : int { ENC_NONE = 0, ENC_WINANSI = 1, ENC_MACROMAN = 2 };

struct FontInfo {
  int obj_num;
  int kind;       // FONT_*
  int encoding;   // ENC_*
};

// 1 when the object is a font dictionary (record filled with kind and
// encoding), 0 otherwise (record holds obj_num, FONT_OTHER, ENC_NONE).
int analyse_font(const Doc *d, const ObjEntry &e, FontInfo *out);

// ---- substitute font facts and glyph use ----------------------------------------------

// What the conversion needs of the embedded substitute font: units per em,
// family name, and its cmap and advances, exactly ttf_unicode_to_gid and
// ttf_advance on font_liberation_sans(). One for the process, safe to use
// from any thread.
class SubstituteFont {
 public:
  SubstituteFont();
  bool ready = false;  // the font could be read
  int upm = 1000;      // units per em, always positive (1000 when not ready)
  std::string family = "EmbeddedSans";
  // Glyph id for a code point (-1: none), and the advance of a glyph id
  // (its low 16 bits). Each answer for a BMP code point or a glyph id is
  // computed on first use and remembered; code points above the BMP are
  // looked up each time (rare in practice).
  int gid(std::uint32_t cp) const;
  int advance(std::uint32_t gid) const;

 private:
  // Answer + 2 per slot, so that 0 means "not looked up yet". Relaxed
  // atomics: threads that race on a slot compute and store the same value.
  std::unique_ptr<std::atomic<std::int32_t>[]> gids_, advances_;
};
const SubstituteFont &substitute_font();

// The glyphs of the substitute font one conversion uses, each with the
// first character it was drawn for. Covers every 16-bit glyph id.
inline constexpr int k_tu_glyphs = 65536;
class GlyphUse {
 public:
  GlyphUse();
  // Marks glyph g used; u (0 = none) is recorded when g has no character
  // yet. Ids outside 0..65535 are ignored.
  void mark(int g, std::uint32_t u);
  // The glyph ids marked used, ascending. Walks the record a 64-bit word at
  // a time, so a conversion that uses a hundred glyphs costs a thousand
  // word tests, not 65,536 bit tests.
  std::vector<int> glyphs() const;
  // The character recorded for g, 0 when none.
  std::uint32_t first_char(int g) const;

 private:
  std::vector<std::uint64_t> used_;  // bit g % 64 of word g / 64
  std::vector<std::uint32_t> uni_;
};

// Appends the ToUnicode CMap of the glyphs marked used.
void tu_emit(const GlyphUse &use, Buf *out);

// ---- font subsets (subset.cpp) ----------------------------------------------------------

struct TtfSubset {
  std::string program;      // the TrueType file
  std::vector<int> glyphs;  // glyph ids whose outlines it holds, ascending
};
// A TrueType program with the outlines and metrics of glyph 0, of the
// glyphs given and of the components of composite ones; every other glyph
// keeps its id with an empty outline and a zero metric. With `chars`
// (code point, glyph id) the cmap maps just those of them whose glyph is
// kept; without, the source's cmap is copied. False when the font lacks a
// table a subset needs (head, hhea, maxp, hmtx, loca, glyf) or its loca or
// hmtx is inconsistent.
[[nodiscard]] bool ttf_subset(const unsigned char *font, std::uint64_t len, const std::vector<int> &used,
                              TtfSubset *out, const std::vector<std::pair<std::uint32_t, int>> *chars = nullptr);
// Six capital letters naming a subset, the same for the same glyph list.
std::string subset_tag(const std::vector<int> &glyphs);

}  // namespace zyk
