// Loading protected files for a conversion: fixtures enciphered by qpdf with
// every revision of the standard security handler (RC4 40 and 128 bit,
// AES-128, AES-256 in revisions 5 and 6), with and without object streams,
// with clear-text metadata, opened by the empty password as user or as
// owner password, and with both passwords set. The deciphered load
// must see the strings and stream data of the source exactly; the load as
// stored (inspection) must keep refusing the file.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "load_fixture.h"

using namespace zyk;

namespace {

const std::string k_content = "BT /F1 12 Tf 20 50 Td (Hello \\(enc\\)) Tj ET\n";
const std::string k_xmp = "<?xpacket begin=\"\"?><x:xmpmeta xmlns:x=\"adobe:ns:meta/\">clear</x:xmpmeta><?xpacket end=\"r\"?>";
// The strings the test object carries, as bytes.
const std::string k_title = "Caf\xE9 (1) \\ end";
const std::string k_raw("\x00\xFF\x10", 3);

std::string source_pdf() {
  auto stream = [](const std::string &dict, const std::string &data) {
    return "<< /Length " + std::to_string(data.size()) + dict + " >>\nstream\n" + data + "\nendstream";
  };
  return zyk_test::make_pdf({
      "<< /Type /Catalog /Pages 2 0 R /Metadata 6 0 R /ZykTest 7 0 R >>",
      "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 100] /Contents 4 0 R /Resources << /Font << /F1 5 0 R >> >> >>",
      stream("", k_content),
      "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>",
      stream(" /Type /Metadata /Subtype /XML", k_xmp),
      "<< /Title (Caf\\351 \\(1\\) \\\\ end) /Raw <00FF10> /Nested << /S [(deep)] >> >>",
  });
}

bool have_qpdf() { return zyk_test::run_command("command -v qpdf >/dev/null 2>&1", nullptr) == 0; }

// Enciphers the source with qpdf; returns the path, or "" when qpdf failed.
std::string encrypt(const std::string &name, const std::string &args, const std::string &objstm) {
  static std::string src = zyk_test::write_temp("decrypt-src.pdf", source_pdf());
  std::string out = zyk_test::temp_dir() + "/" + name;
  std::string cmd = "qpdf --allow-weak-crypto --compress-streams=n --object-streams=" + objstm + " --encrypt " + args +
                    " -- '" + src + "' '" + out + "' 2>&1";
  std::string log;
  int rc = zyk_test::run_command(cmd, &log);
  return rc == 0 || rc == 3 ? out : "";
}

// The bytes of the string after /key in the text (literal or hexadecimal).
std::string string_after(const byte *t, int s, int e, const char *key) {
  int p = find_name(t, e, s, e, key);
  if (p < 0) return "<no key>";
  int v = skip_ws(t, p + 1 + static_cast<int>(std::strlen(key)), e);
  std::string out;
  if (v < e && t[v] == '(') {
    int j = literal_end(t, e, v);
    if (j < 0) return "<open string>";
    literal_bytes(t, v, j, &out);
  } else if (v < e && t[v] == '<') {
    EXPECT_TRUE(hex_decode(t, static_cast<std::size_t>(v + 1), static_cast<std::size_t>(e), true, &out));
  } else {
    return "<no string>";
  }
  return out;
}

// The object that /key of the catalog refers to.
const ObjEntry *catalog_ref(Loaded &l, const char *key) {
  const ObjEntry *cat = l.obj(l.d().catalog_num);
  const byte *t;
  int s, e;
  if (!cat || !dict_range(l.d().pdf, l.d().pdf_len, *cat, &t, &s, &e)) return nullptr;
  int p = find_name(t, e, s, e, key);
  if (p < 0) return nullptr;
  int i = p + 1 + static_cast<int>(std::strlen(key));
  return l.obj(parse_int_at(t, e, &i));
}

void load_as(Loaded &l, const std::string &path, LoadMode mode) {
  ErrorText err;
  l.rc = doc_load(path.c_str(), &l.g.d, &err, mode) ? 0 : -1;
  l.err = err.text;
}

struct Mode {
  const char *name;
  std::string args;
  bool clear_metadata;
};

const std::vector<Mode> &modes() {
  static const std::vector<Mode> m = {
      {"rc4-40-r2", "'' owner 40", false},
      {"rc4-128-r3", "'' owner 128 --use-aes=n", false},
      {"rc4-128-r4", "'' owner 128 --use-aes=n --force-V4", false},
      {"aes-128-r4", "'' owner 128 --use-aes=y", false},
      {"aes-128-r4-clear-metadata", "'' owner 128 --use-aes=y --cleartext-metadata", true},
      {"aes-256-r5", "'' owner 256 --force-R5", false},
      {"aes-256-r6", "'' owner 256", false},
      {"aes-256-r6-clear-metadata", "'' owner 256 --cleartext-metadata", true},
      // The empty password opens these as the owner password.
      {"owner-empty-aes-256-r5", "user '' 256 --force-R5 --allow-insecure", false},
      {"owner-empty-aes-256-r6", "user '' 256 --allow-insecure", false},
  };
  return m;
}

}  // namespace

TEST(Decrypt, EveryRevisionShowsTheSourceBytes) {
  if (!have_qpdf()) GTEST_SKIP() << "qpdf not installed";
  for (const Mode &m : modes()) {
    for (const char *objstm : {"disable", "generate"}) {
      std::string label = std::string(m.name) + " objstm=" + objstm;
      std::string path = encrypt(std::string(m.name) + "-" + objstm + ".pdf", m.args, objstm);
      ASSERT_FALSE(path.empty()) << label << ": qpdf failed";
      std::string raw = zyk_test::read_all(path);
      // The fixture is sound: the text is enciphered, the metadata only when
      // it should be.
      ASSERT_EQ(raw.find("Hello"), std::string::npos) << label;
      ASSERT_EQ(raw.find("clear</x:xmpmeta>") != std::string::npos, m.clear_metadata) << label;

      Loaded l;
      load_as(l, path, LoadMode::decrypted);
      ASSERT_EQ(l.rc, 0) << label << ": " << l.err;
      EXPECT_EQ(l.d().encrypted, 0) << label;
      ASSERT_EQ(l.d().pages.nelems, 1) << label;

      const ObjEntry *page = l.obj(l.d().pages.elems[0].num);
      ASSERT_NE(page, nullptr) << label;
      const byte *t;
      int s, e;
      ASSERT_TRUE(dict_range(l.d().pdf, l.d().pdf_len, *page, &t, &s, &e)) << label;
      int c = find_name(t, e, s, e, "Contents");
      ASSERT_GE(c, 0) << label;
      int i = c + 9;
      EXPECT_EQ(l.stream_data(parse_int_at(t, e, &i)), k_content) << label;

      const ObjEntry *meta = catalog_ref(l, "Metadata");
      ASSERT_NE(meta, nullptr) << label;
      EXPECT_EQ(l.stream_data(meta->num), k_xmp) << label;

      const ObjEntry *test = catalog_ref(l, "ZykTest");
      ASSERT_NE(test, nullptr) << label;
      ASSERT_TRUE(dict_range(l.d().pdf, l.d().pdf_len, *test, &t, &s, &e)) << label;
      EXPECT_EQ(string_after(t, s, e, "Title"), k_title) << label;
      EXPECT_EQ(string_after(t, s, e, "Raw"), k_raw) << label;
      int n = find_name(t, e, s, e, "S");
      ASSERT_GE(n, 0) << label;
      EXPECT_EQ(string_after(t, n, e, "S"), "<no string>") << label;  // an array: look inside it
      int a = skip_ws(t, n + 2, e);
      ASSERT_EQ(t[a], '[') << label;
      std::string deep;
      int q = skip_ws(t, a + 1, e);
      if (t[q] == '(')
        literal_bytes(t, q, literal_end(t, e, q), &deep);
      else
        EXPECT_TRUE(hex_decode(t, static_cast<std::size_t>(q + 1), static_cast<std::size_t>(e), true, &deep));
      EXPECT_EQ(deep, "deep") << label;

      // Inspection loads the file as stored and keeps refusing it.
      Loaded stored;
      load_as(stored, path, LoadMode::as_stored);
      EXPECT_EQ(stored.rc, -1) << label;
      EXPECT_EQ(stored.err, "encrypted PDFs are not supported: " + path) << label;
      EXPECT_EQ(stored.d().encrypted, 1) << label;
    }
  }
}

TEST(Decrypt, FilesThatNeedAPasswordAreRefused) {
  if (!have_qpdf()) GTEST_SKIP() << "qpdf not installed";
  struct Case {
    const char *name;
    std::string args;
  } cases[] = {
      {"user-rc4-40", "user owner 40"},
      {"user-rc4-128", "user owner 128 --use-aes=n"},
      {"user-aes-128", "user owner 128 --use-aes=y"},
      {"user-aes-256-r5", "user owner 256 --force-R5"},
      {"user-aes-256-r6", "user owner 256"},
      // Revisions 2 to 4 take the user password as owner password when the
      // owner password is empty: these need "user".
      {"owner-empty-rc4-40-r2", "user '' 40"},
      {"owner-empty-aes-128-r4", "user '' 128 --use-aes=y"},
  };
  for (const Case &c : cases) {
    std::string path = encrypt(std::string(c.name) + ".pdf", c.args, "disable");
    ASSERT_FALSE(path.empty()) << c.name;
    Loaded l;
    load_as(l, path, LoadMode::decrypted);
    EXPECT_EQ(l.rc, -1) << c.name;
    EXPECT_EQ(l.err, "encrypted PDFs are not supported: " + path) << c.name;
  }
}

TEST(Decrypt, BrokenSecurityHandlersAreRefused) {
  const std::string body = zyk_test::make_pdf({"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
                                               "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 10 10] >>",
                                               "<< /Filter /Standard /V 2 /R 3 /Length 128 /P -4 >>"});
  const std::string plain_trailer = "<< /Size 5 /Root 1 0 R >>";
  ASSERT_NE(body.find(plain_trailer), std::string::npos);
  const std::string o32 = "<" + std::string(64, 'A') + ">";
  struct Case {
    const char *name;
    std::string trailer;
  } cases[] = {
      {"no /O or /U", "<< /Root 1 0 R /Encrypt 4 0 R >>"},
      {"dictionary missing", "<< /Root 1 0 R /Encrypt 9 0 R >>"},
      {"other handler", "<< /Root 1 0 R /Encrypt << /Filter /Adobe.PubSec /V 4 /R 4 >> >>"},
      {"unknown revision", "<< /Root 1 0 R /Encrypt << /Filter /Standard /V 2 /R 7 /O " + o32 + " /U " + o32 + " >> >>"},
      {"wrong /U", "<< /Root 1 0 R /Encrypt << /Filter /Standard /V 2 /R 3 /Length 128 /O " + o32 + " /U " + o32 +
                       " >> /ID [<00><00>] >>"},
      {"unknown crypt method", "<< /Root 1 0 R /Encrypt << /Filter /Standard /V 4 /R 4 /O " + o32 + " /U " + o32 +
                                   " /CF << /StdCF << /CFM /Rot13 >> >> /StmF /StdCF /StrF /StdCF >> >>"},
  };
  for (const Case &c : cases) {
    Loaded l;
    std::string text = body;
    text.replace(text.find(plain_trailer), plain_trailer.size(), c.trailer);
    std::string path = zyk_test::write_temp("broken-handler.pdf", text);
    load_as(l, path, LoadMode::decrypted);
    EXPECT_EQ(l.rc, -1) << c.name;
    EXPECT_EQ(l.err, "encrypted PDFs are not supported: " + path) << c.name;
  }
}
