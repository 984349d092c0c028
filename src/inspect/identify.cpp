// PDF/A identification: which part of ISO 19005 a loaded document declares.
//
// PDF/A asks a reader to take the part from the pdfaid:part property of the
// XMP packet that the catalog's /Metadata names (the declaration, below).
// When there is no such property to read, a heuristic on the output intents
// is the fallback: an output intent whose subtype is GTS_PDFA1 (the PDF/A output
// intent of every part) is taken as a declaration of part 1.
//
// Decisions, each taken so that the answer is the one the file states and
// not an accident of byte layout:
//   - The XMP property is read in both of its serialisations, as an
//     attribute (pdfaid:part="2", single or double quotes) and as an element
//     (<pdfaid:part>2</pdfaid:part>). The first occurrence that is such a
//     property decides. Mentions that are no property (a closing tag, a
//     longer name) are passed over. The prefix must be exactly pdfaid:
//     namespaces are not resolved. The packet ends at its first NUL byte,
//     so a UTF-16 packet is not read.
//   - A property whose value is not a single digit 1 to 3 (part 4, say) is
//     a declaration this system does not recognise: the result is 0, and
//     the fallback is not asked, since the output intent of a part 4 file would
//     otherwise make it a part 1 file.
//   - The output-intent array, direct or an indirect object of its own, is
//     walked element by element up to its ']': direct dictionaries and
//     indirect references (N G R) are both looked into. A PDF/X output
//     intent (GTS_PDFX) declares no PDF/A part and gives nothing.
// Every search is bounded by the range it is given; each referenced object
// is looked into at most once per call, so the work stays linear in the
// size of the file.
#include <cstring>
#include <string>
#include <vector>

#include "inspect/inspect.h"

namespace zyk {

namespace {

// At most this many elements of one OutputIntents array are looked at; real
// files carry one or two.
constexpr int k_max_output_intents = 64;

constexpr char k_part_key[] = "pdfaid:part";
constexpr int k_part_key_len = sizeof k_part_key - 1;

bool is_xml_ws(byte c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
// Bytes that may continue an XML name (ASCII subset plus every byte of a
// multi-byte character), used to see that pdfaid:part is not part of a
// longer name.
bool is_xml_name(byte c) { return is_word(c) || c == '_' || c == '-' || c == '.' || c == ':' || c >= 0x80; }

int skip_xml_ws(const byte *x, int i, int n) {
  while (i < n && is_xml_ws(x[i])) i++;
  return i;
}

// Value of the attribute form: i is just past the name. Returns -1 when no
// '=' follows (a mention, not an attribute), else the part 1 to 3, or 0 for
// any other value.
int attribute_value(const byte *x, int n, int i) {
  i = skip_xml_ws(x, i, n);
  if (i >= n || x[i] != '=') return -1;
  i = skip_xml_ws(x, i + 1, n);
  if (i + 2 >= n) return 0;
  byte q = x[i];
  if (q != '"' && q != '\'') return 0;
  byte d = x[i + 1];
  if (d < '1' || d > '3' || x[i + 2] != q) return 0;
  return d - '0';
}

// Value of the element form: i is just past "<pdfaid:part". Returns -1 when
// this is no start tag of that element, else the part 1 to 3 or 0. White
// space around the digit is allowed (pretty-printed packets).
int element_value(const byte *x, int n, int i) {
  if (i >= n || !(is_xml_ws(x[i]) || x[i] == '>' || x[i] == '/')) return -1;
  // Find the '>' closing the start tag; attribute values may hold '>'.
  byte quote = 0;
  for (; i < n; i++) {
    byte c = x[i];
    if (quote) {
      if (c == quote) quote = 0;
    } else if (c == '"' || c == '\'') {
      quote = c;
    } else if (c == '>') {
      break;
    }
  }
  if (i >= n || x[i - 1] == '/') return 0;  // unterminated, or an empty element
  i = skip_xml_ws(x, i + 1, n);
  if (i >= n || x[i] < '1' || x[i] > '3') return 0;
  int part = x[i] - '0';
  i = skip_xml_ws(x, i + 1, n);
  return i < n && x[i] == '<' ? part : 0;
}

// The declaration: the part declared in the XMP packet of the catalog's /Metadata
// stream as xmp_declared_part gives it, or -1 when there is no packet to
// read.
int metadata_part(const Doc *d, const byte *pdf, int pdf_len) {
  int ci = obj_find(&d->objs, d->catalog_num);
  const byte *t;
  int s, e;
  if (ci < 0 || !dict_range(pdf, pdf_len, d->objs.elems[ci], &t, &s, &e)) return -1;
  int p = find_name(t, e, s, e, "Metadata");
  if (p < 0) return -1;
  int i = skip_ws(t, p + 9, e);
  int num = parse_int_at(t, e, &i);
  if (num <= 0) return -1;
  int mi = obj_find(&d->objs, num);
  if (mi < 0) return -1;
  // The packet is read through the stream service (the whole filter chain)
  // when the image is the document's own; a packet that cannot be decoded
  // is no packet.
  const ObjEntry &me = d->objs.elems[mi];
  if (pdf != d->pdf || !me.is_stream) return -1;
  std::string x;
  if (!stream_decode(*d, me, DecodeLimits{k_metadata_max}, &x).ok()) return -1;
  return xmp_declared_part(reinterpret_cast<const byte *>(x.data()), static_cast<int>(x.size()));
}

// The text of an object whose body is no dictionary (an array, say): for
// an object from an object stream its whole text, for a direct object the
// bytes between "obj" and "endobj". False when there is none.
bool object_body(const byte *pdf, int pdf_len, const ObjEntry &e, const byte **text, int *start, int *end) {
  if (e.in_objstm) {
    *text = e.os_text;
    *start = 0;
    *end = e.os_len;
    return e.os_text != nullptr;
  }
  if (e.hdr_off < 0 || e.endobj_off <= e.hdr_off || e.endobj_off > pdf_len) return false;
  int k = find_kw(pdf, e.endobj_off, e.hdr_off, "obj");
  if (k < 0) return false;
  *text = pdf;
  *start = k + 3;
  *end = e.endobj_off;
  return true;
}

// The fallback's search over one OutputIntents array whose '[' is at k in a text
// ending at end. Returns true when an element names GTS_PDFA1; *stop gets
// the position where the walk ended.
bool intents_name_pdfa(const Doc *d, const byte *pdf, int pdf_len, const byte *t, int k, int end,
                       std::vector<bool> *seen, int *stop) {
  k++;
  for (int items = 0; items < k_max_output_intents && k < end;) {
    k = skip_ws(t, k, end);
    if (k >= end || t[k] == ']') break;
    if (k + 1 < end && t[k] == '<' && t[k + 1] == '<') {
      // The dictionary read with the tokenizer, so that brackets inside
      // strings and comments do not count; an unclosed one runs to the end.
      int de = value_end(t, k, end);
      if (de < 0) de = end;
      if (find_name(t, de, k, de, "GTS_PDFA1") >= 0) return true;
      k = de;
      items++;
      continue;
    }
    if (!is_digit(t[k])) {
      k++;  // null, a stray token or a broken element: pass over it
      continue;
    }
    int j = k;
    int num = parse_int_at(t, end, &j);
    int g = j;
    int gen = parse_int_at(t, end, &g);
    int r = skip_ws(t, g, end);
    if (gen < 0 || r >= end || t[r] != 'R' || (r + 1 < end && is_word(t[r + 1]))) {
      k = j;  // a bare number
      continue;
    }
    k = r + 1;
    items++;
    if (num <= 0 || num > d->max_num) continue;
    if (seen->empty()) seen->assign(static_cast<std::size_t>(d->max_num) + 1, false);
    if ((*seen)[static_cast<std::size_t>(num)]) continue;
    (*seen)[static_cast<std::size_t>(num)] = true;
    int oi = obj_find(&d->objs, num);
    const byte *ot;
    int os, oe;
    if (oi >= 0 && dict_range(pdf, pdf_len, d->objs.elems[oi], &ot, &os, &oe) &&
        find_name(ot, oe, os, oe, "GTS_PDFA1") >= 0)
      return true;
  }
  *stop = k;
  return false;
}

// The fallback for an OutputIntents value written as a reference (N G R at k)
// to an array object.
bool indirect_intents_name_pdfa(const Doc *d, const byte *pdf, int pdf_len, const byte *t, int k, int end,
                                std::vector<bool> *seen) {
  int num = parse_int_at(t, end, &k);
  int gen = parse_int_at(t, end, &k);
  int r = skip_ws(t, k, end);
  if (num <= 0 || num > d->max_num || gen < 0 || r >= end || t[r] != 'R') return false;
  if (seen->empty()) seen->assign(static_cast<std::size_t>(d->max_num) + 1, false);
  if ((*seen)[static_cast<std::size_t>(num)]) return false;
  (*seen)[static_cast<std::size_t>(num)] = true;
  int ai = obj_find(&d->objs, num);
  const byte *at;
  int as, ae;
  if (ai < 0 || !object_body(pdf, pdf_len, d->objs.elems[ai], &at, &as, &ae)) return false;
  as = skip_ws(at, as, ae);
  int stop = as;
  return as < ae && at[as] == '[' && intents_name_pdfa(d, pdf, pdf_len, at, as, ae, seen, &stop);
}

// The fallback: 1 when some object's OutputIntents array holds a GTS_PDFA1
// output intent, else 0.
int output_intent_part(const Doc *d, const byte *pdf, int pdf_len) {
  std::vector<bool> seen;  // referenced objects already looked into
  for (int n = 0; n < d->objs.nelems; n++) {
    const byte *t;
    int s, e;
    if (!dict_range(pdf, pdf_len, d->objs.elems[n], &t, &s, &e)) continue;
    for (int p = find_name(t, e, s, e, "OutputIntents"); p >= 0;) {
      int k = skip_ws(t, p + 14, e);
      int next = p + 1;
      if (k < e && t[k] == '[') {
        int stop = k;
        if (intents_name_pdfa(d, pdf, pdf_len, t, k, e, &seen, &stop)) return 1;
        // An occurrence inside the array just walked adds nothing new.
        if (stop > next) next = stop;
      } else if (k < e && is_digit(t[k]) && indirect_intents_name_pdfa(d, pdf, pdf_len, t, k, e, &seen)) {
        return 1;
      }
      p = find_name(t, e, next, e, "OutputIntents");
    }
  }
  return 0;
}

}  // namespace

int xmp_declared_part(const byte *x, int n) {
  // The packet is read as a C string would be: it ends at its first NUL.
  if (n <= 0) return -1;
  if (const void *nul = std::memchr(x, 0, static_cast<std::size_t>(n)))
    n = static_cast<int>(static_cast<const byte *>(nul) - x);
  for (int p = 0; p + k_part_key_len <= n; p++) {
    const void *hit = memmem(x + p, static_cast<std::size_t>(n - p), k_part_key, k_part_key_len);
    if (!hit) break;
    p = static_cast<int>(static_cast<const byte *>(hit) - x);
    int after = p + k_part_key_len;
    if (after < n && is_xml_name(x[after])) continue;  // a longer name
    byte before = p > 0 ? x[p - 1] : ' ';
    int v = -1;
    if (before == '<') {
      v = element_value(x, n, after);
    } else if (is_xml_ws(before)) {
      v = attribute_value(x, n, after);
    }
    if (v >= 0) return v;  // closing tags ("</") and mentions fall through
  }
  return -1;
}

int pdfa_level_of(const Doc *d, const byte *pdf, int pdf_len) {
  if (d->objs.nelems <= 0) return 0;
  int part = metadata_part(d, pdf, pdf_len);
  if (part >= 0) return part;
  return output_intent_part(d, pdf, pdf_len);
}

}  // namespace zyk
