// Conversions with contexts of their own share nothing they write: two run
// at once in two threads give the bytes they give one after the other, and
// a failing one's message stays in its own context.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "pdf/pdf.h"
#include "writer/writer.h"
#include "writer_fixture.h"

namespace {

// Pages of text in one font. Different texts draw different glyphs of the
// substitute font, so a glyph record shared between conversions would show
// in the other output's widths, ToUnicode CMap and font subset.
std::string text_pdf(int pages, const std::string &font, const std::string &text) {
  std::string kids;
  for (int i = 0; i < pages; i++) kids += (i ? " " : "") + std::to_string(4 + 2 * i) + " 0 R";
  std::vector<std::string> bodies = {
      "<< /Type /Catalog /Pages 2 0 R >>",
      "<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(pages) + " /MediaBox [0 0 612 792] >>",
      "<< /Type /Font /Subtype /Type1 /BaseFont /" + font + " /Encoding /WinAnsiEncoding >>"};
  for (int i = 0; i < pages; i++) {
    const std::string content = "BT /F1 11 Tf 72 700 Td (" + text + " " + std::to_string(i) + ") Tj ET";
    bodies.push_back("<< /Type /Page /Parent 2 0 R /Resources << /Font << /F1 3 0 R >> >> /Contents " +
                     std::to_string(5 + 2 * i) + " 0 R >>");
    bodies.push_back(wt::stream("", content));
  }
  return zyk_test::make_pdf(bodies);
}

struct Outcome {
  bool ok = false;
  std::string err;
  std::string bytes;  // the output, its /ID left out (it names the output path)
};

Outcome convert(const std::string &in, int part, const std::string &name) {
  Outcome r;
  const std::string out = wt::fresh_path(name);
  zyk::Context ctx;
  zyk::DocGuard g;
  r.ok = zyk::doc_load(in.c_str(), &g.d, &ctx.err, zyk::LoadMode::decrypted) &&
         zyk::pdfa_convert_core(ctx, &g.d, out.c_str(), part);
  r.err = ctx.err.text;
  if (r.ok) r.bytes = std::regex_replace(zyk_test::read_all(out), std::regex("/ID \\[<[0-9a-f]+><[0-9a-f]+>\\]"), "");
  return r;
}

}  // namespace

TEST(Context, ConversionsInTwoThreadsGiveTheBytesOfSerialOnes) {
  struct Job {
    std::string in;
    int part;
  };
  const std::vector<Job> jobs = {
      {zyk_test::write_temp(wt::fresh_name("ctx-a.pdf"), text_pdf(1000, "Helvetica", "Quick brown fox")), 1},
      {zyk_test::write_temp(wt::fresh_name("ctx-b.pdf"), text_pdf(1000, "Times-Roman", "\xC9t\xE9 \x80 jazz %")), 2},
      // Fails: the second thread's error must not reach the others.
      {zyk_test::write_temp(wt::fresh_name("ctx-c.pdf"), "%PDF-1.4\nnot a PDF\n"), 2},
  };
  std::vector<Outcome> serial;
  for (const Job &j : jobs) serial.push_back(convert(j.in, j.part, "serial.pdf"));
  ASSERT_TRUE(serial[0].ok) << serial[0].err;
  ASSERT_TRUE(serial[1].ok) << serial[1].err;
  ASSERT_FALSE(serial[2].ok);
  ASSERT_NE(serial[0].bytes, serial[1].bytes);
  EXPECT_TRUE(serial[0].err.empty());

  for (int round = 0; round < 3; round++) {
    SCOPED_TRACE(round);
    std::vector<Outcome> together(jobs.size());
    std::vector<std::thread> threads;
    for (std::size_t k = 0; k < jobs.size(); k++)
      threads.emplace_back([&, k] { together[k] = convert(jobs[k].in, jobs[k].part, "together.pdf"); });
    for (std::thread &t : threads) t.join();
    for (std::size_t k = 0; k < jobs.size(); k++) {
      SCOPED_TRACE(k);
      EXPECT_EQ(together[k].ok, serial[k].ok);
      EXPECT_EQ(together[k].err, serial[k].err);
      EXPECT_TRUE(together[k].bytes == serial[k].bytes) << "output differs from the serial one";
    }
  }
}
