# Script mode: turn INPUT into a C++ array named zyk_data_<IDENT> with
# zyk_data_<IDENT>_size, in namespace zyk.
file(READ "${INPUT}" hex HEX)
string(LENGTH "${hex}" hexlen)
math(EXPR size "${hexlen} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," body "${hex}")
# Break the array into lines of 32 bytes so compilers and editors cope.
string(REGEX REPLACE "((0x[0-9a-f][0-9a-f],){32})" "\\1\n" body "${body}")
file(WRITE "${OUTPUT}"
"// Generated from ${INPUT}; do not edit.\n#include <cstddef>\nnamespace zyk {\nextern const unsigned char zyk_data_${IDENT}[];\nextern const std::size_t zyk_data_${IDENT}_size;\nalignas(16) const unsigned char zyk_data_${IDENT}[${size} + 1] = {\n${body}\n0};\nconst std::size_t zyk_data_${IDENT}_size = ${size};\n}\n")
