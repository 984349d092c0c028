// PDF/A writing: the conversion driver, page wrapping, object transfer, the
// content-rewriting step, the substitute font objects, colour profile,
// output intent and metadata, and the output file.
//
// The road of one run (pdfa_convert_core):
//   guards -> per page: resources (merged with the default RGB space),
//   references followed transitively (transfer) -> header,
//   catalog, page tree -> per page: content decoded (filters), rewritten
//   (rewrite_content, device CMYK to RGB), page + form + content stream ->
//   font objects B..B+4 -> colour and metadata objects B+5..B+10 ->
//   transferred objects from B+11 -> cross-reference table, trailer with /ID
//   -> output check -> temporary file renamed over the output path.
//
// Output object numbers with n pages and B = 3n + 3: 1 catalog, 2 page tree,
// 3i+3 / 3i+4 / 3i+5 page, form and content stream of page i, B..B+4 the
// substitute font, B+5 ICC profile, B+6 ICC colour space, B+7 the
// substitute font's CIDSet (part 1; an empty object in part 2), B+8 output
// intent, B+9 metadata, B+10 information dictionary, and from B+11 the
// source objects copied, densely, in the order they were reached; after them
// the CMYK profile and its colour space when something uses device CMYK,
// then the intermediate page-tree nodes of a document with more pages than
// one array may hold, and last the outline, link and page-label objects
// (nav.cpp). Every number from 1 to the highest is written, so the
// cross-reference table has no free entry besides entry 0. A conversion
// whose output would not be PDF/A of its part refuses before anything is
// written (conform.cpp), and the finished output is checked once more, as
// a reader sees it, before it is written (selfcheck.cpp).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "base/base.h"
#include "font/font.h"
#include "pdf/pdf.h"
#include "writer/text.h"
#include "zyk_version.h"

namespace zyk {

// ---- limits, in one place ----------------------------------------------------

inline constexpr int k_max_pages = 100000;
// Entries of one array in a PDF/A file (both parts).
inline constexpr int k_max_array = 8191;
// /Parent links followed for inherited resources and rotation.
inline constexpr int k_inherit_depth = 32;
// Cross-reference offsets have ten digits.
inline constexpr std::uint64_t k_max_output = 9999999999ULL;
// Temporary output names tried before the run gives up.
inline constexpr int k_temp_attempts = 32;
// A source object number the loader never keeps (it drops numbers above
// 8,388,607): resource texts name the default RGB colour space with it before
// renumbering, and the map sends it to B + 6.
inline constexpr int k_default_rgb_key = 99999999;

// Likewise the substitute font B: direct font dictionaries are replaced by a
// reference to it before renumbering.
inline constexpr int k_substitute_font_key = 99999998;
// And the ICC-based CMYK colour space, written (after the copied objects)
// only when something names it.
inline constexpr int k_cmyk_space_key = 99999997;

// Nesting of dictionaries and arrays looked into for direct font
// dictionaries.
inline constexpr int k_inline_font_depth = 64;

// The fixed texts of the output.
inline constexpr const char *k_producer = "vexlorin-pdfa " ZYK_VERSION;
inline constexpr const char *k_pdf_date = "D:20260101000000Z";
inline constexpr const char *k_xmp_date = "2026-01-01T00:00:00Z";

// ---- numbering -------------------------------------------------------------------

struct Numbering {
  int npages;
  int base;  // B = 3n + 3
  // With more pages than an array may hold, the page tree gets a level of
  // intermediate nodes, numbered after every other object: page i hangs
  // from node first_node + i / per_node.
  int first_node = 0;
  int per_node = 0;
  int parent_of(int i) const { return per_node ? first_node + i / per_node : 2; }
  // The CMYK profile stream and its ICC-based colour space array, after the
  // copied objects, or 0 when no copied object uses device CMYK.
  int cmyk_icc = 0;
  int cmyk_space() const { return cmyk_icc + 1; }
  int page_obj(int i) const { return 3 * i + 3; }
  int form_obj(int i) const { return 3 * i + 4; }
  int content_obj(int i) const { return 3 * i + 5; }
  int type0() const { return base; }
  int cidfont() const { return base + 1; }
  int fontfile() const { return base + 2; }
  int tounicode() const { return base + 3; }
  int descriptor() const { return base + 4; }
  int icc() const { return base + 5; }
  int icc_space() const { return base + 6; }
  // Once the output intent's profile as text; the number stays so the fixed
  // block keeps its layout, and now holds the CIDSet of the font subset.
  int cidset() const { return base + 7; }
  int output_intent() const { return base + 8; }
  int metadata() const { return base + 9; }
  int info() const { return base + 10; }
  int first_copied() const { return base + 11; }
};

// ---- output buffer -----------------------------------------------------------------

// The output under construction. A Buf that cannot grow drops its bytes and
// would silently start again on the next append; Out makes that loss sticky
// (`failed`) so that the run ends with "out of memory" instead of writing a
// file with a hole. Offsets of object headers are kept by output number.
struct Out {
  Buf b{};
  bool failed = false;
  std::vector<std::uint64_t> offsets;  // k_unwritten until the object is begun

  static constexpr std::uint64_t k_unwritten = ~std::uint64_t{0};

  Out() = default;
  Out(const Out &) = delete;
  Out &operator=(const Out &) = delete;
  ~Out() { buf_free(&b); }

  std::uint64_t size() const { return failed ? 0 : b.used; }
  void bytes(const void *p, std::uint64_t n);
  void str(const char *s);
  void str(const std::string &s) { bytes(s.data(), s.size()); }
  void printf(const char *fmt, ...) __attribute__((format(printf, 2, 3)));
  // Records the offset of object `num` and writes its header line.
  void begin_obj(int num);
  // Writes a whole stream object: the complete dictionary text (holding
  // /Length n), the n data bytes, and the end-of-line before "endstream"
  // that /Length does not count.
  void stream_obj(int num, const std::string &dict, const void *data, std::uint64_t n);
  // Writes a stream object whose data the converter made, Flate-compressed:
  // the dictionary is "<<" + entries (each with its leading space) + " /Length
  // n /Filter /FlateDecode >>". Data too short to gain anything, or that
  // does not get smaller, or that the encoder fails on, is written plain with
  // only /Length added.
  void packed_stream_obj(int num, const std::string &entries, const void *data, std::uint64_t n);
};

// Streams shorter than this are written plain: the filter entry and the
// zlib framing cost more than compression can save.
inline constexpr std::uint64_t k_pack_min = 64;

// ---- the run ----------------------------------------------------------------------

// What one conversion owns besides its document: its error text, the
// glyphs of the substitute font it draws, and the salt of its temporary
// file names. The export that runs the conversion makes one (api/) and
// gives every conversion its own, so conversions in different threads
// share nothing they write.
struct Context {
  ErrorText err;
  GlyphUse glyphs;
  unsigned temp_salt = 0;
};

// Converts a loaded document into a PDF/A file of the given part (1 or 2).
// True when the output file is complete at out_path; false with ctx.err
// saying why, no file left at out_path and an existing file there
// untouched.
[[nodiscard]] bool pdfa_convert_core(Context &ctx, const Doc *d, const char *out_path, int part);

// Coordinates and lengths: an integral value that fits 32 bits as an
// integer, anything else with four decimals.
std::string format_num(double v);

// ---- object transfer (transfer.cpp) ------------------------------------------------

// What one conversion has decoded of content streams: the document's
// budget and the cache of decoded streams, so that a stream several pages
// or forms name is decoded once.
class DecodeAccount {
 public:
  // The decoded data of content stream e (from the cache, or decoded within
  // what is left of the budget), or null with *r set.
  std::shared_ptr<const std::string> decode(const Doc &d, const ObjEntry &e, StreamResult *r);
  std::uint64_t left() const { return budget_.left; }

 private:
  DecodeBudget budget_{k_doc_decode_budget};
  StreamCache cache_{k_content_cache_max};
};

// Sets the error for a content stream of page_no that decoded to more than
// one stream may, or than what was left of the document's budget; false.
[[nodiscard]] bool too_large_error(ErrorText &err, long page_no, const DecodeAccount &acc);

// What page-tree nodes (the ancestors of pages) say for themselves about
// the inheritable box and rotation, read once per conversion: every page
// looks at its ancestors, and a node with a thousand kids is large, so
// reading it again for every page made page writing grow with the square
// of the page count. The facts are each node's own; the walk up from a
// page and its limits stay the callers'.
struct PageNodeFacts {
  bool box_known = false, rot_known = false;
  // page_box's reading: the node's text and entries read, a usable
  // /CropBox or /MediaBox, and /Parent holding exactly one reference.
  bool box_readable = false, crop_ok = false, media_ok = false, one_parent = false;
  double crop[4] = {}, media[4] = {};
  int box_parent = 0;
  // page_rotation's reading: entries read, an integer /Rotate, /Parent.
  bool rot_readable = false, has_rotate = false;
  int rotate = 0, rot_parent = -1;
};
struct PageNodeCache {
  std::map<int, PageNodeFacts> by_num;
};

// What rewriting found in one content stream (see rewrite_content). The
// names painted come with the deepest q nesting they are painted at.
struct ContentFindings {
  int depth_limit = 28;                 // in: the deepest q nesting wanted
  // in: for a Type 3 glyph procedure, the advance its font's /Widths give
  // the glyph; the d0 or d1 that sets the glyph's width is made to agree.
  bool has_glyph_width = false;
  double glyph_width = 0;
  std::string refusal;                  // out: why the content cannot be written
  int depth = 0;                        // out: the deepest q nesting written
  std::map<std::string, int> xobjects;  // out: names painted with Do
  std::map<std::string, int> patterns;  // out: names selected with scn/SCN
};

// Source objects reached from the pages' resources, followed transitively.
struct Transfer {
  Context *ctx = nullptr;  // the conversion's; set by transfer_init
  const Doc *doc = nullptr;
  Numbering nb{};
  // Source number -> output number; 0 means "write null" (missing objects,
  // page-tree nodes, the catalog, PostScript XObjects, unusable streams).
  ObjMap map{};
  // Copied source numbers in the order reached; entry k becomes B + 11 + k.
  std::vector<int> order;
  // The page (from 1) whose resources first reached each entry of `order`,
  // for messages; `page` is the page being collected.
  std::vector<int> page_of;
  int page = 0;
  std::size_t followed = 0;  // entries of `order` whose references are queued
  // Content streams among the copied objects, rewritten before the font
  // objects are written (rewriting marks the glyphs those objects list).
  struct Recoded {
    bool done = false;   // data replaces the stored data
    bool flate = false;  // data is compressed
    std::string data;
  };
  std::vector<Recoded> recoded;  // by index in `order`
  // Streams painted as annotation appearances: written as form XObjects.
  std::set<int> as_form;
  // The glyph procedures of copied Type 3 fonts (rewritten like other
  // content), with the width their font's /Widths give them when known.
  std::map<int, std::optional<double>> glyph_procs;
  // Conformance (conform.cpp): the PDF/A part written, the soft masks
  // found to mask nothing, and the first reason found to refuse the
  // conversion ("page N: ...").
  int part = 2;
  std::set<int> opaque_masks;
  std::set<int> gstate_objs;   // objects an /ExtGState resource names
  std::set<int> gstate_dicts;  // objects that are a resource's /ExtGState
  // Optional content groups off by default: what they mark is not painted.
  std::set<int> oc_off;
  DecodeAccount decoded;       // content decoded by this conversion
  // Source fonts read by this conversion: filled while content is
  // rewritten, which takes the transfer as const; a cache, never a result.
  mutable SourceFontCache fonts_read;
  // The page-tree nodes' own box and rotation entries, read once.
  PageNodeCache page_nodes;
  std::string refusal;
  bool cmyk_used = false;  // a copied dictionary now names k_cmyk_space_key
  // The deepest q nesting of each copied content stream (source number)
  // with the forms and patterns it paints, counted through them; filled
  // by transfer_prepare.
  std::map<int, int> nesting;

  Transfer() = default;
  Transfer(const Transfer &) = delete;
  Transfer &operator=(const Transfer &) = delete;
  ~Transfer() { objmap_free(&map); }
};

void transfer_init(Transfer *x, Context *ctx, const Doc *d, const Numbering &nb);
// Reaches every reference of the text and everything those objects refer
// to. False when the map could not grow (out of memory).
[[nodiscard]] bool transfer_collect(Transfer *x, const byte *text, int len);
// Copies text with each reference replaced by its output "v 0 R", or by
// "null" when the map says so or does not know the number.
void remap_refs(const Transfer &x, const byte *t, int len, std::string *out);
// The text with every direct font dictionary nested in it (a value inside
// a dictionary or array, not the text's own outermost dictionary) replaced by
// a reference to the substitute font, Type3 fonts excepted.
std::string replace_inline_fonts(const Doc &d, const byte *t, int len);
// Rewrites the content of every copied form XObject, tiling pattern and
// annotation appearance. Runs before the font objects are written. False,
// with the error text naming the page and the object, when such content
// cannot be decoded or parsed: copying it as stored would leave text in a
// replaced font and colour in a forbidden space.
[[nodiscard]] bool transfer_prepare(Transfer *x);
// Appends the copied objects B + 11 ... in order.
void transfer_write(const Transfer &x, Out *out);
// The entries of the resource category `cat` (/XObject, /Pattern,
// /Properties) of the resources value t[s, e): name (#xx resolved) ->
// source object number.
std::map<std::string, int> resource_objects(const Doc &d, const byte *t, int s, int e, const char *cat);

// ---- optional content (transfer.cpp) ----------------------------------------------------

// The optional content groups the source's default configuration turns off
// (/BaseState and /ON, or /OFF); empty when it has none.
void optional_content_off(const Doc &d, std::set<int> *off);
// True when content marked with the group or membership dictionary `num`
// is hidden by default.
[[nodiscard]] bool optional_content_hidden(const Doc &d, const std::set<int> &off, int num);
// The source's optional content properties as the output's catalog keeps
// them (source numbering): its groups, and its configurations each with a
// unique /Name, without /AS, and with every group in /Order when it has
// one. Empty when the source has none or they are unusable (no group or no
// default configuration).
std::string optional_content_kept(const Doc &d);

// ---- conformance of copied objects (conform.cpp) --------------------------------------

// Checks an object's text (a stream's dictionary, any other object's value)
// or a page's resource text against what the part allows; false with the
// reason (no page number) when the conversion must refuse. Records soft
// masks that mask nothing in x->opaque_masks.
// `num` is the source object the text is of (0 for a page's resources): an
// object named by an /ExtGState resource is checked as a graphics state.
[[nodiscard]] bool conform_check(Transfer *x, const byte *t, int len, int num, std::string *why);
// The same text with the treatments that change nothing visible applied:
// identity transfer functions, opaque soft masks and (part 1) form groups
// dropped, numbers beyond the part's limits clamped, device CMYK in colour
// space values replaced by the ICC-based CMYK space.
std::string conform_text(const Transfer &x, const byte *t, int len, int num);
// Checks a stream's filters: JPEG 2000 only in part 2 and only when its JP2
// header allows it.
[[nodiscard]] bool conform_stream(Transfer *x, const ObjEntry &e, std::string *why);
// True when the stream's filters include LZW, which no part allows.
[[nodiscard]] bool stream_needs_reencoding(const Doc &d, const ObjEntry &e);
// Why a JPEG 2000 image's data cannot be kept in PDF/A-2 (ending a sentence
// that starts with "it"), or null when it can.
const char *jpx_problem(const unsigned char *p, std::uint64_t n);

// ---- content (content.cpp) -----------------------------------------------------------

// The rewriting of content (a page's, or a copied form's or tiling
// pattern's) in one walk: the text re-encoding for the substitute font, with
// the fonts of the resource dictionary text given (source numbering; may be
// null), then device CMYK to RGB. The result tells whether the content
// parsed completely.
//
// The walk also removes operators PDF does not define, re-encodes LZW
// inline images, and flattens q/Q pairs that change nothing when the
// nesting passes depth_limit. What it cannot make conforming it names in
// found->refusal (without a page: the caller adds page and object).
// The names painted come with the deepest q nesting they are painted at:
// a reader's graphics-state stack holds the levels of the content that
// paints a form or pattern below the levels of the form's own content.
ContentWalk rewrite_content(const byte *content, int len, const byte *res, int res_len, const Transfer &x,
                            std::string *out, ContentFindings *found);
// The deepest q nesting reached through content with these findings whose
// resources are res[0, res_len) (source numbering): its own, or that of a
// form or pattern it paints added to the depth it is painted at.
int painted_nesting(const Transfer &x, const ContentFindings &f, const byte *res, int res_len);
// The operators PDF defines (the operator summary of PDF 1.7; inline images
// are one "BI" operation to the content walker, so ID and EI never come
// alone).
[[nodiscard]] bool defined_operator(std::string_view op);
// The operands an operator takes (its fixed count; 0 for the operators
// that take none or a varying number: sc, scn, BI). Readers refuse an
// operation with fewer.
int operands_needed(std::string_view op);
// The q nesting PDF/A allows, counted as a reader's graphics-state stack.
inline constexpr int k_max_nesting = 28;
// The device-colour rewriting alone: k/K become rg/RG, "/DeviceCMYK cs|CS"
// becomes "/DeviceRGB", and the four operands of sc/scn/SC/SCN in that space
// become three.
void cmyk_to_rgb(const std::string &in, std::string *out);

// ---- form fields (fields.cpp) ---------------------------------------------------------

// What the catalog's /AcroForm says for drawing fields.
struct FieldForm {
  bool need_appearances = false;  // viewers are asked to draw the fields
  std::string da;                 // the default appearance of fields without one
  int quadding = 0;               // 0 left, 1 centred, 2 right
};
FieldForm field_form(const Doc &d);
// For a form that needs appearances: the content that paints the widget
// annotation [s, e) of t, a text field or combo box, from its value, with
// the substitute font under the resource name `font`. False when the
// annotation is no such field; its stored appearance then stands.
[[nodiscard]] bool field_paint(const Doc &d, const FieldForm &form, const byte *t, int s, int e,
                               const std::string &font, GlyphUse &use, std::string *paint);

// ---- pages (pages.cpp) ---------------------------------------------------------------

struct PageWork {
  std::string res;  // merged source-level resource text, or empty
  bool has_res = false;
  // Content painting the page's visible annotations, appended to its content,
  // and the source numbers of their appearance streams.
  std::vector<std::string> annot_paint;
  std::vector<int> annot_forms;
  // Positions (in page_annotations) of the links kept as annotations, which
  // are therefore not painted, and the page's /Annots value naming them
  // ("" for none).
  std::vector<int> kept_links;
  std::string annots;
  // The optional content groups off by default (null: none): annotations
  // in them are not painted, as a viewer of the source does not show them.
  const std::set<int> *oc_off = nullptr;
  // The form's field drawing (null: no form).
  const FieldForm *form = nullptr;
};

// The page's visible box, x0 y0 x1 y1 with x0 < x1 and y0 < y1 (or the
// loader's box when the page and its ancestors give none). nodes (may be
// null) keeps the ancestors' facts for later pages.
void page_box(const Doc &d, const PageInfo &pi, double box[4], PageNodeCache *nodes = nullptr);
// Rotation of a page in 0..359: its own /Rotate, else the nearest ancestor's,
// negative multiples of 90 included.
int page_rotation(const Doc &d, const PageInfo &pi, PageNodeCache *nodes = nullptr);
// The page's resource text with /DefaultRGB merged into its colour spaces
// and its visible annotations' appearances into its XObjects. False, with
// the error text naming page_no (from 1), when the page object is missing
// or its resources cannot be read.
[[nodiscard]] bool page_resources(Context &ctx, const Doc &d, const PageInfo &pi, int page_no, PageWork *w);
// One entry of a page's /Annots: the annotation dictionary's text range
// (t null when the entry names no dictionary), in array order.
struct AnnotDict {
  const byte *t = nullptr;
  int s = 0, e = 0;
};
void page_annotations(const Doc &d, const ObjEntry &page, std::vector<AnnotDict> *out);
// Appends page i's page object, form XObject and content stream.
// The page's findings (q nesting, what it paints) go to *found for the
// nesting check that follows the forms' rewriting.
// drawn_by >= 0: the page is drawn by the form of that earlier page (see
// page_contents_key), which was written with the same resources and box;
// nothing is rewritten and *found is left alone.
[[nodiscard]] bool write_page(const Doc &d, int i, const PageWork &w, Transfer &x, Out *out, ContentFindings *found,
                              int drawn_by = -1);
// The content streams a page object names, as "num," per reference ("["
// first for an array); "" when it names none by reference. Pages with
// equal keys draw the same content.
std::string page_contents_key(const Doc &d, const PageInfo &pi);

// ---- navigation (nav.cpp) ---------------------------------------------------------------

// The limits on strings (bytes; PDF/A-2's, below PDF/A-1's 65535) and
// reals (PDF/A-1's), which the navigation objects rebuilt from source
// values are kept within in both parts.
inline constexpr std::size_t k_max_string = 32767;
inline constexpr double k_max_real = 32767.0;
// Bounds of the walks over the source's navigation trees.
inline constexpr int k_outline_depth = 64;           // outline levels
inline constexpr std::size_t k_outline_items = 100000;
inline constexpr int k_tree_depth = 32;              // name and number tree levels
inline constexpr std::size_t k_max_names = 1000000;  // entries read from one tree
inline constexpr int k_dest_hops = 8;                // name -> dictionary -> array
inline constexpr int k_max_quad_numbers = 8000;      // /QuadPoints of one link
// Key/value pairs of one number-tree node: twice that stays within an
// array's k_max_array entries.
inline constexpr std::size_t k_label_pairs = 4095;

// The outline tree, page labels and links of the output, read from the
// source before anything is written; their objects are numbered from
// `first`, after every other object.
struct NavPlan {
  struct Item {
    std::string title;   // string token
    std::string target;  // " /Dest [...]", " /A << ... >>" or ""
    std::string style;   // " /C [...]", " /F n" or ""
    int parent = -1;     // index in `outline`
    std::vector<int> kids;
    bool open = false;
    int visible = 0;  // descendants shown when this item is open
  };
  std::vector<Item> outline;                    // [0] the outline root; empty for none
  std::vector<std::vector<std::string>> links;  // per page, link annotations in /Annots order
  std::vector<std::vector<int>> kept;           // per page, their positions in page_annotations
  std::map<int, std::string> labels;            // page index -> label dictionary
  std::string viewing;  // " /OpenAction ... /PageMode ..." (catalog entries), or ""

  int first = 0;
  std::vector<int> page_first_link;  // per page, the number of its first link
};
// Reads the source's navigation for an output numbered by nb.
void nav_collect(const Doc &d, const Numbering &nb, NavPlan *nav);
// Numbers the plan's objects from `first`; returns how many it writes.
int nav_number(NavPlan *nav, int first);
// " /OpenAction ... /Outlines ... /PageLabels ..." for the catalog, "" for
// none.
std::string nav_catalog_entries(const NavPlan &nav);
// The /Annots array of output page `page`, "" for none.
std::string nav_page_annots(const NavPlan &nav, int page);
void nav_write(const NavPlan &nav, Out *out);

// ---- fixed objects (fonts.cpp, colour.cpp) --------------------------------------------

// B ... B + 4, and B + 7 (the CIDSet, which part 1 requires of a subset
// font, or an empty object in part 2).
[[nodiscard]] bool write_font_objects(Context &ctx, const Numbering &nb, int part, Out *out);
void write_colour_objects(const Numbering &nb, Out *out);
// The CMYK profile stream nb.cmyk_icc and its colour space array.
void write_cmyk_space(const Numbering &nb, Out *out);

// ---- document metadata (metadata.cpp) ---------------------------------------------------

// A date and time as a PDF or XMP date gives it; fields the text leaves out
// take their lowest value. zone: 0 none given, 'Z' universal time, '+' or
// '-' with zone_h hours and zone_m minutes.
struct Instant {
  int y = 0, mo = 1, d = 1, h = 0, mi = 0, s = 0;
  char zone = 0;
  int zone_h = 0, zone_m = 0;
};
// Any PDF date form ("D:" optional, year to seconds, zone Z, +hh'mm',
// -hh'mm', apostrophes optional); false for anything else.
[[nodiscard]] bool parse_pdf_date(const std::string &text, Instant *t);
[[nodiscard]] bool parse_xmp_date(const std::string &text, Instant *t);
// "D:YYYYMMDDHHmmSS" with "Z", "+hh'mm'" or no zone; "YYYY-MM-DDThh:mm:ss"
// with "Z", "+hh:mm" or no zone.
std::string pdf_date(const Instant &t);
std::string xmp_date(const Instant &t);
// A PDF text string's bytes (UTF-16BE or UTF-8 with byte order mark,
// otherwise PDFDocEncoding) as UTF-8; false when a byte or unit stands for
// no character XML can carry.
[[nodiscard]] bool text_string_utf8(const std::string &bytes, std::string *utf8);
// The same text as code points (tab, line feed and carriage return kept,
// other control bytes of PDFDocEncoding refused).
[[nodiscard]] bool text_string_points(const std::string &bytes, std::vector<std::uint32_t> *points);

// The source's catalogue data, UTF-8, "" when absent.
struct DocMeta {
  std::string title, author, subject, keywords, creator;
  bool has_created = false;
  Instant created;
};
// From the source's information dictionary, and from its XMP packet where
// the dictionary lacks a field.
DocMeta doc_meta(const Doc &d);
// The bytes of the string value at t[v, ve) (literal or hexadecimal), or of
// the string object it refers to; false for anything else.
[[nodiscard]] bool string_value(const Doc &d, const byte *t, int v, int ve, std::string *out, int depth = 0);
// The XMP packet of the given part.
std::string xmp_packet(int part, const DocMeta &m = DocMeta{});
// The metadata stream B + 9 and the information dictionary B + 10.
void write_metadata(const Numbering &nb, int part, const DocMeta &m, Out *out);

// ---- the output check (selfcheck.cpp) -----------------------------------------------

// Loads the finished output and verifies the PDF/A rules of the part that
// the file alone decides (objects, graphics states, transparency in part 1,
// every content stream painted). False with the first rule broken in *why
// ("page N: output check: ..."), and the conversion then refuses.
[[nodiscard]] bool output_check(const unsigned char *data, std::uint64_t n, int part, std::string *why);

// ---- output file (outfile.cpp) -------------------------------------------------------

// Writes the bytes to a temporary file beside out_path and renames it over
// out_path once complete. Sets the failure table's message and returns false
// on any failure, leaving no temporary file.
[[nodiscard]] bool write_output_file(Context &ctx, const char *out_path, const char *data, std::uint64_t n);

}  // namespace zyk
