// Fonts and colour data: the TrueType reader, the embedded substitute font
// with the record of the glyphs a conversion uses, the classification of the
// source document's fonts, the ToUnicode CMap text, and the embedded RGB
// display profile.
//
// The road through this folder: the writer reads the substitute font's facts
// once (ttf_global_init), classifies every transferred object (analyse_font),
// maps the characters of the source text to glyph ids of the substitute font
// (substitute_gid; the writer marks the glyphs it draws), and finally writes the widths
// (ttf_advance) and the ToUnicode CMap (tu_emit) of the glyphs marked.
#pragma once

#include <cstddef>
#include <cstdint>
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

// Read once from the embedded font by ttf_global_init.
extern int g_ttf_upm;          // 1000 until read, or when unreadable
extern int g_ttf_ready;        // 1 once read successfully
extern char g_ttf_family[128]; // "Liberation Sans", or "EmbeddedSans"

// Glyph use of one conversion: bit g (byte g / 8, bit g % 8, LSB first) is set
// once glyph g was used; g_tu_uni[g] is the first code point recorded for it
// (0 = none). Both cover every 16-bit glyph id.
inline constexpr int k_tu_glyphs = 65536;
extern unsigned char g_tu_used[k_tu_glyphs / 8];
extern std::uint32_t g_tu_uni[k_tu_glyphs];

void ttf_global_init();
// Clears the glyph-use record; the driver calls it at the start of a run.
// Only the entries of marked glyphs are cleared in g_tu_uni: an entry is
// written only together with its glyph's bit.
void tu_reset();
// The glyph ids marked used, ascending. Walks the bitmap a 64-bit word at a
// time, so a conversion that uses a hundred glyphs costs a thousand word
// tests, not 65,536 bit tests.
std::vector<int> tu_used_glyphs();

// The embedded substitute font's cmap and advances, remembered for the
// process: exactly ttf_unicode_to_gid and ttf_advance on
// font_liberation_sans(), each answer computed once. Code points of the
// BMP and every glyph id have a flat table; code points above the BMP are
// looked up each time (rare in practice).
int substitute_gid(std::uint32_t cp);
int substitute_advance(std::uint32_t gid);

// Appends the ToUnicode CMap of the glyphs marked used.
void tu_emit(Buf *out);

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
bool ttf_subset(const unsigned char *font, std::uint64_t len, const std::vector<int> &used, TtfSubset *out,
                const std::vector<std::pair<std::uint32_t, int>> *chars = nullptr);
// Six capital letters naming a subset, the same for the same glyph list.
std::string subset_tag(const std::vector<int> &glyphs);

}  // namespace zyk
