// The content walker: one parse of a content stream (a page's, a form
// XObject's, a tiling pattern's, a Type3 glyph procedure's or an annotation
// appearance's), handing every operator with its operands to a chain of
// handlers that may edit it. Included through pdf/pdf.h.
//
// What the walker knows:
//   - tokens: numbers, names, literal and hexadecimal strings, arrays and
//     dictionaries (whole), the keywords true/false/null, and operators; a
//     comment is white space; a stray delimiter is an operand of its own;
//   - inline images: BI, the image dictionary, ID, the data and EI are one
//     operation named "BI" whose operands are the dictionary's tokens; the
//     data ends at the first "EI" that stands between white space and a
//     delimiter (or the end) and is followed by text, not binary data;
//   - the graphics-state stack: q saves and Q restores the text state below
//     and every handler's own state (through save/restore), to k_gstate_depth
//     levels; BX/EX compatibility sections;
//   - the text state: Tc, Tw, Tz, TL, Ts, Tr, the font resource name and
//     size of Tf, TD's leading and the spacing of ".
// Numbers are only classified while walking; their values are parsed when a
// handler asks (ContentOp::number) or for the text-state operators.
//
// Handlers run in the order given, each on the same operation; the state an
// operation sets is already in force when handlers see it (after Tf the text
// state names the new font; after q the depth is one more). A handler edits
// by ranges of operands: replace(first, last, text) covers operands first to
// last and the white space between them; index size() is the operator
// itself. Edits by several handlers compose when their ranges do not
// overlap; an edit overlapping an earlier one replaces the union. Unedited
// operations, white space and comments are copied byte for byte.
//
// Example: a handler that turns every "g" into "0 g" and records which
// XObjects the content paints.
//
//   struct Example : ContentHandler {
//     std::set<std::string> painted;
//     void op(ContentOp &o) override {
//       if (o.is("g") && o.size() == 1) o.replace(0, 0, "0");
//       if (o.is("Do") && o.size() == 1) painted.insert(o.name_text(0));
//     }
//   };
//   Example ex;
//   ContentHandler *chain[] = {&ex};
//   std::string out;
//   ContentWalk w = content_walk(data, len, chain, &out);
//
// Dropping an operator is o.drop() (its operands and the white space before
// it go too); prepend/append put text before and after the operation
// (marked content around a show, say).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace zyk {

// Saved graphics states tracked (deeper q nesting is not tracked; PDF/A
// allows 28).
inline constexpr int k_gstate_depth = 256;

enum class OperandType { number, name, string, hex_string, array, dict, keyword, other };

struct Operand {
  OperandType type;
  int start;
  int end;
};

// The text state in force (graphics state, so saved by q).
struct TextState {
  double char_spacing = 0;  // Tc
  double word_spacing = 0;  // Tw
  double scale = 100;       // Tz, percent
  double leading = 0;       // TL
  double rise = 0;          // Ts
  int render = 0;           // Tr
  std::string font;         // resource name of Tf, #xx resolved; empty: none
  double size = 0;          // Tf size
};

class ContentOp {
 public:
  std::string_view name() const { return name_; }
  bool is(std::string_view n) const { return name_ == n; }
  std::size_t size() const { return nops_; }
  const Operand &operand(std::size_t i) const { return ops_[i]; }
  // The source bytes of operand i.
  std::string_view text(std::size_t i) const;
  // Operand i as the handlers before this one left it: the text that
  // replaces that operand alone, else its source bytes.
  std::string_view current_text(std::size_t i) const;
  // The value of a number operand; false for any other operand.
  [[nodiscard]] bool number(std::size_t i, double *v) const;
  // The same for any operand of this operation's source (a TJ member, say).
  [[nodiscard]] bool number_of(const Operand &o, double *v) const;
  // A name operand without its slash, #xx resolved; empty for other types.
  std::string name_text(std::size_t i) const;
  // The members of an array operand, tokenised like operands.
  std::vector<Operand> array_items(std::size_t i) const;
  // The source the offsets refer to.
  const unsigned char *source() const { return t_; }
  // First byte of the operation (its first operand, or the operator) and
  // the byte after it (after EI for an inline image).
  int start() const { return start_; }
  int end() const { return op_end_; }
  bool in_compat() const { return compat_ > 0; }  // inside BX ... EX
  int depth() const { return depth_; }            // q nesting, tracked part
  // The text state in force, this operation's changes included.
  const TextState &text_state() const { return *ts_; }

  void replace(std::size_t first, std::size_t last, std::string text);
  void drop() { dropped_ = true; }
  bool dropped() const { return dropped_; }
  // Operands in front of an inline image's BI, which no operator takes
  // (the walk shows an image's dictionary as its operands, not these).
  bool has_stray_operands() const { return stray_ >= 0; }
  void drop_stray_operands() { drop_stray_ = has_stray_operands(); }
  void prepend(std::string_view s) { prefix_.append(s); }
  void append(std::string_view s) { suffix_.append(s); }
  bool edited() const { return dropped_ || drop_stray_ || !edits_.empty() || !prefix_.empty() || !suffix_.empty(); }

 private:
  friend class ContentWalker;
  struct Edit {
    std::size_t first, last;
    std::string text;
  };
  void render(std::string *out) const;

  const unsigned char *t_ = nullptr;
  const TextState *ts_ = nullptr;
  const Operand *ops_ = nullptr;
  std::size_t nops_ = 0;
  std::string_view name_;
  int start_ = 0, op_start_ = 0, op_end_ = 0;
  int compat_ = 0, depth_ = 0;
  int stray_ = -1;  // first stray operand before BI, -1 for none
  bool dropped_ = false, drop_stray_ = false;
  std::vector<Edit> edits_;
  std::string prefix_, suffix_;
};

class ContentHandler {
 public:
  virtual ~ContentHandler() = default;
  // One operation; the walker's state already reflects it.
  virtual void op(ContentOp &o) = 0;
  // q pushed a level / Q popped one (only levels the walker tracks).
  virtual void save() {}
  virtual void restore() {}
};

// How a walk ended. `complete` is false when the content ends inside a
// string, array, dictionary or inline image (`problem` then says where);
// the walk still copies what is there.
struct ContentWalk {
  bool complete = true;
  int problem = -1;
  std::size_t ops = 0;
};

class ContentWalker {
 public:
  ContentWalker(const unsigned char *t, int len) : t_(t), len_(len) {}
  // Walks the whole content once, writing the edited content to *out.
  ContentWalk run(std::span<ContentHandler *const> handlers, std::string *out);
  const TextState &text_state() const { return text_; }

 private:
  void state_of(ContentOp &o);
  const unsigned char *t_;
  int len_;
  TextState text_;
  std::vector<TextState> saved_;
  int compat_ = 0;
};

// One walk of t[0, len) with the handlers, in order.
ContentWalk content_walk(const unsigned char *t, int len, std::span<ContentHandler *const> handlers,
                         std::string *out);

}  // namespace zyk
