// The content walker: one parse hands every operator with its operands to
// a chain of handlers; edits compose; inline images, q/Q and the text state
// are tracked once for all handlers.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "pdf/pdf.h"

namespace {

using zyk::ContentHandler;
using zyk::ContentOp;

struct Fn : ContentHandler {
  std::function<void(ContentOp &)> f;
  explicit Fn(std::function<void(ContentOp &)> g) : f(std::move(g)) {}
  void op(ContentOp &o) override { f(o); }
};

std::string walk(const std::string &in, std::vector<ContentHandler *> chain, zyk::ContentWalk *w = nullptr) {
  std::string out;
  zyk::ContentWalk r = zyk::content_walk(reinterpret_cast<const unsigned char *>(in.data()),
                                         static_cast<int>(in.size()), chain, &out);
  if (w) *w = r;
  return out;
}

std::vector<std::string> names(const std::string &in) {
  std::vector<std::string> seen;
  Fn rec([&](ContentOp &o) { seen.emplace_back(o.name()); });
  walk(in, {&rec});
  return seen;
}

TEST(ContentWalk, OperatorsAndOperandsAsPdfReadsThem) {
  struct Case {
    const char *what;
    std::string in;
    std::vector<std::string> ops;
  };
  const std::vector<Case> cases = {
      {"plain", "q 1 0 0 1 5 5 cm /Im1 Do Q", {"q", "cm", "Do", "Q"}},
      {"no spaces", "BT/F1 12 Tf(a)Tj[(b)-3(c)]TJ ET", {"BT", "Tf", "Tj", "TJ", "ET"}},
      {"strings and comments hide operators", "(Tj) Tj % Q q\n<</A (cm)>> BDC", {"Tj", "BDC"}},
      {"keywords are operands", "/P <</MCID 0>> BDC true null false d0", {"BDC", "d0"}},
      {"stray delimiter is an operand", ") 0 g", {"g"}},
      {"inline image is one operation", "BI /W 2 /H 1 /BPC 8 /CS /G ID \x01\x02 EI Q", {"BI", "Q"}},
      {"binary ' EI ' inside image data", std::string("BI /W 9 ID ab\n EI \x01\x9c\x02 more\n EI q Q"),
       {"BI", "q", "Q"}},
      {"EI followed by a string", "BI /W 1 ID x EI (\xe9) Tj", {"BI", "Tj"}},
      {"BI without ID", "BI /W 1 Q", {"BI", "Q"}},
  };
  for (const Case &c : cases) EXPECT_EQ(names(c.in), c.ops) << c.what;
}

TEST(ContentWalk, UneditedContentIsCopiedByteForByte) {
  const std::string in = "% head\nq\r\n1 0 0 1 0 0 cm BI /W 1 ID \xff\x00 EI  (a\\)b) Tj\n  <</X[1 2]>> BDC EMC Q";
  Fn none([](ContentOp &) {});
  EXPECT_EQ(walk(in, {&none}), in);
}

TEST(ContentWalk, EditsComposeOverOneParse) {
  // One handler recolours, another drops operators outside BX/EX that it
  // does not know, a third wraps a show; all on the same walk.
  Fn recolour([](ContentOp &o) {
    if (o.is("g") && o.size() == 1) o.replace(0, 0, "0.5");
    if (o.is("rg") && o.size() == 3) o.replace(0, 2, "0 0 1");
  });
  Fn drop_unknown([](ContentOp &o) {
    if (o.is("xyz") && !o.in_compat()) o.drop();
  });
  Fn wrap([](ContentOp &o) {
    if (o.is("Tj")) {
      o.prepend("/Span<<>>BDC ");
      o.append(" EMC");
    }
  });
  Fn operator_too([](ContentOp &o) {
    if (o.is("k") && o.size() == 4) o.replace(0, 4, "1 0 0 rg");
  });
  const std::string in = "1 g  0.1 0.2 0.3 rg xyz BX xyz EX (a) Tj 0 0 0 1 k";
  EXPECT_EQ(walk(in, {&recolour, &drop_unknown, &wrap, &operator_too}),
            "0.5 g  0 0 1 rg BX xyz EX /Span<<>>BDC (a) Tj EMC 1 0 0 rg");

  // Overlapping edits: the later replaces the union.
  Fn first([](ContentOp &o) { o.replace(0, 0, "A"); });
  Fn second([](ContentOp &o) { o.replace(0, 1, "B"); });
  EXPECT_EQ(walk("1 2 3 re", {&first, &second}), "B 3 re");
}

TEST(ContentWalk, TextStateFollowsQAndTheTextOperators) {
  std::vector<zyk::TextState> at_show;
  Fn rec([&](ContentOp &o) {
    if (o.is("Tj")) at_show.push_back(o.text_state());
  });
  walk("/F#31 9.5 Tf 2 Tc 3 Tw 90 Tz 1 Ts 0 5 TD q /Big 20 Tf 7 8 (x) \" Q (y) Tj", {&rec});
  // The " show is seen as its own operator; only Tj is recorded here.
  ASSERT_EQ(at_show.size(), 1u);
  const zyk::TextState &s = at_show[0];
  EXPECT_EQ(s.font, "F1");
  EXPECT_DOUBLE_EQ(s.size, 9.5);
  EXPECT_DOUBLE_EQ(s.char_spacing, 2);
  EXPECT_DOUBLE_EQ(s.word_spacing, 3);
  EXPECT_DOUBLE_EQ(s.scale, 90);
  EXPECT_DOUBLE_EQ(s.rise, 1);
  EXPECT_DOUBLE_EQ(s.leading, -5);
}

TEST(ContentWalk, SaveAndRestoreStayBalancedAtAnyDepth) {
  struct Depth : ContentHandler {
    int level = 0, max = 0, min = 0;
    void save() override { max = std::max(max, ++level); }
    void restore() override { min = std::min(min, --level); }
    void op(ContentOp &) override {}
  } d;
  std::string in;
  for (int i = 0; i < 300; i++) in += "q ";
  for (int i = 0; i < 310; i++) in += "Q ";
  walk(in, {&d});
  EXPECT_EQ(d.max, zyk::k_gstate_depth);
  EXPECT_EQ(d.level, 0);
  EXPECT_EQ(d.min, 0);
}

TEST(ContentWalk, NumbersAndNamesOnRequest) {
  std::vector<double> v;
  std::string name;
  Fn rec([&](ContentOp &o) {
    double x = 0;
    for (std::size_t i = 0; i < o.size(); i++)
      if (o.number(i, &x)) v.push_back(x);
    if (o.is("gs")) name = o.name_text(0);
  });
  walk("+1 -.5 3. 0.25 re /G#20s gs", {&rec});
  EXPECT_EQ(v, (std::vector<double>{1, -0.5, 3, 0.25}));
  EXPECT_EQ(name, "G s");
}

TEST(ContentWalk, ReportsContentThatEndsInsideAToken) {
  struct Case {
    std::string in;
    bool complete;
  };
  for (const Case &c : std::vector<Case>{{"(abc) Tj", true},
                                        {"(abc Tj", false},
                                        {"[(a) 3 TJ", false},
                                        {"<</A 1 BDC", false},
                                        {"BI /W 1 ID xyz", false},
                                        {"<41 Tj", false}}) {
    zyk::ContentWalk w;
    Fn none([](ContentOp &) {});
    EXPECT_EQ(walk(c.in, {&none}, &w), c.in);
    EXPECT_EQ(w.complete, c.complete) << c.in;
  }
}

}  // namespace
