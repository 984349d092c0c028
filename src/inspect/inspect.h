// Compliance inspection: which PDF/A part a loaded document declares, and
// the short JSON report about a file.
//
// Neither reads anything but the loaded Doc; neither checks conformance.
// The level is a declaration read from the XMP metadata (with an output
// intent heuristic as fallback), and the report prints it next to a few
// facts the loader found and four feature flags found by name search.
#pragma once

#include <cstddef>
#include <cstdint>

#include "pdf/pdf.h"

namespace zyk {

// ---- identification -------------------------------------------------------------

// The PDF/A part (1, 2 or 3) the document declares, or 0. pdf/pdf_len are
// the Doc's own file image. Keeps no state, sets no error text.
int pdfa_level_of(const Doc *d, const byte *pdf, int pdf_len);

// The part named by the first pdfaid:part property of an XMP packet (only
// the bytes before the first NUL count): 1 to 3; 0 when the property holds
// any other value; -1 when there is no such property.
int xmp_declared_part(const byte *x, int n);

// ---- report -----------------------------------------------------------------------

inline constexpr std::size_t k_report_size = 65536;
// Positions of the report appender: the buffer is full at k_rep_full; a
// formatting failure moves the position to k_rep_failed. At either value
// nothing more is written.
inline constexpr std::uint64_t k_rep_full = k_report_size - 1;
inline constexpr std::uint64_t k_rep_failed = k_report_size;

// Longest sanitised path and error text placed in the report. The path
// keeps the 254 bytes of a 256-byte field; the error keeps what fits its
// line (511 bytes) beside the fixed text of that line.
inline constexpr std::size_t k_rep_path_max = 254;
inline constexpr std::size_t k_rep_line_max = 511;
inline constexpr std::size_t k_rep_error_max = 470;

// Formats into the report buffer at pos (printf rules, cut to the room
// left) and returns the new position, at most k_rep_full; k_rep_failed
// when the formatter fails. A position above k_rep_full - 1 is returned
// unchanged without writing.
// The report's text, NUL-terminated once anything was written.
struct ReportText {
  char chars[k_report_size] = {};
};
std::uint64_t rep_append(ReportText *out, std::uint64_t pos, const char *fmt, ...)
    __attribute__((format(printf, 3, 4)));

// Copies src into dst as JSON string content that is valid UTF-8: '"',
// '\\', bytes below 0x20 and every byte that does not belong to a
// well-formed UTF-8 sequence become '_'. At most max bytes are written, and
// never part of a character; dst receives a NUL after them (dst has room
// for max + 1 bytes). Returns the bytes written.
std::size_t json_sanitise(const char *src, char *dst, std::size_t max);

// The four feature flags of the report, found by name search over the
// dictionary range of every object.
struct Features {
  bool has_output_intent;
  bool has_xmp_metadata;
  bool has_icc_profile;
  bool fonts_embedded;
};
Features doc_features(const Doc *d);

// Builds the whole report for path (null: the bad-argument document) in
// *out; *error receives the load's failure, if any. May throw
// std::bad_alloc (loader and search tables); *out then holds a partial
// text that report_fallback replaces.
void report_build(const char *path, ErrorText *error, ReportText *out);
// Replaces the report with a short "unreadable" document that carries the
// path and the error text; for when building the report failed.
void report_fallback(const char *path, const char *error, ReportText *out) noexcept;

}  // namespace zyk
