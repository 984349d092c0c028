// Decoding of content streams through their whole filter chain.
//
// Page content becomes the data of a new form XObject and is rewritten, so it
// must be decoded completely; bytes that are still encoded would be copied as
// if they were operators and the page would come out blank or broken. The
// reader's stream decoding knows FlateDecode alone and hands every other
// stream back raw, so the writer decodes the chain itself: FlateDecode (with
// the reader's inflate), LZWDecode, ASCII85Decode, ASCIIHexDecode and
// RunLengthDecode, in the order /Filter lists them, with the PNG and TIFF
// predictors of /DecodeParms. A filter that cannot be decoded here (the image
// codecs, Crypt, an unknown name) or data that a decoder rejects fails the
// decoding, and the caller refuses the page instead of writing garbage.
//
// Every stage is bounded by k_max_decoded bytes of output.
#include <algorithm>
#include <memory>

#include "flate/flate.h"
#include "writer/writer.h"

namespace zyk {

namespace {

bool flate(const std::string &in, std::string *out) {
  const auto n = static_cast<std::uint64_t>(in.size());
  const std::uint64_t useful = std::min(k_max_decoded, k_deflate_max_ratio * n + k_inflate_slack);
  for (std::uint64_t cap = std::min(useful, k_inflate_first_factor * n + k_inflate_slack);; cap *= 2) {
    cap = std::min(cap, useful);
    auto dst = std::make_unique_for_overwrite<unsigned char[]>(static_cast<std::size_t>(cap));
    std::uint64_t produced = 0;
    if (inflate_decompress(reinterpret_cast<const unsigned char *>(in.data()), n, dst.get(), cap, &produced) == 0) {
      out->assign(reinterpret_cast<const char *>(dst.get()), static_cast<std::size_t>(produced));
      return true;
    }
    if (cap >= useful) return false;
  }
}

// LZW with 9- to 12-bit codes, clear code 256, end code 257; with early
// change (the default) the code width grows one code earlier.
bool lzw(const std::string &in, int early, std::string *out) {
  struct Entry {
    int prev;
    unsigned char last;
    int len;
  };
  std::vector<Entry> table(4096);
  for (int i = 0; i < 256; i++) table[static_cast<std::size_t>(i)] = {-1, static_cast<unsigned char>(i), 1};
  int next = 258;
  int width = 9;
  int prev = -1;
  std::uint32_t bits = 0;
  int nbits = 0;
  std::string chunk;
  out->clear();
  for (unsigned char byte_in : in) {
    bits = (bits << 8) | byte_in;
    nbits += 8;
    while (nbits >= width) {
      int code = static_cast<int>((bits >> (nbits - width)) & ((1u << width) - 1));
      nbits -= width;
      if (code == 256) {
        next = 258;
        width = 9;
        prev = -1;
        continue;
      }
      if (code == 257) return true;
      int emit;
      if (code < next) {
        emit = code;
      } else if (code == next && prev >= 0) {
        emit = prev;  // KwKwK: the previous string plus its own first byte
      } else {
        return false;
      }
      // The string of `emit`, written backwards into chunk.
      int len = table[static_cast<std::size_t>(emit)].len;
      chunk.resize(static_cast<std::size_t>(len));
      for (int c = emit, k = len - 1; c >= 0 && k >= 0; c = table[static_cast<std::size_t>(c)].prev, k--)
        chunk[static_cast<std::size_t>(k)] = static_cast<char>(table[static_cast<std::size_t>(c)].last);
      unsigned char first = static_cast<unsigned char>(chunk[0]);
      if (code == next) chunk.push_back(static_cast<char>(first));
      if (out->size() + chunk.size() > k_max_decoded) return false;
      out->append(chunk);
      if (prev >= 0 && next < 4096) {
        table[static_cast<std::size_t>(next)] = {prev, first, table[static_cast<std::size_t>(prev)].len + 1};
        next++;
      }
      prev = code;
      if (next + early >= (1 << width) && width < 12) width++;
    }
  }
  return true;
}

bool ascii_hex(const std::string &in, std::string *out) {
  return hex_decode(reinterpret_cast<const unsigned char *>(in.data()), 0, in.size(), false, out);
}

bool ascii85(const std::string &in, std::string *out) {
  out->clear();
  std::uint64_t group = 0;
  int count = 0;
  for (std::size_t i = 0; i < in.size(); i++) {
    auto c = static_cast<unsigned char>(in[i]);
    if (is_pdf_ws(c)) continue;
    if (c == '~') break;
    if (c == 'z' && count == 0) {
      out->append(4, '\0');
      continue;
    }
    if (c < '!' || c > 'u') return false;
    group = group * 85 + (c - '!');
    if (++count == 5) {
      if (group > 0xffffffffULL) return false;
      for (int k = 3; k >= 0; k--) out->push_back(static_cast<char>(group >> (8 * k)));
      group = 0;
      count = 0;
    }
  }
  if (count == 1) return false;
  if (count > 1) {
    // A final partial group is padded with the highest digit 'u'.
    for (int k = count; k < 5; k++) group = group * 85 + 84;
    if (group > 0xffffffffULL) return false;
    for (int k = 0; k < count - 1; k++) out->push_back(static_cast<char>(group >> (8 * (3 - k))));
  }
  return true;
}

bool run_length(const std::string &in, std::string *out) {
  out->clear();
  std::size_t i = 0;
  while (i < in.size()) {
    auto l = static_cast<unsigned char>(in[i++]);
    if (l == 128) break;
    if (l < 128) {
      std::size_t n = std::min<std::size_t>(l + 1u, in.size() - i);
      out->append(in, i, n);
      i += n;
    } else {
      if (i >= in.size()) break;
      out->append(static_cast<std::size_t>(257 - l), in[i++]);
    }
    if (out->size() > k_max_decoded) return false;
  }
  return true;
}

struct Predictor {
  int predictor = 1;
  int colors = 1;
  int bpc = 8;
  int columns = 1;
  int early = 1;
};

// Undoes a TIFF (2) or PNG (10..15) predictor.
bool unpredict(const Predictor &p, std::string *data) {
  if (p.predictor <= 1) return true;
  if (p.colors < 1 || p.colors > 32 || p.columns < 1 || p.columns > (1 << 24) ||
      (p.bpc != 1 && p.bpc != 2 && p.bpc != 4 && p.bpc != 8 && p.bpc != 16))
    return false;
  const std::size_t bpp = std::max<std::size_t>(1, static_cast<std::size_t>(p.colors * p.bpc) / 8);
  const std::size_t row = (static_cast<std::size_t>(p.colors) * p.bpc * p.columns + 7) / 8;
  std::string out;
  if (p.predictor == 2) {
    if (p.bpc != 8) return false;
    out = *data;
    for (std::size_t r = 0; r + row <= out.size(); r += row)
      for (std::size_t i = bpp; i < row; i++)
        out[r + i] =
            static_cast<char>(static_cast<unsigned char>(out[r + i]) + static_cast<unsigned char>(out[r + i - bpp]));
    *data = std::move(out);
    return true;
  }
  if (p.predictor < 10) return false;
  std::string prior(row, '\0');
  std::string cur(row, '\0');
  std::size_t i = 0;
  while (i < data->size()) {
    auto type = static_cast<unsigned char>((*data)[i++]);
    std::size_t n = std::min(row, data->size() - i);
    std::fill(cur.begin(), cur.end(), '\0');
    std::copy_n(data->begin() + static_cast<std::ptrdiff_t>(i), n, cur.begin());
    i += n;
    for (std::size_t k = 0; k < row; k++) {
      int a = k >= bpp ? static_cast<unsigned char>(cur[k - bpp]) : 0;
      int b = static_cast<unsigned char>(prior[k]);
      int c = k >= bpp ? static_cast<unsigned char>(prior[k - bpp]) : 0;
      int x = static_cast<unsigned char>(cur[k]);
      switch (type) {
        case 0:
          break;
        case 1:
          x += a;
          break;
        case 2:
          x += b;
          break;
        case 3:
          x += (a + b) / 2;
          break;
        case 4: {
          int pa = std::abs(b - c), pb = std::abs(a - c), pc = std::abs(a + b - 2 * c);
          x += (pa <= pb && pa <= pc) ? a : (pb <= pc ? b : c);
          break;
        }
        default:
          return false;
      }
      cur[k] = static_cast<char>(x & 0xff);
    }
    out.append(cur, 0, n);
    prior = cur;
  }
  *data = std::move(out);
  return true;
}

// The integer value of key /name in a parameter dictionary text.
int param_int(const byte *t, const std::vector<DictEntry> &es, const char *name, int dflt) {
  const DictEntry *e = dict_find(t, es, name);
  if (!e) return dflt;
  int pos = e->val;
  int v = parse_int_at(t, e->val_end, &pos);
  return pos == e->val ? dflt : v;
}

// Resolves an indirect value "N G R" to the object's own text.
void resolve(const Doc &d, const byte **t, int *s, int *e) {
  std::vector<RefHit> refs;
  find_refs(*t + *s, *e - *s, &refs);
  if (refs.size() != 1 || refs[0].start != 0 || refs[0].end != *e - *s) return;
  int k = refs[0].num > 0 ? obj_find(&d.objs, refs[0].num) : -1;
  const byte *text;
  int len;
  if (k < 0 || d.objs.elems[k].is_stream || !object_text(d, d.objs.elems[k], &text, &len)) return;
  *t = text;
  *s = 0;
  *e = len;
}

// The items of a value: the value itself, or the members of an array.
std::vector<std::pair<int, int>> items(const byte *t, int s, int e) {
  std::vector<std::pair<int, int>> out;
  if (s < e && t[s] == '[') {
    int i = s + 1;
    for (;;) {
      i = skip_ws_comments(t, i, e);
      if (i >= e || t[i] == ']') break;
      int ve = value_end(t, i, e);
      if (ve < 0) break;
      out.push_back({i, ve});
      i = ve;
    }
  } else if (s < e) {
    out.push_back({s, e});
  }
  return out;
}

}  // namespace

bool decode_stream(const Doc &d, const ObjEntry &e, std::string *out) {
  if (!e.is_stream || e.in_objstm || e.data_off < 0 || e.data_end > d.pdf_len || e.data_end < e.data_off) return false;
  out->assign(reinterpret_cast<const char *>(d.pdf) + e.data_off, static_cast<std::size_t>(e.data_end - e.data_off));
  std::vector<DictEntry> es;
  int close = 0;
  if (e.dict_off < 0 || !dict_entries(d.pdf, e.dict_off, d.pdf_len, &es, &close)) return false;
  const DictEntry *fe = dict_find(d.pdf, es, "Filter");
  if (!fe) return true;
  const byte *ft = d.pdf;
  int fs = fe->val, fend = fe->val_end;
  resolve(d, &ft, &fs, &fend);
  auto filters = items(ft, fs, fend);

  const byte *pt = nullptr;
  std::vector<std::pair<int, int>> parms;
  if (const DictEntry *pe = dict_find(d.pdf, es, "DecodeParms")) {
    pt = d.pdf;
    int ps = pe->val, pend = pe->val_end;
    resolve(d, &pt, &ps, &pend);
    parms = items(pt, ps, pend);
  }

  std::string next;
  for (std::size_t k = 0; k < filters.size(); k++) {
    auto [s, fe_end] = filters[k];
    if (ft[s] != '/') return false;
    Predictor pred;
    if (k < parms.size() && pt[parms[k].first] == '<') {
      std::vector<DictEntry> pes;
      int pclose = 0;
      if (dict_entries(pt, parms[k].first, parms[k].second, &pes, &pclose)) {
        pred.predictor = param_int(pt, pes, "Predictor", 1);
        pred.colors = param_int(pt, pes, "Colors", 1);
        pred.bpc = param_int(pt, pes, "BitsPerComponent", 8);
        pred.columns = param_int(pt, pes, "Columns", 1);
        pred.early = param_int(pt, pes, "EarlyChange", 1);
      }
    }
    bool ok;
    if (token_is(ft, s, fe_end, "/FlateDecode") || token_is(ft, s, fe_end, "/Fl")) {
      ok = flate(*out, &next) && unpredict(pred, &next);
    } else if (token_is(ft, s, fe_end, "/LZWDecode") || token_is(ft, s, fe_end, "/LZW")) {
      ok = lzw(*out, pred.early ? 1 : 0, &next) && unpredict(pred, &next);
    } else if (token_is(ft, s, fe_end, "/ASCII85Decode") || token_is(ft, s, fe_end, "/A85")) {
      ok = ascii85(*out, &next);
    } else if (token_is(ft, s, fe_end, "/ASCIIHexDecode") || token_is(ft, s, fe_end, "/AHx")) {
      ok = ascii_hex(*out, &next);
    } else if (token_is(ft, s, fe_end, "/RunLengthDecode") || token_is(ft, s, fe_end, "/RL")) {
      ok = run_length(*out, &next);
    } else {
      ok = false;
    }
    if (!ok || next.size() > k_max_decoded) return false;
    out->swap(next);
  }
  return true;
}

}  // namespace zyk
