// Values read out of object texts: a range of some text (the file image or
// an object's text) and the few questions the writer asks of one (follow a
// reference, look up a key, read a number, a name or a string). Navigation
// and form fields read their dictionaries through these.
#pragma once

#include <string>
#include <vector>

#include "pdf/pdf.h"

namespace zyk {

// A value in some text: the file image or an object's text.
struct Val {
  const byte *t = nullptr;
  int s = 0, e = 0;
  bool ok() const { return t && s < e; }
};

// The value itself, or, when it is just a reference, the value of the
// object it names (followed a few times). Streams and missing objects give
// an empty Val.
Val resolve(const Doc &d, Val v);
// The object number when the value is exactly one reference, else 0.
int ref_of(Val v);
// A dictionary value's entries; false when it is none.
[[nodiscard]] bool entries_of(Val v, std::vector<DictEntry> *es);
// The value of `key` in a dictionary whose entries are es (empty: none).
Val entry(Val dict, const std::vector<DictEntry> &es, const char *key);
// A number token (at most 40 characters, finite).
[[nodiscard]] bool number_of(Val v, double *out);
[[nodiscard]] bool is_name(Val v, const char *name);
// The bytes of a name token (without the slash, #xx escapes decoded).
std::string name_bytes(Val v);
// The bytes of a string value (literal or hexadecimal); false for anything
// else.
[[nodiscard]] bool string_of(Val v, std::string *out);
// The text of object num (not a stream), empty when there is none.
Val object_val(const Doc &d, int num);
// Up to n numbers of an array value (followed when a reference); -1 when
// it is no array of numbers only.
int numbers_of(const Doc &d, Val v, double *out, int n);

}  // namespace zyk
