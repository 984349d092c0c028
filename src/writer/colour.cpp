// Colour profile and output intent: the fixed objects B + 5, B + 6 and B + 8,
// the same for every input (the metadata objects B + 9 and B + 10 follow in
// metadata.cpp).
//
// What PDF/A asks of them, and how each object answers:
//   - B + 5, the embedded RGB display profile, compressed, with /N 3 (every
//     ICC-based colour space must state its number of components);
//   - B + 6, [/ICCBased B + 5]: the default RGB colour space of every page;
//   - (B + 7 belongs to the substitute font's objects);
//   - B + 8, the output intent: /Type /OutputIntent, subtype /GTS_PDFA1 (the
//     PDF/A output intent of both parts; a PDF/X subtype is no PDF/A output
//     intent at all), the required /OutputConditionIdentifier, and the
//     profile as /DestOutputProfile;
// Every stream ends its data with an end-of-line before "endstream" that
// /Length does not count.
#include <cstdio>

#include "writer/writer.h"

namespace zyk {

// The CMYK profile describes exactly the CMYK the painting operators are
// turned into RGB with, so images, shadings and separations keep the colours
// that the rest of the page gets; it is no output intent, and the output
// intent stays the RGB one.
void write_cmyk_space(const Numbering &nb, Out *out) {
  auto icc = icc_cmyk_profile();
  out->packed_stream_obj(nb.cmyk_icc, " /N 4", icc.data(), icc.size());
  out->begin_obj(nb.cmyk_space());
  out->printf("[ /ICCBased %d 0 R ]\nendobj\n", nb.cmyk_icc);
}

void write_colour_objects(const Numbering &nb, Out *out) {
  auto icc = icc_srgb_profile();

  out->packed_stream_obj(nb.icc(), " /N 3", icc.data(), icc.size());

  out->begin_obj(nb.icc_space());
  out->printf("[ /ICCBased %d 0 R ]\nendobj\n", nb.icc());

  out->begin_obj(nb.output_intent());
  out->printf(
      "<< /Type /OutputIntent /S /GTS_PDFA1 /OutputConditionIdentifier (sRGB IEC61966-2.1)\n"
      "   /Info (sRGB IEC61966-2.1) /N 3 /DestOutputProfile %d 0 R >>\nendobj\n",
      nb.icc());
}

}  // namespace zyk
