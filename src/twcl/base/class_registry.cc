// The class registry: class id -> creator, filled by the static entries of the storable
// classes.
#include "twcl/base/class_registry.h"

#include <map>

namespace {

// Built inside the first entry's constructor, so it outlives every entry.
std::map<CL_Long, CL_Creator>& Registry() {
  static std::map<CL_Long, CL_Creator> registry;
  return registry;
}

}  // namespace

CL_ClassIdEntry::CL_ClassIdEntry(CL_Long class_id, CL_Creator creator)
    : _class_id(class_id), _creator(creator) {
  Registry()[class_id] = creator;
}

CL_ClassIdEntry::~CL_ClassIdEntry() {
  // Only this entry's own registration goes: a later entry for the id may have replaced it.
  auto& registry = Registry();
  if (auto it = registry.find(_class_id); it != registry.end() && it->second == _creator)
    registry.erase(it);
}

const char* CL_ClassIdEntry::ClassName() const {
  return "CL_ClassIdEntry";
}

CL_Creator CL_FindCreator(CL_Long class_id) {
  const auto& registry = Registry();
  const auto it = registry.find(class_id);
  return it != registry.end() ? it->second : nullptr;
}
