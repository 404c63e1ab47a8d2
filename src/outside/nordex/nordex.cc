// The core library nordex: each item operation forwarded to the core bridge of libplexapi,
// so that both libraries work on one table of documents; statuses cut to their low half.
#include "nordex.h"

#include "core_bridge.h"

namespace {

uint16_t Short(uint32_t status) {
  return static_cast<uint16_t>(status & 0xFFFFu);
}

}  // namespace

extern "C" {

NX_API uint16_t NXItemFirst(NXDOC doc, const char* name, uint16_t nameLength, NXBLOCK* item,
                            uint16_t* valueType, NXBLOCK* value, uint32_t* valueLength) {
  return Short(_GVCoreItemFind(doc, name, nameLength, 0, item, valueType, value, valueLength));
}

NX_API uint16_t NXItemNext(NXDOC doc, NXBLOCK previous, const char* name, uint16_t nameLength,
                           NXBLOCK* item, uint16_t* valueType, NXBLOCK* value,
                           uint32_t* valueLength) {
  // The bridge reads 0 as "from the start": here it names no item to continue from.
  if (previous == 0) return Short(GVERR_INVALID_HANDLE);
  return Short(
      _GVCoreItemFind(doc, name, nameLength, previous, item, valueType, value, valueLength));
}

NX_API const void* NXBlockLock(NXBLOCK block) {
  return _GVCoreBlockLock(block);
}

NX_API uint16_t NXBlockUnlock(NXBLOCK block) {
  return Short(_GVCoreBlockUnlock(block));
}

NX_API uint16_t NXItemAppend(NXDOC doc, uint16_t flags, const char* name, uint16_t nameLength,
                             uint16_t valueType, const void* value, uint32_t valueLength) {
  return Short(_GVCoreItemAppend(doc, name, nameLength, valueType, value, valueLength));
}

NX_API uint16_t NXHeaderRead(NXDOC doc, uint16_t kind, void* header) {
  return Short(_GVCoreHeader(doc, kind, header, 0));
}

NX_API uint16_t NXHeaderWrite(NXDOC doc, uint16_t kind, const void* header) {
  // Writing only reads the record given.
  return Short(_GVCoreHeader(doc, kind, const_cast<void*>(header), 1));
}

}  // extern "C"
