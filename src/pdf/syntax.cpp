// The tokenizer: a lexical walker over PDF object text.
//
// The scanning primitives (scan.cpp) search for names and keywords anywhere
// in a byte range, with matching rules the loader's results depend on. Every
// other reader walks the tokens here instead, so that a digit run inside a
// string, a comment or a name such as /F12 is never taken for a reference
// and a ">>" in a comment never ends a dictionary:
//   - a literal string runs to its balancing ')', backslash escaping one byte;
//   - a hexadecimal string runs from '<' to the next '>';
//   - a comment runs from '%' to the end of its line;
//   - a name runs from '/' over regular characters (no white space, no
//     delimiter);
//   - dictionaries and arrays nest, counted on one depth;
//   - a reference is three tokens "N G R": two digit runs and the keyword R,
//     separated by any PDF white space (NUL, HT, LF, FF, CR, SP), the R not
//     running on into a regular character.
// Every loop stops at the given length; nothing recurses.
#include <climits>
#include <cstring>

#include "pdf/pdf.h"

namespace zyk {

namespace {

// Position after the '>' that closes the hexadecimal string at i, or -1.
int hex_end(const byte *t, int i, int len) {
  const void *gt = std::memchr(t + i + 1, '>', static_cast<std::size_t>(len - i - 1));
  return gt ? static_cast<int>(static_cast<const byte *>(gt) - t) + 1 : -1;
}

int line_end(const byte *t, int i, int len) {
  while (i < len && t[i] != '\r' && t[i] != '\n') i++;
  return i;
}

int regular_end(const byte *t, int i, int len) {
  while (i < len && is_regular(t[i])) i++;
  return i;
}

bool all_digits(const byte *t, int s, int e) {
  if (s >= e) return false;
  for (int i = s; i < e; i++)
    if (!is_digit(t[i])) return false;
  return true;
}

// The reference whose object number is the digit token [s, e): returns the
// position after its R, or -1 when the tokens that follow are no "G R".
int ref_after(const byte *t, int e, int len) {
  int g = e;
  while (g < len && is_pdf_ws(t[g])) g++;
  if (g == e) return -1;
  int ge = regular_end(t, g, len);
  if (!all_digits(t, g, ge)) return -1;
  int r = ge;
  while (r < len && is_pdf_ws(t[r])) r++;
  if (r == ge || r >= len || t[r] != 'R') return -1;
  if (r + 1 < len && is_regular(t[r + 1])) return -1;
  return r + 1;
}

int digits_value(const byte *t, int s, int e) {
  long long v = 0;
  for (int i = s; i < e; i++) {
    v = v * 10 + (t[i] - '0');
    if (v > INT_MAX) return -1;
  }
  return static_cast<int>(v);
}

// Position after the container ("<<" or "[") at i closes, or -1.
int container_end(const byte *t, int i, int len) {
  int depth = 0;
  int j = i;
  while (j < len) {
    byte c = t[j];
    if (c == '(') {
      j = literal_end(t, len, j);
      if (j < 0) return -1;
    } else if (c == '%') {
      j = line_end(t, j, len);
    } else if (c == '<') {
      if (j + 1 < len && t[j + 1] == '<') {
        depth++;
        j += 2;
      } else {
        j = hex_end(t, j, len);
        if (j < 0) return -1;
      }
    } else if (c == '>') {
      if (j + 1 < len && t[j + 1] == '>') {
        j += 2;
        if (--depth == 0) return j;
      } else {
        j++;
      }
    } else if (c == '[') {
      depth++;
      j++;
    } else if (c == ']') {
      j++;
      if (--depth == 0) return j;
    } else {
      j++;
    }
  }
  return -1;
}

}  // namespace

int skip_ws_comments(const byte *t, int pos, int len) {
  while (pos < len) {
    if (is_pdf_ws(t[pos])) {
      pos++;
    } else if (t[pos] == '%') {
      pos = line_end(t, pos, len);
    } else {
      break;
    }
  }
  return pos;
}

int value_end(const byte *t, int pos, int len) {
  int i = skip_ws_comments(t, pos, len);
  if (i >= len) return -1;
  byte c = t[i];
  if (c == '[' || (c == '<' && i + 1 < len && t[i + 1] == '<')) return container_end(t, i, len);
  if (c == '(') return literal_end(t, len, i);
  if (c == '<') return hex_end(t, i, len);
  if (c == '/') return regular_end(t, i + 1, len);
  if (c == ')' || c == '>' || c == ']' || c == '}') return -1;
  if (c == '{') return i + 1;
  int e = regular_end(t, i, len);
  if (all_digits(t, i, e)) {
    int r = ref_after(t, e, len);
    if (r > 0) return r;
  }
  return e;
}

std::vector<std::pair<int, int>> value_items(const byte *t, int s, int e) {
  std::vector<std::pair<int, int>> out;
  if (s < e && t[s] == '[') {
    int i = s + 1;
    for (;;) {
      i = skip_ws_comments(t, i, e);
      if (i >= e || t[i] == ']') break;
      int ve = value_end(t, i, e);
      if (ve < 0) break;
      out.push_back({i, ve});
      i = ve;
    }
  } else if (s < e) {
    out.push_back({s, e});
  }
  return out;
}

void find_refs(const byte *t, int len, std::vector<RefHit> *out) {
  int i = 0;
  while (i < len) {
    byte c = t[i];
    if (is_pdf_ws(c)) {
      i++;
    } else if (c == '%') {
      i = line_end(t, i, len);
    } else if (c == '(') {
      i = literal_end(t, len, i);
      if (i < 0) return;
    } else if (c == '<') {
      if (i + 1 < len && t[i + 1] == '<') {
        i += 2;
      } else {
        i = hex_end(t, i, len);
        if (i < 0) return;
      }
    } else if (c == '/') {
      i = regular_end(t, i + 1, len);
    } else if (is_delim(c)) {
      i++;
    } else {
      int e = regular_end(t, i, len);
      if (all_digits(t, i, e)) {
        int r = ref_after(t, e, len);
        if (r > 0) {
          out->push_back({digits_value(t, i, e), i, r});
          i = r;
          continue;
        }
      }
      i = e;
    }
  }
}

int value_ref(const byte *t, int s, int e) {
  // Read in place: the writer and the output check ask this of every
  // scalar value they meet.
  int i = skip_ws_comments(t, s, e);
  auto digits = [&](long *v) {
    const int start = i;
    *v = 0;
    while (i < e && is_digit(t[i]) && i - start < 10) *v = *v * 10 + (t[i++] - '0');
    return i > start && (i >= e || !is_digit(t[i]));
  };
  long num = 0, gen = 0;
  if (!digits(&num) || i >= e || !is_pdf_ws(t[i])) return -1;
  i = skip_ws_comments(t, i, e);
  if (!digits(&gen) || i >= e || !is_pdf_ws(t[i])) return -1;
  i = skip_ws_comments(t, i, e);
  if (i >= e || t[i] != 'R') return -1;
  i++;
  if (i < e && is_regular(t[i])) return -1;
  if (skip_ws_comments(t, i, e) != e) return -1;
  return num > 0x7fffffffL ? -1 : static_cast<int>(num);
}

// Is t[s, e) one PDF object, read faithfully? Dictionaries must be name and
// value pairs and arrays must close; a token must be a number, true, false,
// null or a reference "N G R", so that "N R" (a number and a stray R) or an
// unknown keyword makes the value unreadable.
bool value_readable(const byte *t, int s, int e, int depth) {
  s = skip_ws_comments(t, s, e);
  if (s >= e || depth > k_value_max_depth) return false;
  byte c = t[s];
  if (c == '<' && s + 1 < e && t[s + 1] == '<') {
    std::vector<DictEntry> es;
    int close = 0;
    if (!dict_entries(t, s, e, &es, &close) || skip_ws_comments(t, close + 2, e) != e) return false;
    for (const DictEntry &x : es)
      if (!value_readable(t, x.val, x.val_end, depth + 1)) return false;
    return true;
  }
  if (c == '[') {
    for (int i = s + 1;;) {
      i = skip_ws_comments(t, i, e);
      if (i >= e) return false;
      if (t[i] == ']') return skip_ws_comments(t, i + 1, e) == e;
      int ve = value_end(t, i, e);
      if (ve < 0 || !value_readable(t, i, ve, depth + 1)) return false;
      i = ve;
    }
  }
  int ve = value_end(t, s, e);
  if (ve < 0 || skip_ws_comments(t, ve, e) != e) return false;
  if (c == '(' || c == '<' || c == '/') return true;
  if (token_is(t, s, ve, "true") || token_is(t, s, ve, "false") || token_is(t, s, ve, "null")) return true;
  // A number: an optional sign, digits and at most one point. value_end
  // gave a reference's whole span, which holds white space.
  int i = s + (t[s] == '+' || t[s] == '-');
  int digits = 0, points = 0;
  for (; i < ve; i++) {
    if (is_digit(t[i]))
      digits++;
    else if (t[i] == '.' && !points)
      points++;
    else
      break;
  }
  if (i == ve) return digits > 0;
  return is_digit(t[s]) && value_ref(t, s, ve) >= 0;
}

bool dict_entries(const byte *t, int pos, int len, std::vector<DictEntry> *out, int *close) {
  out->clear();
  if (pos < 0 || pos + 1 >= len || t[pos] != '<' || t[pos + 1] != '<') return false;
  int i = pos + 2;
  for (;;) {
    i = skip_ws_comments(t, i, len);
    if (i + 1 >= len) return false;
    if (t[i] == '>' && t[i + 1] == '>') {
      *close = i;
      return true;
    }
    if (t[i] != '/') return false;
    int ke = regular_end(t, i + 1, len);
    int v = skip_ws_comments(t, ke, len);
    int ve = value_end(t, v, len);
    if (ve < 0) return false;
    out->push_back({i, ke, v, ve});
    i = ve;
  }
}

bool key_is(const byte *t, const DictEntry &e, const char *name) {
  auto n = static_cast<int>(std::strlen(name));
  return e.key_end - e.key - 1 == n && std::memcmp(t + e.key + 1, name, static_cast<std::size_t>(n)) == 0;
}

const DictEntry *dict_find(const byte *t, const std::vector<DictEntry> &es, const char *name) {
  for (const DictEntry &e : es)
    if (key_is(t, e, name)) return &e;
  return nullptr;
}

bool token_is(const byte *t, int s, int e, const char *tok) {
  auto n = static_cast<int>(std::strlen(tok));
  return e - s == n && std::memcmp(t + s, tok, static_cast<std::size_t>(n)) == 0;
}

bool object_text(const Doc &d, const ObjEntry &e, const byte **text, int *len) {
  const byte *t;
  int s, end;
  if (e.in_objstm) {
    if (!e.os_text) return false;
    t = e.os_text;
    end = e.os_len;
    s = skip_ws_comments(t, 0, end);
  } else if (e.is_stream) {
    if (e.dict_off < 0 || e.stream_off <= e.dict_off) return false;
    t = d.pdf;
    s = e.dict_off;
    end = e.stream_off;
  } else {
    // "N G obj" then the value, up to "endobj".
    if (e.hdr_off < 0 || e.endobj_off <= e.hdr_off || e.endobj_off > d.pdf_len) return false;
    t = d.pdf;
    end = e.endobj_off;
    int i = e.hdr_off;
    parse_int_at(t, end, &i);
    i = skip_ws(t, i, end);
    if (i < end && is_digit(t[i])) parse_int_at(t, end, &i);
    i = skip_ws(t, i, end);
    if (!kw_at(t, i, end, "obj")) return false;
    s = skip_ws_comments(t, i + 3, end);
  }
  int ve = value_end(t, s, end);
  if (ve < 0 || ve <= s) return false;
  *text = t + s;
  *len = ve - s;
  return true;
}

}  // namespace zyk
