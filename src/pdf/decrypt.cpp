// The standard security handler, for files that open with an empty user
// password.
//
// Such files (typically "no printing, no copying" restrictions) are readable
// by anyone: the key that enciphers their strings and streams is derived
// from the empty password and values stored in the file. The conversion
// deciphers them while loading and the output carries no encryption.
//
// Decisions:
//   - The handler tries the empty password as the user password and, for
//     revisions 5 and 6, as the owner password: those revisions store the
//     owner password independently, and a file whose owner password is empty
//     opens without a question in any reader. Revisions 2 to 4 derive /O
//     from the user password when the owner password is empty, so there the
//     user password decides alone. Any other file needs a password and is
//     refused.
//   - Revisions 2 to 4 derive an RC4 or AES-128 file key with MD5 and an
//     object key per object (number, generation, and "sAlT" for AES);
//     revisions 5 and 6 unwrap a 256-bit file key with SHA-256 (revision 5)
//     or the iterated SHA-2/AES hash (revision 6) and use it for every
//     object.
//   - Instead of teaching every reader of the document about ciphers, the
//     loader builds a deciphered image of the file and loads that. The image
//     lists the objects the scan found, in table order, each with its
//     strings deciphered (and written as hexadecimal strings, which need no
//     escaping) and its stream data deciphered with /Length set to the new
//     count. Loading the image therefore keeps every choice the scan made
//     (which of two objects with one number wins, which objects were inside
//     other streams). Its trailer names /Root and /Info only.
//   - Not deciphered, as the format requires: the encryption dictionary
//     itself (left out of the image), cross-reference streams (left out:
//     the loader needs only their trailer keys, which the new trailer
//     carries), the file identifier, the data of metadata streams when
//     /EncryptMetadata is false, and whatever the identity crypt filter
//     covers. Objects inside object streams are enciphered as part of their
//     stream and come out deciphered with it.
//   - Damage is tolerated like elsewhere in the reader: AES data shorter than
//     its initialisation vector becomes empty, a partial last block is
//     dropped, padding is removed when it is plausible.
#include "pdf/decrypt.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "crypt/crypt.h"

namespace zyk {

namespace {

// The 32 bytes that pad a password (the empty one is all padding).
constexpr unsigned char k_pad[32] = {0x28, 0xBF, 0x4E, 0x5E, 0x4E, 0x75, 0x8A, 0x41, 0x64, 0x00, 0x4E,
                                     0x56, 0xFF, 0xFA, 0x01, 0x08, 0x2E, 0x2E, 0x00, 0xB6, 0xD0, 0x68,
                                     0x3E, 0x80, 0x2F, 0x0C, 0xA9, 0xFE, 0x64, 0x53, 0x69, 0x7A};

const unsigned char *u8(const std::string &s) { return reinterpret_cast<const unsigned char *>(s.data()); }

std::string md5_of(const std::string &s) {
  unsigned char d[16];
  md5(s.data(), s.size(), d);
  return std::string(reinterpret_cast<const char *>(d), 16);
}

// ---- reading the encryption dictionary -------------------------------------------------

// Position of the value after the top-level key /name of the dictionary
// t[s, e), or -1.
int value_of(const byte *t, int s, int e, const char *name) {
  int p = find_name_top(t, e, s, e, name);
  if (p < 0) return -1;
  int v = skip_ws(t, p + 1 + static_cast<int>(std::strlen(name)), e);
  return v < e ? v : -1;
}

int int_value(const byte *t, int s, int e, const char *name, int fallback) {
  int v = value_of(t, s, e, name);
  if (v < 0) return fallback;
  int i = v;
  int x = parse_int_at(t, e, &i);
  return i == v ? fallback : x;
}

// The name value of a key without its slash ("" when absent or no name).
std::string name_value(const byte *t, int s, int e, const char *name) {
  int v = value_of(t, s, e, name);
  if (v < 0 || t[v] != '/') return "";
  int j = v + 1;
  while (j < e && !is_pdf_ws(t[j]) && !std::strchr("()<>[]{}/%", t[j])) j++;
  return std::string(reinterpret_cast<const char *>(t) + v + 1, static_cast<std::size_t>(j - v - 1));
}

// The bytes of the string token at v (literal or hexadecimal); false when
// none stands there.
bool string_at(const byte *t, int v, int e, std::string *out) {
  if (v < 0 || v >= e) return false;
  if (t[v] == '(') {
    int j = literal_end(t, e, v);
    if (j < 0) return false;
    literal_bytes(t, v, j, out);
    return true;
  }
  if (t[v] == '<' && (v + 1 >= e || t[v + 1] != '<')) {
    const void *gt = std::memchr(t + v, '>', static_cast<std::size_t>(e - v));
    if (!gt) return false;
    int j = static_cast<int>(static_cast<const byte *>(gt) - t);
    return hex_decode(t, static_cast<std::size_t>(v + 1), static_cast<std::size_t>(j), true, out);
  }
  return false;
}

bool string_value(const byte *t, int s, int e, const char *name, std::string *out) {
  return string_at(t, value_of(t, s, e, name), e, out);
}

// End of the dictionary that starts at the "<<" at pos, or -1.
int dict_end(const byte *t, int len, int pos) {
  int depth = 0;
  for (int i = pos; i + 1 < len;) {
    byte c = t[i];
    if (c == '(') {
      i = literal_end(t, len, i);
      if (i < 0) return -1;
    } else if (c == '<' && t[i + 1] == '<') {
      depth++;
      i += 2;
    } else if (c == '>' && t[i + 1] == '>') {
      i += 2;
      if (--depth == 0) return i;
    } else {
      i++;
    }
  }
  return -1;
}

// The cipher of the crypt filter named `filter` in /CF (revision 4 and up).
// /Identity, an absent name and /None mean no encryption; an unknown method
// fails.
bool crypt_filter(const byte *t, int s, int e, const std::string &filter, Cipher *c) {
  *c = Cipher::none;
  if (filter.empty() || filter == "Identity") return true;
  int cf = value_of(t, s, e, "CF");
  if (cf < 0 || t[cf] != '<') return false;
  int cf_end = dict_end(t, e, cf);
  if (cf_end < 0) return false;
  int f = value_of(t, cf, cf_end, filter.c_str());
  if (f < 0 || t[f] != '<') return false;
  int f_end = dict_end(t, cf_end, f);
  if (f_end < 0) return false;
  std::string cfm = name_value(t, f, f_end, "CFM");
  if (cfm == "V2") *c = Cipher::rc4;
  else if (cfm == "AESV2") *c = Cipher::aes128;
  else if (cfm == "AESV3") *c = Cipher::aes256;
  else if (cfm != "None" && !cfm.empty()) return false;
  return true;
}

// ---- the file key -------------------------------------------------------------------------

// Revisions 2 to 4: the key from the padded user password, /O, /P, the
// file identifier (and for revision 4 without metadata encryption four
// 0xFF bytes), hashed once or 51 times; the password is right when /U is
// what that key makes of the padding (revision 2) or of the hash of the
// padding and the identifier, enciphered 20 times (revisions 3 and 4).
bool key_rc4_family(const Security &sec, int key_len, const std::string &o, const std::string &u, int p,
                    const std::string &id0, std::string *key) {
  if (o.size() < 32 || u.size() < 32) return false;
  std::string in(reinterpret_cast<const char *>(k_pad), 32);
  in.append(o, 0, 32);
  for (int i = 0; i < 4; i++) in.push_back(static_cast<char>(static_cast<unsigned>(p) >> (8 * i)));
  in += id0;
  if (sec.r >= 4 && !sec.encrypt_metadata) in.append(4, '\xFF');
  std::string h = md5_of(in);
  if (sec.r >= 3)
    for (int i = 0; i < 50; i++) h = md5_of(h.substr(0, static_cast<std::size_t>(key_len)));
  *key = h.substr(0, static_cast<std::size_t>(key_len));
  if (sec.r == 2) {
    std::string x(reinterpret_cast<const char *>(k_pad), 32);
    rc4(u8(*key), key_len, reinterpret_cast<unsigned char *>(x.data()), x.size());
    return x == u.substr(0, 32);
  }
  std::string x = md5_of(std::string(reinterpret_cast<const char *>(k_pad), 32) + id0);
  for (int i = 0; i < 20; i++) {
    std::string k = *key;
    for (char &c : k) c = static_cast<char>(c ^ i);
    rc4(u8(k), key_len, reinterpret_cast<unsigned char *>(x.data()), x.size());
  }
  return x == u.substr(0, 16);
}

// Revision 6's password hash: SHA-256 of password, salt and user data, then
// rounds that encipher 64 copies of (password, hash, user data) with AES-128
// (key and vector from the hash) and hash the result with SHA-256, -384 or
// -512 as the first 16 bytes of it say (their value modulo 3, which is the
// sum of the bytes modulo 3). At least 64 rounds; afterwards the rounds go
// on while the last enciphered byte exceeds the round count minus 32.
std::string hash_r6(const std::string &password, const std::string &salt, const std::string &udata) {
  unsigned char k[64];
  std::string in = password + salt + udata;
  sha256(in.data(), in.size(), k);
  std::size_t k_len = 32;
  std::string e;
  for (int round = 0; round < 64 || static_cast<unsigned char>(e.back()) > round - 32; round++) {
    std::string unit = password + std::string(reinterpret_cast<const char *>(k), k_len) + udata;
    e.clear();
    for (int i = 0; i < 64; i++) e += unit;
    AesKey ak;
    if (!aes_key_setup(k, 16, &ak)) return "";
    aes_cbc_encrypt(ak, k + 16, reinterpret_cast<unsigned char *>(e.data()), e.size());
    unsigned sum = 0;
    for (int i = 0; i < 16; i++) sum += static_cast<unsigned char>(e[static_cast<std::size_t>(i)]);
    switch (sum % 3) {
      case 0: sha256(e.data(), e.size(), k); k_len = 32; break;
      case 1: sha384(e.data(), e.size(), k); k_len = 48; break;
      default: sha512(e.data(), e.size(), k); k_len = 64; break;
    }
  }
  return std::string(reinterpret_cast<const char *>(k), 32);
}

// Revisions 5 and 6: /U and /O each hold a 32-byte hash, an 8-byte
// validation salt and an 8-byte key salt. The empty password is the user
// password when the hash of it and /U's validation salt is /U's hash; the
// hash of it and the key salt then unwraps the file key from /UE (AES-256,
// zero vector, no padding). As the owner password the same is done with /O
// and /OE, the 48 bytes of /U joining every hash.
bool unwrap_aes256(const Security &sec, const std::string &hv, const std::string &wrapped, const std::string &udata,
                   std::string *key) {
  if (hv.size() < 48 || wrapped.size() < 32) return false;
  std::string vsalt = hv.substr(32, 8), ksalt = hv.substr(40, 8);
  auto hash = [&](const std::string &salt) {
    if (sec.r != 5) return hash_r6("", salt, udata);
    unsigned char h[32];
    std::string in = salt + udata;
    sha256(in.data(), in.size(), h);
    return std::string(reinterpret_cast<const char *>(h), 32);
  };
  if (hash(vsalt) != hv.substr(0, 32)) return false;
  std::string wrap = hash(ksalt);
  AesKey ak;
  if (!aes_key_setup(u8(wrap), 32, &ak)) return false;
  const unsigned char zero[16] = {};
  *key = wrapped.substr(0, 32);
  aes_cbc_decrypt(ak, zero, reinterpret_cast<unsigned char *>(key->data()), 32);
  return true;
}

bool key_aes256(const Security &sec, const std::string &o, const std::string &u, const std::string &oe,
                const std::string &ue, std::string *key) {
  if (u.size() < 48) return false;
  return unwrap_aes256(sec, u, ue, "", key) || unwrap_aes256(sec, o, oe, u.substr(0, 48), key);
}

// ---- the image --------------------------------------------------------------------------

void put_hex(const std::string &bytes, std::string *out) {
  static const char digits[] = "0123456789ABCDEF";
  out->push_back('<');
  for (char ch : bytes) {
    auto b = static_cast<unsigned char>(ch);
    out->push_back(digits[b >> 4]);
    out->push_back(digits[b & 15]);
  }
  out->push_back('>');
}

// Appends t[s, e) with every string deciphered and written in hexadecimal.
// Comments are copied as they are; nothing else in object syntax can hold
// a '(' or a lone '<'.
void put_text(const Security &sec, int num, int gen, const byte *t, int s, int e, std::string *out) {
  std::string bytes;
  int i = s;
  while (i < e) {
    byte c = t[i];
    int j = i + 1;
    if (c == '%') {
      while (j < e && t[j] != '\r' && t[j] != '\n') j++;
    } else if (c == '<' && j < e && t[j] == '<') {
      j++;
    } else if (c == '(' || c == '<') {
      int close = c == '(' ? literal_end(t, e, i) : -1;
      if (c == '<') {
        const void *gt = std::memchr(t + i, '>', static_cast<std::size_t>(e - i));
        if (gt) close = static_cast<int>(static_cast<const byte *>(gt) - t) + 1;
      }
      if (close < 0) {
        j = e;  // an unclosed string: the rest is copied unread
      } else {
        if (c == '(')
          literal_bytes(t, i, close, &bytes);
        else
          (void)hex_decode(t, static_cast<std::size_t>(i + 1), static_cast<std::size_t>(close), true,
                           &bytes);  // passing over stray bytes, it cannot fail
        decrypt_bytes(sec, sec.strings, num, gen, &bytes);
        put_hex(bytes, out);
        i = close;
        continue;
      }
    }
    out->append(reinterpret_cast<const char *>(t) + i, static_cast<std::size_t>(j - i));
    i = j;
  }
}

// Whether the dictionary t[s, e) has /Type /name at its top level.
bool has_type(const byte *t, int s, int e, const char *name) { return name_value(t, s, e, "Type") == name; }

// Sets the top-level /Length of the dictionary text to n (the value, direct
// or a reference, is replaced), or adds it when there is none.
void set_length(std::string *dict, std::size_t n) {
  const auto *t = reinterpret_cast<const byte *>(dict->data());
  int len = static_cast<int>(dict->size());
  std::string v = std::to_string(n);
  int p = find_name_top(t, len, 0, len, "Length");
  if (p >= 0) {
    int a = skip_ws(t, p + 7, len);
    int i = a;
    parse_int_at(t, len, &i);
    if (i > a) {
      int b = i;
      int g = skip_ws(t, i, len);
      int k = g;
      parse_int_at(t, len, &k);
      if (k > g) {
        int r = skip_ws(t, k, len);
        if (r < len && t[r] == 'R' && (r + 1 == len || !is_word(t[r + 1]))) b = r + 1;
      }
      dict->replace(static_cast<std::size_t>(a), static_cast<std::size_t>(b - a), v);
      return;
    }
  }
  std::size_t open = dict->find("<<");
  if (open != std::string::npos) dict->insert(open + 2, " /Length " + v + " ");
}

// The number and generation of the header at hdr_off, and the position
// after its "obj" keyword.
bool read_header(const byte *t, int len, int hdr_off, int *num, int *gen, int *body) {
  int i = hdr_off;
  *num = parse_int_at(t, len, &i);
  while (i < len && is_rt_ws(t[i])) i++;
  int g = i;
  *gen = parse_int_at(t, len, &i);
  if (i == g) return false;
  while (i < len && is_rt_ws(t[i])) i++;
  if (!kw_at(t, i, len, "obj")) return false;
  *body = i + 3;
  return true;
}

// The reference "N G R" at v as its two numbers, or false.
bool ref_at(const byte *t, int v, int e, int *num, int *gen) {
  int i = v;
  *num = parse_int_at(t, e, &i);
  if (i == v || *num < 0) return false;
  int g = i;
  *gen = parse_int_at(t, e, &i);
  if (i == g) return false;
  i = skip_ws(t, i, e);
  return i < e && t[i] == 'R';
}

}  // namespace

bool security_open(const byte *t, int s, int e, const std::string &id0, Security *sec) {
  if (name_value(t, s, e, "Filter") != "Standard") return false;
  sec->v = int_value(t, s, e, "V", 0);
  sec->r = int_value(t, s, e, "R", 0);
  int p = int_value(t, s, e, "P", 0);
  int em = value_of(t, s, e, "EncryptMetadata");
  // Only crypt filters (V 4 and 5) can leave the metadata in clear text.
  sec->encrypt_metadata = !(sec->v >= 4 && em >= 0 && kw_at(t, em, e, "false"));
  std::string o, u;
  if (!string_value(t, s, e, "O", &o) || !string_value(t, s, e, "U", &u)) return false;
  if (sec->r < 2 || sec->r > 6) return false;
  if (sec->v == 1 || sec->v == 2) {
    sec->strings = sec->streams = Cipher::rc4;
  } else if (sec->v == 4 || sec->v == 5) {
    if (!crypt_filter(t, s, e, name_value(t, s, e, "StrF"), &sec->strings) ||
        !crypt_filter(t, s, e, name_value(t, s, e, "StmF"), &sec->streams))
      return false;
  } else {
    return false;
  }
  if (sec->r >= 5) {
    std::string ue, oe;
    if (sec->v != 5) return false;
    string_value(t, s, e, "UE", &ue);
    string_value(t, s, e, "OE", &oe);
    return key_aes256(*sec, o, u, oe, ue, &sec->key);
  }
  // The key length in bytes: 5 for revision 2 and V 1, /Length bits for V 2
  // (40 to 128), 16 for crypt filters (RC4 or AES-128).
  int key_len = 5;
  if (sec->r >= 3 && sec->v == 2) key_len = int_value(t, s, e, "Length", 40) / 8;
  if (sec->v == 4) key_len = 16;
  if (key_len < 5 || key_len > 16) return false;
  return key_rc4_family(*sec, key_len, o, u, p, id0, &sec->key);
}

void decrypt_bytes(const Security &sec, Cipher c, int num, int gen, std::string *data) {
  if (c == Cipher::none) return;
  std::string key = sec.key;
  if (c != Cipher::aes256) {
    // The object key: MD5 of the file key, the low three bytes of the number
    // and two of the generation (and "sAlT" for AES), cut to key + 5 bytes.
    std::string in = key;
    for (int i = 0; i < 3; i++) in.push_back(static_cast<char>(static_cast<unsigned>(num) >> (8 * i)));
    for (int i = 0; i < 2; i++) in.push_back(static_cast<char>(static_cast<unsigned>(gen) >> (8 * i)));
    if (c == Cipher::aes128) in += "sAlT";
    key = md5_of(in).substr(0, std::min<std::size_t>(sec.key.size() + 5, 16));
  }
  auto *p = reinterpret_cast<unsigned char *>(data->data());
  if (c == Cipher::rc4) {
    rc4(u8(key), static_cast<int>(key.size()), p, data->size());
    return;
  }
  AesKey ak;
  if (data->size() < 16 || !aes_key_setup(u8(key), static_cast<int>(key.size()), &ak)) {
    data->clear();
    return;
  }
  std::size_t n = (data->size() - 16) / 16 * 16;
  aes_cbc_decrypt(ak, p, p + 16, n);
  std::string plain = data->substr(16, n);
  if (!plain.empty()) {
    auto pad = static_cast<unsigned char>(plain.back());
    if (pad >= 1 && pad <= 16 && pad <= plain.size()) plain.resize(plain.size() - pad);
  }
  *data = std::move(plain);
}

namespace {

// The value of /name in the first trailer that has it, with its window.
int trailer_value(const byte *t, const std::vector<TrailerWindow> &trailers, const char *name, int *win_e) {
  for (const TrailerWindow &w : trailers) {
    int v = value_of(t, w.start, w.end, name);
    if (v >= 0) {
      *win_e = w.end;
      return v;
    }
  }
  return -1;
}

}  // namespace

bool decrypted_image(const Doc &d, const std::vector<TrailerWindow> &trailers, std::string *image) {
  const byte *t = d.pdf;
  const int len = d.pdf_len;
  for (const TrailerWindow &w : trailers)
    if (w.start < 0 || w.end > len || w.start > w.end) return false;

  // The encryption dictionary: direct in the trailer or an object, the last
  // one in table order with that number.
  int enc_num = -1, enc_gen = 0;
  int win_e = 0;
  int v = trailer_value(t, trailers, "Encrypt", &win_e);
  if (v < 0) return false;
  int es = -1, ee = -1;
  if (t[v] == '<') {
    es = v;
    ee = dict_end(t, win_e, v);
  } else if (ref_at(t, v, win_e, &enc_num, &enc_gen)) {
    for (int i = 0; i < d.objs.nelems; i++) {
      const ObjEntry &o = d.objs.elems[i];
      if (o.num == enc_num && !o.in_objstm && o.dict_off >= 0) {
        es = o.dict_off;
        ee = dict_end(t, o.endobj_off > 0 ? o.endobj_off : len, o.dict_off);
      }
    }
  }
  if (es < 0 || ee < 0) return false;

  std::string id0;
  int idv = trailer_value(t, trailers, "ID", &win_e);
  if (idv >= 0 && t[idv] == '[') string_at(t, skip_ws(t, idv + 1, win_e), win_e, &id0);

  Security sec;
  if (!security_open(t, es, ee, id0, &sec)) return false;

  std::string &out = *image;
  out = "%PDF-" + std::string(d.pdf_version) + "\n%\xE2\xE3\xCF\xD3\n";
  std::string dict, data;
  for (int k = 0; k < d.objs.nelems; k++) {
    const ObjEntry &o = d.objs.elems[k];
    int num, gen, body;
    if (o.in_objstm || !read_header(t, len, o.hdr_off, &num, &gen, &body)) continue;
    if (num == enc_num && es == o.dict_off) continue;
    std::string head = std::to_string(num) + " " + std::to_string(gen) + " obj\n";
    if (!o.is_stream) {
      out += head;
      put_text(sec, num, gen, t, body, o.endobj_off, &out);
      out += "\nendobj\n";
      continue;
    }
    if (has_type(t, o.dict_off, o.stream_off, "XRef")) continue;
    dict.clear();
    put_text(sec, num, gen, t, o.dict_off, o.stream_off, &dict);
    data.assign(reinterpret_cast<const char *>(t) + o.data_off, static_cast<std::size_t>(o.data_end - o.data_off));
    if (sec.encrypt_metadata || !has_type(t, o.dict_off, o.stream_off, "Metadata"))
      decrypt_bytes(sec, sec.streams, num, gen, &data);
    set_length(&dict, data.size());
    out += head;
    out += dict;
    out += "\nstream\n";
    out += data;
    out += "\nendstream\nendobj\n";
  }

  int max_num = 0;
  for (int k = 0; k < d.objs.nelems; k++) max_num = std::max(max_num, d.objs.elems[k].num);
  std::string trailer = "trailer\n<< /Size " + std::to_string(max_num + 1);
  if (d.root_num >= 0) trailer += " /Root " + std::to_string(d.root_num) + " 0 R";
  int info = trailer_value(t, trailers, "Info", &win_e);
  int inum, igen;
  if (info >= 0 && ref_at(t, info, win_e, &inum, &igen))
    trailer += " /Info " + std::to_string(inum) + " " + std::to_string(igen) + " R";
  std::size_t xref = out.size();
  out += "xref\n0 1\n0000000000 65535 f \n" + trailer + " >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
  return out.size() <= static_cast<std::size_t>(INT_MAX);
}

}  // namespace zyk
