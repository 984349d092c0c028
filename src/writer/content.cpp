// Rewriting of page content.
//
// Two steps run over every page's decoded content, in this order:
//   1. rewrite_content: the text re-encoding for the substitute font.
//   2. cmyk_to_rgb. The output intent is an RGB profile, and PDF/A allows
//      device colour only in the family of the output intent, so painting in
//      DeviceCMYK must become DeviceRGB. The conversion is the naive one,
//      r = (1 - c)(1 - k), g = (1 - m)(1 - k), b = (1 - y)(1 - k), each
//      component clamped to 0..1 first:
//        c m y k k      ->  r g b rg
//        c m y k K      ->  r g b RG
//        /DeviceCMYK cs ->  /DeviceRGB cs   (and CS), after which
//        c m y k sc|scn ->  r g b sc|scn    (SC, SCN for stroking)
//      Only operators whose four operands are plain numbers are touched. The
//      current fill and stroke spaces are tracked through q/Q (to a bounded
//      depth) and reset by g/G/rg/RG/k/K and by cs/CS with any other space.
//      Colour spaces named through resources, images and shadings in CMYK
//      are left as they are.
// The walk tokenises the content: strings, hexadecimal strings, arrays,
// dictionaries, comments and inline image data (BI ... ID data EI) are passed
// over whole, so nothing inside them is ever rewritten.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "writer/text.h"
#include "writer/writer.h"

namespace zyk {

void rewrite_content(const byte *content, int len, const byte *res, int res_len, const Transfer &x,
                     std::string *out) {
  ResourceFonts fonts;
  if (res) resource_fonts(*x.doc, res, res_len, &fonts);
  text_rewrite(fonts, content, len, &x.map, out);
}

namespace {

struct Operand {
  std::size_t start;
  std::size_t end;
  bool numeric;
  double value;
};

bool parse_number(const std::string &s, std::size_t b, std::size_t e, double *v) {
  if (e <= b || e - b > 40) return false;
  char tmp[48];
  std::size_t n = 0;
  bool digit = false;
  for (std::size_t i = b; i < e; i++) {
    char c = s[i];
    if (c >= '0' && c <= '9') {
      digit = true;
    } else if (!(c == '.' || ((c == '-' || c == '+') && i == b))) {
      return false;
    }
    tmp[n++] = c;
  }
  tmp[n] = 0;
  if (!digit) return false;
  *v = std::strtod(tmp, nullptr);
  return true;
}

void append_component(std::string *out, double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.4f", v);
  std::size_t n = std::strlen(buf);
  while (n > 1 && buf[n - 1] == '0') n--;
  if (n > 1 && buf[n - 1] == '.') n--;
  out->append(buf, n);
}

double clamp01(double v) { return v < 0 ? 0 : v > 1 ? 1 : v; }

// "r g b" for the four operands ending at ops[n - 1].
std::string rgb_of(const std::vector<Operand> &ops) {
  std::size_t n = ops.size();
  double c = clamp01(ops[n - 4].value), m = clamp01(ops[n - 3].value), y = clamp01(ops[n - 2].value),
         k = clamp01(ops[n - 1].value);
  std::string s;
  append_component(&s, (1 - c) * (1 - k));
  s += ' ';
  append_component(&s, (1 - m) * (1 - k));
  s += ' ';
  append_component(&s, (1 - y) * (1 - k));
  return s;
}

bool last_four_numeric(const std::vector<Operand> &ops) {
  if (ops.size() < 4) return false;
  for (std::size_t i = ops.size() - 4; i < ops.size(); i++)
    if (!ops[i].numeric) return false;
  return true;
}

bool is_ws(char c) { return is_pdf_ws(static_cast<byte>(c)); }
bool is_reg(char c) { return is_regular(static_cast<byte>(c)); }

// End of the inline image whose "ID" operator ends at i: after the "EI"
// that follows white space and is followed by white space or the end.
std::size_t inline_image_end(const std::string &s, std::size_t i) {
  std::size_t p = i + 1;  // one white-space byte follows ID
  while (p + 1 < s.size()) {
    if (s[p] == 'E' && s[p + 1] == 'I' && p > 0 && is_ws(s[p - 1]) && (p + 2 == s.size() || !is_reg(s[p + 2])))
      return p + 2;
    p++;
  }
  return s.size();
}

// End of the token at i: strings, arrays and dictionaries whole.
std::size_t token_end(const std::string &s, std::size_t i) {
  auto t = reinterpret_cast<const byte *>(s.data());
  int e = value_end(t, static_cast<int>(i), static_cast<int>(s.size()));
  if (e < 0) return s.size();
  return static_cast<std::size_t>(e) > i ? static_cast<std::size_t>(e) : i + 1;
}

}  // namespace

void cmyk_to_rgb(const std::string &in, std::string *out) {
  out->clear();
  out->reserve(in.size());
  struct Spaces {
    bool fill;
    bool stroke;
  };
  Spaces cur{false, false};
  std::vector<Spaces> saved;
  std::vector<Operand> ops;
  std::size_t copied = 0;  // bytes of `in` already in `out`
  std::size_t i = 0;
  auto replace = [&](std::size_t from, std::size_t to, const std::string &with) {
    out->append(in, copied, from - copied);
    out->append(with);
    copied = to;
  };
  while (i < in.size()) {
    char c = in[i];
    if (is_ws(c)) {
      i++;
      continue;
    }
    if (c == '%') {
      while (i < in.size() && in[i] != '\r' && in[i] != '\n') i++;
      continue;
    }
    if (!is_reg(c)) {
      std::size_t e = token_end(in, i);
      ops.push_back({i, e, false, 0});
      i = e;
      continue;
    }
    std::size_t e = i;
    while (e < in.size() && is_reg(in[e])) e++;
    double v = 0;
    if (parse_number(in, i, e, &v)) {
      ops.push_back({i, e, true, v});
      i = e;
      continue;
    }
    std::string_view op(in.data() + i, e - i);
    if (op == "true" || op == "false" || op == "null") {
      ops.push_back({i, e, false, 0});
      i = e;
      continue;
    }
    const bool fill_op = op == "sc" || op == "scn";
    const bool stroke_op = op == "SC" || op == "SCN";
    if ((op == "k" || op == "K") && last_four_numeric(ops)) {
      replace(ops[ops.size() - 4].start, e, rgb_of(ops) + (op == "k" ? " rg" : " RG"));
    } else if (((fill_op && cur.fill) || (stroke_op && cur.stroke)) && ops.size() == 4 && last_four_numeric(ops)) {
      replace(ops[0].start, ops[3].end, rgb_of(ops));
    } else if (op == "cs" || op == "CS") {
      bool cmyk = !ops.empty() && !ops.back().numeric &&
                  std::string_view(in.data() + ops.back().start, ops.back().end - ops.back().start) == "/DeviceCMYK";
      if (cmyk) replace(ops.back().start, ops.back().end, "/DeviceRGB");
      (op == "cs" ? cur.fill : cur.stroke) = cmyk;
    } else if (op == "g" || op == "rg" || op == "k") {
      cur.fill = false;
    } else if (op == "G" || op == "RG" || op == "K") {
      cur.stroke = false;
    } else if (op == "q") {
      if (saved.size() < static_cast<std::size_t>(k_gstate_depth)) saved.push_back(cur);
    } else if (op == "Q") {
      if (!saved.empty()) {
        cur = saved.back();
        saved.pop_back();
      }
    } else if (op == "ID") {
      e = inline_image_end(in, e);
    }
    if (op == "k") cur.fill = false;
    if (op == "K") cur.stroke = false;
    ops.clear();
    i = e;
  }
  out->append(in, copied, in.size() - copied);
}

}  // namespace zyk
