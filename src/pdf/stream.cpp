// The stream service: a stream object's data through its filter chain.
//
// The dictionary is read with the tokenizer: /Filter is a name or an array
// of names, /DecodeParms a dictionary, null, or an array of them parallel to
// the filters; either may be an indirect object. The codecs and the limits
// are filter/'s; this file only turns the dictionary into steps and reports
// which filter stopped a stream. Only `output full` grows a destination
// (inside the Flate codec), so a truncated or corrupt stream costs one
// attempt.
#include <algorithm>
#include <cstring>

#include "flate/flate_limits.h"
#include "pdf/pdf.h"

namespace zyk {

namespace {

// The integer value of key /name in a parameter dictionary text.
int param_int(const byte *t, const std::vector<DictEntry> &es, const char *name, int dflt) {
  const DictEntry *e = dict_find(t, es, name);
  if (!e) return dflt;
  int pos = e->val;
  int v = parse_int_at(t, e->val_end, &pos);
  return pos == e->val ? dflt : v;
}

// Resolves a value that is exactly one "N G R" to the object's own text.
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

// The stream's dictionary and where its bytes are.
bool stream_dict(const Doc &d, const ObjEntry &e, const byte **t, int *pos, int *end) {
  if (e.in_objstm || e.dict_off < 0) return false;
  *t = d.pdf;
  *pos = e.dict_off;
  *end = d.pdf_len;
  return true;
}

}  // namespace

DecodeStatus stream_filters(const Doc &d, const ObjEntry &e, std::vector<FilterStep> *out) {
  out->clear();
  const byte *dt;
  int dpos, dend;
  std::vector<DictEntry> es;
  int close = 0;
  if (!stream_dict(d, e, &dt, &dpos, &dend) || !dict_entries(dt, dpos, dend, &es, &close))
    return DecodeStatus::corrupt;
  return dict_filters(d, dt, es, false, out);
}

DecodeStatus dict_filters(const Doc &d, const byte *dt, const std::vector<DictEntry> &es, bool inline_image,
                          std::vector<FilterStep> *out) {
  out->clear();
  const DictEntry *fe = dict_find(dt, es, "Filter");
  if (!fe && inline_image) fe = dict_find(dt, es, "F");
  if (!fe) return DecodeStatus::done;
  const byte *ft = dt;
  int fs = fe->val, fend = fe->val_end;
  resolve(d, &ft, &fs, &fend);
  if (token_is(ft, fs, fend, "null")) return DecodeStatus::done;
  auto filters = value_items(ft, fs, fend);

  const byte *pt = nullptr;
  std::vector<std::pair<int, int>> parms;
  const DictEntry *pe = dict_find(dt, es, "DecodeParms");
  if (!pe && inline_image) pe = dict_find(dt, es, "DP");
  if (pe) {
    pt = dt;
    int ps = pe->val, pend = pe->val_end;
    resolve(d, &pt, &ps, &pend);
    parms = value_items(pt, ps, pend);
  }
  for (std::size_t k = 0; k < filters.size(); k++) {
    auto [s, f_end] = filters[k];
    if (ft[s] != '/') return DecodeStatus::corrupt;
    FilterStep st;
    st.kind = filter_kind(std::string_view(reinterpret_cast<const char *>(ft) + s + 1,
                                           static_cast<std::size_t>(f_end - s - 1)));
    if (k < parms.size() && pt[parms[k].first] == '<') {
      std::vector<DictEntry> pes;
      int pclose = 0;
      if (dict_entries(pt, parms[k].first, parms[k].second, &pes, &pclose)) {
        st.params.predictor = param_int(pt, pes, "Predictor", 1);
        st.params.colors = param_int(pt, pes, "Colors", 1);
        st.params.bpc = param_int(pt, pes, "BitsPerComponent", 8);
        st.params.columns = param_int(pt, pes, "Columns", 1);
        st.params.early = param_int(pt, pes, "EarlyChange", 1);
      }
    }
    out->push_back(st);
  }
  return DecodeStatus::done;
}

StreamResult stream_decode(const Doc &d, const ObjEntry &e, const DecodeLimits &limits, std::string *out) {
  StreamResult r;
  out->clear();
  if (!e.is_stream || e.in_objstm || e.data_off < 0 || e.data_end > d.pdf_len || e.data_end < e.data_off) {
    r.status = DecodeStatus::corrupt;
    return r;
  }
  std::vector<FilterStep> steps;
  r.status = stream_filters(d, e, &steps);
  if (r.status != DecodeStatus::done) return r;
  ChainResult c = filter_chain(steps.data(), steps.size(), d.pdf + e.data_off,
                               static_cast<std::size_t>(e.data_end - e.data_off), limits, out);
  r.status = c.status;
  r.damaged = c.damaged;
  if (c.status != DecodeStatus::done && c.failed_step < steps.size()) r.filter = steps[c.failed_step].kind;
  return r;
}

std::string stream_failure_text(const StreamResult &r) {
  std::string s;
  if (r.filter != FilterKind::unknown || r.status == DecodeStatus::unsupported) {
    s = filter_kind_name(r.filter);
    s += ": ";
  }
  return s + decode_status_text(r.status);
}

std::shared_ptr<const std::string> StreamCache::get(const Doc &d, const ObjEntry &e, const DecodeLimits &limits,
                                                    StreamResult *r) {
  *r = StreamResult{};
  auto it = by_num_.find(e.num);
  if (it != by_num_.end()) return it->second;
  auto data = std::make_shared<std::string>();
  *r = stream_decode(d, e, limits, data.get());
  if (!r->ok()) return nullptr;
  if (data->size() <= max_bytes_ - kept_) {
    kept_ += data->size();
    by_num_.emplace(e.num, data);
  }
  return data;
}

}  // namespace zyk
