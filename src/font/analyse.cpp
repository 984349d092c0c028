// Source font analysis: which font resources a page names, and what kind of
// font (and which single-byte encoding) each font dictionary is.
//
// Both readers work on raw dictionary text with the scanning primitives of
// the PDF layer; there is no object model. page_fonts_collect deliberately
// ignores nesting inside a /Font dictionary: any name followed by an indirect
// reference is a font resource, which is what every /Font dictionary holds.
//
// analyse_font decides from the object's own, top-level keys. A font
// dictionary is a non-stream object whose top-level /Type is /Font, or, for
// producers that leave /Type out, whose top-level /Subtype is one of the font
// subtypes. Looking at the top level matters: a form XObject or a resources
// dictionary that merely holds a /Font sub-dictionary, or an ExtGState with a
// /Font entry, is no font and must be copied rather than replaced by the
// substitute font; and a composite font with an inline descendant, or a
// Type3 font with inline resources, must be judged by its own /Subtype and
// /Encoding, not by the first ones that appear in its text.
#include <cstdlib>
#include <cstring>

#include "font/font.h"

namespace zyk {
namespace {

constexpr int k_page_font_list_start = 16;

bool list_push(PageFontList *l, const byte *name, int n, int num) {
  if (l->count == l->cap) {
    long long ncap = l->cap ? 2LL * l->cap : k_page_font_list_start;
    if (ncap > 0x7fffffff / static_cast<long long>(sizeof(PageFont))) return false;
    void *p = std::realloc(l->items, static_cast<std::size_t>(ncap) * sizeof(PageFont));
    if (!p) return false;
    l->items = static_cast<PageFont *>(p);
    l->cap = static_cast<int>(ncap);
  }
  PageFont &f = l->items[l->count++];
  std::memcpy(f.name, name, static_cast<std::size_t>(n));
  f.name[n] = 0;
  f.obj_num = num;
  return true;
}

// End of the run of name characters starting at p (bounded by end).
int name_end(const byte *t, int p, int end) {
  while (p < end && is_name_cont(t[p])) p++;
  return p;
}

// An indirect reference "N [G] R" at pos (white space allowed before each
// part); the R must not run on into a word. On success *num is N and *after
// the position right after the R.
bool read_ref(const byte *t, int pos, int end, int *num, int *after) {
  int i = skip_ws(t, pos, end);
  int start = i;
  int n = parse_int_at(t, end, &i);
  if (i == start) return false;  // no integer (parse_int_at leaves i unmoved)
  i = skip_ws(t, i, end);
  if (i < end && is_digit(t[i])) {
    parse_int_at(t, end, &i);
    i = skip_ws(t, i, end);
  }
  if (i >= end || t[i] != 'R' || (i + 1 < end && is_word(t[i + 1]))) return false;
  *num = n;
  *after = i + 1;
  return true;
}

// Appends every "/Name N G R" found in [s, e) with a name of 1 to 63
// characters and N > 0. Returns false when the list could not grow.
bool scan_entries(const byte *t, int s, int e, PageFontList *list) {
  int p = s;
  while (p < e) {
    const void *hit = std::memchr(t + p, '/', static_cast<std::size_t>(e - p));
    if (!hit) break;
    int q = static_cast<int>(static_cast<const byte *>(hit) - t);
    if (q + 1 >= e) break;  // a slash needs at least one byte after it
    int ns = q + 1;
    int ne = name_end(t, ns, e);
    int num = 0, after = 0;
    if (read_ref(t, ne, e, &num, &after)) {
      int n = ne - ns;
      if (n >= 1 && n <= k_font_name_max && num > 0 && !list_push(list, t + ns, n, num)) return false;
      p = after;
    } else {
      p = skip_ws(t, ne, e);
    }
  }
  return true;
}

// End (exclusive) of the inline dictionary whose "<<" is at p: after the ">>"
// that closes the first level, literal strings passed over whole; the end of
// the text when it is not closed.
int inline_dict_end(const byte *t, int p, int end) {
  int depth = 0;
  int i = p;
  while (i < end) {
    byte c = t[i];
    if (c == '<' && i + 1 < end && t[i + 1] == '<') {
      depth++;
      i += 2;
    } else if (c == '>' && i + 1 < end && t[i + 1] == '>') {
      i += 2;
      if (--depth == 0) return i;
    } else if (c == '(') {
      int nest = 1;
      i++;
      while (i < end && nest > 0) {
        if (t[i] == '\\')
          i++;
        else if (t[i] == '(')
          nest++;
        else if (t[i] == ')')
          nest--;
        i++;
      }
    } else {
      i++;
    }
  }
  return end;
}

// The value of a name key at p (the position of its slash, key length kl) when
// it is itself a name: the position of the value's first character after the
// slash, or -1.
int name_value(const byte *t, int p, int kl, int end) {
  int i = skip_ws(t, p + 1 + kl, end);
  if (i >= end || t[i] != '/' || i + 1 >= end) return -1;
  return i + 1;
}

bool value_starts(const byte *t, int v, int end, const char *s) {
  int n = static_cast<int>(std::strlen(s));
  return v >= 0 && end - v >= n && std::memcmp(t + v, s, static_cast<std::size_t>(n)) == 0;
}

bool value_is(const byte *t, int v, int end, const char *s) {
  int n = static_cast<int>(std::strlen(s));
  return value_starts(t, v, end, s) && (v + n == end || !is_name_cont(t[v + n]));
}

// Is the object a font dictionary? Decided by its top-level /Type, or when it
// has none by its top-level /Subtype (exact font subtype names, so that e.g.
// a Type1C font program stream or a /Subtype /Form XObject never qualifies).
bool is_font_dict(const byte *t, int s, int end) {
  int p = find_name_top(t, end, s, end, "Type");
  if (p >= 0) return value_is(t, name_value(t, p, 4, end), end, "Font");
  p = find_name_top(t, end, s, end, "Subtype");
  if (p < 0) return false;
  int v = name_value(t, p, 7, end);
  for (const char *sub : {"Type0", "Type1", "MMType1", "Type3", "TrueType", "CIDFontType0", "CIDFontType2"})
    if (value_is(t, v, end, sub)) return true;
  return false;
}

}  // namespace

void page_font_list_free(PageFontList *l) {
  if (!l) return;
  std::free(l->items);
  *l = PageFontList{};
}

// Walks the resources text for the key /Font. Its value is either an inline
// dictionary (its entries are scanned in place) or a reference to an object
// whose dictionary text is scanned; any other value is passed over. Several
// /Font keys (a malformed dictionary) each contribute their entries in order.
void page_fonts_collect(const unsigned char *res, int res_len, PageFontList *list, const Doc *d) {
  if (!res || res_len <= 0 || !list) return;
  int i = 0;
  while (i < res_len) {
    if (res[i] != '/' || i + 1 >= res_len) {
      i++;
      continue;
    }
    int ns = i + 1;
    int ne = name_end(res, ns, res_len);
    if (ne - ns != 4 || std::memcmp(res + ns, "Font", 4) != 0) {
      i = ne;
      continue;
    }
    int v = skip_ws(res, ne, res_len);
    if (v >= res_len) return;
    if (v + 1 < res_len && res[v] == '<' && res[v + 1] == '<') {
      int de = inline_dict_end(res, v, res_len);
      scan_entries(res, v + 2, de, list);
      i = de;
      continue;
    }
    int num = 0, after = 0;
    if (d && is_digit(res[v]) && read_ref(res, v, res_len, &num, &after) && num > 0) {
      int k = obj_find(&d->objs, num);
      const byte *t = nullptr;
      int s = 0, e = 0;
      if (k >= 0 && dict_range(d->pdf, d->pdf_len, d->objs.elems[k], &t, &s, &e)) scan_entries(t, s, e, list);
    }
    i = ne;
  }
}

// Kind: /Subtype Type0 and Type3 are composite and Type3 fonts; Type1,
// TrueType and MMType1 (compared as prefixes) are simple fonts, and so is any
// other font dictionary carrying a /FontFile2 or /FontDescriptor (CIDFont
// descendants land here). Encoding: Mac OS Roman when /Encoding names
// /MacRoman...; WinAnsi for every other value, including encoding dictionaries
// (their /BaseEncoding and /Differences are not followed).
int analyse_font(const Doc *d, const ObjEntry &e, FontInfo *out) {
  out->obj_num = e.num;
  out->kind = FONT_OTHER;
  out->encoding = ENC_NONE;
  const byte *t = nullptr;
  int s = 0, end = 0;
  if (!d || e.is_stream || !dict_range(d->pdf, d->pdf_len, e, &t, &s, &end) || !t) return 0;
  if (!is_font_dict(t, s, end)) return 0;

  bool simple = false;
  int p = find_name_top(t, end, s, end, "Subtype");
  if (p >= 0) {
    int v = name_value(t, p, 7, end);
    if (value_starts(t, v, end, "Type0")) {
      out->kind = FONT_TYPE0;
      return 1;
    }
    if (value_starts(t, v, end, "Type3")) {
      out->kind = FONT_TYPE3;
      return 1;
    }
    simple = value_starts(t, v, end, "Type1") || value_starts(t, v, end, "TrueTy") || value_starts(t, v, end, "MMType");
  }
  if (simple || find_name(t, end, s, end, "FontFile2") >= 0 || find_name(t, end, s, end, "FontDescriptor") >= 0)
    out->kind = FONT_SIMPLE;

  out->encoding = ENC_WINANSI;
  p = find_name_top(t, end, s, end, "Encoding");
  if (p >= 0 && value_starts(t, name_value(t, p, 8, end), end, "MacRoman")) out->encoding = ENC_MACROMAN;
  return 1;
}

}  // namespace zyk
