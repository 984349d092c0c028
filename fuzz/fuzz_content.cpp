// libFuzzer target for the content walker and its handlers.
//
// The input is a content stream; byte 0 picks the PDF/A part (odd: 1,
// even: 2) and the rest is the content. It is walked against the resources
// of a fixed page that has one font of each kind the text re-encoding
// knows (simple with an encoding, composite with ToUnicode, Type3), a
// graphics state, an image, a form, a colour space, a pattern and an
// optional content group that is off. Properties:
//   - a walk without edits copies the content byte for byte;
//   - a rewritten content that the conversion would accept (complete, no
//     refusal) walks completely again, and no operand outside an array is
//     a number PDF/A forbids (an integer beyond 32 bits; a real beyond
//     32767 in part 1).
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "pdf/pdf.h"
#include "writer/writer.h"

namespace {

void check(bool ok) {
  if (!ok) std::abort();
}

std::string make_image() {
  const char *objs[] = {
      "<< /Type /Catalog /Pages 2 0 R /OCProperties << /OCGs [12 0 R] /D << /OFF [12 0 R] >> >> >>",
      "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 200] /Contents 4 0 R /Resources << "
      "/Font << /F1 5 0 R /F2 6 0 R /F3 9 0 R >> /ExtGState << /GS0 << /Type /ExtGState /CA 0.5 /ca 1 >> >> "
      "/XObject << /Im0 10 0 R /Fm0 11 0 R >> /ColorSpace << /CS0 /DeviceCMYK /CS1 [/Indexed /DeviceRGB 1 <000000FFFFFF>] >> "
      "/Pattern << /P0 13 0 R >> /Properties << /MC0 12 0 R /MC1 << /Type /OCMD /OCGs [12 0 R] >> >> >> >>",
      "<< >>stream\n",
      "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding << /Differences [65 /fi /A.sc /uni20AC] >> "
      "/FirstChar 32 /LastChar 34 /Widths [250 300 400] >>",
      "<< /Type /Font /Subtype /Type0 /BaseFont /Foo /Encoding /Identity-H /DescendantFonts [7 0 R] /ToUnicode 8 0 R >>",
      "<< /Type /Font /Subtype /CIDFontType2 /BaseFont /Foo /CIDSystemInfo << /Registry (Adobe) /Ordering (Identity) "
      "/Supplement 0 >> /W [65 [500 600] 67 80 550] /DW 1000 >>",
      "stream\n1 begincodespacerange <0000> <FFFF> endcodespacerange 1 beginbfrange <0041> <0060> <0041> endbfrange",
      "<< /Type /Font /Subtype /Type3 /FontBBox [0 0 10 10] /FontMatrix [0.1 0 0 0.1 0 0] /CharProcs << /a 4 0 R >> "
      "/Encoding << /Differences [97 /a] >> /FirstChar 97 /LastChar 97 /Widths [10] >>",
      "<< /Type /XObject /Subtype /Image /Width 1 /Height 1 /ColorSpace /DeviceGray /BitsPerComponent 8 >>stream\n\x80",
      "<< /Type /XObject /Subtype /Form /BBox [0 0 1 1] >>stream\n",
      "<< /Type /OCG /Name (off) >>",
      "<< /PatternType 1 /PaintType 1 /TilingType 1 /BBox [0 0 1 1] /XStep 1 /YStep 1 /Resources << >> >>stream\n0 g",
  };
  std::string s = "%PDF-1.5\n";
  int n = 0;
  // A text "dict stream\ndata" becomes the stream with its /Length.
  for (std::string_view o : objs) {
    s += std::to_string(++n) + " 0 obj\n";
    const std::size_t at = o.find("stream\n");
    if (at == std::string_view::npos) {
      s += o;
    } else {
      std::string_view dict = o.substr(0, at), body = o.substr(at + 7);
      if (dict.empty()) dict = "<< >>";
      s.append(dict.substr(0, dict.size() - 2));
      s += "/Length " + std::to_string(body.size()) + " >>\nstream\n";
      s.append(body);
      s += "\nendstream";
    }
    s += "\nendobj\n";
  }
  return s + "trailer\n<< /Root 1 0 R >>\n%%EOF\n";
}

struct Fixture {
  std::string image = make_image();
  zyk::DocGuard g;
  zyk::Context ctx;  // shared by every run: only its glyph record grows
  const zyk::byte *res = nullptr;
  int res_len = 0;
  Fixture() {
    check(zyk::doc_load_image(reinterpret_cast<const zyk::byte *>(image.data()), static_cast<int>(image.size()), &g.d,
                              &ctx.err));
    int bad = -1;
    check(zyk::page_resources_text(g.d, g.d.pages.elems[0].num, 8, &res, &res_len, &bad) ==
          zyk::ResourcesFound::found);
  }
};

struct NoEdit : zyk::ContentHandler {
  void op(zyk::ContentOp &) override {}
};

// The top-level numbers of an accepted content against the part's limits.
struct Numbers : zyk::ContentHandler {
  int part;
  explicit Numbers(int p) : part(p) {}
  void op(zyk::ContentOp &o) override {
    for (std::size_t i = 0; i < o.size(); i++) {
      double v = 0;
      if (o.operand(i).type != zyk::OperandType::number || !o.number(i, &v)) continue;
      if (o.text(i).find('.') != std::string_view::npos)
        check(part != 1 || std::fabs(v) <= 32767.0);
      else
        check(v <= 2147483647.0 && v >= -2147483648.0);
    }
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  if (size < 1 || size > (1u << 20)) return 0;
  static Fixture fx;
  const int part = (data[0] & 1) ? 1 : 2;
  const unsigned char *t = data + 1;
  const int len = static_cast<int>(size - 1);

  NoEdit none;
  zyk::ContentHandler *plain[] = {&none};
  std::string copy;
  (void)zyk::content_walk(t, len, plain, &copy);
  check(copy.size() == static_cast<std::size_t>(len) && copy.compare(0, copy.size(), reinterpret_cast<const char *>(t),
                                                                     static_cast<std::size_t>(len)) == 0);

  zyk::Transfer x;
  zyk::transfer_init(&x, &fx.ctx, &fx.g.d, zyk::Numbering{1, 6});
  x.part = part;
  zyk::optional_content_off(fx.g.d, &x.oc_off);
  std::string out;
  zyk::ContentFindings found;
  found.depth_limit = zyk::k_max_nesting - 1;
  zyk::ContentWalk w = zyk::rewrite_content(t, len, fx.res, fx.res_len, x, &out, &found);
  if (!w.complete || !found.refusal.empty()) return 0;
  Numbers numbers(part);
  zyk::ContentHandler *chain[] = {&numbers};
  std::string again;
  zyk::ContentWalk w2 = zyk::content_walk(reinterpret_cast<const unsigned char *>(out.data()),
                                          static_cast<int>(out.size()), chain, &again);
  check(w2.complete);
  return 0;
}
