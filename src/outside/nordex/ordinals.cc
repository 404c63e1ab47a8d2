// The table from nordex's ordinals to the names it exports, made from the one list in the
// header.
#include <cstddef>

#include "nordex.h"

extern "C" {

#define NX_ORDINAL_ROW(ordinal, name) {ordinal, #name},
const NXOrdinal NXOrdinalTable[] = {NX_ORDINALS(NX_ORDINAL_ROW){0, nullptr}};
#undef NX_ORDINAL_ROW

NX_API const char* NXOrdinalName(uint32_t ordinal) {
  if (ordinal == 0) return nullptr;
  for (const NXOrdinal* row = NXOrdinalTable; row->name != nullptr; ++row)
    if (row->ordinal == ordinal) return row->name;
  return nullptr;
}

}  // extern "C"
