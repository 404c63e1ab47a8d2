// The class registry: class id -> creator of a default object, used to re-create objects
// read by pointer from a stream. Each storable class registers itself with a static
// CL_ClassIdEntry in its own unit; programs link the library whole (twcl_base_whole) so
// every entry is present.
//
// Thread rules: entries are added during static initialisation; lookups afterwards may
// come from any thread.
#ifndef TW_TWCL_BASE_CLASS_REGISTRY_H_
#define TW_TWCL_BASE_CLASS_REGISTRY_H_

#include "twcl/base/object.h"

// Answers a new default-constructed object owned by the caller, or null.
using CL_Creator = CL_Object* (*)();

class CL_ClassIdEntry : public CL_Object {
 public:
  using CL_Object::operator=;
  // Adds (class_id, creator) to the registry, creating it on first use whatever the order
  // of static construction. A second entry for an id replaces the creator.
  CL_ClassIdEntry(CL_Long class_id, CL_Creator creator);
  // Withdraws the registration when the id still maps to this entry's creator.
  ~CL_ClassIdEntry() override;
  CL_ClassIdEntry(const CL_ClassIdEntry&) = delete;
  CL_ClassIdEntry& operator=(const CL_ClassIdEntry&) = delete;

  const char* ClassName() const override;  // "CL_ClassIdEntry"

 private:
  CL_Long _class_id;
  CL_Creator _creator;
};

// The creator registered for class_id, or null.
CL_Creator CL_FindCreator(CL_Long class_id);

#endif  // TW_TWCL_BASE_CLASS_REGISTRY_H_
