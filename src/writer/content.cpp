// Rewriting of content: one walk of the content walker (pdf/content.h) per
// content stream (two when the q nesting must be flattened), with these
// handlers chained in this order (rewrite_content):
//   1. DefinedOperators: operators PDF does not define are removed, first,
//      so that no handler after it sees them kept;
//   2. NumberLimits: numbers beyond what readers of the part must handle
//      are clamped;
//   3. GlyphWidth: in a Type 3 glyph procedure, d0/d1 agree with the
//      font's /Widths;
//   4. the text re-encoding for the substitute font (text_rewrite.cpp);
//   5. DeviceCmyk: the output intent is an RGB profile, and PDF/A allows
//      device colour only in the family of the output intent, so painting
//      in DeviceCMYK becomes DeviceRGB. The conversion is the naive one,
//      r = (1 - c)(1 - k), g = (1 - m)(1 - k), b = (1 - y)(1 - k), each
//      component clamped to 0..1 first:
//        c m y k k      ->  r g b rg
//        c m y k K      ->  r g b RG
//        /DeviceCMYK cs ->  /DeviceRGB cs   (and CS), after which
//        c m y k sc|scn ->  r g b sc|scn    (SC, SCN for stroking)
//      Only operators whose four operands are plain numbers are touched, and
//      only their operands are parsed. The current fill and stroke spaces
//      are saved by q and restored by Q and reset by g/G/rg/RG/k/K and by
//      cs/CS with any other space. Colour spaces named through resources,
//      images and shadings in CMYK are left as they are;
//   6. HiddenContent: marked content in optional content that is off by
//      default is left out when the layers are not kept;
//   7. InlineImages: inline images in LZW are re-encoded, those in device
//      CMYK refused, those without data dropped;
//   8. the nesting handler: NestingScan measures the q depth; when it
//      passes the limit the content is walked a second time with
//      NestingFlatten, without the q/Q pairs that change nothing, or
//      refused;
//   9. PaintedNames: the names painted, with their q depth (last, so that
//      q and Q dropped by the nesting treatment are not counted).
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <set>
#include <string_view>

#include "flate/flate.h"

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


// An operator of at most three bytes as one number, for table lookups;
// 0 for anything longer (no operator PDF defines is).
constexpr std::uint32_t op_key(std::string_view op) {
  if (op.empty() || op.size() > 3) return 0;
  std::uint32_t k = 0;
  for (char c : op) k = k << 8 | static_cast<unsigned char>(c);
  return k;
}

// The keys of the operators, sorted once at compile time: every content
// operation asks, so a binary search replaces comparing names one by one.
template <std::size_t N>
constexpr std::array<std::uint32_t, N> op_keys(const std::string_view (&ops)[N]) {
  std::array<std::uint32_t, N> keys{};
  for (std::size_t i = 0; i < N; i++) keys[i] = op_key(ops[i]);
  std::sort(keys.begin(), keys.end());
  return keys;
}

constexpr std::string_view k_defined[] = {
    "b",  "B",  "b*", "B*", "BDC", "BI", "BMC", "BT", "BX", "c",  "cm", "CS", "cs", "d",  "d0", "d1", "Do",
    "DP", "EI", "EMC", "ET", "EX", "f",  "F",   "f*", "G",  "g",  "gs", "h",  "i",  "ID", "j",  "J",  "K",
    "k",  "l",  "m",  "M",  "MP", "n",  "q",   "Q",  "re", "RG", "rg", "ri", "s",  "S",  "SC", "sc", "SCN",
    "scn", "sh", "T*", "Tc", "Td", "TD", "Tf", "Tj", "TJ", "TL", "Tm", "Tr", "Ts", "Tw", "Tz", "v",  "w",
    "W",  "W*", "y",  "'",  "\""};
constexpr auto k_defined_keys = op_keys(k_defined);

// Operators that change nothing q saves: painting, paths, text showing and
// positioning (the text matrix is not part of the graphics state), marked
// content, XObjects and shadings (which restore what they change), the
// compatibility brackets.
constexpr std::string_view k_stateless[] = {
    "m",  "l", "c",  "v",  "y",  "h",  "re", "S",  "s",  "f",  "F",  "f*", "B",  "B*", "b",  "b*", "n",  "BT",
    "ET", "Tj", "TJ", "'", "Td", "Tm", "T*", "Do", "sh", "BI", "MP", "DP", "BMC", "BDC", "EMC", "BX", "EX"};
constexpr auto k_stateless_keys = op_keys(k_stateless);

}  // namespace

bool defined_operator(std::string_view op) {
  const std::uint32_t k = op_key(op);
  return k != 0 && std::binary_search(k_defined_keys.begin(), k_defined_keys.end(), k);
}

int operands_needed(std::string_view op) {
  struct Need {
    std::string_view op;
    int n;
  };
  static constexpr Need k_needs[] = {
      {"\"", 3}, {"'", 1},   {"BDC", 2}, {"BMC", 1}, {"CS", 1}, {"DP", 2}, {"Do", 1}, {"G", 1},  {"J", 1},
      {"K", 4},  {"M", 1},   {"MP", 1},  {"RG", 3},  {"TD", 2}, {"TJ", 1}, {"TL", 1}, {"Tc", 1}, {"Td", 2},
      {"Tf", 2}, {"Tj", 1},  {"Tm", 6},  {"Tr", 1},  {"Ts", 1}, {"Tw", 1}, {"Tz", 1}, {"c", 6},  {"cm", 6},
      {"cs", 1}, {"d", 2},   {"d0", 2},  {"d1", 6},  {"g", 1},  {"gs", 1}, {"i", 1},  {"j", 1},  {"k", 4},
      {"l", 2},  {"m", 2},   {"re", 4},  {"rg", 3},  {"ri", 1}, {"sh", 1}, {"v", 4},  {"w", 1},  {"y", 4}};
  // Sorted by key once at compile time; every operation asks.
  static constexpr auto k_sorted = [] {
    std::array<std::pair<std::uint32_t, int>, std::size(k_needs)> a{};
    for (std::size_t i = 0; i < a.size(); i++) a[i] = {op_key(k_needs[i].op), k_needs[i].n};
    std::sort(a.begin(), a.end());
    return a;
  }();
  if (op.empty() || op.size() > 3) return 0;
  const std::uint32_t k = op_key(op);
  auto it = std::lower_bound(k_sorted.begin(), k_sorted.end(), std::pair<std::uint32_t, int>{k, 0});
  return it != k_sorted.end() && it->first == k ? it->second : 0;
}

namespace {

// Undefined operators count as keeping the state too: they are removed.
bool keeps_gstate(std::string_view op) {
  const std::uint32_t k = op_key(op);
  return (k != 0 && std::binary_search(k_stateless_keys.begin(), k_stateless_keys.end(), k)) ||
         !defined_operator(op);
}

// Removes operators PDF does not define, with their operands. A reader
// skips them (inside BX ... EX by right, elsewhere as an error), so they
// paint nothing; PDF/A allows none, not even inside BX ... EX. Defined
// operators short of operands go too: readers refuse them, each in its own
// way ("xxx 0 0 yyy 0 0 cm" leaves a cm of two). So do operands in front of
// an inline image, which no operator takes: left in place they would join
// the operands of whatever follows once the image itself is dropped, and
// no handler sees them to keep them within the part's limits.
class DefinedOperators : public ContentHandler {
 public:
  void op(ContentOp &o) override {
    o.drop_stray_operands();
    const int need = operands_needed(o.name());
    if (!defined_operator(o.name()) || (need > 0 && o.size() < static_cast<std::size_t>(need))) o.drop();
  }
};

// The q nesting of content, counted without the walker's bound, and the q/Q
// pairs that can go without changing anything: a q whose own level (nested
// levels aside, which restore their own changes) changes nothing before
// its Q, and a q that is never closed (the content ends at the same state
// either way, since every level it encloses also runs to the end).
// Operations are numbered in walking order, which is the same in every walk
// of the same content.
class NestingScan : public ContentHandler {
 public:
  void op(ContentOp &o) override {
    const std::size_t n = count_++;
    removable_.push_back(false);
    if (o.is("q")) {
      open_.push_back({n, false});
      max_ = std::max(max_, open_.size());
    } else if (o.is("Q")) {
      if (open_.empty()) return;
      if (!open_.back().dirty) removable_[open_.back().at] = removable_[n] = true;
      open_.pop_back();
    } else if (!open_.empty() && !keeps_gstate(o.name())) {
      open_.back().dirty = true;
    }
  }
  std::size_t max_depth() const { return max_; }
  // Call after the walk: marks the levels left open.
  std::vector<bool> removable() {
    for (const Level &l : open_) removable_[l.at] = true;
    return std::move(removable_);
  }

 private:
  struct Level {
    std::size_t at;
    bool dirty;
  };
  std::size_t count_ = 0, max_ = 0;
  std::vector<Level> open_;
  std::vector<bool> removable_;
};

// Drops the q and Q the scan found removable and measures the nesting left.
class NestingFlatten : public ContentHandler {
 public:
  explicit NestingFlatten(std::vector<bool> removable) : removable_(std::move(removable)) {}
  void op(ContentOp &o) override {
    const std::size_t n = count_++;
    if (n < removable_.size() && removable_[n]) {
      o.drop();
    } else if (o.is("q")) {
      max_ = std::max(max_, ++depth_);
    } else if (o.is("Q") && depth_ > 0) {
      depth_--;
    }
  }
  std::size_t max_depth() const { return max_; }

 private:
  std::vector<bool> removable_;
  std::size_t count_ = 0, depth_ = 0, max_ = 0;
};


// Inline images: LZW, allowed in neither part, is decoded (with every filter
// before it in the chain) and the image written with its data compressed
// with Flate and in hexadecimal, followed by the filters that came after the
// LZW stage. Hexadecimal data cannot hold the "EI" that ends the image, so a
// reader finds the end where it is. An image in device CMYK (its own colour
// space, an Indexed base or an alternate) refuses: the output intent is RGB,
// and the CMYK profile can only be named from a resource dictionary.
class InlineImages : public ContentHandler {
 public:
  InlineImages(const Doc &d, std::string *refusal) : d_(d), refusal_(refusal) {}
  void op(ContentOp &o) override {
    if (!o.is("BI")) return;
    // An image dictionary that no ID follows has no data and paints
    // nothing; left in place, it would take whatever is written after it
    // (once an undefined operator there is dropped) as its dictionary.
    const int dict_end = o.size() ? o.operand(o.size() - 1).end : o.start() + 2;
    if (o.end() <= dict_end) {
      o.drop();
      return;
    }
    if (o.size() == 0) return;
    interpolation_off(o);
    const byte *src = o.source();
    const int ds = o.operand(0).start, de = o.operand(o.size() - 1).end;
    std::string dict =
        "<< " + std::string(reinterpret_cast<const char *>(src) + ds, static_cast<std::size_t>(de - ds)) + " >>";
    const byte *t = reinterpret_cast<const byte *>(dict.data());
    std::vector<DictEntry> es;
    int close = 0;
    if (!dict_entries(t, 0, static_cast<int>(dict.size()), &es, &close)) return;
    const DictEntry *cs = dict_find(t, es, "CS");
    if (!cs) cs = dict_find(t, es, "ColorSpace");
    if (cs && refusal_->empty() && names_cmyk(t, cs->val, cs->val_end)) {
      *refusal_ = "inline image in DeviceCMYK cannot be kept in PDF/A";
      return;
    }
    std::vector<FilterStep> steps;
    if (dict_filters(d_, t, es, true, &steps) != DecodeStatus::done) return;
    std::size_t last_lzw = steps.size();
    for (std::size_t k = 0; k < steps.size(); k++)
      if (steps[k].kind == FilterKind::lzw) last_lzw = k;
    if (last_lzw == steps.size()) return;
    // The data: after ID and one white-space byte, to the white space
    // before EI.
    int p = skip_ws_comments(src, de, o.end());
    if (p + 2 > o.end() || src[p] != 'I' || src[p + 1] != 'D') return;
    const int data_start = p + 3;
    int data_end = o.end() - 2;
    if (data_end > data_start && is_pdf_ws(src[data_end - 1])) data_end--;
    if (data_end < data_start) data_end = data_start;
    std::string plain;
    ChainResult r = filter_chain(steps.data(), last_lzw + 1, src + data_start,
                                 static_cast<std::size_t>(data_end - data_start), DecodeLimits{}, &plain);
    if (r.status != DecodeStatus::done) {
      if (refusal_->empty()) *refusal_ = "cannot decode the LZW data of an inline image";
      return;
    }
    unsigned char *packed = nullptr;
    std::uint64_t packed_len = 0;
    if (sx_deflate(reinterpret_cast<const unsigned char *>(plain.data()), plain.size(), &packed, &packed_len) != 0) {
      if (refusal_->empty()) *refusal_ = "cannot compress an inline image";
      return;
    }
    std::string hex;
    hex.reserve(static_cast<std::size_t>(packed_len) * 2 + packed_len / 32 + 2);
    static const char k_digits[] = "0123456789ABCDEF";
    for (std::uint64_t i = 0; i < packed_len; i++) {
      hex += k_digits[packed[i] >> 4];
      hex += k_digits[packed[i] & 15];
      if (i % 40 == 39) hex += '\n';
    }
    std::free(packed);
    hex += '>';

    // The filters and parameters after the LZW stage, as written.
    const DictEntry *fe = dict_find(t, es, "F");
    if (!fe) fe = dict_find(t, es, "Filter");
    const DictEntry *pe = dict_find(t, es, "DP");
    if (!pe) pe = dict_find(t, es, "DecodeParms");
    std::vector<std::pair<int, int>> fnames = fe ? value_items(t, fe->val, fe->val_end) : decltype(fnames){};
    std::vector<std::pair<int, int>> parms = pe ? value_items(t, pe->val, pe->val_end) : decltype(parms){};
    std::string filters = "/AHx /Fl", dp = "null null";
    bool any_dp = false;
    for (std::size_t k = last_lzw + 1; k < fnames.size(); k++) {
      filters += ' ';
      filters.append(dict, static_cast<std::size_t>(fnames[k].first),
                     static_cast<std::size_t>(fnames[k].second - fnames[k].first));
      dp += ' ';
      if (k < parms.size()) {
        dp.append(dict, static_cast<std::size_t>(parms[k].first),
                  static_cast<std::size_t>(parms[k].second - parms[k].first));
        any_dp = true;
      } else {
        dp += "null";
      }
    }
    std::string text = "BI";
    for (const DictEntry &x : es) {
      if (key_is(t, x, "F") || key_is(t, x, "Filter") || key_is(t, x, "DP") || key_is(t, x, "DecodeParms") ||
          key_is(t, x, "L") || key_is(t, x, "Length"))
        continue;
      text += ' ';
      if ((key_is(t, x, "I") || key_is(t, x, "Interpolate")) && token_is(t, x.val, x.val_end, "true")) {
        text += "/I false";
        continue;
      }
      text.append(dict, static_cast<std::size_t>(x.key), static_cast<std::size_t>(x.val_end - x.key));
    }
    text += " /F [" + filters + "]";
    if (any_dp) text += " /DP [" + dp + "]";
    text += " ID\n" + hex + "\nEI";
    o.replace(0, o.size(), std::move(text));
  }

 private:
  // Interpolation is a rendering hint PDF/A does not allow (no part lets a
  // viewer smooth an image its own way): /I true becomes false.
  // An inline image is edited as a whole: the operation's text is written
  // again with the value changed.
  static void interpolation_off(ContentOp &o) {
    for (std::size_t i = 0; i + 1 < o.size(); i += 2) {
      const std::string key = o.name_text(i);
      if ((key != "I" && key != "Interpolate") || o.text(i + 1) != "true") continue;
      const char *src = reinterpret_cast<const char *>(o.source());
      const Operand &v = o.operand(i + 1);
      std::string text(src + o.start(), static_cast<std::size_t>(v.start - o.start()));
      text += "false";
      text.append(src + v.end, static_cast<std::size_t>(o.end() - v.end));
      o.replace(0, o.size(), std::move(text));
      return;
    }
  }
  // True when the colour space value names device CMYK anywhere in it.
  static bool names_cmyk(const byte *t, int s, int e) {
    for (auto [a, b] : value_items(t, s, e)) {
      if (token_is(t, a, b, "/CMYK") || token_is(t, a, b, "/DeviceCMYK")) return true;
      if (t[a] == '[' && names_cmyk(t, a, b)) return true;
    }
    return false;
  }
  const Doc &d_;
  std::string *refusal_;
};

// Numbers beyond what PDF/A lets a reader expect: integers beyond 32 bits
// (both parts) and, in part 1, reals beyond 32767 in magnitude. They stand
// for "very far" (a path point off the page, say), so the limit keeps the
// meaning, as in copied dictionaries. Numbers inside arrays (TJ kerning,
// dash patterns) are left to the handlers that own them.
class NumberLimits : public ContentHandler {
 public:
  explicit NumberLimits(int part) : part_(part) {}
  void op(ContentOp &o) override {
    for (std::size_t i = 0; i < o.size(); i++) {
      const Operand &a = o.operand(i);
      // Five characters hold every number within both limits.
      if (a.type != OperandType::number || a.end - a.start < 6) continue;
      double v = 0;
      if (!o.number(i, &v)) continue;
      const bool real = o.text(i).find('.') != std::string_view::npos;
      const bool beyond = real ? part_ == 1 && std::fabs(v) > 32767.0 : v > 2147483647.0 || v < -2147483648.0;
      if (!beyond) continue;
      if (o.is("BI")) {
        // An inline image is written as a whole, and no image of the few
        // kilobytes inline data may hold has a size or value that large:
        // the image is damaged, and is left out.
        o.drop();
        return;
      }
      if (real)
        o.replace(i, i, v < 0 ? "-32767" : "32767");
      else
        o.replace(i, i, v < 0 ? "-2147483648" : "2147483647");
    }
  }

 private:
  int part_;
};

// Content in optional content that is off by default: a viewer of the
// source shows the page without it, and the output has no optional
// content to switch it on with (PDF/A-1 knows none), so it is not
// painted. Nothing else changes: graphics state, clipping and the text
// position still follow every operator, as a viewer hiding the group
// does. Paths are ended without painting ("n"); text in a text object
// begun inside the hidden content is left out, other text is shown in
// render mode 3 (invisible) so that the text after it stays in place;
// images, shadings and XObjects are left out, and so is an XObject whose
// own /OC is off.
class HiddenContent : public ContentHandler {
 public:
  HiddenContent(const Transfer &x, const byte *res, int res_len) : x_(x) {
    if (x.oc_off.empty() || !res) return;
    const int s = skip_ws_comments(res, 0, res_len);
    for (const auto &[name, num] : resource_objects(*x.doc, res, s, res_len, "Properties"))
      if (optional_content_hidden(*x.doc, x.oc_off, num)) hidden_props_.insert(name);
    for (const auto &[name, num] : resource_objects(*x.doc, res, s, res_len, "XObject"))
      if (xobject_hidden(num)) hidden_xobjects_.insert(name);
  }
  void op(ContentOp &o) override {
    if (x_.oc_off.empty()) return;
    const std::string_view n = o.name();
    if (n == "BDC" || n == "BMC") {
      const bool hide = n == "BDC" && o.size() == 2 && o.name_text(0) == "OC" &&
                        o.operand(1).type == OperandType::name && hidden_props_.count(o.name_text(1));
      marks_.push_back(hide);
      hidden_ += hide;
      return;
    }
    if (n == "EMC") {
      if (!marks_.empty()) {
        hidden_ -= marks_.back();
        marks_.pop_back();
      }
      return;
    }
    if (n == "Do" && o.size() == 1 && hidden_xobjects_.count(o.name_text(0))) {
      o.drop();
      return;
    }
    if (n == "BT") text_hidden_ = hidden_ > 0;
    if (!hidden_) return;
    static constexpr std::string_view k_paint[] = {"f", "F", "f*", "S", "s", "B", "B*", "b", "b*"};
    if (std::find(std::begin(k_paint), std::end(k_paint), n) != std::end(k_paint)) {
      o.replace(o.size(), o.size(), "n");
    } else if (n == "Do" || n == "sh" || n == "BI") {
      o.drop();
    } else if ((n == "Tj" || n == "TJ") && text_hidden_) {
      // A text object begun inside hidden content: no text after it
      // depends on where this show leaves the text position, and hidden
      // text is not left in the file to be extracted.
      o.drop();
    } else if (n == "Tj" || n == "TJ" || n == "'" || n == "\"") {
      o.prepend("3 Tr ");
      o.append(" " + std::to_string(o.text_state().render) + " Tr");
    }
  }

 private:
  bool xobject_hidden(int num) const {
    const Doc &d = *x_.doc;
    const int k = num > 0 ? obj_find(&d.objs, num) : -1;
    const byte *t;
    int len;
    if (k < 0 || !object_text(d, d.objs.elems[k], &t, &len)) return false;
    std::vector<DictEntry> es;
    int close = 0;
    const int s = skip_ws_comments(t, 0, len);
    if (s >= len || t[s] != '<' || !dict_entries(t, s, len, &es, &close)) return false;
    const DictEntry *oc = dict_find(t, es, "OC");
    return oc && optional_content_hidden(d, x_.oc_off, value_ref(t, oc->val, oc->val_end));
  }
  const Transfer &x_;
  std::set<std::string> hidden_props_, hidden_xobjects_;
  std::vector<bool> marks_;
  int hidden_ = 0;
  bool text_hidden_ = false;  // the text object began inside hidden content
};

// A Type 3 glyph's width: viewers space the text by the font's /Widths,
// and validators want the glyph procedure's d0 or d1 to say the same, so
// the procedure's first d0/d1 gets the /Widths value.
class GlyphWidth : public ContentHandler {
 public:
  GlyphWidth(bool active, double width) : done_(!active), width_(width) {}
  void op(ContentOp &o) override {
    if (done_ || !(o.is("d0") || o.is("d1")) || o.size() < 2) return;
    done_ = true;
    double v = 0;
    if (o.number(0, &v) && std::fabs(v - width_) > 1e-9) o.replace(0, 0, format_num(width_));
  }

 private:
  bool done_;
  double width_;
};

// The names content paints through resources (XObjects of Do, patterns
// selected by scn/SCN), each with the deepest q nesting it is painted at,
// and the deepest nesting written. It runs after the handlers that drop q
// and Q, and counts only those kept.
class PaintedNames : public ContentHandler {
 public:
  explicit PaintedNames(ContentFindings *f) : f_(f) {}
  void op(ContentOp &o) override {
    if (o.dropped()) return;
    if (o.is("q")) {
      f_->depth = std::max(f_->depth, ++depth_);
      return;
    }
    if (o.is("Q")) {
      if (depth_ > 0) depth_--;
      return;
    }
    const std::size_t n = o.size();
    if (n == 0 || o.operand(n - 1).type != OperandType::name) return;
    std::map<std::string, int> *to = o.is("Do") ? &f_->xobjects : (o.is("scn") || o.is("SCN")) ? &f_->patterns : nullptr;
    if (!to) return;
    int &at = (*to)[o.name_text(n - 1)];
    at = std::max(at, depth_);
  }

 private:
  ContentFindings *f_;
  int depth_ = 0;
};

}  // namespace

ContentWalk rewrite_content(const byte *content, int len, const byte *res, int res_len, const Transfer &x,
                            std::string *out, ContentFindings *found) {
  ResourceFonts fonts;
  if (res) resource_fonts(*x.doc, res, res_len, &fonts, &x.fonts_read);
  // The nesting handler sees the operators the ones before it keep; the
  // painted names come last and see the q/Q nesting drops.
  auto walk = [&](ContentHandler *nesting) {
    found->refusal.clear();
    found->depth = 0;
    found->xobjects.clear();
    found->patterns.clear();
    std::unique_ptr<ContentHandler> text = text_recode_handler(fonts, &x.map, x.ctx->glyphs);
    DefinedOperators defined;
    NumberLimits limits(x.part);
    InlineImages images(*x.doc, &found->refusal);
    PaintedNames painted(found);
    DeviceCmyk cmyk;
    GlyphWidth glyph(found->has_glyph_width, found->glyph_width);
    HiddenContent hidden(x, res, res_len);
    ContentHandler *chain[] = {&defined, &limits, &glyph, text.get(), &cmyk, &hidden, &images, nesting, &painted};
    return content_walk(content, len, chain, out);
  };
  NestingScan scan;
  ContentWalk w = walk(&scan);
  const auto limit = static_cast<std::size_t>(found->depth_limit);
  if (scan.max_depth() <= limit) return w;
  // Too deep: the content is walked again without the q/Q pairs that
  // change nothing.
  NestingFlatten flatten(scan.removable());
  w = walk(&flatten);
  if (flatten.max_depth() > limit && found->refusal.empty())
    found->refusal = "graphics states nested deeper than " + std::to_string(k_max_nesting);
  return w;
}

void cmyk_to_rgb(const std::string &in, std::string *out) {
  DeviceCmyk cmyk;
  ContentHandler *chain[] = {&cmyk};
  (void)content_walk(reinterpret_cast<const byte *>(in.data()), static_cast<int>(in.size()), chain, out);
}

}  // namespace zyk
