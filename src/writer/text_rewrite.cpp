// The content walk of the text re-encoding.
//
// The content is read as operands followed by their operator. Strings,
// arrays, dictionaries and comments are whole tokens, so a "(" inside a
// marked-content property list or a "Tj" inside a comment is never taken
// for text; the data of an inline image (after ID, up to the EI that stands
// between white space) is passed over unread. The output is the input with
// a few spans replaced, nothing else moves:
//   name size Tf      selects the current font by resource name (any size:
//                     9.5 is as good a size as 9); a name not among the
//                     resources selects the WinAnsi reading, since the text
//                     must end up in the embedded font whatever it names;
//   s Tj, s ', a c s " and [s n s ...] TJ with a replaced current font:
//                     every string (literal or hexadecimal) becomes the
//                     glyph ids of its codes, numbers of TJ stay;
//   N G R             an indirect reference is renumbered through the map.
// The current font is saved and restored by q/Q (it is part of the
// graphics state), to a bounded depth.
//
// Each source code becomes one glyph per character it stands for (a
// ligature code that reads "fi" becomes f and i). A code without characters,
// or with a character the substitute font lacks, becomes one stand-in glyph;
// the operator is then wrapped in /Span << /ActualText ... >> BDC ... EMC so
// that extraction still gives the characters known for the whole string.
//
// Strings are written back as literal strings of two-byte glyph ids. "(",
// ")" and backslash are escaped, and so are CR and LF (written \r and \n):
// a raw end-of-line in a literal string is read back as LF whatever it was,
// which would change a glyph id with a low byte of 13.
#include <cstdio>

#include "writer/text.h"
#include "writer/writer.h"

namespace zyk {

namespace {

constexpr int k_font_stack_max = 256;

enum class T { string, hex, array, dict, name, number, other };

struct Operand {
  T type;
  int start, end;
};

bool is_number_token(const byte *t, int s, int e) {
  bool digit = false;
  for (int i = s; i < e; i++) {
    byte c = t[i];
    if (is_digit(c)) digit = true;
    else if (!(c == '.' || ((c == '-' || c == '+') && i == s))) return false;
  }
  return digit;
}

bool is_integer_token(const byte *t, int s, int e) {
  if (s >= e) return false;
  for (int i = s; i < e; i++)
    if (!is_digit(t[i])) return false;
  return true;
}

// Bytes of a hexadecimal string token "<...>": white space and stray bytes
// ignored, an odd last digit padded with 0.
void hex_string_bytes(const byte *t, int s, int e, std::string *out) {
  hex_decode(t, static_cast<std::size_t>(s + 1), static_cast<std::size_t>(e), true, out);
}

void put_glyph(std::string *out, int g) {
  for (int b : {g >> 8 & 0xFF, g & 0xFF}) {
    if (b == '(' || b == ')' || b == '\\') {
      out->push_back('\\');
      out->push_back(static_cast<char>(b));
    } else if (b == '\r') {
      out->append("\\r");
    } else if (b == '\n') {
      out->append("\\n");
    } else {
      out->push_back(static_cast<char>(b));
    }
  }
}

struct Show {
  std::string actual;     // UTF-16BE of the known characters, as hex digits
  bool standin = false;   // a stand-in glyph was drawn
};

void put_utf16_hex(std::string *hex, std::uint32_t u) {
  char buf[16];
  if (u > 0xFFFF) {
    u -= 0x10000;
    std::snprintf(buf, sizeof buf, "%04X%04X", 0xD800 + (u >> 10), 0xDC00 + (u & 0x3FF));
  } else {
    std::snprintf(buf, sizeof buf, "%04X", u);
  }
  hex->append(buf);
}

// The Latin ligatures of the presentation forms are drawn as their letters:
// readers extract the letters from a source font's ligature glyph but keep
// U+FB01 and its kind as one character when a ToUnicode CMap names it.
std::u32string unligature(char32_t u) {
  switch (u) {
    case 0xFB00: return U"ff";
    case 0xFB01: return U"fi";
    case 0xFB02: return U"fl";
    case 0xFB03: return U"ffi";
    case 0xFB04: return U"ffl";
    case 0xFB06: return U"st";
    default: return std::u32string(1, u);
  }
}

// The re-encoded literal string for one string token.
std::string reencode(const SourceFont &f, const byte *t, const Operand &o, Show *show) {
  std::string bytes;
  if (o.type == T::hex) hex_string_bytes(t, o.start, o.end, &bytes);
  else literal_bytes(t, o.start, o.end, &bytes);
  std::vector<TextCode> codes;
  source_font_decode(f, reinterpret_cast<const unsigned char *>(bytes.data()), bytes.size(), &codes);
  std::string out = "(";
  int glyphs[k_max_chars_per_code * 3];
  for (const TextCode &c : codes) {
    std::u32string chars = c.chars;
    if (chars.size() == 1) chars = unligature(chars[0]);
    bool all = !chars.empty();
    int n = 0;
    for (char32_t u : chars) {
      int g = all ? text_glyph(u) : -1;
      if (g < 0) all = false;
      else glyphs[n++] = g;
    }
    for (char32_t u : chars) put_utf16_hex(&show->actual, u);
    if (all) {
      for (int k = 0; k < n; k++) put_glyph(&out, glyphs[k]);
    } else {
      int g = text_standin_glyph();
      put_glyph(&out, g > 0 ? g : 0);
      show->standin = true;
    }
  }
  out += ')';
  return out;
}

// End of the token at i (exclusive); strings, arrays, dictionaries whole.
int token_end(const byte *t, int i, int len, T *type) {
  byte c = t[i];
  if (c == '(' || c == '[' || c == '<') {
    *type = c == '(' ? T::string : c == '[' ? T::array : (i + 1 < len && t[i + 1] == '<') ? T::dict : T::hex;
    int e = value_end(t, i, len);
    return e > i ? e : len;  // unterminated: the rest of the content
  }
  if (c == '/') {
    *type = T::name;
    int e = i + 1;
    while (e < len && is_regular(t[e])) e++;
    return e;
  }
  if (!is_regular(c)) {
    *type = T::other;
    return i + 1;
  }
  int e = i;
  while (e < len && is_regular(t[e])) e++;
  *type = is_number_token(t, i, e) ? T::number : T::other;
  return e;
}

// End of inline image data whose ID operator ends at i: after the "EI"
// that follows white space and is followed by white space or the end.
int inline_image_end(const byte *t, int i, int len) {
  for (int p = i + 1; p + 1 < len; p++)
    if (t[p] == 'E' && t[p + 1] == 'I' && is_pdf_ws(t[p - 1]) && (p + 2 == len || !is_regular(t[p + 2])))
      return p + 2;
  return len;
}

const SourceFont &winansi_font() {
  static const SourceFont f = [] {
    SourceFont s;
    source_font_base(&s, ENC_WINANSI);
    return s;
  }();
  return f;
}

}  // namespace

void text_rewrite(const ResourceFonts &fonts, const byte *t, int len, const ObjMap *map, std::string *out) {
  out->clear();
  out->reserve(static_cast<std::size_t>(len) + static_cast<std::size_t>(len) / 2);
  const SourceFont *cur = nullptr;  // none: strings are left as they are
  std::vector<const SourceFont *> saved;
  std::vector<Operand> ops;
  int copied = 0;
  auto copy_to = [&](int p) {
    if (p > copied) out->append(reinterpret_cast<const char *>(t) + copied, static_cast<std::size_t>(p - copied));
    if (p > copied) copied = p;
  };
  int i = 0;
  while (i < len) {
    byte c = t[i];
    if (is_pdf_ws(c)) {
      i++;
      continue;
    }
    if (c == '%') {
      while (i < len && t[i] != '\r' && t[i] != '\n') i++;
      continue;
    }
    T type;
    int e = token_end(t, i, len, &type);
    if (type != T::other || !is_regular(c)) {
      ops.push_back({type, i, e});
      i = e;
      continue;
    }
    std::string_view op(reinterpret_cast<const char *>(t) + i, static_cast<std::size_t>(e - i));
    std::size_t n = ops.size();
    if (op == "Tf" && n >= 2 && ops[n - 2].type == T::name && ops[n - 1].type == T::number) {
      std::string name;
      const Operand &nm = ops[n - 2];
      for (int k = nm.start + 1; k < nm.end; k++) {
        if (t[k] == '#' && k + 2 < nm.end && hex_digit_value(t[k + 1]) >= 0 && hex_digit_value(t[k + 2]) >= 0) {
          name.push_back(static_cast<char>(hex_digit_value(t[k + 1]) << 4 | hex_digit_value(t[k + 2])));
          k += 2;
        } else {
          name.push_back(static_cast<char>(t[k]));
        }
      }
      auto it = fonts.by_name.find(name);
      cur = it != fonts.by_name.end() ? it->second.get() : &winansi_font();
    } else if (op == "q") {
      if (saved.size() < static_cast<std::size_t>(k_font_stack_max)) saved.push_back(cur);
    } else if (op == "Q") {
      if (!saved.empty()) {
        cur = saved.back();
        saved.pop_back();
      }
    } else if (op == "ID") {
      e = inline_image_end(t, e, len);
    } else if (op == "R" && n >= 2 && map && ops[n - 2].type == T::number && ops[n - 1].type == T::number &&
               is_integer_token(t, ops[n - 2].start, ops[n - 2].end) &&
               is_integer_token(t, ops[n - 1].start, ops[n - 1].end) && ops[n - 2].end - ops[n - 2].start <= 9) {
      int p = ops[n - 2].start;
      int num = parse_int_at(t, ops[n - 2].end, &p);
      int v = objmap_find(map, num);
      if (v > 0) {
        copy_to(ops[n - 2].start);
        out->append(std::to_string(v) + " 0 R");
        copied = e;
      }
    } else if (cur && cur->kind != TextKind::keep && (op == "Tj" || op == "'" || op == "\"" || op == "TJ")) {
      bool array = op == "TJ";
      std::size_t need = op == "\"" ? 3 : 1;
      const Operand *last = n ? &ops[n - 1] : nullptr;
      bool shape = n >= need && (array ? last->type == T::array : (last->type == T::string || last->type == T::hex));
      if (shape) {
        Show show;
        std::string body;  // the re-encoded operator's operands up to the operator
        int from = ops[n - need].start;
        body.append(reinterpret_cast<const char *>(t) + from, static_cast<std::size_t>(last->start - from));
        if (array) {
          int p = last->start + 1;
          int body_from = last->start;
          int stop = last->end;
          if (stop - 1 > last->start && t[stop - 1] == ']') stop--;
          while (p < stop) {
            p = skip_ws_comments(t, p, stop);
            if (p >= stop) break;
            T ty;
            int q = token_end(t, p, stop, &ty);
            if (ty == T::string || ty == T::hex) {
              body.append(reinterpret_cast<const char *>(t) + body_from, static_cast<std::size_t>(p - body_from));
              body += reencode(*cur, t, {ty, p, q}, &show);
              body_from = q;
            }
            p = q;
          }
          body.append(reinterpret_cast<const char *>(t) + body_from, static_cast<std::size_t>(last->end - body_from));
        } else {
          body += reencode(*cur, t, *last, &show);
        }
        copy_to(from);
        if (show.standin) out->append("/Span<</ActualText<FEFF" + show.actual + ">>>BDC ");
        out->append(body);
        out->append(reinterpret_cast<const char *>(t) + last->end, static_cast<std::size_t>(e - last->end));
        if (show.standin) out->append(" EMC");
        copied = e;
      }
    }
    ops.clear();
    i = e;
  }
  copy_to(len);
}

}  // namespace zyk
