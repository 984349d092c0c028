// Source font analysis: what kind of font (and which single-byte encoding)
// a font dictionary is.
//
// analyse_font decides from the object's own, top-level keys, read with the
// tokenizer. A font dictionary is a non-stream object whose /Type is /Font,
// or, for producers that leave /Type out, whose /Subtype is one of the font
// subtypes. Looking at the top level matters: a form XObject or a resources
// dictionary that merely holds a /Font sub-dictionary, or an ExtGState with a
// /Font entry, is no font and must be copied rather than replaced by the
// substitute font; a composite font with an inline descendant, or a Type3
// font with inline resources, must be judged by its own /Subtype and
// /Encoding, not by the first ones that appear in its text; and a key or a
// value written inside a string or a comment counts for nothing.
#include <cstring>
#include <string_view>
#include <vector>

#include "font/font.h"

namespace zyk {
namespace {

// The name an entry's value is, without its slash and as written (#xx not
// resolved); empty when the entry is absent or its value is no name.
std::string_view name_value(const byte *t, const DictEntry *e) {
  if (!e || t[e->val] != '/') return {};
  return {reinterpret_cast<const char *>(t) + e->val + 1, static_cast<std::size_t>(e->val_end - e->val - 1)};
}

bool starts(std::string_view v, const char *prefix) { return v.substr(0, std::strlen(prefix)) == prefix; }

// Is the object a font dictionary? Decided by its /Type, or when it has none
// by its /Subtype (exact font subtype names, so that e.g. a Type1C font
// program stream or a /Subtype /Form XObject never qualifies).
bool is_font_dict(const byte *t, const std::vector<DictEntry> &es) {
  if (const DictEntry *type = dict_find(t, es, "Type")) return name_value(t, type) == "Font";
  std::string_view sub = name_value(t, dict_find(t, es, "Subtype"));
  for (const char *name : {"Type0", "Type1", "MMType1", "Type3", "TrueType", "CIDFontType0", "CIDFontType2"})
    if (sub == name) return true;
  return false;
}

}  // namespace

// Kind: /Subtype Type0 and Type3 are composite and Type3 fonts; Type1,
// TrueType and MMType1 (compared as prefixes) are simple fonts, and so is any
// other font dictionary with a /FontFile2 or /FontDescriptor entry (CIDFont
// descendants land here). Encoding: Mac OS Roman when /Encoding names
// /MacRoman...; WinAnsi for every other value, including encoding
// dictionaries (their /BaseEncoding and /Differences are not followed). An
// object whose text does not parse as a dictionary is no font.
int analyse_font(const Doc *d, const ObjEntry &e, FontInfo *out) {
  out->obj_num = e.num;
  out->kind = FONT_OTHER;
  out->encoding = ENC_NONE;
  const byte *t = nullptr;
  int len = 0, close = 0;
  std::vector<DictEntry> es;
  if (!d || e.is_stream || !object_text(*d, e, &t, &len) || !dict_entries(t, 0, len, &es, &close)) return 0;
  if (!is_font_dict(t, es)) return 0;

  std::string_view sub = name_value(t, dict_find(t, es, "Subtype"));
  if (starts(sub, "Type0")) {
    out->kind = FONT_TYPE0;
    return 1;
  }
  if (starts(sub, "Type3")) {
    out->kind = FONT_TYPE3;
    return 1;
  }
  if (starts(sub, "Type1") || starts(sub, "TrueTy") || starts(sub, "MMType") || dict_find(t, es, "FontFile2") ||
      dict_find(t, es, "FontDescriptor"))
    out->kind = FONT_SIMPLE;
  out->encoding = starts(name_value(t, dict_find(t, es, "Encoding")), "MacRoman") ? ENC_MACROMAN : ENC_WINANSI;
  return 1;
}

}  // namespace zyk
