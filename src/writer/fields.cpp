// Form fields whose appearances the viewer is asked to build.
//
// A form whose /AcroForm says /NeedAppearances true leaves the drawing of
// its fields to the viewer: a form filler sets a field's /V and the flag,
// and the field's stored appearance (if any) still shows the old value or
// nothing. Viewers that honour the flag draw text and choice fields from
// their values, so the writer does the same for the fields it paints into
// the page: the value is shown in the substitute font, at the size and in
// the colour of the field's default appearance (/DA, inherited from its
// parents or the form), placed by /Q, in one line or (multiline fields)
// wrapped to the field's width, over the background and border colours of
// /MK. A list box shows its options from /TI down, the chosen ones (/I, or
// /V) highlighted. Password fields show no value. Buttons keep their stored
// appearances, one per state, which /AS chooses.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "pdf/content.h"
#include "writer/text.h"
#include "writer/val.h"
#include "writer/writer.h"

namespace zyk {

namespace {

// /Parent links followed for an inherited field entry.
constexpr int k_field_depth = 32;
// Characters of a value drawn; what lies beyond is past any field's edge.
constexpr std::size_t k_field_chars = 4096;
// Field flags.
constexpr long k_multiline = 1L << 12, k_password = 1L << 13, k_combo = 1L << 17, k_comb = 1L << 24;

// A field entry: the widget's own, else the nearest ancestor field's.
Val inherited(const Doc &d, Val widget, const char *key) {
  Val node = widget;
  for (int depth = 0; depth <= k_field_depth && node.ok(); depth++) {
    std::vector<DictEntry> es;
    if (!entries_of(node, &es)) break;
    Val v = entry(node, es, key);
    if (v.ok()) return resolve(d, v);
    node = resolve(d, entry(node, es, "Parent"));
  }
  return {};
}

long flags_of(const Doc &d, Val widget) {
  double f = 0;
  return number_of(inherited(d, widget, "Ff"), &f) && std::fabs(f) < 4294967296.0
             ? static_cast<long>(static_cast<std::int64_t>(f) & 0xFFFFFFFF)
             : 0;
}

std::string num(double v) { return format_num(std::fabs(v) < 1e-6 ? 0 : v); }

// Colour operands clamped to [0, 1] with their operator: g, rg, or k
// turned to rg as the page's own device CMYK is.
std::string colour_op(const double *c, int n, bool stroke) {
  auto comp = [](double v) { return num(std::clamp(std::isfinite(v) ? v : 0.0, 0.0, 1.0)); };
  std::string op;
  if (n == 1) {
    op = comp(c[0]) + (stroke ? " G" : " g");
  } else if (n == 3) {
    op = comp(c[0]) + ' ' + comp(c[1]) + ' ' + comp(c[2]) + (stroke ? " RG" : " rg");
  } else if (n == 4) {
    std::string cmyk = comp(c[0]) + ' ' + comp(c[1]) + ' ' + comp(c[2]) + ' ' + comp(c[3]) + (stroke ? " K" : " k");
    cmyk_to_rgb(cmyk, &op);
  }
  return op;
}

// An /MK colour entry as a fill or stroke operator ("" for none).
std::string mk_colour(const Doc &d, Val mk, const char *key, bool stroke) {
  std::vector<DictEntry> es;
  if (!entries_of(mk, &es)) return "";
  double c[4];
  int n = numbers_of(d, entry(mk, es, key), c, 4);
  return n == 1 || n == 3 || n == 4 ? colour_op(c, n, stroke) : "";
}

// What a default appearance string sets: the font size (0: fit the field)
// and the fill colour.
struct Look {
  double size = 0;
  std::string colour = "0 g";
};

// The default appearance is a piece of content: the walker reads it, and
// the last Tf and fill colour operator set the look.
class DaReader : public ContentHandler {
 public:
  explicit DaReader(Look *look) : look_(look) {}
  void op(ContentOp &o) override {
    double v[4];
    const std::size_t n = o.size();
    auto numbers = [&](std::size_t k) {
      if (n < k) return false;
      for (std::size_t i = 0; i < k; i++)
        if (!o.number(n - k + i, &v[i])) return false;
      return true;
    };
    if (o.is("Tf") && n >= 1 && o.number(n - 1, &v[0])) look_->size = v[0];
    else if (o.is("g") && numbers(1)) look_->colour = colour_op(v, 1, false);
    else if (o.is("rg") && numbers(3)) look_->colour = colour_op(v, 3, false);
    else if (o.is("k") && numbers(4)) look_->colour = colour_op(v, 4, false);
  }

 private:
  Look *look_;
};

Look read_da(const std::string &da) {
  Look look;
  DaReader reader(&look);
  ContentHandler *chain[] = {&reader};
  std::string copy;
  (void)content_walk(reinterpret_cast<const byte *>(da.data()), static_cast<int>(da.size()), chain, &copy);
  if (!std::isfinite(look.size) || look.size < 0) look.size = 0;
  look.size = std::min(look.size, 1000.0);
  return look;
}

// One glyph of the value as drawn.
struct Glyph {
  std::uint32_t u;  // the character (a space for a line's spaces)
  std::vector<int> gids;
  double width;  // 1/1000 em
  bool standin;  // drawn with the stand-in glyph
};

std::vector<Glyph> shape(const std::vector<std::uint32_t> &text, GlyphUse &use) {
  std::vector<Glyph> out;
  for (std::uint32_t u : text) {
    ShowMarks marks;
    TextCode c{u, 1, std::u32string(1, static_cast<char32_t>(u))};
    Glyph g{u, code_glyphs(c, use, &marks), 0, false};
    g.standin = marks.standin;
    for (int gid : g.gids) g.width += text_glyph_width(gid);
    out.push_back(std::move(g));
  }
  return out;
}

double width_of(const std::vector<Glyph> &line) {
  double w = 0;
  for (const Glyph &g : line) w += g.width;
  return w;
}

// Paragraphs (split at line ends) wrapped at spaces to `room` (1/1000 em);
// a word longer than the room is broken between characters.
std::vector<std::vector<Glyph>> wrap(const std::vector<Glyph> &all, double room, std::size_t max_lines) {
  std::vector<std::vector<Glyph>> lines(1);
  std::size_t i = 0;
  while (i < all.size() && lines.size() <= max_lines) {
    if (all[i].u == '\r' || all[i].u == '\n') {
      if (all[i].u == '\r' && i + 1 < all.size() && all[i + 1].u == '\n') i++;
      lines.emplace_back();
      i++;
      continue;
    }
    // The next word and the spaces before it.
    std::size_t j = i;
    while (j < all.size() && all[j].u == ' ') j++;
    while (j < all.size() && all[j].u != ' ' && all[j].u != '\r' && all[j].u != '\n') j++;
    std::vector<Glyph> word(all.begin() + static_cast<std::ptrdiff_t>(i), all.begin() + static_cast<std::ptrdiff_t>(j));
    std::vector<Glyph> &line = lines.back();
    if (line.empty() || width_of(line) + width_of(word) <= room) {
      line.insert(line.end(), word.begin(), word.end());
    } else {
      // On a new line, without the spaces that separated it.
      std::size_t k = 0;
      while (k < word.size() && word[k].u == ' ') k++;
      lines.emplace_back(word.begin() + static_cast<std::ptrdiff_t>(k), word.end());
    }
    // A line wider than the room is broken between characters.
    while (lines.back().size() > 1 && width_of(lines.back()) > room && lines.size() <= max_lines) {
      std::vector<Glyph> &l = lines.back();
      std::size_t fit = 1;
      double w = l[0].width;
      while (fit < l.size() && w + l[fit].width <= room) w += l[fit++].width;
      std::vector<Glyph> rest(l.begin() + static_cast<std::ptrdiff_t>(fit), l.end());
      l.resize(fit);
      lines.push_back(std::move(rest));
    }
    i = j;
  }
  if (lines.size() > max_lines) lines.resize(max_lines);
  return lines;
}

// The show operation of glyphs at (x, y), wrapped in /ActualText when a
// stand-in glyph is among them.
std::string show_line(const std::vector<Glyph> &line, double x, double y) {
  std::string body, actual;
  bool standin = false;
  for (const Glyph &g : line) {
    for (int gid : g.gids) put_glyph_bytes(&body, gid);
    put_utf16_hex(&actual, g.u);
    standin = standin || g.standin;
  }
  if (body.empty()) return "";
  std::string op = "1 0 0 1 " + num(x) + ' ' + num(y) + " Tm (" + body + ") Tj\n";
  if (standin) op = "/Span<</ActualText<FEFF" + actual + ">>>BDC " + op + "EMC\n";
  return op;
}

// A text string's characters as a field shows them: line ends kept for a
// multiline field (else spaces), tabs as spaces, other controls dropped.
std::vector<std::uint32_t> shown_chars(const std::string &bytes, bool multiline) {
  std::vector<std::uint32_t> points, out;
  if (!text_string_points(bytes, &points)) return out;
  for (std::uint32_t u : points) {
    if (out.size() >= k_field_chars) break;
    if (u == '\r' || u == '\n') {
      out.push_back(multiline ? u : ' ');
    } else if (u == '\t') {
      out.push_back(' ');
    } else if (u >= 0x20 && !(u >= 0x7F && u < 0xA0)) {
      out.push_back(u);
    }
  }
  return out;
}

// A choice field's options: export value and the text shown for it.
std::vector<std::pair<std::string, std::string>> options_of(const Doc &d, Val widget) {
  std::vector<std::pair<std::string, std::string>> out;
  Val opt = inherited(d, widget, "Opt");
  if (!opt.ok() || opt.t[opt.s] != '[') return out;
  for (auto [os, oe] : value_items(opt.t, opt.s, opt.e)) {
    Val o = resolve(d, {opt.t, os, oe});
    std::string exp, disp;
    if (string_of(o, &exp)) {
      out.emplace_back(exp, exp);
    } else if (o.ok() && o.t[o.s] == '[') {
      auto two = value_items(o.t, o.s, o.e);
      if (two.size() == 2 && string_of(resolve(d, {o.t, two[0].first, two[0].second}), &exp) &&
          string_of(resolve(d, {o.t, two[1].first, two[1].second}), &disp))
        out.emplace_back(exp, disp);
      else
        out.emplace_back();
    } else {
      out.emplace_back();
    }
    if (out.size() >= 1024) break;
  }
  return out;
}

// What a field shows.
struct Shown {
  enum class Kind { text, multiline, combo, list } kind = Kind::text;
  std::vector<std::uint32_t> value;  // text and combo boxes
  // List boxes: the options from the top one shown, and which are chosen.
  std::vector<std::vector<std::uint32_t>> options;
  std::vector<char> chosen;
};

// The values of /V: one string, or an array of them.
std::vector<std::string> values_of(const Doc &d, Val widget) {
  std::vector<std::string> out;
  Val v = inherited(d, widget, "V");
  std::string one;
  if (string_of(v, &one)) {
    out.push_back(one);
  } else if (v.ok() && v.t[v.s] == '[') {
    for (auto [vs, ve] : value_items(v.t, v.s, v.e))
      if (string_of(resolve(d, {v.t, vs, ve}), &one)) out.push_back(one);
  }
  return out;
}

// What the field widget shows; false when it is no field drawn from its
// value.
bool shown_of(const Doc &d, Val widget, long flags, Shown *out) {
  Val ft = inherited(d, widget, "FT");
  const std::vector<std::string> values = values_of(d, widget);
  if (is_name(ft, "/Tx")) {
    out->kind = flags & k_multiline ? Shown::Kind::multiline : Shown::Kind::text;
    if (!values.empty()) out->value = shown_chars(values[0], out->kind == Shown::Kind::multiline);
    return true;
  }
  if (!is_name(ft, "/Ch")) return false;
  const auto options = options_of(d, widget);
  if (flags & k_combo) {
    out->kind = Shown::Kind::combo;
    if (values.empty()) return true;
    std::string text = values[0];
    for (const auto &[exp, disp] : options)
      if (exp == text) {
        text = disp;
        break;
      }
    out->value = shown_chars(text, false);
    return true;
  }
  out->kind = Shown::Kind::list;
  // The chosen options: /I by index where given, else those whose export
  // value is a value of /V.
  std::vector<char> chosen(options.size(), 0);
  Val idx = inherited(d, widget, "I");
  bool by_index = false;
  if (idx.ok() && idx.t[idx.s] == '[') {
    for (auto [is, ie] : value_items(idx.t, idx.s, idx.e)) {
      double k = -1;
      if (number_of({idx.t, is, ie}, &k) && k >= 0 && k < static_cast<double>(options.size())) {
        chosen[static_cast<std::size_t>(k)] = 1;
        by_index = true;
      }
    }
  }
  if (!by_index)
    for (std::size_t k = 0; k < options.size(); k++)
      chosen[k] = std::find(values.begin(), values.end(), options[k].first) != values.end();
  double top = 0;
  if (!number_of(inherited(d, widget, "TI"), &top) || !(top >= 0) || top >= static_cast<double>(options.size()))
    top = 0;
  for (auto k = static_cast<std::size_t>(top); k < options.size(); k++) {
    out->options.push_back(shown_chars(options[k].second, false));
    out->chosen.push_back(chosen[k]);
  }
  return true;
}

}  // namespace

FieldForm field_form(const Doc &d) {
  FieldForm form;
  Val cat = object_val(d, d.catalog_num);
  std::vector<DictEntry> es;
  if (!entries_of(cat, &es)) return form;
  Val acro = resolve(d, entry(cat, es, "AcroForm"));
  std::vector<DictEntry> aes;
  if (!entries_of(acro, &aes)) return form;
  Val need = resolve(d, entry(acro, aes, "NeedAppearances"));
  form.need_appearances = need.ok() && token_is(need.t, need.s, need.e, "true");
  std::string da;
  if (string_of(resolve(d, entry(acro, aes, "DA")), &da)) form.da = da;
  double q = 0;
  if (number_of(resolve(d, entry(acro, aes, "Q")), &q)) form.quadding = static_cast<int>(q);
  return form;
}

bool field_paint(const Doc &d, const FieldForm &form, const byte *t, int s, int e, const std::string &font,
                 GlyphUse &use, std::string *paint) {
  const Val widget{t, s, e};
  std::vector<DictEntry> es;
  if (!form.need_appearances || !entries_of(widget, &es)) return false;
  const long flags = flags_of(d, widget);
  Shown shown;
  if (!shown_of(d, widget, flags, &shown)) return false;
  double r[4];
  if (numbers_of(d, entry(widget, es, "Rect"), r, 4) != 4) return false;
  const double x0 = std::fmin(r[0], r[2]), y0 = std::fmin(r[1], r[3]);
  const double w = std::fabs(r[2] - r[0]), h = std::fabs(r[3] - r[1]);
  for (double v : {x0, y0, x0 + w, y0 + h})
    if (!std::isfinite(v) || std::fabs(v) > 32767.0) return false;
  if (!(w > 0) || !(h > 0)) return false;

  // Border width: /BS /W, else the third number of /Border, else 1.
  double bw = 1;
  std::vector<DictEntry> bes;
  Val bs = resolve(d, entry(widget, es, "BS"));
  double b3[3];
  if (entries_of(bs, &bes) && number_of(resolve(d, entry(bs, bes, "W")), &bw)) {
  } else if (numbers_of(d, entry(widget, es, "Border"), b3, 3) == 3) {
    bw = b3[2];
  }
  bw = std::clamp(std::isfinite(bw) ? bw : 1.0, 0.0, std::fmin(w, h) / 4);
  Val mk = resolve(d, entry(widget, es, "MK"));
  const std::string bg = mk_colour(d, mk, "BG", false), bc = mk_colour(d, mk, "BC", true);

  std::string da;
  Val dav = inherited(d, widget, "DA");
  if (!string_of(dav, &da)) da = form.da;
  Look look = read_da(da);
  int quadding = form.quadding;
  double q = 0;
  if (number_of(inherited(d, widget, "Q"), &q)) quadding = static_cast<int>(q);

  std::string out = "q\n";
  if (!bg.empty()) out += bg + ' ' + num(x0) + ' ' + num(y0) + ' ' + num(w) + ' ' + num(h) + " re f\n";
  if (!bc.empty() && bw > 0)
    out += bc + ' ' + num(bw) + " w " + num(x0 + bw / 2) + ' ' + num(y0 + bw / 2) + ' ' + num(w - bw) + ' ' +
           num(h - bw) + " re S\n";

  const bool multiline = shown.kind == Shown::Kind::multiline, list = shown.kind == Shown::Kind::list;
  const double pad = bw + 2;
  const double room_w = w - 2 * pad, room_h = h - 2 * bw;
  if ((flags & k_password) || (list ? shown.options.empty() : shown.value.empty()) || !(room_w > 0) ||
      !(room_h > 0)) {
    *paint = out + "Q";
    return true;
  }
  double size = look.size;
  if ((multiline || list) && size <= 0) size = 12;
  const double leading = size * 1.15;
  const auto max_lines = static_cast<std::size_t>(std::fmax(1, std::floor(room_h / leading) + 1));
  std::vector<Glyph> glyphs = shape(shown.value, use);
  std::vector<std::vector<Glyph>> lines;
  if (multiline) {
    lines = wrap(glyphs, room_w * 1000 / size, max_lines);
  } else if (list) {
    for (std::size_t k = 0; k < shown.options.size() && k < max_lines; k++)
      lines.push_back(shape(shown.options[k], use));
  } else {
    lines.push_back(glyphs);
    if (size <= 0) {
      // Fit the height, then the width.
      size = room_h / 1.35;
      const double wide = width_of(glyphs) / 1000;
      if (wide * size > room_w && wide > 0) size = room_w / wide;
      size = std::clamp(size, 1.0, 1000.0);
    }
  }
  const double top = y0 + h - bw - 2 - 0.88 * size;

  out += num(x0 + bw) + ' ' + num(y0 + bw) + ' ' + num(w - 2 * bw) + ' ' + num(h - 2 * bw) + " re W n\n";
  if (list) {
    // The chosen options on a highlight across the field.
    for (std::size_t k = 0; k < lines.size(); k++)
      if (shown.chosen[k])
        out += "0.6 0.75 0.85 rg " + num(x0 + bw) + ' ' + num(top - 0.22 * size - static_cast<double>(k) * leading) +
               ' ' + num(w - 2 * bw) + ' ' + num(leading) + " re f\n";
  }
  out += "BT /" + font + ' ' + num(size) + " Tf " + look.colour + '\n';
  double max_len = 0;
  if (!number_of(inherited(d, widget, "MaxLen"), &max_len)) max_len = 0;
  if (shown.kind == Shown::Kind::text && (flags & k_comb) && max_len >= 1 && max_len <= 10000) {
    // Each character centred in its own cell.
    const double cell = w / std::floor(max_len);
    const double y = y0 + (h - size) / 2 + 0.22 * size;
    for (std::size_t i = 0; i < glyphs.size() && i < static_cast<std::size_t>(max_len); i++)
      out += show_line({glyphs[i]}, x0 + cell * static_cast<double>(i) + (cell - glyphs[i].width * size / 1000) / 2, y);
  } else {
    double y = multiline || list ? top : y0 + (h - size) / 2 + 0.22 * size;
    for (const auto &line : lines) {
      const double lw = width_of(line) * size / 1000;
      double x = x0 + pad;
      if (quadding == 1) x = x0 + (w - lw) / 2;
      else if (quadding == 2) x = x0 + w - pad - lw;
      out += show_line(line, x, y);
      y -= leading;
    }
  }
  *paint = out + "ET\nQ";
  return true;
}

}  // namespace zyk
