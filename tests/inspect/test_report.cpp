// The JSON report: its exact lines, the feature flags, the failed-load and
// bad-argument forms, the sanitising of the path and the error text, the
// appender's position rules and the error-text rules. Every report made
// here is also parsed by a real JSON parser.
#include <gtest/gtest.h>

#include <cwchar>
#include <string>
#include <vector>

#include "inspect_fixture.h"
#include "zyk_out_pdfa.h"

using namespace inspect_test;

namespace {

const std::string k_dash = "\xE2\x80\x94";
const std::string k_not_pdfa = "not PDF/A compliant " + k_dash + " run pdfa_convert_1b or pdfa_convert_2b";

std::string report(const std::string &path) { return pdfa_report(path.c_str()); }

// The value text of a "key": line (up to the comma or line end), or
// "<missing>".
std::string field(const std::string &rep, const std::string &key) {
  std::string k = "\"" + key + "\": ";
  std::size_t p = rep.find(k);
  if (p == std::string::npos) return "<missing>";
  p += k.size();
  std::size_t e = rep.find('\n', p);
  std::string v = rep.substr(p, e - p);
  if (!v.empty() && v.back() == ',') v.pop_back();
  return v;
}

std::string flags(const std::string &rep) {
  std::string s;
  for (const char *k : {"has_output_intent", "has_xmp_metadata", "has_icc_profile", "fonts_embedded"})
    s += field(rep, k) == "true" ? 'T' : field(rep, k) == "false" ? 'F' : '?';
  return s;
}

void expect_json(const std::vector<std::string> &reps) {
  std::vector<std::string> errs = json_errors(reps);
  for (std::size_t i = 0; i < reps.size(); i++) EXPECT_EQ(errs[i], "") << reps[i];
}

const std::string k_encrypted_doc =
    zyk_test::make_pdf({"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
                        "<< /Type /Page /Parent 2 0 R >>", "<< /Filter /Standard /V 1 >>"}) +
    "trailer\n<< /Root 1 0 R /Encrypt 4 0 R >>\n";

}  // namespace

TEST(Report, JsonOracleIsStrict) {
  // The parser behind expect_json must reject what a careless report would
  // contain, or the other tests prove nothing.
  std::vector<std::string> errs = json_errors({"{\"a\": \"x\"}", "{\"a\": \"x\ty\"}", "{\"a\": \"\xC3\"}",
                                               "{\"a\": \"\xED\xA0\x80\"}", "{\"a\": \"a\\q\"}", "{\"a\": 1,}",
                                               "{\"a\": 1}\n}\n"});
  ASSERT_EQ(errs.size(), 7u);
  EXPECT_EQ(errs[0], "");
  for (std::size_t i = 1; i < errs.size(); i++) EXPECT_NE(errs[i], "") << i;
}

TEST(Report, LoadableDocumentWithoutDeclaration) {
  std::string path = zyk_test::write_temp("plain.pdf", one_page_doc(""));
  std::string rep = report(path);
  EXPECT_EQ(rep, "{\n"
                 "  \"file\": \"" + path + "\",\n"
                 "  \"loaded\": true,\n"
                 "  \"pdf_version\": \"1.4\",\n"
                 "  \"encrypted\": false,\n"
                 "  \"page_count\": 1,\n"
                 "  \"object_count\": 3,\n"
                 "  \"is_pdfa\": false,\n"
                 "  \"pdfa_level\": 0,\n"
                 "  \"pdfa_conformance\": \"\",\n"
                 "  \"features\": {\n"
                 "    \"has_output_intent\": false,\n"
                 "    \"has_xmp_metadata\": false,\n"
                 "    \"has_icc_profile\": false,\n"
                 "    \"fonts_embedded\": true\n"
                 "  },\n"
                 "  \"verdict\": \"" + k_not_pdfa + "\"\n"
                 "}\n");
  expect_json({rep});
}

TEST(Report, DeclaredPartIsCompliantWhateverTheFeatures) {
  // Part 3 declared, a font without its program: the verdict follows the
  // declaration alone.
  std::string path = zyk_test::write_temp(
      "part3.pdf", one_page_doc(" /Metadata 4 0 R", {metadata_obj(xmp_packet(" pdfaid:part=\"3\"")),
                                                     "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>"},
                                " /Resources << /Font << /F1 5 0 R >> >>"));
  std::string rep = report(path);
  EXPECT_EQ(rep, "{\n"
                 "  \"file\": \"" + path + "\",\n"
                 "  \"loaded\": true,\n"
                 "  \"pdf_version\": \"1.4\",\n"
                 "  \"encrypted\": false,\n"
                 "  \"page_count\": 1,\n"
                 "  \"object_count\": 5,\n"
                 "  \"is_pdfa\": true,\n"
                 "  \"pdfa_level\": 3,\n"
                 "  \"pdfa_conformance\": \"ISO 19005-3\",\n"
                 "  \"features\": {\n"
                 "    \"has_output_intent\": false,\n"
                 "    \"has_xmp_metadata\": true,\n"
                 "    \"has_icc_profile\": false,\n"
                 "    \"fonts_embedded\": false\n"
                 "  },\n"
                 "  \"verdict\": \"compliant\"\n"
                 "}\n");
  std::vector<std::string> reps = {rep};
  // Levels 1 and 2 name their parts.
  for (int part : {1, 2}) {
    std::string p = zyk_test::write_temp(
        fresh_name("part"),
        one_page_doc(" /Metadata 4 0 R",
                     {metadata_obj(xmp_packet(" pdfaid:part=\"" + std::to_string(part) + "\""), true)}));
    std::string r = report(p);
    EXPECT_EQ(field(r, "is_pdfa"), "true");
    EXPECT_EQ(field(r, "pdfa_level"), std::to_string(part));
    EXPECT_EQ(field(r, "pdfa_conformance"), "\"ISO 19005-" + std::to_string(part) + "\"");
    EXPECT_EQ(field(r, "verdict"), "\"compliant\"");
    reps.push_back(r);
  }
  expect_json(reps);
}

TEST(Report, VersionAndCounts) {
  struct Case {
    const char *what;
    std::string text;
    std::string version, pages, objects;
  };
  std::vector<std::string> three_pages = {"<< /Type /Catalog /Pages 2 0 R >>",
                                          "<< /Type /Pages /Kids [3 0 R 4 0 R 5 0 R] /Count 3 >>",
                                          "<< /Type /Page /Parent 2 0 R >>", "<< /Type /Page /Parent 2 0 R >>",
                                          "<< /Type /Page /Parent 2 0 R >>", "(an unused string)"};
  std::string no_header = one_page_doc("");
  no_header.replace(0, 8, "%XYZ-9.9");
  const std::vector<Case> cases = {
      {"three pages, six objects", zyk_test::make_pdf(three_pages, 1, "1.7"), "\"1.7\"", "3", "6"},
      {"version 2.0", zyk_test::make_pdf(three_pages, 1, "2.0"), "\"2.0\"", "3", "6"},
      {"no header", no_header, "\"\"", "1", "3"},
  };
  std::vector<std::string> reps;
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    std::string r = report(zyk_test::write_temp(fresh_name("counts"), c.text));
    EXPECT_EQ(field(r, "loaded"), "true");
    EXPECT_EQ(field(r, "pdf_version"), c.version);
    EXPECT_EQ(field(r, "page_count"), c.pages);
    EXPECT_EQ(field(r, "object_count"), c.objects);
    reps.push_back(r);
  }
  expect_json(reps);
}

TEST(Report, FailedLoads) {
  std::string missing = zyk_test::temp_dir() + "/missing.pdf";
  std::string rep = report(missing);
  EXPECT_EQ(rep, "{\n"
                 "  \"file\": \"" + missing + "\",\n"
                 "  \"loaded\": false,\n"
                 "  \"pdf_version\": \"\",\n"
                 "  \"encrypted\": false,\n"
                 "  \"page_count\": 0,\n"
                 "  \"object_count\": 0,\n"
                 "  \"is_pdfa\": false,\n"
                 "  \"pdfa_level\": 0,\n"
                 "  \"pdfa_conformance\": \"\",\n"
                 "  \"features\": {\n"
                 "    \"has_output_intent\": false,\n"
                 "    \"has_xmp_metadata\": false,\n"
                 "    \"has_icc_profile\": false,\n"
                 "    \"fonts_embedded\": true\n"
                 "  },\n"
                 "  \"error\": \"cannot open " + missing + "\",\n"
                 "  \"verdict\": \"unreadable\"\n"
                 "}\n");
  std::vector<std::string> reps = {rep};

  struct Case {
    const char *what;
    std::string path;
    std::string encrypted, pages, objects, error, version;
  };
  std::string enc = zyk_test::write_temp("enc.pdf", k_encrypted_doc);
  std::string empty = zyk_test::write_temp("empty.pdf", "");
  std::string text = zyk_test::write_temp("text.pdf", "%PDF-1.5\nno objects here\n");
  std::string no_pages = zyk_test::write_temp(
      "nopages.pdf", zyk_test::make_pdf({"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [] /Count 0 >>"},
                                        1, "1.6"));
  const std::vector<Case> cases = {
      {"empty path", "", "false", "0", "0", "cannot open ", "\"\""},
      {"encrypted (the loader read its objects)", enc, "true", "0", "4",
       "encrypted PDFs are not supported: " + enc, "\"1.4\""},
      {"empty file", empty, "false", "0", "0", "empty input file: " + empty, "\"\""},
      {"no objects", text, "false", "0", "0", "no PDF objects found " + k_dash + " not a PDF: " + text, "\"1.5\""},
      {"no pages", no_pages, "false", "0", "2", "document has no pages", "\"1.6\""},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    std::string r = report(c.path);
    EXPECT_EQ(field(r, "file"), "\"" + c.path + "\"");
    EXPECT_EQ(field(r, "loaded"), "false");
    EXPECT_EQ(field(r, "pdf_version"), c.version);
    EXPECT_EQ(field(r, "encrypted"), c.encrypted);
    EXPECT_EQ(field(r, "page_count"), c.pages);
    EXPECT_EQ(field(r, "object_count"), c.objects);
    EXPECT_EQ(field(r, "pdfa_level"), "0");
    EXPECT_EQ(field(r, "error"), "\"" + c.error + "\"");
    EXPECT_EQ(field(r, "verdict"), "\"unreadable\"");
    EXPECT_EQ(std::string(pdfa_last_error()), c.error);
    reps.push_back(r);
  }
  expect_json(reps);
}

TEST(Report, NullPath) {
  zyk::set_error("earlier");
  const char *r = pdfa_report(nullptr);
  EXPECT_STREQ(r,
               "{\n  \"file\": \"\",\n  \"loaded\": false,\n  \"error\": \"NULL path argument\",\n"
               "  \"verdict\": \"bad argument\"\n}\n");
  EXPECT_STREQ(pdfa_last_error(), "NULL path argument");
  expect_json({r});
}

TEST(Report, ErrorTextRules) {
  const std::string part2 = zyk_test::write_temp(
      "r-part2.pdf", one_page_doc(" /Metadata 4 0 R", {metadata_obj(xmp_packet(" pdfaid:part=\"2\""))}));
  const std::string plain = zyk_test::write_temp("r-plain.pdf", one_page_doc(""));
  // A report that loads its file leaves the text alone, even for a PDF/A
  // file (unlike pdfa_check).
  for (const std::string &p : {part2, plain}) {
    zyk::set_error("earlier");
    pdfa_report(p.c_str());
    EXPECT_STREQ(pdfa_last_error(), "earlier") << p;
  }
  // A failed load leaves the loader's message.
  const std::string missing = zyk_test::temp_dir() + "/r-missing.pdf";
  pdfa_report(missing.c_str());
  EXPECT_EQ(std::string(pdfa_last_error()), "cannot open " + missing);
}

TEST(Report, FallbackDocumentIsWellFormed) {
  // What pdfa_report returns when building the report threw: the short
  // form, with the path and the guard's message sanitised like the others.
  zyk::ReportText out;
  zyk::report_fallback("dir/\"x\".pdf", "out of memory \"\\\x01\xff", &out);
  std::string r = out.chars;
  EXPECT_EQ(r, "{\n  \"file\": \"dir/_x_.pdf\",\n  \"loaded\": false,\n  \"error\": \"out of memory ____\",\n"
               "  \"verdict\": \"unreadable\"\n}\n");
  zyk::report_fallback(nullptr, nullptr, &out);
  std::string r2 = out.chars;
  EXPECT_EQ(field(r2, "file"), "\"\"");
  EXPECT_EQ(field(r2, "error"), "\"\"");
  expect_json({r, r2});
}

TEST(Report, SameBufferEachCall) {
  std::string a = zyk_test::write_temp("a.pdf", one_page_doc(""));
  const char *first = pdfa_report(a.c_str());
  std::string first_text = first;
  const char *second = pdfa_report(nullptr);
  EXPECT_EQ(first, second);
  EXPECT_EQ(std::string(first).find(a), std::string::npos) << "the first report must be gone";
  EXPECT_NE(first_text, std::string(second));
}

TEST(Report, FeatureFlags) {
  const std::string type1 = "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>";
  const std::string uses_font4 = " /Resources << /Font << /F1 4 0 R >> >>";
  struct Case {
    const char *what;
    std::string catalog;
    std::vector<std::string> more;  // objects 4, 5, ...
    std::string page;
    const char *flags;  // output intent, XMP, ICC, fonts embedded
  };
  const std::vector<Case> cases = {
      {"nothing", "", {}, "", "FFFT"},
      {"OutputIntents key", " /OutputIntents [5 0 R]", {}, "", "TFFT"},
      {"OutputIntent type", "", {"<< /Type /OutputIntent /S /GTS_PDFX >>"}, "", "TFFT"},
      {"a longer name is no intent", "", {"<< /OutputIntentX 1 >>"}, "", "FFFT"},
      {"Metadata key", " /Metadata 4 0 R", {stream_obj("", "<x/>")}, "", "FTFT"},
      {"ICCBased colour space", "", {}, " /Resources << /ColorSpace << /CS0 [/ICCBased 4 0 R] >> >>", "FFTT"},
      {"ICCBased colour space as an array object", "", {"[ /ICCBased 5 0 R ]"}, " /Resources << /ColorSpace << /CS0 4 0 R >> >>",
       "FFTT"},
      {"names inside stream data do not count",
       "",
       {stream_obj("", "/Metadata /ICCBased /OutputIntents /Type /Font /Subtype /Type1")},
       "",
       "FFFT"},
      {"Type1 font without program", "", {type1}, uses_font4, "FFFF"},
      {"Type1 without a space", "", {"<< /Type/Font/Subtype/Type1/BaseFont/Helvetica >>"}, uses_font4, "FFFF"},
      {"TrueType font without program",
       "",
       {"<< /Type /Font /Subtype /TrueType /BaseFont /Arial /FontDescriptor 5 0 R >>",
        "<< /Type /FontDescriptor /FontName /Arial /Flags 32 >>"},
       uses_font4,
       "FFFF"},
      {"TrueType font embedded through its descriptor",
       "",
       {"<< /Type /Font /Subtype /TrueType /BaseFont /Arial /FontDescriptor 5 0 R >>",
        "<< /Type /FontDescriptor /FontName /Arial /FontFile2 6 0 R >>", stream_obj("", "font")},
       uses_font4,
       "FFFT"},
      {"Type1 with its descriptor inline",
       "",
       {"<< /Type /Font /Subtype /Type1 /FontDescriptor << /FontFile 5 0 R >> >>", stream_obj("", "font")},
       uses_font4,
       "FFFT"},
      {"Type1 embedded as FontFile3",
       "",
       {"<< /Type /Font /Subtype /Type1 /FontDescriptor 5 0 R >>", "<< /Type /FontDescriptor /FontFile3 6 0 R >>",
        stream_obj(" /Subtype /Type1C", "font")},
       uses_font4,
       "FFFT"},
      {"descriptor reference to a missing object",
       "",
       {"<< /Type /Font /Subtype /Type1 /FontDescriptor 9 0 R >>"},
       uses_font4,
       "FFFF"},
      {"Type0 font names its descendants",
       "",
       {"<< /Type /Font /Subtype /Type0 /BaseFont /X /Encoding /Identity-H /DescendantFonts [5 0 R] >>",
        "<< /Type /Font /Subtype /CIDFontType2 /BaseFont /X >>"},
       uses_font4,
       "FFFT"},
      {"Type3 font", "", {"<< /Type /Font /Subtype /Type3 /FontMatrix [1 0 0 1 0 0] >>"}, uses_font4, "FFFT"},
      {"Type1 subtype outside a font", "", {"<< /Subtype /Type1 >>"}, "", "FFFT"},
      {"everything",
       " /Metadata 4 0 R /OutputIntents [<< /S /GTS_PDFA1 >>]",
       {stream_obj("", "<x/>"), type1},
       " /Resources << /Font << /F1 5 0 R >> /ColorSpace << /C [/ICCBased 9 0 R] >> >>",
       "TTTF"},
  };
  std::vector<std::string> reps;
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    std::string r = report(zyk_test::write_temp(fresh_name("flags"), one_page_doc(c.catalog, c.more, c.page)));
    EXPECT_EQ(field(r, "loaded"), "true");
    EXPECT_EQ(flags(r), c.flags);
    reps.push_back(r);
  }
  expect_json(reps);
}

TEST(Report, SanitiseTable) {
  struct Case {
    const char *what;
    std::string in;
    std::size_t max;
    std::string out;
  };
  const std::string e_acute = "\xC3\xA9";          // U+00E9
  const std::string euro = "\xE2\x82\xAC";         // U+20AC
  const std::string clef = "\xF0\x9D\x84\x9E";     // U+1D11E
  const std::vector<Case> cases = {
      {"plain", "/tmp/a.pdf", 254, "/tmp/a.pdf"},
      {"quote, backslash, controls", "a\"b\\c\td\ne\x01\x1f" "f", 254, "a_b_c_d_e__f"},
      {"DEL and space stay", "a\x7f b", 254, "a\x7f b"},
      {"valid UTF-8 stays", e_acute + euro + clef, 254, e_acute + euro + clef},
      {"stray continuation byte", "a\x80z", 254, "a_z"},
      {"byte FF", "\xff.pdf", 254, "_.pdf"},
      {"cut sequence", "\xC3.pdf", 254, "_.pdf"},
      {"cut 4-byte sequence at the end", "a\xF0\x9D\x84", 254, "a___"},
      {"sequence interrupted by a lead byte", "\xE2\x82\xC3\xA9", 254, "__\xC3\xA9"},
      {"4-byte sequence interrupted by a lead byte", "\xF0\x9D\x84\xF0\x9D\x84\x9E", 254, "___\xF0\x9D\x84\x9E"},
      {"overlong slash", "\xC0\xAF", 254, "__"},
      {"overlong 3-byte", "\xE0\x80\xAF", 254, "___"},
      {"surrogate", "\xED\xA0\x80", 254, "___"},
      {"above U+10FFFF", "\xF4\x90\x80\x80", 254, "____"},
      {"U+10FFFF itself", "\xF4\x8F\xBF\xBF", 254, "\xF4\x8F\xBF\xBF"},
      {"cut after max bytes", std::string(300, 'a'), 254, std::string(254, 'a')},
      {"character that would cross the limit is left out", std::string(253, 'a') + e_acute, 254,
       std::string(253, 'a')},
      {"character that ends at the limit stays", std::string(252, 'a') + e_acute + "b", 254,
       std::string(252, 'a') + e_acute},
      {"4-byte character across the limit", std::string(251, 'a') + clef, 254, std::string(251, 'a')},
      {"replaced bytes count one each", std::string(260, '"'), 254, std::string(254, '_')},
      {"empty", "", 254, ""},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<char> dst(c.max + 1, '#');
    std::size_t n = zyk::json_sanitise(c.in.c_str(), dst.data(), c.max);
    EXPECT_EQ(std::string(dst.data()), c.out);
    EXPECT_EQ(n, c.out.size());
  }
}

TEST(Report, PathsAreSanitised) {
  // The path and the loader's message that repeats it are written with the
  // same rule; the files do not exist, so every report is the failed form.
  struct Case {
    const char *what;
    std::string path, file, in_error;
  };
  const std::vector<Case> cases = {
      {"quote", "dir/q\"uote.pdf", "dir/q_uote.pdf", "dir/q_uote.pdf"},
      {"backslash", "dir\\back.pdf", "dir_back.pdf", "dir_back.pdf"},
      {"tab and line feed", "a\tb\nc.pdf", "a_b_c.pdf", "a_b_c.pdf"},
      {"control byte", "a\x01" "b.pdf", "a_b.pdf", "a_b.pdf"},
      {"valid UTF-8", "r\xC3\xA9sum\xC3\xA9.pdf", "r\xC3\xA9sum\xC3\xA9.pdf", "r\xC3\xA9sum\xC3\xA9.pdf"},
      {"Latin-1 byte", "r\xE9sum\xE9.pdf", "r_sum_.pdf", "r_sum_.pdf"},
      // The error line has room for the whole path; the file field not.
      {"300 bytes", std::string(300, 'p'), std::string(254, 'p'), std::string(300, 'p')},
      {"multi-byte character across byte 254", std::string(253, 'p') + "\xC3\xA9", std::string(253, 'p'),
       std::string(253, 'p') + "\xC3\xA9"},
  };
  std::vector<std::string> reps;
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    std::string r = report(c.path);
    EXPECT_EQ(field(r, "file"), "\"" + c.file + "\"");
    EXPECT_EQ(field(r, "error"), "\"cannot open " + c.in_error + "\"");
    EXPECT_EQ(field(r, "verdict"), "\"unreadable\"");
    reps.push_back(r);
  }
  expect_json(reps);
}

TEST(Report, LongErrorTextIsCutToFitItsLine) {
  // The error line with the verdict after it must keep to 511 bytes: the
  // sanitised text is cut at 470 bytes, between characters.
  const std::string e_acute = "\xC3\xA9";
  struct Case {
    const char *what;
    std::string path;
    std::string error;  // expected error value
  };
  std::string many_e;
  for (int i = 0; i < 300; i++) many_e += e_acute;
  const std::vector<Case> cases = {
      {"ASCII path of 1000 bytes", std::string(1000, 'x'), "cannot open " + std::string(458, 'x')},
      // "cannot open " is 12 bytes; 'a' makes 13, then 228 two-byte
      // characters reach 469 and the 229th would end at 471.
      {"two-byte characters", "a" + many_e + many_e, "cannot open a" + many_e.substr(0, 456)},
  };
  std::vector<std::string> reps;
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    std::string r = report(c.path);
    EXPECT_EQ(field(r, "error"), "\"" + c.error + "\"");
    std::size_t line = r.find("  \"error\"");
    ASSERT_NE(line, std::string::npos);
    EXPECT_LE(r.size() - line - 2, zyk::k_rep_line_max) << "error line and verdict";  // without "}\n"
    EXPECT_EQ(r.substr(r.size() - 28), "  \"verdict\": \"unreadable\"\n}\n");
    reps.push_back(r);
  }
  expect_json(reps);
}

TEST(RepAppend, PositionRules) {
  using zyk::k_rep_failed;
  using zyk::k_rep_full;
  zyk::ReportText r;
  auto rep_append = [&r](std::uint64_t pos, const char *fmt, auto... args) {
    return zyk::rep_append(&r, pos, fmt, args...);
  };
  EXPECT_EQ(rep_append(0, "%s-%d", "ab", 7), 4u);
  EXPECT_STREQ(r.chars, "ab-7");
  EXPECT_EQ(rep_append(4, "%s", "xyz"), 7u);
  EXPECT_STREQ(r.chars, "ab-7xyz");
  // The last byte is kept for the NUL: at 65,534 one character fits and
  // the position becomes 65,535, the full mark.
  EXPECT_EQ(rep_append(k_rep_full - 1, "%s", "QR"), k_rep_full);
  EXPECT_EQ(r.chars[k_rep_full - 1], 'Q');
  EXPECT_EQ(r.chars[k_rep_full], '\0');
  // At the full mark and after a failure nothing is written.
  EXPECT_EQ(rep_append(k_rep_full, "%s", "S"), k_rep_full);
  EXPECT_EQ(r.chars[k_rep_full - 1], 'Q');
  EXPECT_EQ(rep_append(k_rep_failed, "%s", "S"), k_rep_failed);
  // A text longer than the room is cut; the position stops at full.
  std::string big(70000, 'b');
  EXPECT_EQ(rep_append(0, "%s", big.c_str()), k_rep_full);
  EXPECT_EQ(std::string(r.chars).size(), k_rep_full);
  // A formatting failure (a wide character the C locale cannot encode).
  const wchar_t wide[] = {static_cast<wchar_t>(0x263A), 0};
  EXPECT_EQ(rep_append(0, "%ls", wide), k_rep_failed);
}
