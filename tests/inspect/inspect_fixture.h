// Fixtures for the inspection tests: a one-page document with extra catalog
// keys, page keys and objects, stream objects (optionally deflated with
// zlib), and a strict JSON check through python3's parser.
#pragma once

#include <zlib.h>

#include <string>
#include <vector>

#include "inspect/inspect.h"
#include "pdf/pdf.h"
#include "test_support.h"

namespace inspect_test {

// Objects 1 (catalog), 2 (page tree) and 3 (page) followed by `more`,
// numbered from 4 on.
inline std::string one_page_doc(const std::string &catalog_extra, const std::vector<std::string> &more = {},
                                const std::string &page_extra = "") {
  std::vector<std::string> bodies = {"<< /Type /Catalog /Pages 2 0 R" + catalog_extra + " >>",
                                     "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
                                     "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792]" + page_extra + " >>"};
  bodies.insert(bodies.end(), more.begin(), more.end());
  return zyk_test::make_pdf(bodies);
}

inline std::string stream_obj(const std::string &dict_extra, const std::string &data) {
  return "<< /Length " + std::to_string(data.size()) + dict_extra + " >>\nstream\n" + data + "\nendstream";
}

inline std::string deflate(const std::string &data) {
  uLongf n = compressBound(static_cast<uLong>(data.size()));
  std::string out(n, '\0');
  compress(reinterpret_cast<Bytef *>(out.data()), &n, reinterpret_cast<const Bytef *>(data.data()),
           static_cast<uLong>(data.size()));
  out.resize(n);
  return out;
}

// A metadata stream object holding `xmp`, deflated when asked.
inline std::string metadata_obj(const std::string &xmp, bool flate = false) {
  return flate ? stream_obj(" /Type /Metadata /Subtype /XML /Filter /FlateDecode", deflate(xmp))
               : stream_obj(" /Type /Metadata /Subtype /XML", xmp);
}

// An XMP packet whose pdfaid description carries `attrs` (written inside
// its start tag) and `content`. A second description follows whose first
// attribute value is "1", so that a reader which takes the digit after
// the next double quote anywhere further on reads 1 instead.
inline std::string xmp_packet(const std::string &attrs, const std::string &content = "") {
  return "<?xpacket begin=\"\xEF\xBB\xBF\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?>\n"
         "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\">\n"
         " <rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">\n"
         "  <rdf:Description rdf:about=\"\" xmlns:pdfaid=\"http://www.aiim.org/pdfa/ns/id/\"" +
         attrs + ">" + content +
         "</rdf:Description>\n"
         "  <rdf:Description xmp:Rating=\"1\" rdf:about=\"\" xmlns:xmp=\"http://ns.adobe.com/xap/1.0/\"/>\n"
         " </rdf:RDF>\n</x:xmpmeta>\n<?xpacket end=\"w\"?>";
}

inline std::string fresh_name(const std::string &stem) {
  static int counter = 0;
  return stem + "-" + std::to_string(++counter) + ".pdf";
}

// Loads the text and returns pdfa_level_of, or -100 when it does not load.
inline int level_of_text(const std::string &text) {
  std::string path = zyk_test::write_temp(fresh_name("level"), text);
  zyk::DocGuard g;
  zyk::ErrorText err;
  if (!zyk::doc_load(path.c_str(), &g.d, &err)) return -100;
  return zyk::pdfa_level_of(&g.d, g.d.pdf, g.d.pdf_len);
}

inline std::string shell_quote(const std::string &s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

// The system's python3 when present: it starts far faster than a
// version-manager shim found first on PATH.
inline std::string python3() {
  return zyk_test::run_command("test -x /usr/bin/python3", nullptr) == 0 ? "/usr/bin/python3" : "python3";
}

// Parses every text as strict JSON (UTF-8 decoding included) with python3
// in one run. Returns one entry per text: "" when it parses, else the
// parser's complaint.
inline std::vector<std::string> json_errors(const std::vector<std::string> &texts) {
  std::string args;
  for (std::size_t i = 0; i < texts.size(); i++)
    args += " " + shell_quote(zyk_test::write_temp("report-" + std::to_string(i) + ".json", texts[i]));
  const char *script =
      "import json,sys\n"
      "for p in sys.argv[1:]:\n"
      "  try:\n"
      "    v = json.loads(open(p,'rb').read().decode('utf-8'))\n"
      "    print('ok' if isinstance(v, dict) else 'bad not an object')\n"
      "  except Exception as e:\n"
      "    print('bad', str(e).replace(chr(10), ' '))\n";
  std::string out;
  int rc = zyk_test::run_command(python3() + " -c " + shell_quote(script) + args, &out);
  std::vector<std::string> res(texts.size(), "python3 did not run");
  if (rc != 0) return res;
  std::size_t i = 0, start = 0;
  for (std::size_t nl; i < texts.size() && (nl = out.find('\n', start)) != std::string::npos; start = nl + 1, i++)
    res[i] = out.compare(start, nl - start, "ok") == 0 ? "" : out.substr(start, nl - start);
  return res;
}

inline std::string json_error(const std::string &text) { return json_errors({text})[0]; }

}  // namespace inspect_test
