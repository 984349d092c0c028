// Keeping the source's advances when text moves to the substitute font.
//
// The substitute font's glyphs are rarely as wide as the source's, so a
// line drawn with it grows or shrinks: justified columns overflow, words
// merge or split in extraction. Every show operation is therefore written
// word by word (a word: the codes between single-byte spaces, code 32, or
// TJ numbers that open a visible gap), each
// word under a horizontal scaling that makes its substitute advance equal to
// the source's:
//
//   source advance of a code   (w / 1000 * Tfs + Tc + Tw [code is single-byte 32]) * Th
//   substitute advance         (sum of its glyphs' w' / 1000 * Tfs + Tc) * Th * r
//
// with r = source / substitute over the word's codes, written as Tz = Th * r.
// The TJ numbers inside a word are divided by r, so their displacement is
// the source's. The spaces after a word are drawn under the word's scaling
// and followed by one TJ number that brings the pen exactly to where the
// source's next word starts; the same number absorbs the small difference
// left when a word's ratio is within 0.5% of 1 and no Tz is written for it
// (so the output stays small and positions do not drift). Word spacing is
// folded in this way by necessity as well: the substitute font's codes are
// two bytes long, and Tw applies to single-byte code 32 only. At the end the
// caller's Tz is restored.
//
// The operation is written as it was (one string per string, numbers kept)
// when the advances cannot be known: a code without a source width, a font
// size of 0, a vertical font (the substitute font is horizontal), or an
// absurd ratio.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

#include "writer/text.h"
#include "writer/writer.h"

namespace zyk {

namespace {

// Ratios within this of 1 are not written; outside [k_ratio_min,
// k_ratio_max] the advances are not trusted (a width table that does not
// fit the codes).
constexpr double k_ratio_tolerance = 0.005;
constexpr double k_ratio_min = 0.05;
constexpr double k_ratio_max = 20;
// A TJ number that moves the pen right by this much (1/1000 em) or more
// separates words the way a space does: readers see a word break there, so
// the pieces on either side get their own scaling.
constexpr double k_gap_number = 100;

// A compact decimal: up to `places` decimals, trailing zeros dropped.
std::string num(double v, int places) {
  // As "%.*f" into 48 bytes writes it (std::to_chars gives the same digits,
  // much faster; the cut at 47 characters only touches absurd values).
  char buf[400];
  const std::to_chars_result r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, places);
  std::string s(buf, std::min<std::size_t>(static_cast<std::size_t>(r.ptr - buf), 47));
  if (s.find('.') != std::string::npos) {
    while (s.back() == '0') s.pop_back();
    if (s.back() == '.') s.pop_back();
  }
  if (s == "-0") s = "0";
  return s;
}

// One code or TJ number of a show. The glyphs of all codes are kept in one
// array (a piece names its run there): a vector per code cost an
// allocation per character drawn.
struct Piece {
  std::size_t g0 = 0, gn = 0;  // output glyphs of one code: glyphs[g0, g0 + gn)
  double src = 0;           // source advance (text space, before Th)
  double sub = 0;           // substitute advance at ratio 1
  bool space = false;       // a single-byte code 32
  bool is_number = false;
  double number = 0;        // TJ number (source)
};

void put_glyphs(std::string *out, const std::vector<int> &glyphs, const Piece &p) {
  for (std::size_t k = p.g0; k < p.g0 + p.gn; k++) put_glyph_bytes(out, glyphs[k]);
}

// v in upper-case hex digits, at least four of them (a UTF-16 unit; a
// larger value keeps all its digits).
void put_hex4(std::string *hex, std::uint32_t v) {
  static constexpr char k_digits[] = "0123456789ABCDEF";
  char buf[8];
  int n = 0;
  do {
    buf[n++] = k_digits[v & 0xF];
    v >>= 4;
  } while (v != 0 || n < 4);
  while (n > 0) hex->push_back(buf[--n]);
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

}  // namespace

void put_utf16_hex(std::string *hex, std::uint32_t u) {
  if (u > 0xFFFF) {
    u -= 0x10000;
    put_hex4(hex, 0xD800 + (u >> 10));
    put_hex4(hex, 0xDC00 + (u & 0x3FF));
  } else {
    put_hex4(hex, u);
  }
}

void put_glyph_bytes(std::string *out, int g) {
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

namespace {

// The characters of a code as drawn: a lone presentation ligature as its
// letters.
std::u32string drawn_chars(const TextCode &c) {
  return c.chars.size() == 1 ? unligature(c.chars[0]) : c.chars;
}

}  // namespace

namespace {

// code_glyphs, appending to *gs.
void append_code_glyphs(const TextCode &c, GlyphUse &use, ShowMarks *marks, std::vector<int> *gs) {
  const std::size_t from = gs->size();
  const std::u32string chars = drawn_chars(c);
  bool all = !chars.empty();
  for (char32_t u : chars) {
    int g = all ? text_glyph(use, u) : -1;
    if (g < 0) all = false;
    else gs->push_back(g);
  }
  if (!all) {
    int g = text_standin_glyph(use);
    gs->resize(from);
    gs->push_back(g > 0 ? g : 0);
    marks->standin = true;
  }
}

}  // namespace

std::vector<int> code_glyphs(const TextCode &c, GlyphUse &use, ShowMarks *marks) {
  std::vector<int> gs;
  append_code_glyphs(c, use, marks, &gs);
  return gs;
}

int text_glyph_width(int g) {
  const SubstituteFont &sub = substitute_font();
  const int upm = sub.upm;
  int adv = sub.ready ? sub.advance(static_cast<std::uint32_t>(g)) : -1;
  return adv > 0 ? static_cast<int>((static_cast<long long>(adv) * 1000 + upm / 2) / upm) : 500;
}

namespace {

// A TJ displacement as one number, or as several numbers one after the
// other (which add up) when it is beyond 32767 in magnitude: PDF/A-1
// readers need not handle larger reals, and a wide gap under a small font
// or a narrow Tz can ask for more.
std::string tj_number(double n, int decimals) {
  constexpr double k_most = 32767;
  // A gap is written as at most 16 numbers (half a million thousandths of
  // an em: text that far moves off any page), so that a huge number in a
  // small content cannot make an output of gigabytes.
  constexpr double k_largest = 16 * k_most;
  if (!std::isfinite(n)) n = 0;
  n = std::fmax(-k_largest, std::fmin(k_largest, n));
  std::string out;
  while (std::fabs(n) > k_most) {
    out += (n < 0 ? "-32767 " : "32767 ");
    n += n < 0 ? k_most : -k_most;
  }
  return out + num(n, decimals);
}

}  // namespace

void show_write(const SourceFont &f, const TextState &ts, const std::vector<ShowItem> &items, GlyphUse &use,
                ShowMarks *marks, std::string *out) {
  // Glyphs of every code, as the plain re-encoding draws them.
  std::vector<Piece> pieces;
  std::vector<int> glyphs;
  std::size_t ncodes = 0;
  for (const ShowItem &it : items) ncodes += it.is_number ? 1 : it.codes.size();
  pieces.reserve(ncodes);
  glyphs.reserve(ncodes);
  bool known = ts.size != 0 && std::isfinite(ts.size) && !f.vertical && f.kind != TextKind::keep;
  for (const ShowItem &it : items) {
    if (it.is_number) {
      Piece p;
      p.is_number = true;
      p.number = it.number;
      pieces.push_back(p);
      continue;
    }
    for (const TextCode &c : it.codes) {
      Piece p;
      p.g0 = glyphs.size();
      append_code_glyphs(c, use, marks, &glyphs);
      p.gn = glyphs.size() - p.g0;
      p.space = c.nbytes == 1 && c.code == 32;
      if (c.width < 0) known = false;
      p.src = c.width / 1000.0 * ts.size + ts.char_spacing + (p.space ? ts.word_spacing : 0);
      for (std::size_t k = p.g0; k < p.g0 + p.gn; k++) p.sub += text_glyph_width(glyphs[k]) / 1000.0 * ts.size + ts.char_spacing;
      pieces.push_back(p);
    }
  }
  // The known text of the whole operation, for the /ActualText the caller
  // wraps around a stand-in glyph; built only when one was drawn.
  if (marks->standin)
    for (const ShowItem &it : items)
      for (const TextCode &c : it.codes)
        for (char32_t u : drawn_chars(c)) put_utf16_hex(&marks->actual, u);

  if (!known) {
    // As the source wrote it: strings in order, numbers between them.
    bool array = items.size() != 1 || items[0].is_number;
    std::string body;
    std::size_t k = 0;
    for (const ShowItem &it : items) {
      if (it.is_number) {
        body += (body.empty() || body.back() == '[' ? "" : " ") + tj_number(it.number, 3);
        k++;
        continue;
      }
      body += '(';
      for (std::size_t n = 0; n < it.codes.size(); n++, k++) put_glyphs(&body, glyphs, pieces[k]);
      body += ')';
    }
    *out += array ? "[" + body + "] TJ" : body + " Tj";
    return;
  }

  // Words: maximal runs of non-space codes; ratio per word. The operators
  // written are collected in `parts` and joined with spaces.
  std::vector<std::string> parts;
  const double base_tz = ts.scale;
  double cur_tz = base_tz;
  double pending = 0;  // source advance still to make up, in text space before Th
  std::string arr;     // the open TJ array's body
  bool open = false, in_string = false;
  auto close_string = [&] {
    if (in_string) arr += ')';
    in_string = false;
  };
  auto open_string = [&] {
    if (!in_string) arr += '(';
    in_string = true;
  };
  auto put_number = [&](double n) {
    close_string();
    std::string s = tj_number(n, 2);
    if (s == "0") return;
    if (!arr.empty() && (std::isdigit(static_cast<unsigned char>(arr.back())) || arr.back() == '.')) arr += ' ';
    arr += s;
  };
  auto flush_array = [&] {
    close_string();
    if (open && !arr.empty()) parts.push_back("[" + arr + "] TJ");
    arr.clear();
    open = false;
  };
  // The pending displacement written as one number under the current Tz.
  auto settle = [&] {
    if (std::fabs(pending) < 1e-9) return;
    double r = cur_tz / base_tz;
    put_number(-pending * 1000.0 / (ts.size * r));
    pending = 0;
  };

  std::size_t i = 0;
  while (i < pieces.size()) {
    // Numbers met here are never inside a word (the word loop below takes
    // those), so they belong to the gap.
    if (pieces[i].space || pieces[i].is_number) {
      // Gap: spaces drawn under the current scaling, numbers as the source
      // moves; the difference goes into `pending`.
      Piece &p = pieces[i];
      double r = cur_tz / base_tz;
      open = true;
      if (p.is_number) {
        pending += -p.number / 1000.0 * ts.size;
      } else {
        settle();
        open_string();
        put_glyphs(&arr, glyphs, p);
        pending += p.src - p.sub * r;
      }
      i++;
      continue;
    }
    std::size_t j = i;
    double src = 0, sub = 0;
    while (j < pieces.size() && !pieces[j].space && !(pieces[j].is_number && pieces[j].number <= -k_gap_number)) {
      if (!pieces[j].is_number) {
        src += pieces[j].src;
        sub += pieces[j].sub;
      }
      j++;
    }
    // Trailing numbers of the run belong to the gap after it.
    while (j > i && pieces[j - 1].is_number) j--;
    double r = sub != 0 ? src / sub : 1;
    if (!(r >= k_ratio_min && r <= k_ratio_max)) r = 1;
    if (std::fabs(r - 1) <= k_ratio_tolerance) r = 1;
    double tz = base_tz * r;
    if (std::fabs(tz - cur_tz) > 1e-9) {
      // A new scaling: the pending displacement is settled under the old
      // one first, then the array closes.
      settle();
      flush_array();
      parts.push_back(num(tz, 3) + " Tz");
      cur_tz = tz;
    }
    settle();
    open = true;
    for (std::size_t k = i; k < j; k++) {
      const Piece &p = pieces[k];
      if (p.is_number) {
        put_number(p.number / r);
      } else {
        open_string();
        put_glyphs(&arr, glyphs, p);
      }
    }
    pending += src - sub * r;
    i = j;
  }
  settle();
  flush_array();
  if (std::fabs(cur_tz - base_tz) > 1e-9) parts.push_back(num(base_tz, 3) + " Tz");
  bool shown = false;
  for (const std::string &s : parts) shown = shown || s.ends_with("TJ");
  if (!shown) parts.insert(parts.begin(), "() Tj");  // nothing to draw: keep an operator in place
  for (std::size_t k = 0; k < parts.size(); k++) *out += (k ? " " : "") + parts[k];
}

}  // namespace zyk
