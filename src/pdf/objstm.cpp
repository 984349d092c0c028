// Object-stream expansion. Objects stored inside compressed object streams
// are not read yet: such documents load with the objects that stand in the
// file directly.
#include "pdf/pdf.h"

namespace zyk {

void objstm_expand(Doc *) {}

}  // namespace zyk
