// The core bridge: the rows of an open document reached by block handles, for the nordex
// library. libplexapi exports these under private names so that both libraries share one
// handle table; they answer Plexa statuses (nordex keeps the low half).
#ifndef TW_OUTSIDE_PLEXAPI_CORE_BRIDGE_H_
#define TW_OUTSIDE_PLEXAPI_CORE_BRIDGE_H_

#include <stdint.h>

#include "plexapi.h"

#ifdef __cplusplus
namespace plexa {
// Forgets the blocks of a document being closed.
void CoreForgetDocument(uint32_t doc);
// The value type word of an item type (rich text 0x0001, others 0x0100 | type) and back
// (0 for a word that names no type).
uint16_t CoreTypeWord(uint32_t type);
uint32_t CoreTypeOf(uint16_t word);
}  // namespace plexa
extern "C" {
#endif

/* The first item of name (nameLength bytes, ASCII case ignored) after the item whose head
 * block is after (0: from the start): *item its head block, *valueType the type word,
 * *value its value block, *valueLength the value block's bytes (type word included). None:
 * GVERR_NO_ITEM. core is the document's core handle. */
GV_API uint32_t _GVCoreItemFind(uint32_t core, const char* name, uint32_t nameLength,
                                uint32_t after, uint32_t* item, uint16_t* valueType,
                                uint32_t* value, uint32_t* valueLength);
/* The block's bytes (a head block: an NXItemHead then the name; a value block: the type word
 * then the value), null for a block that names nothing now. */
GV_API const void* _GVCoreBlockLock(uint32_t block);
GV_API uint32_t _GVCoreBlockUnlock(uint32_t block);
/* Appends an item of name holding valueLength bytes of value (without the type word). */
GV_API uint32_t _GVCoreItemAppend(uint32_t core, const char* name, uint32_t nameLength,
                                  uint16_t valueType, const void* value, uint32_t valueLength);
/* Reads (write 0) or writes (write 1: only the identity changes) the header record of kind
 * (2: the 40-byte identity record). */
GV_API uint32_t _GVCoreHeader(uint32_t core, uint32_t kind, void* header, uint32_t write);

#ifdef __cplusplus
}
#endif

#endif /* TW_OUTSIDE_PLEXAPI_CORE_BRIDGE_H_ */
