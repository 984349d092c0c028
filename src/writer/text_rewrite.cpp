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
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

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

// The codes of one string token.
std::vector<TextCode> string_codes(const SourceFont &f, const byte *t, const Operand &o) {
  std::string bytes;
  if (o.type == T::hex) hex_string_bytes(t, o.start, o.end, &bytes);
  else literal_bytes(t, o.start, o.end, &bytes);
  std::vector<TextCode> codes;
  source_font_decode(f, reinterpret_cast<const unsigned char *>(bytes.data()), bytes.size(), &codes);
  return codes;
}

// A number operand's value (0 when it does not read as one).
double number_value(const byte *t, const Operand &o) {
  char buf[48];
  int n = std::min(o.end - o.start, 47);
  std::memcpy(buf, t + o.start, static_cast<std::size_t>(n));
  buf[n] = 0;
  double v = std::strtod(buf, nullptr);
  return std::isfinite(v) ? v : 0;
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
  TextState ts;
  std::vector<std::pair<const SourceFont *, TextState>> saved;
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
      ts.size = number_value(t, ops[n - 1]);
    } else if ((op == "Tc" || op == "Tw" || op == "Tz") && n >= 1 && ops[n - 1].type == T::number) {
      double v = number_value(t, ops[n - 1]);
      (op == "Tc" ? ts.char_spacing : op == "Tw" ? ts.word_spacing : ts.scale) = v;
    } else if (op == "q") {
      if (saved.size() < static_cast<std::size_t>(k_font_stack_max)) saved.push_back({cur, ts});
    } else if (op == "Q") {
      if (!saved.empty()) {
        cur = saved.back().first;
        ts = saved.back().second;
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
        // The operands become items (strings as codes, TJ numbers), shown
        // with the source's advances; ' and " keep their line move (and "
        // its spacings, which the text state takes on first).
        std::vector<ShowItem> items;
        if (array) {
          int p = last->start + 1;
          int stop = last->end;
          if (stop - 1 > last->start && t[stop - 1] == ']') stop--;
          while (p < stop) {
            p = skip_ws_comments(t, p, stop);
            if (p >= stop) break;
            T ty;
            int q = token_end(t, p, stop, &ty);
            if (ty == T::string || ty == T::hex) {
              items.push_back({false, 0, string_codes(*cur, t, {ty, p, q})});
            } else if (ty == T::number) {
              items.push_back({true, number_value(t, {ty, p, q}), {}});
            }
            p = q;
          }
        } else {
          items.push_back({false, 0, string_codes(*cur, t, *last)});
        }
        std::string body;
        int from = ops[n - need].start;
        if (op == "\"") {
          if (ops[n - 3].type == T::number) ts.word_spacing = number_value(t, ops[n - 3]);
          if (ops[n - 2].type == T::number) ts.char_spacing = number_value(t, ops[n - 2]);
          body.append(reinterpret_cast<const char *>(t) + ops[n - 3].start,
                      static_cast<std::size_t>(ops[n - 3].end - ops[n - 3].start));
          body += " Tw ";
          body.append(reinterpret_cast<const char *>(t) + ops[n - 2].start,
                      static_cast<std::size_t>(ops[n - 2].end - ops[n - 2].start));
          body += " Tc T* ";
        } else if (op == "'") {
          body += "T* ";
        }
        ShowMarks show;
        show_write(*cur, ts, items, &show, &body);
        copy_to(from);
        // The source may have written the operands right after the previous
        // operator ("Tf(x)Tj"); the replacement starts with a number or an
        // operator and needs a separator there.
        if (!out->empty() && is_regular(static_cast<byte>(out->back())) && !show.standin) out->push_back(' ');
        if (show.standin) out->append("/Span<</ActualText<FEFF" + show.actual + ">>>BDC ");
        out->append(body);
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
