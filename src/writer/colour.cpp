// Colour profile, output intent, metadata and document information: the
// fixed objects B + 5, B + 6 and B + 8 ... B + 10, the same for every input
// apart from the part number.
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
//   - B + 9, the XMP packet: pdfaid:part (first, as a double-quoted
//     attribute, where identification reads it) and pdfaid:conformance, and
//     for every entry of the information dictionary its XMP twin with the
//     same value: pdf:Producer, xmp:CreatorTool, xmp:CreateDate and
//     xmp:ModifyDate (the same instant in XMP date form). pdfaid:revision is
//     no property of the identification schema and is left out. PDF/A-1
//     forbids a filtered catalog metadata stream, so part 1 writes it plain;
//     part 2 compresses it, falling back to plain text when compression fails;
//   - B + 10, the information dictionary with the fixed producer and dates.
// Every stream ends its data with an end-of-line before "endstream" that
// /Length does not count.
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "flate/flate.h"
#include "writer/writer.h"

namespace zyk {

namespace {

struct FreeDeleter {
  void operator()(unsigned char *p) const { std::free(p); }
};

}  // namespace

std::string xmp_packet(int part) {
  char ident[96];
  std::snprintf(ident, sizeof ident, "   pdfaid:part=\"%d\" pdfaid:conformance=\"B\"\n", part);
  std::string x;
  x += "<?xpacket begin=\"\xEF\xBB\xBF\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?>\n";
  x += "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\" x:xmptk=\"";
  x += k_producer;
  x += "\">\n";
  x += " <rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">\n";
  x += "  <rdf:Description rdf:about=\"\"\n";
  x += "    xmlns:pdfaid=\"http://www.aiim.org/pdfa/ns/id/\"\n";
  x += "    xmlns:dc=\"http://purl.org/dc/elements/1.1/\"\n";
  x += "    xmlns:xmp=\"http://ns.adobe.com/xap/1.0/\"\n";
  x += "    xmlns:pdf=\"http://ns.adobe.com/pdf/1.3/\"\n";
  x += ident;
  x += "   dc:format=\"application/pdf\" xmp:CreatorTool=\"";
  x += k_producer;
  x += "\"\n   xmp:CreateDate=\"";
  x += k_xmp_date;
  x += "\" xmp:ModifyDate=\"";
  x += k_xmp_date;
  x += "\"\n   pdf:Producer=\"";
  x += k_producer;
  x += "\"/>\n";
  x += " </rdf:RDF>\n";
  x += "</x:xmpmeta>\n";
  x += "<?xpacket end=\"w\"?>\n";
  return x;
}

void write_colour_and_metadata(const Numbering &nb, int part, Out *out) {
  auto icc = icc_srgb_profile();
  char dict[160];

  out->packed_stream_obj(nb.icc(), " /N 3", icc.data(), icc.size());

  out->begin_obj(nb.icc_space());
  out->printf("[ /ICCBased %d 0 R ]\nendobj\n", nb.icc());

  out->begin_obj(nb.output_intent());
  out->printf(
      "<< /Type /OutputIntent /S /GTS_PDFA1 /OutputConditionIdentifier (sRGB IEC61966-2.1)\n"
      "   /Info (sRGB IEC61966-2.1) /N 3 /DestOutputProfile %d 0 R >>\nendobj\n",
      nb.icc());

  std::string xmp = xmp_packet(part);
  unsigned char *packed = nullptr;
  std::uint64_t packed_len = 0;
  if (part != 1 &&
      sx_deflate(reinterpret_cast<const unsigned char *>(xmp.data()), xmp.size(), &packed, &packed_len) == 0) {
    std::unique_ptr<unsigned char, FreeDeleter> owner(packed);
    std::snprintf(dict, sizeof dict, "<< /Type /Metadata /Subtype /XML /Length %llu /Filter /FlateDecode >>",
                  static_cast<unsigned long long>(packed_len));
    out->stream_obj(nb.metadata(), dict, packed, packed_len);
  } else {
    std::snprintf(dict, sizeof dict, "<< /Type /Metadata /Subtype /XML /Length %zu >>", xmp.size());
    out->stream_obj(nb.metadata(), dict, xmp.data(), xmp.size());
  }

  out->begin_obj(nb.info());
  out->printf("<< /Producer (%s)\n   /Creator (%s)\n   /CreationDate (%s) /ModDate (%s) >>\nendobj\n", k_producer,
              k_producer, k_pdf_date, k_pdf_date);
}

}  // namespace zyk
