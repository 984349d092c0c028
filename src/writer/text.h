// Text re-encoding to the substitute font.
//
// Every source font except Type3 is replaced by one Identity-H composite
// font whose codes are two-byte glyph ids of the embedded TrueType font. So
// every string shown with a replaced font, whatever its kind, operator or
// string syntax, is turned into glyph ids: source codes -> Unicode (through
// the source font's own tables) -> glyph of the substitute font, each glyph
// marked used with its character for the widths and the ToUnicode CMap.
//
// Code -> Unicode, first source with an answer:
//   simple fonts:    /ToUnicode, then /Differences glyph names, then the base
//                    encoding (Mac OS Roman when the font names it, else
//                    WinAnsi);
//   composite fonts: codes split by the code-space ranges of the encoding
//                    CMap (two bytes for Identity-H/V), then /ToUnicode, or
//                    the code itself under a predefined UCS-2/UTF-16 CMap;
//   a font selected but not among the listed font resources: WinAnsi.
// A code without a character, or a character the substitute font lacks, is
// drawn with a visible stand-in glyph (never glyph 0) and the show operator
// is wrapped in marked content whose /ActualText carries the known text.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "base/base.h"
#include "font/font.h"
#include "pdf/pdf.h"

namespace zyk {

// ---- limits, in one place ----------------------------------------------------------

// Entries (bfchar lines plus bfrange lines) read from one source CMap.
inline constexpr int k_cmap_max_entries = 1 << 20;
// Characters one source code may stand for (ligatures, decompositions).
inline constexpr int k_max_chars_per_code = 8;
// Code-space ranges read from one CMap; bytes per code.
inline constexpr int k_max_codespace = 64;
inline constexpr int k_max_code_bytes = 4;
// Source fonts whose decoding is kept per rewritten content stream.
inline constexpr int k_font_cache_max = 256;
// Source fonts kept for a whole conversion (SourceFontCache); past it,
// further fonts are read for each stream that lists them.
inline constexpr std::size_t k_font_doc_cache_max = 4096;
// Stand-in for characters without a glyph: U+25A1 WHITE SQUARE.
inline constexpr std::uint32_t k_standin_char = 0x25A1;

// ---- source CMaps (text_cmap.cpp) --------------------------------------------------

struct CodeSpace {
  int nbytes;
  std::uint32_t lo, hi;  // big-endian values of nbytes bytes
  // Per-byte bounds, since a range bounds every byte separately.
  unsigned char lo_b[k_max_code_bytes], hi_b[k_max_code_bytes];
};

// What a source CMap says: its code-space ranges and its code -> Unicode
// entries (a ToUnicode CMap's bfchar and bfrange, both forms).
struct SourceCMap {
  std::vector<CodeSpace> spaces;
  std::map<std::uint32_t, std::u32string> chars;
  struct Range {
    std::uint32_t lo, hi;
    std::u32string base;               // <lo> <hi> <dst>: dst, last char counting up
    std::vector<std::u32string> list;  // <lo> <hi> [<d0> <d1> ...]
  };
  std::vector<Range> ranges;
  // The ranges as disjoint runs of codes sorted by lo, each naming the
  // first range in `ranges` that holds its codes (overlapping ranges: the
  // earlier one wins, as a scan in order would find). Built by cmap_parse;
  // cmap_lookup searches it in logarithmic time.
  struct Run {
    std::uint32_t lo, hi;
    std::uint32_t range;
  };
  std::vector<Run> runs;
};

// Parses CMap text (the decoded stream), adding to what *out holds, and
// indexes the ranges. Malformed parts are passed over.
void cmap_parse(const unsigned char *t, std::size_t len, SourceCMap *out);
// The characters a code maps to; empty when none.
std::u32string cmap_lookup(const SourceCMap &m, std::uint32_t code);
// UTF-16BE bytes -> code points (unpaired surrogates dropped).
std::u32string utf16be_decode(const unsigned char *p, std::size_t n);

// ---- source fonts (text_font.cpp) --------------------------------------------------

enum class TextKind { keep, simple, composite };

// A run of CIDs with one advance (the /W array of a CIDFont).
struct CidWidth {
  std::uint32_t lo, hi;
  float w;
};
// A run of codes that select consecutive CIDs (cidrange / cidchar).
struct CidRange {
  std::uint32_t lo, hi;  // codes
  std::uint32_t cid;     // CID of lo
};

// How the codes of one source font become characters, and how far each
// advances in the source (in 1/1000 of the font size).
struct SourceFont {
  TextKind kind = TextKind::simple;
  // simple: characters per code (empty: none) and the source advance per
  // code (negative: unknown).
  std::u32string simple[256];
  float width[256];
  // composite: code split and mapping.
  std::vector<CodeSpace> spaces;  // empty: two bytes per code
  SourceCMap to_unicode;
  bool has_to_unicode = false;
  bool code_is_utf16 = false;  // a predefined UCS-2 / UTF-16 encoding CMap
  bool vertical = false;       // a ...-V encoding: glyphs advance downwards
  // composite: code -> CID. Identity when cid_identity, else the ranges
  // (sorted by lo); a code outside them is CID 0.
  bool cid_identity = true;
  std::vector<CidRange> cid_ranges;
  // composite: the character of a CID when no ToUnicode answers (from the
  // CIDFont's ordering or its embedded program), indexed by CID; 0: none.
  std::vector<std::uint32_t> cid_chars;
  // composite: horizontal advances (/W sorted by lo, /DW), or, for vertical
  // fonts, the vertical ones (/W2, /DW2: the first number of each entry).
  std::vector<CidWidth> cid_widths;
  float default_width = 1000;
  bool widths_known = false;  // some advance came from the font
  SourceFont() {
    for (float &w : width) w = -1;
  }
};

// A simple font with only the base encoding (WinAnsi, or Mac OS Roman).
void source_font_base(SourceFont *f, int encoding);
// Reads the font dictionary of object obj_num (the analysis record tells its
// kind). Never fails: what cannot be read leaves the base encoding.
void source_font_read(const Doc &d, const FontInfo &info, SourceFont *f);
// Reads a font dictionary given as text (for tests and direct fonts).
void source_font_from_dict(const Doc &d, const unsigned char *t, int len, int kind, int encoding, SourceFont *f);

// One code of a string: its bytes and characters.
struct TextCode {
  std::uint32_t code;
  int nbytes;
  std::u32string chars;
  float width = -1;  // source advance in 1/1000 of the font size; negative: unknown
};
// Splits string bytes into codes and maps each to characters, at most
// max_codes of them; returns the bytes the codes took (all n unless
// max_codes stopped it), so a long string can be taken in parts.
std::size_t source_font_decode(const SourceFont &f, const unsigned char *s, std::size_t n, std::vector<TextCode> *out,
                               std::size_t max_codes = ~std::size_t{0});

// ---- advances kept (text_advance.cpp) ----------------------------------------------

// The text state (TextState, pdf/content.h) decides how far shown text
// advances: the walker keeps it across q/Q and BT/ET.

// One operand of a show operation: a string's codes, or a TJ number.
struct ShowItem {
  bool is_number = false;
  double number = 0;
  std::vector<TextCode> codes;
};

// What a show operation drew: whether a stand-in glyph was drawn, and then
// (only then) the UTF-16BE hex digits of the known characters, for
// /ActualText.
struct ShowMarks {
  std::string actual;
  bool standin = false;
};

// The output glyphs of one source code (marked used): one per character,
// Latin presentation ligatures as their letters, or one stand-in glyph when
// the code has no character or the substitute font lacks one.
std::vector<int> code_glyphs(const TextCode &c, GlyphUse &use, ShowMarks *marks);
// The UTF-16BE hex digits of one character (a surrogate pair beyond the
// BMP), as /ActualText carries it.
void put_utf16_hex(std::string *hex, std::uint32_t u);
// A glyph id as the two bytes of a literal string, escaped where needed.
void put_glyph_bytes(std::string *out, int g);
// The advance the output's /W array gives glyph g (1/1000 em); the font
// objects must write the same value.
int text_glyph_width(int g);
// Appends the operators that show `items` in the substitute font with the
// source's advances, word by word (replacing the operands and the Tj or TJ
// operator; a ' or " operator's line move is the caller's).
void show_write(const SourceFont &f, const TextState &ts, const std::vector<ShowItem> &items, GlyphUse &use,
                ShowMarks *marks, std::string *out);

// ---- glyph use --------------------------------------------------------------------

// Glyph id of the substitute font for a character (marked used, with the
// character recorded), or -1 when the font has none (glyph 0 never answers).
int text_glyph(GlyphUse &use, std::uint32_t u);
// The stand-in glyph (marked used, recorded as U+25A1).
int text_standin_glyph(GlyphUse &use);

// The /W array body of the substitute font for the glyphs marked used
// (fonts.cpp): lines "first last width".
std::string width_runs(const GlyphUse &use, const unsigned char *font, std::uint64_t len, int upm);

// ---- the content walk (text_rewrite.cpp) ----------------------------------------------

// The font resources of a resources dictionary text, or of a reference to
// one (its /Font entry, given inline or by reference): full resource names (#xx escapes resolved) with
// the font each names, read here. Direct font dictionaries are read from
// their text.
struct ResourceFonts {
  std::map<std::string, std::shared_ptr<const SourceFont>> by_name;
};
// The source fonts one conversion has read, by object number. Reading a
// font (its analysis, the decoding of its programs and CMaps) depends on
// the object alone, and the same fonts are listed by page after page, so
// each is read once per conversion; a null entry remembers a font that
// could not be analysed. It belongs to the conversion (Transfer), so
// nothing is shared between documents.
struct SourceFontCache {
  std::map<int, std::shared_ptr<const SourceFont>> by_num;
};
// cache may be null: fonts are then read for this call alone.
void resource_fonts(const Doc &d, const unsigned char *res, int res_len, ResourceFonts *out,
                    SourceFontCache *cache = nullptr);

// Rewrites one content stream (page, form XObject or tiling pattern) for the
// substitute font, with the fonts of the stream's own resources. `map`
// (source -> output object numbers, may be null) renumbers references in
// the content.
void text_rewrite(const ResourceFonts &fonts, const unsigned char *content, int len, const ObjMap *map, GlyphUse &use,
                  std::string *out);
// The same rewriting as a handler, to chain with others over one walk. The
// fonts and the map must outlive it.
std::unique_ptr<ContentHandler> text_recode_handler(const ResourceFonts &fonts, const ObjMap *map, GlyphUse &use);

}  // namespace zyk
