// The content walker (see content.h for what it knows and the handler
// interface). One pass, no backtracking beyond an inline image's end; the
// output is the input with the edited operations rendered anew.
#include <algorithm>
#include <cmath>
#include <charconv>
#include <cstring>

#include "pdf/pdf.h"

namespace zyk {

namespace {

bool is_number_token(const byte *t, int s, int e) {
  bool digit = false;
  for (int i = s; i < e; i++) {
    byte c = t[i];
    if (is_digit(c))
      digit = true;
    else if (!(c == '.' || ((c == '-' || c == '+') && i == s)))
      return false;
  }
  return digit;
}

int regular_run(const byte *t, int i, int len) {
  while (i < len && is_regular(t[i])) i++;
  return i;
}

bool token_eq(const byte *t, int s, int e, const char *w) {
  auto n = static_cast<int>(std::strlen(w));
  return e - s == n && std::memcmp(t + s, w, static_cast<std::size_t>(n)) == 0;
}

// One token at i (not white space, not a comment) of t[0, len). An
// operator has type `other` with `op` set. *open is set when the text ends
// inside a string, array or dictionary (the token then runs to the end).
Operand lex(const byte *t, int i, int len, bool *op, bool *open) {
  *op = false;
  byte c = t[i];
  if (c == '(' || c == '[' || c == '<') {
    OperandType ty = c == '(' ? OperandType::string
                     : c == '[' ? OperandType::array
                     : (i + 1 < len && t[i + 1] == '<') ? OperandType::dict
                                                       : OperandType::hex_string;
    int e = value_end(t, i, len);
    if (e <= i) {
      *open = true;
      e = len;
    }
    return {ty, i, e};
  }
  if (c == '/') return {OperandType::name, i, regular_run(t, i + 1, len)};
  if (!is_regular(c)) return {OperandType::other, i, i + 1};  // a stray delimiter
  int e = regular_run(t, i, len);
  if (is_number_token(t, i, e)) return {OperandType::number, i, e};
  if (token_eq(t, i, e, "true") || token_eq(t, i, e, "false") || token_eq(t, i, e, "null"))
    return {OperandType::keyword, i, e};
  *op = true;
  return {OperandType::other, i, e};
}

int skip_blank(const byte *t, int i, int len) {
  while (i < len) {
    if (is_pdf_ws(t[i])) {
      i++;
    } else if (t[i] == '%') {
      while (i < len && t[i] != '\r' && t[i] != '\n') i++;
    } else {
      break;
    }
  }
  return i;
}

// True when the bytes after a candidate EI read as content: up to 32 bytes,
// or to the next string, array or dictionary, are printable ASCII or white
// space. Binary image data that happens to hold " EI " rarely passes.
bool text_follows(const byte *t, int p, int len) {
  for (int k = p; k < len && k < p + 32; k++) {
    byte c = t[k];
    if (c == '(' || c == '<' || c == '[' || c == '%') return true;
    if (!is_pdf_ws(c) && (c < 0x20 || c > 0x7e)) return false;
  }
  return true;
}

// End of the inline image data after the ID operator ending at id_end:
// after the first "EI" that follows white space, is followed by a delimiter,
// white space or the end, and is followed by text (*by_text); failing that,
// after the first such EI without the text test; -1 when there is none.
int inline_image_end(const byte *t, int id_end, int len, bool *by_text) {
  int first = -1;
  *by_text = false;
  for (int p = id_end + 1; p + 1 < len; p++) {
    if (t[p] != 'E' || t[p + 1] != 'I' || !is_pdf_ws(t[p - 1]) || (p + 2 < len && is_regular(t[p + 2]))) continue;
    if (text_follows(t, p + 2, len)) {
      *by_text = true;
      return p + 2;
    }
    if (first < 0) first = p + 2;
  }
  return first;
}

}  // namespace

std::string_view ContentOp::text(std::size_t i) const {
  return {reinterpret_cast<const char *>(t_) + ops_[i].start, static_cast<std::size_t>(ops_[i].end - ops_[i].start)};
}

std::string_view ContentOp::current_text(std::size_t i) const {
  for (auto it = edits_.rbegin(); it != edits_.rend(); ++it)
    if (it->first == i && it->last == i) return it->text;
  return text(i);
}

bool ContentOp::number(std::size_t i, double *v) const { return i < nops_ && number_of(ops_[i], v); }

bool ContentOp::number_of(const Operand &o, double *v) const {
  if (o.type != OperandType::number) return false;
  const char *b = reinterpret_cast<const char *>(t_) + o.start;
  const char *e = reinterpret_cast<const char *>(t_) + o.end;
  if (b < e && *b == '+') b++;
  double x = 0;
  auto r = std::from_chars(b, e, x, std::chars_format::fixed);
  if (r.ec != std::errc()) {
    // "-." and the like hold a digit somewhere but no leading number.
    x = 0;
  }
  *v = x;
  return true;
}

std::string ContentOp::name_text(std::size_t i) const {
  std::string name;
  if (i >= nops_ || ops_[i].type != OperandType::name) return name;
  const Operand &nm = ops_[i];
  for (int k = nm.start + 1; k < nm.end; k++) {
    if (t_[k] == '#' && k + 2 < nm.end && hex_digit_value(t_[k + 1]) >= 0 && hex_digit_value(t_[k + 2]) >= 0) {
      name.push_back(static_cast<char>(hex_digit_value(t_[k + 1]) << 4 | hex_digit_value(t_[k + 2])));
      k += 2;
    } else {
      name.push_back(static_cast<char>(t_[k]));
    }
  }
  return name;
}

std::vector<Operand> ContentOp::array_items(std::size_t i) const {
  std::vector<Operand> items;
  if (i >= nops_ || ops_[i].type != OperandType::array) return items;
  int stop = ops_[i].end;
  if (stop - 1 > ops_[i].start && t_[stop - 1] == ']') stop--;
  for (int p = ops_[i].start + 1;;) {
    p = skip_blank(t_, p, stop);
    if (p >= stop) break;
    bool op = false, open = false;
    Operand o = lex(t_, p, stop, &op, &open);
    if (op) o.type = OperandType::keyword;
    items.push_back(o);
    p = o.end;
  }
  return items;
}

void ContentOp::replace(std::size_t first, std::size_t last, std::string text) {
  if (first > last || last > nops_) return;
  for (std::size_t k = 0; k < edits_.size();) {
    if (edits_[k].last < first || edits_[k].first > last) {
      k++;
      continue;
    }
    first = std::min(first, edits_[k].first);
    last = std::max(last, edits_[k].last);
    edits_.erase(edits_.begin() + static_cast<std::ptrdiff_t>(k));
  }
  edits_.push_back({first, last, std::move(text)});
}

void ContentOp::render(std::string *out) const {
  out->append(prefix_);
  if (!dropped_) {
    const char *t = reinterpret_cast<const char *>(t_);
    // Token k is operand k, or for k == nops_ the operator (for an inline
    // image the whole BI ... EI, edited only as a whole).
    const bool image = name_ == "BI";
    auto tok_start = [&](std::size_t k) { return k < nops_ && !image ? ops_[k].start : (image ? start() : op_start_); };
    auto tok_end = [&](std::size_t k) { return k < nops_ && !image ? ops_[k].end : op_end_; };
    std::size_t i = image ? nops_ : 0;
    while (i <= nops_) {
      const Edit *ed = nullptr;
      for (const Edit &x : edits_)
        if (x.first == i || (image && x.last == nops_)) ed = &x;
      if (ed) {
        out->append(ed->text);
        i = ed->last + 1;
      } else {
        out->append(t + tok_start(i), static_cast<std::size_t>(tok_end(i) - tok_start(i)));
        i++;
      }
      if (i <= nops_) out->append(t + tok_end(i - 1), static_cast<std::size_t>(tok_start(i) - tok_end(i - 1)));
    }
  }
  out->append(suffix_);
}

void ContentWalker::state_of(ContentOp &o) {
  const std::size_t n = o.size();
  double v = 0;
  auto last = [&](double *x) { return n >= 1 && o.number(n - 1, x); };
  const std::string_view op = o.name();
  if (op.size() > 2) return;
  if (op == "Tf") {
    if (n >= 2 && o.operand(n - 2).type == OperandType::name && o.number(n - 1, &v)) {
      text_.font = o.name_text(n - 2);
      text_.size = v;
    }
  } else if (op == "Tc") {
    if (last(&v)) text_.char_spacing = v;
  } else if (op == "Tw") {
    if (last(&v)) text_.word_spacing = v;
  } else if (op == "Tz") {
    if (last(&v)) text_.scale = v;
  } else if (op == "TL") {
    if (last(&v)) text_.leading = v;
  } else if (op == "Ts") {
    if (last(&v)) text_.rise = v;
  } else if (op == "Tr") {
    // Kept within int, as the number limits leave an operand beyond it.
    if (last(&v) && std::isfinite(v)) text_.render = static_cast<int>(std::clamp(v, -2147483648.0, 2147483647.0));
  } else if (op == "TD") {
    if (last(&v)) text_.leading = -v;
  } else if (op == "\"") {
    double w = 0, c = 0;
    if (n >= 3 && o.number(n - 3, &w) && o.number(n - 2, &c)) {
      text_.word_spacing = w;
      text_.char_spacing = c;
    }
  } else if (op == "BX") {
    compat_++;
  } else if (op == "EX") {
    if (compat_ > 0) compat_--;
  }
}

ContentWalk ContentWalker::run(std::span<ContentHandler *const> handlers, std::string *out) {
  ContentWalk w;
  out->clear();
  out->reserve(static_cast<std::size_t>(len_) + static_cast<std::size_t>(len_) / 2);
  const byte *t = t_;
  const int len = len_;
  std::vector<Operand> ops;
  std::vector<std::size_t> image_ends;  // output offsets after an EI told by text
  int copied = 0;
  // A line end that closes a comment stays when the operation after it is
  // dropped, or the comment would run on over what follows; any '%' on the
  // line counts, which at worst keeps a byte that could have gone.
  auto closes_comment = [&](int eol) {
    for (int j = eol - 1; j >= 0 && t[j] != '\r' && t[j] != '\n'; j--)
      if (t[j] == '%') return true;
    return false;
  };
  auto problem = [&](int at) {
    if (w.complete) w.problem = at;
    w.complete = false;
  };
  int i = 0;
  while (i < len) {
    i = skip_blank(t, i, len);
    if (i >= len) break;
    bool is_op = false, open = false;
    Operand tok = lex(t, i, len, &is_op, &open);
    if (open) problem(i);
    if (!is_op) {
      ops.push_back(tok);
      i = tok.end;
      continue;
    }
    ContentOp o;
    o.t_ = t;
    o.ts_ = &text_;
    o.name_ = std::string_view(reinterpret_cast<const char *>(t) + tok.start,
                               static_cast<std::size_t>(tok.end - tok.start));
    o.op_start_ = tok.start;
    o.op_end_ = tok.end;
    int next = tok.end;
    bool image_by_text = false;
    if (o.name_ == "BI") {
      // The image dictionary's tokens up to ID; the operands before BI
      // (there should be none) are not shown as operands, and are kept in
      // the output unless a handler drops them.
      if (!ops.empty()) o.stray_ = ops[0].start;
      ops.clear();
      int p = tok.end;
      for (;;) {
        p = skip_blank(t, p, len);
        if (p >= len) {
          problem(tok.start);
          o.op_end_ = len;
          next = len;
          break;
        }
        bool k_op = false, k_open = false;
        Operand k = lex(t, p, len, &k_op, &k_open);
        if (k_open) problem(p);
        if (!k_op) {
          ops.push_back(k);
          p = k.end;
          continue;
        }
        if (token_eq(t, k.start, k.end, "ID")) {
          int e = inline_image_end(t, k.end, len, &image_by_text);
          if (e < 0) {
            problem(tok.start);
            e = len;
          }
          o.op_end_ = e;
          next = e;
        } else {
          // Another operator before ID: the image has no data; the operator
          // is walked on its own.
          o.op_end_ = ops.empty() ? tok.end : ops.back().end;
          next = k.start;
        }
        break;
      }
    }
    o.ops_ = ops.data();
    o.nops_ = ops.size();
    // An inline image starts at its BI, any other operation at its first
    // operand.
    o.start_ = o.name_ == "BI" || ops.empty() ? tok.start : ops[0].start;
    // q/Q first, so that handlers see the depth and state they act in.
    if (o.name_ == "q") {
      if (saved_.size() < static_cast<std::size_t>(k_gstate_depth)) {
        saved_.push_back(text_);
        for (ContentHandler *h : handlers) h->save();
      }
    } else if (o.name_ == "Q") {
      if (!saved_.empty()) {
        text_ = std::move(saved_.back());
        saved_.pop_back();
        for (ContentHandler *h : handlers) h->restore();
      }
    } else {
      state_of(o);
    }
    o.compat_ = compat_;
    o.depth_ = static_cast<int>(saved_.size());
    for (ContentHandler *h : handlers) h->op(o);
    w.ops++;
    if (o.edited()) {
      int begin = o.start();
      // A dropped operation takes the white space before it along when
      // what follows it is white space, a delimiter or the end, so that no
      // tokens run together. (An inline image without data ends at its
      // last dictionary token, which may touch the next operator.)
      const bool separated = o.op_end_ >= len || !is_regular(t[o.op_end_]);
      // Stray operands before BI that go: the copy ends in front of them,
      // with a space where they separated BI from the operator before.
      const bool strays_out = o.drop_stray_ && o.stray_ >= copied;
      if (strays_out) begin = o.stray_;
      if (o.dropped() && o.prefix_.empty() && o.suffix_.empty() && separated)
        while (begin > copied && is_pdf_ws(t[begin - 1]) &&
               !((t[begin - 1] == '\r' || t[begin - 1] == '\n') && closes_comment(begin - 1)))
          begin--;
      if (begin > copied)
        out->append(reinterpret_cast<const char *>(t) + copied, static_cast<std::size_t>(begin - copied));
      if (strays_out && !o.dropped() && begin > 0 && is_regular(t[begin - 1])) out->push_back(' ');
      o.render(out);
      copied = o.op_end_;
      if (image_by_text && !o.dropped()) image_ends.push_back(out->size());
    } else if (image_by_text) {
      image_ends.push_back(out->size() + static_cast<std::size_t>(o.op_end_ - copied));
    }
    ops.clear();
    i = next;
  }
  if (len > copied) out->append(reinterpret_cast<const char *>(t) + copied, static_cast<std::size_t>(len - copied));
  // An image whose end was told by the text after its EI: edits after it
  // (a dropped operator and its white space, say) can bring other bytes
  // within reach of that test, and a reader would then look for the end
  // further on. A comment line right after the EI keeps the test passing
  // (the earlier EIs inside the data fail it on data bytes, which stay).
  // From the last image back, each test reads up to the next comment put
  // in (the test passes on reaching one); then the output is rebuilt once.
  std::vector<std::size_t> comment_at;  // descending
  const auto *o_t = reinterpret_cast<const byte *>(out->data());
  std::size_t reach = out->size();
  for (auto it = image_ends.rbegin(); it != image_ends.rend(); ++it) {
    if (*it > reach || text_follows(o_t, static_cast<int>(*it), static_cast<int>(reach))) continue;
    comment_at.push_back(*it);
    reach = *it;
  }
  if (!comment_at.empty()) {
    std::string with;
    with.reserve(out->size() + 3 * comment_at.size());
    std::size_t from = 0;
    for (auto it = comment_at.rbegin(); it != comment_at.rend(); ++it) {
      with.append(*out, from, *it - from).append("\n%\n");
      from = *it;
    }
    with.append(*out, from, std::string::npos);
    *out = std::move(with);
  }
  return w;
}

ContentWalk content_walk(const unsigned char *t, int len, std::span<ContentHandler *const> handlers,
                         std::string *out) {
  ContentWalker w(t, len);
  return w.run(handlers, out);
}

}  // namespace zyk
