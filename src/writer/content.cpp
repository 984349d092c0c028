// Rewriting of content: one walk of the content walker (pdf/content.h) per
// content stream, with two handlers chained in this order:
//   1. the text re-encoding for the substitute font (text_rewrite.cpp);
//   2. the device-CMYK rewriting. The output intent is an RGB profile, and
//      PDF/A allows device colour only in the family of the output intent,
//      so painting in DeviceCMYK must become DeviceRGB. The conversion is
//      the naive one, r = (1 - c)(1 - k), g = (1 - m)(1 - k),
//      b = (1 - y)(1 - k), each component clamped to 0..1 first:
//        c m y k k      ->  r g b rg
//        c m y k K      ->  r g b RG
//        /DeviceCMYK cs ->  /DeviceRGB cs   (and CS), after which
//        c m y k sc|scn ->  r g b sc|scn    (SC, SCN for stroking)
//      Only operators whose four operands are plain numbers are touched, and
//      only their operands are parsed. The current fill and stroke spaces
//      are saved by q and restored by Q and reset by g/G/rg/RG/k/K and by
//      cs/CS with any other space. Colour spaces named through resources,
//      images and shadings in CMYK are left as they are.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "writer/text.h"
#include "writer/writer.h"

namespace zyk {

namespace {

void append_component(std::string *out, double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.4f", v);
  std::size_t n = std::strlen(buf);
  while (n > 1 && buf[n - 1] == '0') n--;
  if (n > 1 && buf[n - 1] == '.') n--;
  out->append(buf, n);
}

double clamp01(double v) { return v < 0 ? 0 : v > 1 ? 1 : v; }

// Numbers longer than this are no colour components (and are left alone).
constexpr std::size_t k_max_component_text = 40;

bool component(const ContentOp &o, std::size_t i, double *v) {
  return o.text(i).size() <= k_max_component_text && o.number(i, v);
}

// The last four operands as components, or false.
bool last_four(const ContentOp &o, double v[4]) {
  const std::size_t n = o.size();
  if (n < 4) return false;
  for (std::size_t k = 0; k < 4; k++)
    if (!component(o, n - 4 + k, &v[k])) return false;
  return true;
}

// "r g b" for c m y k.
std::string rgb_of(const double v[4]) {
  double c = clamp01(v[0]), m = clamp01(v[1]), y = clamp01(v[2]), k = clamp01(v[3]);
  std::string s;
  append_component(&s, (1 - c) * (1 - k));
  s += ' ';
  append_component(&s, (1 - m) * (1 - k));
  s += ' ';
  append_component(&s, (1 - y) * (1 - k));
  return s;
}

class DeviceCmyk : public ContentHandler {
 public:
  void save() override { saved_.push_back(cur_); }
  void restore() override {
    cur_ = saved_.back();
    saved_.pop_back();
  }
  void op(ContentOp &o) override {
    const std::size_t n = o.size();
    const std::string_view op = o.name();
    if (op.size() > 3) return;
    const bool fill_op = op == "sc" || op == "scn";
    const bool stroke_op = op == "SC" || op == "SCN";
    double v[4];
    if (op == "k" || op == "K") {
      if (last_four(o, v)) o.replace(n - 4, n, rgb_of(v) + (op == "k" ? " rg" : " RG"));
      (op == "k" ? cur_.fill : cur_.stroke) = false;
    } else if ((fill_op && cur_.fill) || (stroke_op && cur_.stroke)) {
      if (n == 4 && last_four(o, v)) o.replace(0, 3, rgb_of(v));
    } else if (op == "cs" || op == "CS") {
      bool cmyk = n > 0 && o.operand(n - 1).type != OperandType::number && o.text(n - 1) == "/DeviceCMYK";
      if (cmyk) o.replace(n - 1, n - 1, "/DeviceRGB");
      (op == "cs" ? cur_.fill : cur_.stroke) = cmyk;
    } else if (op == "g" || op == "rg") {
      cur_.fill = false;
    } else if (op == "G" || op == "RG") {
      cur_.stroke = false;
    }
  }

 private:
  struct Spaces {
    bool fill = false;
    bool stroke = false;
  };
  Spaces cur_;
  std::vector<Spaces> saved_;
};

}  // namespace

ContentWalk rewrite_content(const byte *content, int len, const byte *res, int res_len, const Transfer &x,
                            std::string *out) {
  ResourceFonts fonts;
  if (res) resource_fonts(*x.doc, res, res_len, &fonts);
  std::unique_ptr<ContentHandler> text = text_recode_handler(fonts, &x.map);
  DeviceCmyk cmyk;
  ContentHandler *chain[] = {text.get(), &cmyk};
  return content_walk(content, len, chain, out);
}

void cmyk_to_rgb(const std::string &in, std::string *out) {
  DeviceCmyk cmyk;
  ContentHandler *chain[] = {&cmyk};
  (void)content_walk(reinterpret_cast<const byte *>(in.data()), static_cast<int>(in.size()), chain, out);
}

}  // namespace zyk
