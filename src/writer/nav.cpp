// Navigation: the outline tree, the page labels and the link annotations,
// carried over from the source document.
//
// Nothing of the source's navigation objects is copied as it stands. Each
// is read, checked and written anew, so that what the output holds is only
// what PDF/A allows and every reference in it points at an object of the
// output:
//
//   - Outline items are rebuilt from their titles, open or closed state,
//     colour and style; the writer links them again (/Parent, /First,
//     /Last, /Prev, /Next, /Count), so a damaged source tree (a /Next chain
//     that loops or breaks, a /Count that lies) becomes a well-formed one.
//     The walk never visits an object twice and stops at k_outline_depth
//     levels and k_outline_items items.
//   - A destination, however the source gives it (an explicit array, a
//     name or string looked up in the catalog's /Dests or in the /Names
//     /Dests name tree, a dictionary holding /D, a GoTo action), becomes an
//     explicit destination naming the output page. Its coordinates are moved
//     like the page content is (see pages.cpp): the content of a page lands
//     on [0 0 W H] through its box offset and rotation, and so must the
//     point a destination shows. A destination to a page the output does
//     not have is dropped.
//   - Actions: GoTo becomes /Dest; URI is kept; Named is kept for the four
//     page-turning names PDF/A allows; every other action (JavaScript,
//     Launch, GoToR, ...) is dropped, the item keeping its title.
//   - How the document opens: /OpenAction (a destination, or an action
//     PDF/A allows, as above), /PageMode (outlines shown only when the
//     output has them; attachments and layers panels are left out, as the
//     output has neither to show in part 1), /PageLayout, and the
//     /ViewerPreferences entries that only choose how the window shows the
//     document.
//   - Page labels are one flat number tree of label dictionaries rebuilt
//     from /S, /P and /St, with the page indexes the output has.
//   - A /Link annotation whose destination is inside the document or whose
//     action is URI stays an annotation on its new page, its /Rect and
//     /QuadPoints moved like the content, with /F 4 (printed, never hidden)
//     as PDF/A requires. Any other link keeps the treatment of every other
//     annotation: its appearance, if it has one, is painted into the page.
//
// The new objects are numbered after every other object of the output, in
// a fixed order (outline root, items in tree order, links by page, label
// tree nodes), so equal inputs give equal outputs.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>
#include <unordered_map>
#include <unordered_set>

#include "writer/val.h"
#include "writer/writer.h"

namespace zyk {

namespace {

// A string token for any bytes: literal when they are printable ASCII,
// else hexadecimal, so that no byte can be misread.
std::string string_token(const std::string &bytes) {
  bool plain = true;
  for (char c : bytes) plain = plain && c >= 0x20 && c < 0x7F;  // a signed char above 0x7F is negative
  std::string out;
  if (plain) {
    out = "(";
    for (char c : bytes) {
      if (c == '(' || c == ')' || c == '\\') out.push_back('\\');
      out.push_back(c);
    }
    return out + ")";
  }
  static const char hex[] = "0123456789ABCDEF";
  out = "<";
  for (char ch : bytes) {
    const auto c = static_cast<unsigned char>(ch);
    out.push_back(hex[c >> 4]);
    out.push_back(hex[c & 15]);
  }
  return out + ">";
}

// A text string fit for the output. UTF-16BE (with its byte order mark)
// and PDFDocEncoding stay as they are; UTF-8 with a byte order mark, which
// PDF 1.4 readers do not know, becomes UTF-16BE (or is dropped when it is
// not UTF-8). PDF/A allows no string longer than k_max_string bytes: a
// longer one is cut after its last whole character (a UTF-16 surrogate pair
// is never split).
bool text_string_out(std::string bytes, std::string *out) {
  if (bytes.size() >= 3 && static_cast<unsigned char>(bytes[0]) == 0xEF &&
      static_cast<unsigned char>(bytes[1]) == 0xBB && static_cast<unsigned char>(bytes[2]) == 0xBF) {
    std::string u16 = "\xFE\xFF";
    for (std::size_t i = 3; i < bytes.size();) {
      unsigned char c = static_cast<unsigned char>(bytes[i]);
      int n = c < 0x80 ? 1 : (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 0;
      if (!n || i + static_cast<std::size_t>(n) > bytes.size()) return false;
      std::uint32_t cp = n == 1 ? c : static_cast<std::uint32_t>(c & (0x7F >> n));
      for (int k = 1; k < n; k++) {
        unsigned char cc = static_cast<unsigned char>(bytes[i + static_cast<std::size_t>(k)]);
        if ((cc & 0xC0) != 0x80) return false;
        cp = cp << 6 | (cc & 0x3F);
      }
      if (cp > 0x10FFFF || (cp >= 0xD800 && cp < 0xE000)) return false;
      auto unit = [&](std::uint32_t u) {
        u16.push_back(static_cast<char>(u >> 8));
        u16.push_back(static_cast<char>(u & 0xFF));
      };
      if (cp >= 0x10000) {
        unit(0xD800 + ((cp - 0x10000) >> 10));
        unit(0xDC00 + ((cp - 0x10000) & 0x3FF));
      } else {
        unit(cp);
      }
      i += static_cast<std::size_t>(n);
    }
    bytes = std::move(u16);
  }
  const bool utf16 = bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFE &&
                     static_cast<unsigned char>(bytes[1]) == 0xFF;
  if (utf16) {
    std::size_t n = std::min(bytes.size(), k_max_string) & ~std::size_t{1};
    // A high surrogate whose low half was cut off goes too.
    if (n < bytes.size() && n >= 4) {
      unsigned hi = static_cast<unsigned char>(bytes[n - 2]);
      if (hi >= 0xD8 && hi <= 0xDB) n -= 2;
    }
    bytes.resize(n);
  } else if (bytes.size() > k_max_string) {
    bytes.resize(k_max_string);
  }
  *out = string_token(bytes);
  return true;
}

double clamp_real(double v) { return std::fmax(-k_max_real, std::fmin(k_max_real, v)); }

std::string num_text(double v) { return format_num(clamp_real(v)); }

// Where the page wrapping puts the source point (x, y) of a page on the
// output page (pages.cpp: the form matrix of the rotation, then the
// translation of the content stream).
struct PageGeom {
  double x0 = 0, y0 = 0, x1 = 0, y1 = 0;
  int r = 0;
  double map_x(double x, double y) const {
    switch (r) {
      case 90: return y - y0;
      case 180: return x1 - x;
      case 270: return y1 - y;
      default: return x - x0;
    }
  }
  double map_y(double x, double y) const {
    switch (r) {
      case 90: return x1 - x;
      case 180: return y1 - y;
      case 270: return x - x0;
      default: return y - y0;
    }
  }
  bool quarter() const { return r == 90 || r == 270; }
};

struct Ctx {
  const Doc &d;
  Numbering nb;
  // The geometry of each page, worked out when a destination or a link
  // first needs it (a document without navigation never does).
  mutable std::vector<PageGeom> geom;
  mutable std::vector<char> geom_known;
  const PageGeom &page_geom(int i) const {
    const auto k = static_cast<std::size_t>(i);
    if (!geom_known[k]) {
      const PageInfo &pi = d.pages.elems[i];
      double box[4];
      page_box(d, pi, box);
      PageGeom &g = geom[k];
      g.x0 = box[0], g.y0 = box[1], g.x1 = box[2], g.y1 = box[3];
      g.r = page_rotation(d, pi);
      geom_known[k] = 1;
    }
    return geom[k];
  }
  std::unordered_map<int, int> page_index;  // source page object -> output page
  // Named destinations, by name bytes: the catalog's /Dests dictionary and
  // the /Names /Dests name tree, read on first use.
  bool names_read = false;
  std::map<std::string, Val> dests_dict, dests_tree;
  Ctx(const Doc &doc, const Numbering &n) : d(doc), nb(n) {}
};

Val catalog(const Ctx &c) {
  int k = c.d.catalog_num > 0 ? obj_find(&c.d.objs, c.d.catalog_num) : -1;
  const byte *t;
  int len;
  if (k < 0 || !object_text(c.d, c.d.objs.elems[k], &t, &len)) return {};
  return {t, 0, len};
}

// Collects the name tree node's /Names pairs (first definition of a name
// wins) and walks its /Kids.
void read_name_tree(const Ctx &c, Val node, int depth, std::unordered_set<int> *seen, std::map<std::string, Val> *out) {
  std::vector<DictEntry> es;
  if (depth > k_tree_depth || out->size() >= k_max_names || !entries_of(node, &es)) return;
  Val names = resolve(c.d, entry(node, es, "Names"));
  if (names.ok() && names.t[names.s] == '[') {
    auto items = value_items(names.t, names.s, names.e);
    for (std::size_t i = 0; i + 1 < items.size(); i += 2) {
      std::string key;
      if (string_of(resolve(c.d, {names.t, items[i].first, items[i].second}), &key))
        out->emplace(key, Val{names.t, items[i + 1].first, items[i + 1].second});
    }
  }
  Val kids = resolve(c.d, entry(node, es, "Kids"));
  if (!kids.ok() || kids.t[kids.s] != '[') return;
  for (auto [ks, ke] : value_items(kids.t, kids.s, kids.e)) {
    int num = ref_of({kids.t, ks, ke});
    if (!num || !seen->insert(num).second) continue;
    read_name_tree(c, resolve(c.d, {kids.t, ks, ke}), depth + 1, seen, out);
  }
}

void read_names(Ctx *c) {
  if (c->names_read) return;
  c->names_read = true;
  Val cat = catalog(*c);
  std::vector<DictEntry> es;
  if (!entries_of(cat, &es)) return;
  Val dests = resolve(c->d, entry(cat, es, "Dests"));
  std::vector<DictEntry> des;
  if (entries_of(dests, &des))
    for (const DictEntry &de : des)
      c->dests_dict.emplace(name_bytes({dests.t, de.key, de.key_end}), Val{dests.t, de.val, de.val_end});
  Val names = resolve(c->d, entry(cat, es, "Names"));
  std::vector<DictEntry> nes;
  if (!entries_of(names, &nes)) return;
  std::unordered_set<int> seen;
  Val tree = entry(names, nes, "Dests");
  if (int num = ref_of(tree)) seen.insert(num);
  read_name_tree(*c, resolve(c->d, tree), 0, &seen, &c->dests_tree);
}

// An explicit destination array for the output, its page given as the
// output page object and its coordinates moved like the page's content.
bool explicit_dest(const Ctx &c, Val v, std::string *out) {
  auto items = value_items(v.t, v.s, v.e);
  if (items.empty()) return false;
  Val first{v.t, items[0].first, items[0].second};
  int page = -1;
  if (int num = ref_of(first)) {
    auto it = c.page_index.find(num);
    if (it != c.page_index.end()) page = it->second;
  } else {
    double idx;
    if (number_of(first, &idx) && idx >= 0 && idx < static_cast<double>(c.geom.size()) && idx == std::trunc(idx))
      page = static_cast<int>(idx);
  }
  if (page < 0) return false;
  const PageGeom &g = c.page_geom(page);
  // The parameters: numbers, or NAN for null (or anything unreadable).
  std::vector<double> p;
  for (std::size_t i = 2; i < items.size() && i < 6; i++) {
    double x;
    p.push_back(number_of({v.t, items[i].first, items[i].second}, &x) ? x : NAN);
  }
  p.resize(4, NAN);
  auto opt = [](double x) { return std::isnan(x) ? std::string("null") : num_text(x); };
  std::string kind = items.size() > 1 ? std::string(reinterpret_cast<const char *>(v.t) + items[1].first,
                                                    static_cast<std::size_t>(items[1].second - items[1].first))
                                      : "";
  std::string tail;
  if (kind == "/XYZ") {
    // Each coordinate of a quarter turn comes from the other one, so a null
    // (keep what the viewer shows) moves with it.
    double left = p[0], top = p[1];
    double nl, nt;
    if (g.quarter()) {
      nl = std::isnan(top) ? NAN : g.map_x(0, top);
      nt = std::isnan(left) ? NAN : g.map_y(left, 0);
    } else {
      nl = std::isnan(left) ? NAN : g.map_x(left, 0);
      nt = std::isnan(top) ? NAN : g.map_y(0, top);
    }
    tail = "/XYZ " + opt(nl) + ' ' + opt(nt) + ' ' + opt(p[2]);
  } else if (kind == "/FitH" || kind == "/FitBH" || kind == "/FitV" || kind == "/FitBV") {
    const bool horizontal = kind == "/FitH" || kind == "/FitBH";
    const bool bbox = kind[4] == 'B';
    double at = p[0], moved = NAN;
    // A horizontal line (y = at) turns vertical on a quarter turn.
    bool out_horizontal = horizontal != g.quarter();
    if (!std::isnan(at)) moved = horizontal ? (out_horizontal ? g.map_y(0, at) : g.map_x(0, at))
                                            : (out_horizontal ? g.map_y(at, 0) : g.map_x(at, 0));
    tail = std::string(bbox ? "/FitB" : "/Fit") + (out_horizontal ? "H " : "V ") + opt(moved);
  } else if (kind == "/FitR" && !std::isnan(p[0]) && !std::isnan(p[1]) && !std::isnan(p[2]) && !std::isnan(p[3])) {
    double xa = g.map_x(p[0], p[1]), ya = g.map_y(p[0], p[1]);
    double xb = g.map_x(p[2], p[3]), yb = g.map_y(p[2], p[3]);
    tail = "/FitR " + num_text(std::fmin(xa, xb)) + ' ' + num_text(std::fmin(ya, yb)) + ' ' +
           num_text(std::fmax(xa, xb)) + ' ' + num_text(std::fmax(ya, yb));
  } else if (kind == "/FitB") {
    tail = "/FitB";
  } else {
    // /Fit, and what no reader would understand: the page at least.
    tail = "/Fit";
  }
  *out = "[" + std::to_string(c.nb.page_obj(page)) + " 0 R " + tail + "]";
  return true;
}


// Any form of destination, as an explicit destination of the output:
// an array, a dictionary holding /D, or a name or string looked up in the
// named destinations (a value there may again be any of these).
bool dest_of(Ctx *c, Val v, std::string *out, int depth = 0) {
  if (depth > k_dest_hops) return false;
  v = resolve(c->d, v);
  if (!v.ok()) return false;
  const byte b = v.t[v.s];
  if (b == '[') return explicit_dest(*c, v, out);
  std::vector<DictEntry> es;
  if (b == '<' && v.s + 1 < v.e && v.t[v.s + 1] == '<')
    return entries_of(v, &es) && dest_of(c, entry(v, es, "D"), out, depth + 1);
  std::string key;
  if (b == '/')
    key = name_bytes(v);
  else if (!string_of(v, &key))
    return false;
  read_names(c);
  // Names are looked up in the name tree first (PDF 1.2), then in the
  // older /Dests dictionary; a writer that knows only one may name either.
  auto it = c->dests_tree.find(key);
  if (it == c->dests_tree.end()) {
    it = c->dests_dict.find(key);
    if (it == c->dests_dict.end()) return false;
  }
  return dest_of(c, it->second, out, depth + 1);
}

// What an outline item or a link does, written for the output: " /Dest
// [...]" or " /A << ... >>", empty when it does nothing PDF/A allows.
std::string action_target(Ctx *c, Val a, bool allow_named);

std::string target_of(Ctx *c, Val dict, const std::vector<DictEntry> &es, bool allow_named) {
  std::string dest;
  if (Val dv = entry(dict, es, "Dest"); dv.ok()) return dest_of(c, dv, &dest) ? " /Dest " + dest : "";
  return action_target(c, resolve(c->d, entry(dict, es, "A")), allow_named);
}

// The same for an action dictionary.
std::string action_target(Ctx *c, Val a, bool allow_named) {
  std::string dest;
  std::vector<DictEntry> as;
  if (!entries_of(a, &as)) return "";
  Val s = entry(a, as, "S");
  if (is_name(s, "/GoTo")) return dest_of(c, entry(a, as, "D"), &dest) ? " /Dest " + dest : "";
  if (is_name(s, "/URI")) {
    std::string uri;
    if (!string_of(resolve(c->d, entry(a, as, "URI")), &uri) || uri.empty() || uri.size() > k_max_string) return "";
    return " /A << /S /URI /URI " + string_token(uri) + " >>";
  }
  if (allow_named && is_name(s, "/Named")) {
    Val n = entry(a, as, "N");
    // The only named actions PDF/A allows.
    for (const char *ok : {"/NextPage", "/PrevPage", "/FirstPage", "/LastPage"})
      if (is_name(n, ok)) return std::string(" /A << /S /Named /N ") + ok + " >>";
  }
  return "";
}

// A colour array of 0, 1 or 3 components (grey or RGB; the device CMYK of
// four would name a colour space PDF/A wants calibrated).
std::string colour_of(const Doc &d, Val v) {
  double c[4];
  int n = numbers_of(d, v, c, 3);
  if (n != 0 && n != 1 && n != 3) return "";
  std::string out = " /C [";
  for (int i = 0; i < n; i++) {
    if (!(c[i] >= 0 && c[i] <= 1)) return "";
    out += (i ? " " : "") + format_num(c[i]);
  }
  return out + "]";
}

// ---- outlines ----------------------------------------------------------------

// Reads the items under the outline dictionary `parent` (index pi in
// items) in tree order: each item, then its own items, then its next
// sibling.
void read_items(Ctx *c, Val parent, const std::vector<DictEntry> &pes, int pi, int depth,
                std::unordered_set<int> *seen, std::vector<NavPlan::Item> *items) {
  if (depth >= k_outline_depth) return;
  for (int num = ref_of(entry(parent, pes, "First"));
       num && items->size() < k_outline_items && seen->insert(num).second;) {
    Val v = object_val(c->d, num);
    std::vector<DictEntry> es;
    if (!entries_of(v, &es)) break;  // a broken chain ends here
    NavPlan::Item it;
    it.parent = pi;
    std::string title;
    if (!string_of(resolve(c->d, entry(v, es, "Title")), &title) || !text_string_out(title, &it.title))
      it.title = "()";
    it.target = target_of(c, v, es, true);
    it.style = colour_of(c->d, entry(v, es, "C"));
    double f, count;
    if (number_of(entry(v, es, "F"), &f) && f >= 0 && f <= 3 && f == std::trunc(f))
      it.style += " /F " + format_num(f);
    it.open = number_of(resolve(c->d, entry(v, es, "Count")), &count) && count > 0;
    const int idx = static_cast<int>(items->size());
    items->push_back(std::move(it));
    (*items)[static_cast<std::size_t>(pi)].kids.push_back(idx);
    read_items(c, v, es, idx, depth + 1, seen, items);
    num = ref_of(entry(v, es, "Next"));
  }
}

void read_outlines(Ctx *c, NavPlan *nav) {
  Val cat = catalog(*c);
  std::vector<DictEntry> es, oes;
  if (!entries_of(cat, &es)) return;
  Val root = entry(cat, es, "Outlines");
  std::unordered_set<int> seen;
  if (int num = ref_of(root)) seen.insert(num);
  root = resolve(c->d, root);
  if (!entries_of(root, &oes)) return;
  nav->outline.assign(1, NavPlan::Item{});
  nav->outline[0].open = true;
  read_items(c, root, oes, 0, 0, &seen, &nav->outline);
  if (nav->outline.size() == 1) {
    nav->outline.clear();
    return;
  }
  // Items visible when every open item is open: an item's children count
  // with the visible items below each open child. Children come after their
  // parent in tree order, so one backward pass counts them all.
  for (std::size_t i = nav->outline.size(); i-- > 0;) {
    NavPlan::Item &it = nav->outline[i];
    for (int k : it.kids) {
      const NavPlan::Item &kid = nav->outline[static_cast<std::size_t>(k)];
      it.visible += 1 + (kid.open ? kid.visible : 0);
    }
  }
}

// ---- page labels ----------------------------------------------------------------

std::string label_of(const Doc &d, Val v) {
  v = resolve(d, v);
  std::vector<DictEntry> es;
  if (!entries_of(v, &es)) return "";
  std::string out = "<<";
  Val s = entry(v, es, "S");
  for (const char *style : {"/D", "/R", "/r", "/A", "/a"})
    if (is_name(s, style)) out += std::string(" /S ") + style;
  std::string prefix, text;
  if (string_of(resolve(d, entry(v, es, "P")), &prefix) && text_string_out(prefix, &text)) out += " /P " + text;
  double st;
  if (number_of(resolve(d, entry(v, es, "St")), &st) && st >= 1 && st <= 2147483647.0 && st == std::trunc(st))
    out += " /St " + format_num(st);
  return out + " >>";
}

void read_nums(const Ctx &c, Val node, int depth, std::unordered_set<int> *seen, std::map<int, std::string> *out) {
  std::vector<DictEntry> es;
  if (depth > k_tree_depth || out->size() >= k_max_names || !entries_of(node, &es)) return;
  Val nums = resolve(c.d, entry(node, es, "Nums"));
  if (nums.ok() && nums.t[nums.s] == '[') {
    auto items = value_items(nums.t, nums.s, nums.e);
    for (std::size_t i = 0; i + 1 < items.size(); i += 2) {
      double key;
      if (!number_of({nums.t, items[i].first, items[i].second}, &key) || key != std::trunc(key) || key < 0 ||
          key >= static_cast<double>(c.geom.size()))
        continue;
      std::string label = label_of(c.d, {nums.t, items[i + 1].first, items[i + 1].second});
      if (!label.empty()) out->emplace(static_cast<int>(key), label);
    }
  }
  Val kids = resolve(c.d, entry(node, es, "Kids"));
  if (!kids.ok() || kids.t[kids.s] != '[') return;
  for (auto [ks, ke] : value_items(kids.t, kids.s, kids.e)) {
    int num = ref_of({kids.t, ks, ke});
    if (num && seen->insert(num).second) read_nums(c, object_val(c.d, num), depth + 1, seen, out);
  }
}

void read_labels(const Ctx &c, NavPlan *nav) {
  Val cat = catalog(c);
  std::vector<DictEntry> es;
  if (!entries_of(cat, &es)) return;
  Val tree = entry(cat, es, "PageLabels");
  std::unordered_set<int> seen;
  if (int num = ref_of(tree)) seen.insert(num);
  read_nums(c, resolve(c.d, tree), 0, &seen, &nav->labels);
  // The tree must say how page 0 is labelled; decimal numbers are what a
  // reader shows without labels.
  if (!nav->labels.empty() && nav->labels.begin()->first != 0) nav->labels.emplace(0, "<< /S /D >>");
}

// ---- links ----------------------------------------------------------------------

// The link annotation for the output, or "" when the annotation is no link
// PDF/A lets the output keep as one.
std::string link_of(Ctx *c, const PageGeom &g, const AnnotDict &a) {
  Val v{a.t, a.s, a.e};
  std::vector<DictEntry> es;
  if (!entries_of(v, &es) || !is_name(entry(v, es, "Subtype"), "/Link")) return "";
  double f;
  // A hidden link is not there for the reader; showing it would add one.
  if (number_of(entry(v, es, "F"), &f) && (static_cast<long long>(f) & (2 | 32))) return "";
  double rect[4];
  if (numbers_of(c->d, entry(v, es, "Rect"), rect, 4) != 4) return "";
  std::string target = target_of(c, v, es, false);
  if (target.empty()) return "";
  double xa = g.map_x(rect[0], rect[1]), ya = g.map_y(rect[0], rect[1]);
  double xb = g.map_x(rect[2], rect[3]), yb = g.map_y(rect[2], rect[3]);
  double r[4] = {clamp_real(std::fmin(xa, xb)), clamp_real(std::fmin(ya, yb)), clamp_real(std::fmax(xa, xb)),
                 clamp_real(std::fmax(ya, yb))};
  if (!(r[2] > r[0]) || !(r[3] > r[1])) return "";
  std::string out = "<< /Type /Annot /Subtype /Link /Rect [" + format_num(r[0]) + ' ' + format_num(r[1]) + ' ' +
                    format_num(r[2]) + ' ' + format_num(r[3]) + "] /F 4";
  // The border: three numbers (no dash pattern), or a border style of a
  // width and a style name; without either a reader draws the default
  // border, as the source's reader did.
  double border[4];
  if (numbers_of(c->d, entry(v, es, "Border"), border, 3) == 3 && border[0] >= 0 && border[1] >= 0 && border[2] >= 0)
    out += " /Border [" + num_text(border[0]) + ' ' + num_text(border[1]) + ' ' + num_text(border[2]) + "]";
  Val bs = resolve(c->d, entry(v, es, "BS"));
  std::vector<DictEntry> bes;
  if (entries_of(bs, &bes)) {
    std::string style;
    double w;
    if (number_of(resolve(c->d, entry(bs, bes, "W")), &w) && w >= 0) style += " /W " + num_text(w);
    for (const char *s : {"/S", "/D", "/B", "/I", "/U"})
      if (is_name(entry(bs, bes, "S"), s)) style += std::string(" /S ") + s;
    if (!style.empty()) out += " /BS <<" + style + " >>";
  }
  out += colour_of(c->d, entry(v, es, "C"));
  for (const char *h : {"/N", "/I", "/O", "/P"})
    if (is_name(entry(v, es, "H"), h)) out += std::string(" /H ") + h;
  // The room for the numbers is taken only when a link has them: most have
  // none, and zeroing the whole buffer for each link was a hot spot.
  const Val qv = entry(v, es, "QuadPoints");
  std::vector<double> quads(qv.ok() ? k_max_quad_numbers + 1 : 1);
  int nq = qv.ok() ? numbers_of(c->d, qv, quads.data(), k_max_quad_numbers) : -1;
  if (nq > 0 && nq % 8 == 0) {
    out += " /QuadPoints [";
    for (std::size_t i = 0; i < static_cast<std::size_t>(nq); i += 2)
      out += (i ? " " : "") + num_text(g.map_x(quads[i], quads[i + 1])) + ' ' + num_text(g.map_y(quads[i], quads[i + 1]));
    out += "]";
  }
  return out + target + " >>";
}

// ---- how the document opens -----------------------------------------------------------

void read_viewing(Ctx *c, NavPlan *nav) {
  Val cat = catalog(*c);
  std::vector<DictEntry> es;
  if (!entries_of(cat, &es)) return;
  std::string &out = nav->viewing;
  Val open = resolve(c->d, entry(cat, es, "OpenAction"));
  std::vector<DictEntry> as;
  std::string dest;
  if (open.ok() && open.t[open.s] == '[') {
    if (dest_of(c, open, &dest)) out += " /OpenAction " + dest;
  } else if (entries_of(open, &as)) {
    // An action dictionary: what an outline item would do with it.
    const std::string t = action_target(c, open, true);
    if (t.rfind(" /Dest ", 0) == 0)
      out += " /OpenAction " + t.substr(7);
    else if (t.rfind(" /A ", 0) == 0)
      out += " /OpenAction " + t.substr(4);
  }
  Val mode = resolve(c->d, entry(cat, es, "PageMode"));
  for (const char *ok : {"/UseNone", "/UseThumbs", "/FullScreen"})
    if (is_name(mode, ok)) out += std::string(" /PageMode ") + ok;
  if (is_name(mode, "/UseOutlines") && !nav->outline.empty()) out += " /PageMode /UseOutlines";
  Val layout = resolve(c->d, entry(cat, es, "PageLayout"));
  for (const char *ok : {"/SinglePage", "/OneColumn", "/TwoColumnLeft", "/TwoColumnRight", "/TwoPageLeft", "/TwoPageRight"})
    if (is_name(layout, ok)) out += std::string(" /PageLayout ") + ok;
  Val prefs = resolve(c->d, entry(cat, es, "ViewerPreferences"));
  std::vector<DictEntry> ps;
  if (!entries_of(prefs, &ps)) return;
  std::string kept;
  for (const char *key : {"HideToolbar", "HideMenubar", "HideWindowUI", "FitWindow", "CenterWindow", "DisplayDocTitle"}) {
    Val v = resolve(c->d, entry(prefs, ps, key));
    if (v.ok() && (token_is(v.t, v.s, v.e, "true") || token_is(v.t, v.s, v.e, "false")))
      kept += std::string(" /") + key + " " +
              std::string(reinterpret_cast<const char *>(v.t) + v.s, static_cast<std::size_t>(v.e - v.s));
  }
  Val full = resolve(c->d, entry(prefs, ps, "NonFullScreenPageMode"));
  for (const char *ok : {"/UseNone", "/UseThumbs"})
    if (is_name(full, ok)) kept += std::string(" /NonFullScreenPageMode ") + ok;
  if (is_name(full, "/UseOutlines") && !nav->outline.empty()) kept += " /NonFullScreenPageMode /UseOutlines";
  Val dir = resolve(c->d, entry(prefs, ps, "Direction"));
  for (const char *ok : {"/L2R", "/R2L"})
    if (is_name(dir, ok)) kept += std::string(" /Direction ") + ok;
  if (!kept.empty()) out += " /ViewerPreferences <<" + kept + " >>";
}

}  // namespace

void nav_collect(const Doc &d, const Numbering &nb, NavPlan *nav) {
  Ctx c(d, nb);
  const int n = d.pages.nelems;
  c.geom.resize(static_cast<std::size_t>(n));
  c.geom_known.assign(static_cast<std::size_t>(n), 0);
  for (int i = 0; i < n; i++) c.page_index.emplace(d.pages.elems[i].num, i);
  read_outlines(&c, nav);
  read_labels(c, nav);
  read_viewing(&c, nav);
  nav->links.assign(static_cast<std::size_t>(n), {});
  nav->kept.assign(static_cast<std::size_t>(n), {});
  std::vector<AnnotDict> annots;
  for (int i = 0; i < n; i++) {
    int k = obj_find(&d.objs, d.pages.elems[i].num);
    if (k < 0) continue;
    page_annotations(d, d.objs.elems[k], &annots);
    for (std::size_t j = 0; j < annots.size(); j++) {
      if (!annots[j].t) continue;
      std::string link = link_of(&c, c.page_geom(i), annots[j]);
      if (link.empty()) continue;
      nav->links[static_cast<std::size_t>(i)].push_back(std::move(link));
      nav->kept[static_cast<std::size_t>(i)].push_back(static_cast<int>(j));
    }
  }
}

namespace {

std::size_t label_nodes(const NavPlan &nav) {
  return nav.labels.size() <= k_label_pairs ? 0 : (nav.labels.size() + k_label_pairs - 1) / k_label_pairs;
}

int first_link(const NavPlan &nav) { return nav.first + static_cast<int>(nav.outline.size()); }

int link_count(const NavPlan &nav) {
  int n = 0;
  for (const auto &l : nav.links) n += static_cast<int>(l.size());
  return n;
}

int first_label_node(const NavPlan &nav) { return first_link(nav) + link_count(nav); }

std::string nums_text(std::map<int, std::string>::const_iterator a, std::map<int, std::string>::const_iterator b) {
  std::string out = "/Nums [";
  for (auto it = a; it != b; ++it) out += (it == a ? "" : " ") + std::to_string(it->first) + ' ' + it->second;
  return out + "]";
}

}  // namespace

int nav_number(NavPlan *nav, int first) {
  nav->first = first;
  nav->page_first_link.assign(nav->links.size(), 0);
  int num = first_link(*nav);
  for (std::size_t i = 0; i < nav->links.size(); i++) {
    nav->page_first_link[i] = num;
    num += static_cast<int>(nav->links[i].size());
  }
  return static_cast<int>(nav->outline.size()) + link_count(*nav) + static_cast<int>(label_nodes(*nav));
}

std::string nav_catalog_entries(const NavPlan &nav) {
  std::string out = nav.viewing;
  if (!nav.outline.empty()) out += " /Outlines " + std::to_string(nav.first) + " 0 R";
  if (nav.labels.empty()) return out;
  const std::size_t nodes = label_nodes(nav);
  if (!nodes) return out + " /PageLabels << " + nums_text(nav.labels.begin(), nav.labels.end()) + " >>";
  out += " /PageLabels << /Kids [";
  for (std::size_t j = 0; j < nodes; j++)
    out += (j ? " " : "") + std::to_string(first_label_node(nav) + static_cast<int>(j)) + " 0 R";
  return out + "] >>";
}

std::string nav_page_annots(const NavPlan &nav, int page) {
  if (nav.links.empty() || nav.links[static_cast<std::size_t>(page)].empty()) return "";
  const int num = nav.page_first_link[static_cast<std::size_t>(page)];
  std::string out = "[";
  for (std::size_t j = 0; j < nav.links[static_cast<std::size_t>(page)].size(); j++)
    out += (j ? " " : "") + std::to_string(num + static_cast<int>(j)) + " 0 R";
  return out + "]";
}

void nav_write(const NavPlan &nav, Out *out) {
  const auto ref = [&](int idx) { return std::to_string(nav.first + idx) + " 0 R"; };
  // Each item's siblings before and after it (0: none; the root is no one's).
  std::vector<int> prev(nav.outline.size()), next(nav.outline.size());
  for (const NavPlan::Item &it : nav.outline)
    for (std::size_t k = 0; k < it.kids.size(); k++) {
      if (k > 0) prev[static_cast<std::size_t>(it.kids[k])] = it.kids[k - 1];
      if (k + 1 < it.kids.size()) next[static_cast<std::size_t>(it.kids[k])] = it.kids[k + 1];
    }
  for (std::size_t i = 0; i < nav.outline.size(); i++) {
    const NavPlan::Item &it = nav.outline[i];
    out->begin_obj(nav.first + static_cast<int>(i));
    std::string body = i == 0 ? "<< /Type /Outlines" : "<< /Title " + it.title + " /Parent " + ref(it.parent);
    if (prev[i]) body += " /Prev " + ref(prev[i]);
    if (next[i]) body += " /Next " + ref(next[i]);
    if (!it.kids.empty()) {
      body += " /First " + ref(it.kids.front()) + " /Last " + ref(it.kids.back());
      // Open items count their visible descendants, closed ones the same
      // number negated (the root is always open).
      body += " /Count " + std::to_string(it.open ? it.visible : -it.visible);
    }
    out->str(body + it.style + it.target + " >>\nendobj\n");
  }
  int num = first_link(nav);
  for (const auto &page : nav.links)
    for (const std::string &link : page) {
      out->begin_obj(num++);
      out->str(link + "\nendobj\n");
    }
  const std::size_t nodes = label_nodes(nav);
  auto it = nav.labels.begin();
  for (std::size_t j = 0; j < nodes; j++) {
    auto from = it;
    int lo = it->first, hi = lo;
    for (std::size_t k = 0; k < k_label_pairs && it != nav.labels.end(); k++, ++it) hi = it->first;
    out->begin_obj(first_label_node(nav) + static_cast<int>(j));
    out->str("<< /Limits [" + std::to_string(lo) + ' ' + std::to_string(hi) + "] " + nums_text(from, it) +
             " >>\nendobj\n");
  }
}

}  // namespace zyk
