// The text re-encoding: a handler of the content walker (pdf/content.h).
//
// The walker hands over operators with their operands; strings, arrays,
// dictionaries, comments and inline images are whole tokens there, so a "("
// inside a marked-content property list or a "Tj" inside a comment is never
// taken for text. The output is the input with a few spans replaced,
// nothing else moves:
//   name size Tf      selects the current font by resource name (any size:
//                     9.5 is as good a size as 9); a name not among the
//                     resources selects the WinAnsi reading, since the text
//                     must end up in the embedded font whatever it names;
//   s Tj, s ', a c s " and [s n s ...] TJ with a replaced current font:
//                     every string (literal or hexadecimal) becomes the
//                     glyph ids of its codes, numbers of TJ stay;
//   N G R             an indirect reference is renumbered through the map.
// The current font is saved and restored by q/Q (it is part of the
// graphics state), as deep as the walker tracks them.
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

bool is_integer_token(const byte *t, int s, int e) {
  if (s >= e) return false;
  for (int i = s; i < e; i++)
    if (!is_digit(t[i])) return false;
  return true;
}

// Bytes of a hexadecimal string token "<...>": white space and stray bytes
// ignored, an odd last digit padded with 0.
void hex_string_bytes(const byte *t, int s, int e, std::string *out) {
  // Passing over stray bytes, it cannot fail.
  (void)hex_decode(t, static_cast<std::size_t>(s + 1), static_cast<std::size_t>(e), true, out);
}

const SourceFont &winansi_font() {
  static const SourceFont f = [] {
    SourceFont s;
    source_font_base(&s, ENC_WINANSI);
    return s;
  }();
  return f;
}

// Codes re-encoded by one call of show_write: 4096 codes of up to three
// glyphs of two bytes stay within the 32767 bytes a PDF/A-2 string may
// hold.
constexpr std::size_t k_show_codes = 4096;

// The handler: the current font through Tf and q/Q, shows re-encoded,
// references renumbered.
class TextRecode : public ContentHandler {
 public:
  TextRecode(const ResourceFonts &fonts, const ObjMap *map, GlyphUse &use) : fonts_(fonts), map_(map), use_(use) {}
  void save() override { saved_.push_back(cur_); }
  void restore() override {
    cur_ = saved_.back();
    saved_.pop_back();
  }
  void op(ContentOp &o) override;

 private:
  void show(ContentOp &o, bool array, std::size_t need);
  const ResourceFonts &fonts_;
  const ObjMap *map_;
  GlyphUse &use_;
  const SourceFont *cur_ = nullptr;  // none: strings are left as they are
  std::vector<const SourceFont *> saved_;
};

void TextRecode::op(ContentOp &o) {
  const std::size_t n = o.size();
  const byte *t = o.source();
  if (o.is("Tf")) {
    if (n >= 2 && o.operand(n - 2).type == OperandType::name && o.operand(n - 1).type == OperandType::number) {
      auto it = fonts_.by_name.find(o.name_text(n - 2));
      cur_ = it != fonts_.by_name.end() ? it->second.get() : &winansi_font();
    }
  } else if (o.is("R")) {
    // Content has no indirect objects; a reference standing in it anyway
    // is renumbered like any other.
    if (n >= 2 && map_ && o.operand(n - 2).type == OperandType::number &&
        o.operand(n - 1).type == OperandType::number &&
        is_integer_token(t, o.operand(n - 2).start, o.operand(n - 2).end) &&
        is_integer_token(t, o.operand(n - 1).start, o.operand(n - 1).end) &&
        o.operand(n - 2).end - o.operand(n - 2).start <= 9) {
      int p = o.operand(n - 2).start;
      int num = parse_int_at(t, o.operand(n - 2).end, &p);
      int k = objmap_find(map_, num);
      if (k >= 0 && map_->vals[k] > 0) o.replace(n - 2, n, std::to_string(map_->vals[k]) + " 0 R");
    }
  } else if (cur_ && cur_->kind != TextKind::keep) {
    if (o.is("Tj") || o.is("'")) show(o, false, 1);
    else if (o.is("\"")) show(o, false, 3);
    else if (o.is("TJ")) show(o, true, 1);
  }
}

void TextRecode::show(ContentOp &o, bool array, std::size_t need) {
  const std::size_t n = o.size();
  if (n < need) return;
  const Operand &last = o.operand(n - 1);
  if (array ? last.type != OperandType::array
            : (last.type != OperandType::string && last.type != OperandType::hex_string))
    return;
  const byte *t = o.source();
  std::string body;
  if (o.is("\"")) {
    // Word and character spacing as the handlers before left them (numbers
    // clamped to the part's limits). Spacings that are no numbers make the
    // operation one that readers reject: it draws nothing.
    if (o.operand(n - 3).type != OperandType::number || o.operand(n - 2).type != OperandType::number) {
      o.drop();
      return;
    }
    body.append(o.current_text(n - 3));
    body += " Tw ";
    body.append(o.current_text(n - 2));
    body += " Tc T* ";
  } else if (o.is("'")) {
    body += "T* ";
  }
  // The operands become items (strings as codes, TJ numbers), shown with
  // the source's advances; ' and " keep their line move (and " its
  // spacings, which the walker's text state has taken on already). Codes
  // are taken k_show_codes at a time, each part shown by its own operator
  // (shows in a row place their glyphs as one show does), so a string of
  // any length costs memory in proportion to one part, and every string
  // written stays within PDF/A's string limit.
  std::vector<ShowItem> items;
  std::size_t codes = 0;
  bool wrote = false;
  auto flush = [&] {
    if (items.empty()) return;
    ShowMarks marks;
    std::string part;
    show_write(*cur_, o.text_state(), items, use_, &marks, &part);
    items.clear();
    codes = 0;
    if (wrote) body += ' ';
    wrote = true;
    if (marks.standin)
      body.append("/Span<</ActualText<FEFF").append(marks.actual).append(">>>BDC ").append(part).append(" EMC");
    else
      body.append(part);
  };
  auto add_string = [&](const Operand &it) {
    std::string bytes;
    if (it.type == OperandType::hex_string) hex_string_bytes(t, it.start, it.end, &bytes);
    else literal_bytes(t, it.start, it.end, &bytes);
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.data());
    std::size_t at = 0;
    do {
      ShowItem item;
      at += source_font_decode(*cur_, p + at, bytes.size() - at, &item.codes, k_show_codes - codes);
      codes += item.codes.size();
      items.push_back(std::move(item));
      if (codes >= k_show_codes) flush();
    } while (at < bytes.size());
  };
  if (array) {
    for (const Operand &it : o.array_items(n - 1)) {
      if (it.type == OperandType::string || it.type == OperandType::hex_string) {
        add_string(it);
      } else if (it.type == OperandType::number) {
        double v = 0;
        (void)o.number_of(it, &v);
        items.push_back({true, v, {}});
      }
    }
  } else {
    add_string(last);
  }
  flush();
  // The source may have written the operands right after the previous
  // operator ("Tf(x)Tj"); the replacement starts with a number or an
  // operator and needs a separator there.
  const int from = o.operand(n - need).start;
  std::string text;
  text.reserve(body.size() + 1);
  if (from > 0 && is_regular(t[from - 1]) && !body.empty() && body[0] != '/') text.push_back(' ');
  text.append(body);
  o.replace(n - need, n, std::move(text));
}

}  // namespace

std::unique_ptr<ContentHandler> text_recode_handler(const ResourceFonts &fonts, const ObjMap *map, GlyphUse &use) {
  return std::make_unique<TextRecode>(fonts, map, use);
}

void text_rewrite(const ResourceFonts &fonts, const byte *t, int len, const ObjMap *map, GlyphUse &use,
                  std::string *out) {
  TextRecode h(fonts, map, use);
  ContentHandler *chain[] = {&h};
  (void)content_walk(t, len, chain, out);
}

}  // namespace zyk
