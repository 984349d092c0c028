// The JSON report: a short description of one PDF file, built in a fixed
// buffer (the export's, which the host reads after the call).
//
// The report is a fixed sequence of lines appended with rep_append, so its
// shape never depends on the input; only three texts come from outside: the
// path, the version the loader found and the error text. Those pass
// through json_sanitise, which guarantees that the whole report is valid
// JSON and valid UTF-8:
//   - '"', '\\' and the control bytes below 0x20 (which JSON forbids raw in
//     strings) become '_', without escapes, so the text stays one byte per
//     source byte;
//   - every byte that is not part of a well-formed UTF-8 sequence (stray
//     continuation bytes, overlong forms, surrogates, values above
//     U+10FFFF, a sequence cut short) becomes '_' as well;
//   - a text is cut only between characters: the path after at most 254
//     bytes, the error text so that its line, with the verdict after it,
//     keeps within the 511 bytes of a line.
// The report is far shorter than its buffer, so the cut of rep_append at
// the end of the buffer never happens in practice; it only bounds the
// writes.
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

#include "inspect/inspect.h"

namespace zyk {

namespace {

// Length of the well-formed UTF-8 sequence starting at s (1 to 4), or 0
// when the byte at s starts none. Reads no further than the first byte
// that does not fit, so a NUL terminator is never passed.
std::size_t utf8_seq_len(const unsigned char *s) {
  unsigned char c = s[0];
  if (c < 0x80) return 1;
  std::size_t k;
  unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the second byte
  if (c >= 0xC2 && c <= 0xDF) {
    k = 2;
  } else if (c >= 0xE0 && c <= 0xEF) {
    k = 3;
    if (c == 0xE0) lo = 0xA0;  // no overlong forms
    if (c == 0xED) hi = 0x9F;  // no surrogates
  } else if (c >= 0xF0 && c <= 0xF4) {
    k = 4;
    if (c == 0xF0) lo = 0x90;  // no overlong forms
    if (c == 0xF4) hi = 0x8F;  // nothing above U+10FFFF
  } else {
    return 0;  // continuation byte, C0, C1 or F5..FF
  }
  if (s[1] < lo || s[1] > hi) return 0;
  for (std::size_t i = 2; i < k; i++)
    if (s[i] < 0x80 || s[i] > 0xBF) return 0;
  return k;
}

const char *bool_text(bool v) { return v ? "true" : "false"; }

// A simple font (/Subtype /Type1... or /Subtype /TrueTy...) is among the
// subtypes of the range: the value after some /Subtype, past white space,
// is a name starting with one of those prefixes.
bool names_simple_subtype(const byte *t, int s, int e) {
  for (int p = find_name(t, e, s, e, "Subtype"); p >= 0; p = find_name(t, e, p + 1, e, "Subtype")) {
    int i = skip_ws(t, p + 8, e);
    if (i + 1 >= e || t[i] != '/') continue;
    int left = e - (i + 1);
    if (left >= 5 && std::memcmp(t + i + 1, "Type1", 5) == 0) return true;
    if (left >= 6 && std::memcmp(t + i + 1, "TrueTy", 6) == 0) return true;
  }
  return false;
}

bool names_font_file(const byte *t, int s, int e) {
  return find_name(t, e, s, e, "FontFile") >= 0 || find_name(t, e, s, e, "FontFile2") >= 0 ||
         find_name(t, e, s, e, "FontFile3") >= 0;
}

// Whether the font descriptors that the range references (/FontDescriptor
// N G R) name a font program. A simple font embeds its program through its
// descriptor, which usually is an object of its own. memo caches the answer
// per descriptor number (0 unknown, 1 names one, 2 does not), so that a
// descriptor shared by many fonts is searched once.
bool descriptor_names_font_file(const Doc *d, const byte *t, int s, int e, std::vector<unsigned char> *memo) {
  for (int p = find_name(t, e, s, e, "FontDescriptor"); p >= 0; p = find_name(t, e, p + 1, e, "FontDescriptor")) {
    int i = skip_ws(t, p + 15, e);
    int num = parse_int_at(t, e, &i);
    if (num <= 0 || num > d->max_num) continue;
    if (memo->empty()) memo->assign(static_cast<std::size_t>(d->max_num) + 1, 0);
    unsigned char &m = (*memo)[static_cast<std::size_t>(num)];
    if (m == 0) {
      int di = obj_find(&d->objs, num);
      const byte *dt;
      int ds, de;
      m = (di >= 0 && dict_range(d->pdf, d->pdf_len, d->objs.elems[di], &dt, &ds, &de) &&
           names_font_file(dt, ds, de))
              ? 1
              : 2;
    }
    if (m == 1) return true;
  }
  return false;
}

// A range that is a simple Type1 or TrueType font dictionary whose font
// program is neither named in it nor in its font descriptor. Composite
// fonts (DescendantFonts) are judged by their descendants.
bool names_unembedded_font(const Doc *d, const byte *t, int s, int e, std::vector<unsigned char> *memo) {
  if (find_name(t, e, s, e, "Font") < 0) return false;
  if (names_font_file(t, s, e) || find_name(t, e, s, e, "DescendantFonts") >= 0) return false;
  if (!names_simple_subtype(t, s, e)) return false;
  return !descriptor_names_font_file(d, t, s, e, memo);
}

}  // namespace

std::uint64_t rep_append(ReportText *out, std::uint64_t pos, const char *fmt, ...) {
  if (pos >= k_rep_full) return pos;
  va_list ap;
  va_start(ap, fmt);
  int r = std::vsnprintf(out->chars + pos, k_report_size - pos, fmt, ap);
  va_end(ap);
  if (r < 0) return k_rep_failed;
  std::uint64_t np = pos + static_cast<std::uint64_t>(r);
  return np > k_rep_full ? k_rep_full : np;
}

std::size_t json_sanitise(const char *src, char *dst, std::size_t max) {
  const auto *s = reinterpret_cast<const unsigned char *>(src);
  std::size_t o = 0;
  while (*s) {
    std::size_t k = utf8_seq_len(s);
    if (k > 1) {
      if (o + k > max) break;
      std::memmove(dst + o, s, k);  // dst may be src (in-place use)
    } else {
      if (o + 1 > max) break;
      unsigned char c = *s;
      dst[o] = (k == 0 || c == '"' || c == '\\' || c < 0x20) ? '_' : static_cast<char>(c);
      k = 1;
    }
    o += k;
    s += k;
  }
  dst[o] = 0;
  return o;
}

Features doc_features(const Doc *d) {
  Features f{false, false, false, true};
  std::vector<unsigned char> memo;
  for (int n = 0; n < d->objs.nelems; n++) {
    const ObjEntry &entry = d->objs.elems[n];
    const byte *t;
    int s, e;
    if (!dict_range(d->pdf, d->pdf_len, entry, &t, &s, &e)) {
      // A colour space is an array, often an object of its own: such an
      // object has no dictionary, but its body names the profile.
      if (!f.has_icc_profile && !entry.in_objstm && entry.hdr_off >= 0 && entry.endobj_off > entry.hdr_off)
        f.has_icc_profile = find_name(d->pdf, entry.endobj_off, entry.hdr_off, entry.endobj_off, "ICCBased") >= 0;
      continue;
    }
    if (!f.has_output_intent)
      f.has_output_intent = find_name(t, e, s, e, "OutputIntent") >= 0 || find_name(t, e, s, e, "OutputIntents") >= 0;
    if (!f.has_xmp_metadata) f.has_xmp_metadata = find_name(t, e, s, e, "Metadata") >= 0;
    if (!f.has_icc_profile) f.has_icc_profile = find_name(t, e, s, e, "ICCBased") >= 0;
    if (f.fonts_embedded && names_unembedded_font(d, t, s, e, &memo)) f.fonts_embedded = false;
  }
  return f;
}

void report_build(const char *path, ErrorText *error, ReportText *out) {
  if (!path) {
    (void)error->fail("NULL path argument");
    char err[k_rep_error_max + 1];
    json_sanitise(error->text.c_str(), err, k_rep_error_max);
    std::snprintf(
        out->chars, k_report_size,
        "{\n  \"file\": \"\",\n  \"loaded\": false,\n  \"error\": \"%s\",\n  \"verdict\": \"bad argument\"\n}\n", err);
    return;
  }

  DocGuard g;
  Doc &d = g.d;
  bool loaded = doc_load(path, &d, error);
  int level = loaded ? pdfa_level_of(&d, d.pdf, d.pdf_len) : 0;

  char file[k_rep_path_max + 1];
  json_sanitise(path, file, k_rep_path_max);
  // The loader keeps only digits and dots, but the text is printed inside
  // quotes, so it goes through the same filter as the others.
  char version[sizeof d.pdf_version];
  std::memcpy(version, d.pdf_version, sizeof version);
  version[sizeof version - 1] = 0;
  json_sanitise(version, version, sizeof version - 1);
  Features f = doc_features(&d);

  static const char *const conformance[] = {"", "ISO 19005-1", "ISO 19005-2", "ISO 19005-3"};
  if (level < 0 || level > 3) level = 0;

  std::uint64_t pos = 0;
  pos = rep_append(out, pos, "{\n  \"file\": \"%s\",\n", file);
  pos = rep_append(out, pos, "  \"loaded\": %s,\n", bool_text(loaded));
  pos = rep_append(out, pos, "  \"pdf_version\": \"%s\",\n", version);
  pos = rep_append(out, pos, "  \"encrypted\": %s,\n", bool_text(d.encrypted != 0));
  pos = rep_append(out, pos, "  \"page_count\": %ld,\n", static_cast<long>(d.pages.nelems));
  pos = rep_append(out, pos, "  \"object_count\": %ld,\n", static_cast<long>(d.objs.nelems));
  pos = rep_append(out, pos, "  \"is_pdfa\": %s,\n", bool_text(level > 0));
  pos = rep_append(out, pos, "  \"pdfa_level\": %d,\n", level);
  pos = rep_append(out, pos, "  \"pdfa_conformance\": \"%s\",\n", conformance[level]);

  char line[k_rep_line_max + 1];
  std::snprintf(line, sizeof line,
                "  \"features\": {\n    \"has_output_intent\": %s,\n    \"has_xmp_metadata\": %s,\n"
                "    \"has_icc_profile\": %s,\n    \"fonts_embedded\": %s\n  },\n",
                bool_text(f.has_output_intent), bool_text(f.has_xmp_metadata), bool_text(f.has_icc_profile),
                bool_text(f.fonts_embedded));
  pos = rep_append(out, pos, "%s", line);

  if (!loaded) {
    char err[k_rep_error_max + 1];
    json_sanitise(error->text.c_str(), err, k_rep_error_max);
    std::snprintf(line, sizeof line, "  \"error\": \"%s\",\n  \"verdict\": \"unreadable\"\n", err);
  } else {
    std::snprintf(line, sizeof line, "  \"verdict\": \"%s\"\n",
                  level > 0 ? "compliant" : "not PDF/A compliant \xE2\x80\x94 run pdfa_convert_1b or pdfa_convert_2b");
  }
  pos = rep_append(out, pos, "%s", line);
  rep_append(out, pos, "}\n");
}

void report_fallback(const char *path, const char *error, ReportText *out) noexcept {
  char file[k_rep_path_max + 1];
  json_sanitise(path ? path : "", file, k_rep_path_max);
  char err[k_rep_error_max + 1];
  json_sanitise(error ? error : "", err, k_rep_error_max);
  std::snprintf(
      out->chars, k_report_size,
      "{\n  \"file\": \"%s\",\n  \"loaded\": false,\n  \"error\": \"%s\",\n  \"verdict\": \"unreadable\"\n}\n", file,
      err);
}

}  // namespace zyk
