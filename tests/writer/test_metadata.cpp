// Metadata carried over: the source's Info fields (in every string form and
// encoding) and, where Info lacks them, its XMP properties reach the output's
// Info dictionary and XMP packet with the same values; poppler's pdfinfo
// reads the same fields from input and output; undecodable fields are
// dropped; dates in any PDF form name the same instant in both places; and
// the validator accepts the result.
#include <sstream>

#include "writer/writer.h"
#include "writer_fixture.h"
#include "zyk_version.h"

namespace {

std::string quote(const std::string &s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

// pdfinfo's fields by name (UTF-8, ISO dates).
std::map<std::string, std::string> pdfinfo(const std::string &path) {
  std::map<std::string, std::string> f;
  std::string out;
  zyk_test::run_command("pdfinfo -enc UTF-8 -isodates " + quote(path) + " 2>/dev/null", &out);
  std::istringstream in(out);
  for (std::string line; std::getline(in, line);) {
    std::size_t c = line.find(':');
    if (c == std::string::npos) continue;
    std::size_t v = line.find_first_not_of(' ', c + 1);
    f[line.substr(0, c)] = v == std::string::npos ? "" : line.substr(v);
  }
  return f;
}

std::string with_info(const std::string &info_body, const std::string &catalog_extra = "",
                      const std::vector<std::string> &more = {}) {
  std::vector<std::string> o = wt::one_page("", "0 0 1 1 re f");
  o[0] = "<< /Type /Catalog /Pages 2 0 R" + catalog_extra + " >>";
  o.push_back(info_body);  // 5
  for (const std::string &m : more) o.push_back(m);
  std::string pdf = zyk_test::make_pdf(o);
  std::size_t t = pdf.rfind("/Root 1 0 R");
  pdf.insert(t, "/Info 5 0 R ");
  return pdf;
}

std::string packet_of(const wt::Converted &c) {
  wt::Output o = wt::read_output(c.bytes);
  return o.data(15);  // part 1: plain
}

std::string info_of(const wt::Converted &c) { return wt::read_output(c.bytes).obj(16); }

}  // namespace

TEST(Metadata, InfoFieldsInEveryEncodingReachBothPlaces) {
  // Title in PDFDocEncoding (0x84 em dash, 0x93 fi ligature, 0xE9 e acute),
  // Author in UTF-16BE with a character outside the BMP, Subject as a hex
  // string with XML specials, Keywords in an indirect object, Creator with
  // escapes.
  std::string pdf = with_info(
      "<< /Title (Caf\\351 \\204 \\223ne) /Author <FEFF004100E900200042D835DC9D> /Subject <3C613E2026202271> "
      "/Keywords 6 0 R /Creator (Writer \\(v2\\)\\\\x) /CreationDate (D:20240229153000+05'30') /Producer (Other) "
      "/ModDate (D:19990101) >>",
      "", {"(one, two)"});
  wt::Converted c = wt::convert_text(pdf, 1);
  ASSERT_EQ(c.rc, 1) << c.err;
  std::string x = packet_of(c);
  EXPECT_NE(x.find("<rdf:li xml:lang=\"x-default\">Caf\xC3\xA9 \xE2\x80\x94 \xEF\xAC\x81ne</rdf:li>"), std::string::npos)
      << x;
  EXPECT_NE(x.find("<dc:creator><rdf:Seq><rdf:li>A\xC3\xA9 B\xF0\x9D\x92\x9D</rdf:li>"), std::string::npos) << x;
  EXPECT_NE(x.find("<rdf:li xml:lang=\"x-default\">&lt;a&gt; &amp; &quot;q</rdf:li>"), std::string::npos) << x;
  EXPECT_NE(x.find("pdf:Keywords=\"one, two\""), std::string::npos) << x;
  EXPECT_NE(x.find("xmp:CreatorTool=\"Writer (v2)\\x\""), std::string::npos) << x;
  EXPECT_NE(x.find("xmp:CreateDate=\"2024-02-29T15:30:00+05:30\""), std::string::npos) << x;
  EXPECT_NE(x.find("xmp:ModifyDate=\"2026-01-01T00:00:00Z\""), std::string::npos) << x;
  EXPECT_NE(x.find("pdf:Producer=\"vexlorin-pdfa " ZYK_VERSION "\""), std::string::npos) << x;
  std::string info = info_of(c);
  EXPECT_NE(info.find("/CreationDate (D:20240229153000+05'30')"), std::string::npos) << info;
  EXPECT_NE(info.find("/ModDate (D:20260101000000Z)"), std::string::npos) << info;
  EXPECT_NE(info.find("/Creator (Writer \\(v2\\)\\\\x)"), std::string::npos) << info;

  if (!wt::have_tool("pdfinfo")) return;
  std::string in = zyk_test::write_temp(wt::fresh_name("meta-in.pdf"), pdf);
  auto a = pdfinfo(in), b = pdfinfo(c.out_path);
  for (const char *k : {"Title", "Author", "Subject", "Keywords", "Creator", "CreationDate"}) {
    EXPECT_FALSE(a[k].empty()) << k;
    EXPECT_EQ(b[k], a[k]) << k;
  }
  EXPECT_EQ(b["Producer"], "vexlorin-pdfa " ZYK_VERSION);
}

TEST(Metadata, AbsentAndUndecodableFieldsAreNotWritten) {
  struct Case {
    const char *name;
    std::string info;
    const char *absent;  // Info key that must not be written
  } cases[] = {
      {"undefined PDFDocEncoding byte", "<< /Title (bad \\237 byte) >>", "/Title"},
      {"control character", "<< /Author (bell\\007) >>", "/Author"},
      {"odd UTF-16", "<< /Subject <FEFF00410> >>", "/Subject"},
      {"unpaired surrogate", "<< /Keywords <FEFFD835> >>", "/Keywords"},
      {"not a string", "<< /Title /Name >>", "/Title"},
      {"empty", "<< /Title () >>", "/Title"},
  };
  for (const Case &k : cases) {
    wt::Converted c = wt::convert_text(with_info(k.info), 1);
    ASSERT_EQ(c.rc, 1) << k.name << ": " << c.err;
    std::string info = info_of(c);
    EXPECT_EQ(info.find(k.absent), std::string::npos) << k.name << ": " << info;
    std::string x = packet_of(c);
    EXPECT_EQ(x.find("<dc:"), std::string::npos) << k.name;
    EXPECT_EQ(x.find("pdf:Keywords"), std::string::npos) << k.name;
  }
  // Without any source metadata the fixed texts stay.
  wt::Converted c = wt::convert_text(zyk_test::make_pdf(wt::one_page("", "0 0 1 1 re f")), 1);
  ASSERT_EQ(c.rc, 1) << c.err;
  EXPECT_EQ(packet_of(c), zyk::xmp_packet(1, zyk::DocMeta{}));
  EXPECT_NE(info_of(c).find("/Creator (vexlorin-pdfa " ZYK_VERSION ")\n   /CreationDate (D:20260101000000Z)"),
            std::string::npos);
}

TEST(Metadata, DatesInEveryFormNameOneInstant) {
  struct Case {
    std::string pdf;   // source /CreationDate
    std::string info;  // written Info date, "" = dropped
    std::string xmp;
  } cases[] = {
      {"D:2021", "D:20210101000000", "2021-01-01T00:00:00"},
      {"D:202112", "D:20211201000000", "2021-12-01T00:00:00"},
      {"D:20211231235958Z", "D:20211231235958Z", "2021-12-31T23:59:58Z"},
      {"D:20211231235958Z00'00'", "D:20211231235958Z", "2021-12-31T23:59:58Z"},
      {"D:20211231235958+00'00'", "D:20211231235958Z", "2021-12-31T23:59:58Z"},
      {"D:20211231235958-08'00", "D:20211231235958-08'00'", "2021-12-31T23:59:58-08:00"},
      {"D:20211231235958+0530", "D:20211231235958+05'30'", "2021-12-31T23:59:58+05:30"},
      {"20200229", "D:20200229000000", "2020-02-29T00:00:00"},  // no "D:"
      {"D:20210229", "", ""},                                  // no such day
      {"D:20211301", "", ""},
      {"D:2021123124", "", ""},
      {"D:20211231235958+05'30'junk", "", ""},
      {"yesterday", "", ""},
  };
  for (const Case &k : cases) {
    wt::Converted c = wt::convert_text(with_info("<< /CreationDate (" + k.pdf + ") >>"), 1);
    ASSERT_EQ(c.rc, 1) << k.pdf << ": " << c.err;
    std::string info = info_of(c), x = packet_of(c);
    std::string want_info = k.info.empty() ? "D:20260101000000Z" : k.info;
    std::string want_xmp = k.xmp.empty() ? "2026-01-01T00:00:00Z" : k.xmp;
    EXPECT_NE(info.find("/CreationDate (" + want_info + ")"), std::string::npos) << k.pdf << ": " << info;
    EXPECT_NE(x.find("xmp:CreateDate=\"" + want_xmp + "\""), std::string::npos) << k.pdf;
  }
}

TEST(Metadata, XmpFillsWhatInfoLacks) {
  const std::string xmp =
      "<?xpacket begin=\"\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?><x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF "
      "xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\"><rdf:Description rdf:about=\"\" "
      "xmlns:dc=\"http://purl.org/dc/elements/1.1/\" xmlns:xmp=\"http://ns.adobe.com/xap/1.0/\" "
      "xmlns:pdf=\"http://ns.adobe.com/pdf/1.3/\" xmp:CreatorTool=\"Tool &amp; Co\" "
      "xmp:CreateDate=\"2019-05-06T07:08:09.25+02:00\"><dc:title><rdf:Alt><rdf:li xml:lang=\"de\">Titel</rdf:li>"
      "<rdf:li xml:lang=\"x-default\">Title &#x2013; XMP</rdf:li></rdf:Alt></dc:title><dc:creator><rdf:Seq>"
      "<rdf:li>Ann</rdf:li><rdf:li>Bob</rdf:li></rdf:Seq></dc:creator><pdf:Keywords>k1 k2</pdf:Keywords>"
      "</rdf:Description></rdf:RDF></x:xmpmeta><?xpacket end=\"w\"?>";
  // Info has the subject and a title of its own: Info wins where it has a
  // value.
  std::string pdf = with_info("<< /Subject (From Info) /Author () >>", " /Metadata 6 0 R",
                              {wt::stream("/Type /Metadata /Subtype /XML", xmp)});
  wt::Converted c = wt::convert_text(pdf, 1);
  ASSERT_EQ(c.rc, 1) << c.err;
  std::string info = info_of(c);
  EXPECT_NE(info.find("/Title <FEFF005400690074006C00650020201300200058004D0050>"), std::string::npos) << info;
  EXPECT_NE(info.find("/Author (Ann; Bob)"), std::string::npos) << info;
  EXPECT_NE(info.find("/Subject (From Info)"), std::string::npos) << info;
  EXPECT_NE(info.find("/Keywords (k1 k2)"), std::string::npos) << info;
  EXPECT_NE(info.find("/Creator (Tool & Co)"), std::string::npos) << info;
  EXPECT_NE(info.find("/CreationDate (D:20190506070809+02'00')"), std::string::npos) << info;
  std::string x = packet_of(c);
  EXPECT_NE(x.find("xmp:CreatorTool=\"Tool &amp; Co\""), std::string::npos) << x;
  EXPECT_NE(x.find("<rdf:li xml:lang=\"x-default\">Title \xE2\x80\x93 XMP</rdf:li>"), std::string::npos) << x;
}

// Both checkers read every output: the validator (part 1) compares Info
// and XMP field by field, the linter checks both parts.
TEST(Metadata, ValidatorAcceptsCarriedMetadata) {
  std::string validate = std::string(ZYK_SHARED_DIR) + "/tools/pdfa-validate";
  if (!std::filesystem::exists(validate) || wt::lint_command(1).empty()) GTEST_SKIP() << "PDF/A checkers not available";
  std::vector<std::string> outs[3];
  for (const char *date : {"D:20240229153000+05'30'", "D:20240229153000Z", "D:20240229153000", "D:2024",
                           "D:20240229153000-08'00'"}) {
    std::string pdf = with_info(std::string("<< /Title (Caf\\351 & <co>) /Author <FEFF004100E9> /Subject (s\\nt) "
                                            "/Keywords (k\"q) /Creator (c\\nd) /CreationDate (") +
                                date + ") >>");
    for (int part : {1, 2}) {
      wt::Converted c = wt::convert_text(pdf, part);
      ASSERT_EQ(c.rc, 1) << c.err;
      outs[part].push_back(c.out_path);
    }
  }
  auto all_pass = [](const std::string &cmd, const std::vector<std::string> &files) {
    std::string line_cmd = cmd;
    for (const std::string &o : files) line_cmd += " " + quote(o);
    std::string out;
    zyk_test::run_command(line_cmd + " 2>&1", &out);
    std::istringstream lines(out);
    int pass = 0;
    for (std::string line; std::getline(lines, line);) {
      EXPECT_EQ(line.rfind("PASS", 0), 0u) << line;
      pass += line.rfind("PASS", 0) == 0;
    }
    EXPECT_EQ(pass, static_cast<int>(files.size())) << out;
  };
  all_pass(quote(validate), outs[1]);
  all_pass(wt::lint_command(1), outs[1]);
  all_pass(wt::lint_command(2), outs[2]);
}

TEST(Metadata, TrailingNulEndsTheText) {
  struct Case {
    const char *name;
    std::string info;
    std::string info_out;  // expected in the written Info dictionary
  } cases[] = {
      {"PDFDocEncoding", "<< /Title (Report\\000) >>", "/Title (Report)"},
      {"UTF-16", "<< /Title <FEFF005200650070006F007200740000> >>", "/Title (Report)"},
      {"UTF-16, two zero units", "<< /Title <FEFF00520065007000000000> >>", "/Title (Rep)"},
      {"only a NUL", "<< /Title (\\000) >>", ""},
  };
  for (const Case &k : cases) {
    wt::Converted c = wt::convert_text(with_info(k.info), 1);
    ASSERT_EQ(c.rc, 1) << k.name << ": " << c.err;
    std::string info = info_of(c);
    if (k.info_out.empty())
      EXPECT_EQ(info.find("/Title"), std::string::npos) << k.name << ": " << info;
    else
      EXPECT_NE(info.find(k.info_out), std::string::npos) << k.name << ": " << info;
    EXPECT_EQ(packet_of(c).find(std::string(1, '\0')), std::string::npos) << k.name;
  }
}

// The loader deciphers a protected file's strings, including those of the
// information dictionary, wherever it stands (in an object stream, named by a
// cross-reference stream's trailer), and a metadata stream left in clear.
TEST(Metadata, ProtectedSourcesKeepTheirFields) {
  if (!wt::have_tool("qpdf") || !wt::have_tool("pdfinfo")) GTEST_SKIP() << "qpdf or pdfinfo not installed";
  const std::string xmp =
      "<?xpacket begin=\"\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?><x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF "
      "xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\"><rdf:Description rdf:about=\"\" "
      "xmlns:pdf=\"http://ns.adobe.com/pdf/1.3/\" pdf:Keywords=\"from xmp\"/></rdf:RDF></x:xmpmeta>"
      "<?xpacket end=\"w\"?>";
  std::string clear = with_info(
      "<< /Title (Sealed \\(title\\)) /Author <FEFF004100E9> /Creator (Maker) /CreationDate (D:20230405060708-03'00') >>",
      " /Metadata 6 0 R", {wt::stream("/Type /Metadata /Subtype /XML", xmp)});
  std::string src = zyk_test::write_temp(wt::fresh_name("meta-clear.pdf"), clear);
  auto want = pdfinfo(src);
  ASSERT_EQ(want["Title"], "Sealed (title)");
  struct Case {
    const char *name;
    const char *args;
  } cases[] = {
      {"rc4-128, object streams", "--object-streams=generate --encrypt '' owner 128 --use-aes=n --"},
      {"aes-256, clear metadata", "--encrypt '' owner 256 --cleartext-metadata --"},
  };
  for (const Case &k : cases) {
    std::string enc = wt::fresh_path("meta-enc.pdf");
    int rc = zyk_test::run_command(std::string("qpdf --allow-weak-crypto ") + k.args + " " + quote(src) + " " +
                                       quote(enc) + " >/dev/null 2>&1",
                                   nullptr);
    ASSERT_TRUE(rc == 0 || rc == 3) << k.name;
    wt::Converted c = wt::convert_file(enc, 2);
    ASSERT_EQ(c.rc, 1) << k.name << ": " << c.err;
    auto got = pdfinfo(c.out_path);
    for (const char *f : {"Title", "Author", "Creator", "CreationDate"}) EXPECT_EQ(got[f], want[f]) << k.name << " " << f;
    EXPECT_EQ(got["Keywords"], "from xmp") << k.name;
  }
}

// A file whose cross-reference offset leads nowhere still names its
// information dictionary in its trailer; the last trailer naming one wins.
TEST(Metadata, InfoFoundWhenTheTrailerChainIsBroken) {
  std::string pdf = with_info("<< /Title (Old) >>", "", {"<< /Title (New) >>"});
  std::size_t sx = pdf.rfind("startxref");
  ASSERT_NE(sx, std::string::npos);
  std::size_t eol = pdf.find('\n', sx + 10);
  pdf.replace(sx + 10, eol - (sx + 10), "7");  // points into the header
  std::string broken = pdf;
  wt::Converted c = wt::convert_text(broken, 2);
  ASSERT_EQ(c.rc, 1) << c.err;
  EXPECT_NE(info_of(c).find("/Title (Old)"), std::string::npos) << info_of(c);
  // An update appended with its own trailer naming object 6.
  std::string updated = broken + "trailer\n<< /Size 7 /Root 1 0 R /Info 6 0 R >>\n%%EOF\n";
  c = wt::convert_text(updated, 2);
  ASSERT_EQ(c.rc, 1) << c.err;
  EXPECT_NE(info_of(c).find("/Title (New)"), std::string::npos) << info_of(c);
}
