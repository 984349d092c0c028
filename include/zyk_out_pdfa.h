/*
 * zyk_out_pdfa: turns PDF files into archival PDF/A files (part 1 or 2,
 * conformance level B), tells which PDF/A part a file declares, and
 * describes a PDF file in a short JSON report.
 *
 * Every call names its files by path and finishes its work before it
 * returns. The library keeps process-global state (the last error text and
 * the last report text) and is not reentrant: never run two calls at once.
 */
#ifndef ZYK_OUT_PDFA_H
#define ZYK_OUT_PDFA_H

#if defined(_WIN32)
#  if defined(ZYK_BUILDING_LIBRARY)
#    define ZYK_PDFA_API __declspec(dllexport)
#  else
#    define ZYK_PDFA_API __declspec(dllimport)
#  endif
#else
#  define ZYK_PDFA_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Reads the embedded substitute font's facts and clears the error text.
   Optional; always returns 1. */
ZYK_PDFA_API int pdfa_init(void);

/* Clears the error text. Releases nothing: nothing is held between calls. */
ZYK_PDFA_API void pdfa_cleanup(void);

/* The last error message (never NULL; empty when there is none). Valid until
   the next call into the library. */
ZYK_PDFA_API const char *pdfa_last_error(void);

/* Convert input_path into a PDF/A-1b (resp. PDF/A-2b) file at output_path.
   Returns 1 when the output was written, 0 on failure (see pdfa_last_error).
   A failed conversion leaves no output file behind. */
ZYK_PDFA_API int pdfa_convert_1b(const char *input_path, const char *output_path);
ZYK_PDFA_API int pdfa_convert_2b(const char *input_path, const char *output_path);

/* The PDF/A part (1, 2 or 3) that the file declares, or 0 when it declares
   none or cannot be loaded. */
ZYK_PDFA_API int pdfa_check(const char *input_path);

/* A short JSON description of the file. The text belongs to the library and
   stays valid until the next report. */
ZYK_PDFA_API const char *pdfa_report(const char *input_path);

#ifdef __cplusplus
}
#endif

#endif /* ZYK_OUT_PDFA_H */
