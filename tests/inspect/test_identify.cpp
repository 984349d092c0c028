// Which PDF/A part a document declares: the XMP property in its forms, the
// output-intent fallback, and the error-text rules of pdfa_check.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "inspect_fixture.h"
#include "zyk_out_pdfa.h"

using namespace inspect_test;

namespace {

const std::string k_pdfa1_intent = "<< /Type /OutputIntent /S /GTS_PDFA1 /OutputConditionIdentifier (sRGB) >>";
const std::string k_pdfx_intent = "<< /Type /OutputIntent /S /GTS_PDFX /OutputConditionIdentifier (FOGRA39) >>";

std::string utf16be(const std::string &ascii) {
  std::string out = "\xFE\xFF";
  for (char c : ascii) {
    out += '\0';
    out += c;
  }
  return out;
}

// A document whose catalog names object 4 as its metadata, optionally with
// a GTS_PDFA1 output intent written directly in the catalog.
std::string doc_with_xmp(const std::string &packet, bool flate, bool pdfa1_intent) {
  std::string cat = " /Metadata 4 0 R";
  if (pdfa1_intent) cat += " /OutputIntents [" + k_pdfa1_intent + "]";
  return one_page_doc(cat, {metadata_obj(packet, flate)});
}

}  // namespace

TEST(Identify, MetadataProperty) {
  struct Case {
    const char *what;
    std::string packet;
    int plain;        // no output intent
    int with_intent;  // a GTS_PDFA1 output intent as well (used only when
                      // the packet has no pdfaid:part property)
  };
  const std::vector<Case> cases = {
      {"attribute, part 1", xmp_packet(" pdfaid:part=\"1\" pdfaid:conformance=\"B\""), 1, 1},
      {"attribute, part 2 wins over the intent", xmp_packet(" pdfaid:part=\"2\" pdfaid:conformance=\"B\""), 2, 2},
      {"attribute, part 3", xmp_packet(" pdfaid:conformance=\"A\" pdfaid:part=\"3\""), 3, 3},
      {"attribute with spaces around =", xmp_packet("\n    pdfaid:part = \"2\""), 2, 2},
      {"single quotes", xmp_packet(" pdfaid:part='2'"), 2, 2},
            // A declared part that is not recognised is not overruled by the
      // output intent, which every part writes as GTS_PDFA1.
      {"value 0", xmp_packet(" pdfaid:part=\"0\""), 0, 0},
      {"value 4", xmp_packet(" pdfaid:part=\"4\""), 0, 0},
      {"value 10 is not part 1", xmp_packet(" pdfaid:part=\"10\""), 0, 0},
      {"value 2 with a letter is not part 2", xmp_packet(" pdfaid:part=\"2b\""), 0, 0},
      {"element form", xmp_packet("", "<pdfaid:part>2</pdfaid:part><pdfaid:conformance>B</pdfaid:conformance>"), 2,
       2},
      {"element form, pretty-printed", xmp_packet("", "\n   <pdfaid:part>\n     3\n   </pdfaid:part>\n"), 3, 3},
      {"empty element", xmp_packet("", "<pdfaid:part/>"), 0, 0},
      {"element with text that is no part", xmp_packet("", "<pdfaid:part>two</pdfaid:part>"), 0, 0},
      {"first property decides", xmp_packet(" pdfaid:part=\"4\"", "<pdfaid:part>2</pdfaid:part>"), 0, 0},
      {"a longer prefix is another property", xmp_packet(" mypdfaid:part=\"1\" pdfaid:part=\"2\""), 2, 2},
      {"a longer name is another property", xmp_packet(" pdfaid:partial=\"1\" pdfaid:part=\"3\""), 3, 3},
      {"a mention in text is no property", xmp_packet("", "see pdfaid:part below<pdfaid:part>1</pdfaid:part>"), 1,
       1},
      {"only the pdfaid prefix counts", xmp_packet(" xmlns:id=\"http://www.aiim.org/pdfa/ns/id/\" id:part=\"2\""), 0,
       1},
      {"no property", xmp_packet(" pdfaid:conformance=\"B\""), 0, 1},
      {"UTF-16 packet is not read", utf16be(xmp_packet(" pdfaid:part=\"2\"")), 0, 1},
      {"text after a NUL is not read", std::string("<x:xmpmeta>\0", 12) + " pdfaid:part=\"2\"", 0, 1},
  };
  for (const Case &c : cases) {
    for (bool flate : {false, true}) {
      SCOPED_TRACE(std::string(c.what) + (flate ? " (FlateDecode)" : " (plain)"));
      EXPECT_EQ(level_of_text(doc_with_xmp(c.packet, flate, false)), c.plain);
      EXPECT_EQ(level_of_text(doc_with_xmp(c.packet, flate, true)), c.with_intent);
    }
  }
}

TEST(Identify, UnreadableMetadataFallsBackToOutputIntents) {
  const std::string intents = " /OutputIntents [" + k_pdfa1_intent + "]";
  const std::string part2 = xmp_packet(" pdfaid:part=\"2\"");
  struct Case {
    const char *what;
    std::string doc;
  };
  const std::vector<Case> cases = {
      {"metadata is not a stream", one_page_doc(" /Metadata 4 0 R" + intents, {"<< /Part 2 >>"})},
      {"metadata object missing", one_page_doc(" /Metadata 9 0 R" + intents)},
      {"metadata value is no number", one_page_doc(" /Metadata /None" + intents, {metadata_obj(part2)})},
      {"corrupt FlateDecode data",
       one_page_doc(" /Metadata 4 0 R" + intents, {stream_obj(" /Filter /FlateDecode", "not deflate " + part2)})},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(level_of_text(c.doc), 1);
  }
}

TEST(Identify, OutputIntentFallback) {
  struct Case {
    const char *what;
    std::string catalog;
    std::vector<std::string> more;  // objects 4, 5, ...
    int level;
  };
  const std::vector<Case> cases = {
      {"direct GTS_PDFA1 dictionary", " /OutputIntents [" + k_pdfa1_intent + "]", {}, 1},
      {"direct GTS_PDFX dictionary declares no PDF/A part", " /OutputIntents [" + k_pdfx_intent + "]", {}, 0},
      {"both, PDF/X first", " /OutputIntents [" + k_pdfx_intent + " " + k_pdfa1_intent + "]", {}, 1},
      {"reference to a GTS_PDFA1 intent", " /OutputIntents [4 0 R]", {k_pdfa1_intent}, 1},
      {"reference to a GTS_PDFX intent", " /OutputIntents [4 0 R]", {k_pdfx_intent}, 0},
      {"references, the second GTS_PDFA1", " /OutputIntents [4 0 R 5 0 R]", {k_pdfx_intent, k_pdfa1_intent}, 1},
      {"reference without white space", " /OutputIntents[4 0 R]", {k_pdfa1_intent}, 1},
      {"reference to a missing object", " /OutputIntents [9 0 R]", {k_pdfa1_intent}, 0},
      {"the array is an object of its own", " /OutputIntents 4 0 R", {"[5 0 R]", k_pdfa1_intent}, 1},
      {"indirect array with a direct dictionary", " /OutputIntents 4 0 R", {"[ " + k_pdfa1_intent + " ]"}, 1},
      {"indirect array of PDF/X intents", " /OutputIntents 4 0 R", {"[5 0 R]", k_pdfx_intent}, 0},
      {"indirect value that is no array", " /OutputIntents 4 0 R", {k_pdfa1_intent}, 0},
      {"array referring to itself", " /OutputIntents 4 0 R", {"[4 0 R]"}, 0},
      {"an intent object nobody lists", "", {k_pdfa1_intent}, 0},
      {"a name after the array is not in it", " /OutputIntents [" + k_pdfx_intent + "] /Note /GTS_PDFA1", {}, 0},
      {"a string holding >> inside the dictionary",
       " /OutputIntents [<< /Info (a >> b) /S /GTS_PDFA1 >>]",
       {},
       1},
      {"a comment holding >> inside the dictionary",
       " /OutputIntents [<< /Type /OutputIntent % ends >> here?\n /S /GTS_PDFA1 >>]", {}, 1},
      {"a hex string holding > inside the dictionary",
       " /OutputIntents [<< /ID <4142> /S /GTS_PDFA1 >>]", {}, 1},
      {"a longer name is another name", " /OutputIntents [<< /S /GTS_PDFA1x >>]", {}, 0},
      {"value that is no array", " /OutputIntents /GTS_PDFA1", {}, 0},
      {"OutputIntent alone is no key", " /OutputIntent [" + k_pdfa1_intent + "]", {}, 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(level_of_text(one_page_doc(c.catalog, c.more)), c.level);
  }
  // Any object's OutputIntents counts, not only the catalog's.
  EXPECT_EQ(level_of_text(one_page_doc("", {}, " /OutputIntents [" + k_pdfa1_intent + "]")), 1);
}

TEST(Identify, EmptyObjectTableGivesZero) {
  // A zero-filled Doc (no objects, catalog number 0) is never looked into.
  zyk::Doc d{};
  const zyk::byte text[] = "/Metadata 1 0 R /OutputIntents [<< /S /GTS_PDFA1 >>]";
  EXPECT_EQ(zyk::pdfa_level_of(&d, text, static_cast<int>(sizeof text - 1)), 0);
}

TEST(Identify, XmpReaderStaysInsideItsBytes) {
  // Packets cut at every length: the reader must neither read past the end
  // (the sanitizer build sees that) nor accept a cut value.
  const std::string full = " pdfaid:part=\"2\"";
  for (std::size_t n = 0; n <= full.size(); n++) {
    std::vector<zyk::byte> bytes(full.begin(), full.begin() + static_cast<long>(n));
    int v = zyk::xmp_declared_part(bytes.data(), static_cast<int>(n));
    if (n == full.size()) {
      EXPECT_EQ(v, 2);
    } else {
      EXPECT_LE(v, 0) << n;
    }
  }
  const std::string elem = "<pdfaid:part>3</pdfaid:part>";
  for (std::size_t n = 0; n <= elem.size(); n++) {
    std::vector<zyk::byte> bytes(elem.begin(), elem.begin() + static_cast<long>(n));
    int v = zyk::xmp_declared_part(bytes.data(), static_cast<int>(n));
    if (n >= 15) {
      EXPECT_EQ(v, 3) << n;
    } else {
      EXPECT_LE(v, 0) << n;
    }
  }
}

TEST(Identify, CheckErrorTextRules) {
  const std::string part2 = zyk_test::write_temp(
      "part2.pdf", one_page_doc(" /Metadata 4 0 R", {metadata_obj(xmp_packet(" pdfaid:part=\"2\""), true)}));
  const std::string plain = zyk_test::write_temp("plain.pdf", one_page_doc(""));
  const std::string missing = zyk_test::temp_dir() + "/missing.pdf";
  const std::string not_pdf = zyk_test::write_temp("not.pdf", "just some text\n");
  const std::string encrypted = zyk_test::write_temp(
      "enc.pdf", zyk_test::make_pdf({"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
                                     "<< /Type /Page /Parent 2 0 R >>", "<< /Filter /Standard /V 1 >>"}) +
                     "trailer\n<< /Root 1 0 R /Encrypt 4 0 R >>\n");
  struct Case {
    const char *what;
    const char *path;
    int level;
    std::string error;  // the text afterwards; "earlier" = left as it was
  };
  const std::vector<Case> cases = {
      {"null path", nullptr, 0, "NULL path argument"},
      {"missing file", missing.c_str(), 0, "cannot open " + missing},
      {"not a PDF", not_pdf.c_str(), 0, "no PDF objects found \xE2\x80\x94 not a PDF: " + not_pdf},
      {"encrypted", encrypted.c_str(), 0, "encrypted PDFs are not supported: " + encrypted},
      {"loads, declares nothing: text left", plain.c_str(), 0, "earlier"},
      {"declares part 2: text cleared", part2.c_str(), 2, ""},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    zyk::set_error("earlier");
    EXPECT_EQ(pdfa_check(c.path), c.level);
    EXPECT_EQ(std::string(pdfa_last_error()), c.error);
  }
}

TEST(Identify, ConverterOutputDeclaresItsPart) {
  // Through the shared library, as a host calls it; skipped while the
  // library has no working converter.
  void *lib = dlopen(ZYK_SHARED_LIB, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(lib, nullptr) << dlerror();
  using ConvertFn = int (*)(const char *, const char *);
  using CheckFn = int (*)(const char *);
  auto convert_1b = reinterpret_cast<ConvertFn>(dlsym(lib, "pdfa_convert_1b"));
  auto convert_2b = reinterpret_cast<ConvertFn>(dlsym(lib, "pdfa_convert_2b"));
  auto check = reinterpret_cast<CheckFn>(dlsym(lib, "pdfa_check"));
  ASSERT_NE(check, nullptr);
  std::string in = zyk_test::write_temp("conv-in.pdf", one_page_doc("", {stream_obj("", "0 0 m 10 10 l S")},
                                                                    " /Contents 4 0 R"));
  struct Case {
    ConvertFn convert;
    int part;
  };
  for (const Case &c : {Case{convert_1b, 1}, Case{convert_2b, 2}}) {
    std::string out = zyk_test::temp_dir() + "/conv-out-" + std::to_string(c.part) + ".pdf";
    if (!c.convert || c.convert(in.c_str(), out.c_str()) != 1) {
      dlclose(lib);
      GTEST_SKIP() << "the converter is not available yet";
    }
    EXPECT_EQ(check(out.c_str()), c.part);
  }
  dlclose(lib);
}
