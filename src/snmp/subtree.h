// Registered MIB sub-trees: the MIB table's rows converted to objects with unique ids, and
// the list of sub-trees sorted by root that both ends of the link keep.
#ifndef TW_SNMP_SUBTREE_H_
#define TW_SNMP_SUBTREE_H_

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "oid.h"
#include "wire.h"

namespace tw::snmp {

// One row of a MIB table: the suffix under the root, and flags: low byte access (1
// read-only, 3 read-write), second byte type (1 integer, 2 text), third byte 1 for a column.
struct ObjectSpec {
  const char* suffix;
  uint32_t flags;
};
constexpr uint32_t ObjectFlags(uint8_t access, uint8_t type, bool column) {
  return access | (uint32_t{type} << 8) | (column ? 0x10000u : 0u);
}

// Serves one request for an object: kind is the message type (get .. set commit), index the
// object's place in its table, instance the identifier's part past the object (a get-next
// sets it to the instance it answers), value the request's value and the answer's. Answers
// an error status, or a negative number for a failure (sent as general error).
using ObjectHandler = std::function<int32_t(uint32_t kind, size_t index, const MibObject& object,
                                            Oid* instance, std::string* value)>;

struct Subtree {
  Oid root;
  std::vector<MibObject> objects;  // sorted, unique ids ascending
  bool registered = false;
  ObjectHandler handler;  // the sub-agent's
  const void* owner = nullptr;  // the master agent's: the connection that registered it
};

// Converts rows under rootText: kLinkBadMib for an empty table, a bad access or type, an
// identifier that is not under the root or does not sort after the one before; the parse
// status for bad text. Each object takes the next process-wide unique id.
[[nodiscard]] int ConvertTable(const std::string& rootText, const std::vector<ObjectSpec>& rows,
                               Subtree* out);

// Checks a sub-tree that came over the link: objects under the root, sorted, ids ascending.
[[nodiscard]] bool ValidSubtree(const Subtree& tree);

class SubtreeList {
 public:
  // Keeps tree in root order; an equal root replaces the old one. kLinkBadMib when the root
  // is a prefix of another root or has one as its prefix, or the tree is not valid.
  [[nodiscard]] int Add(Subtree tree);
  // kLinkNotFound when no sub-tree has that root.
  [[nodiscard]] int Remove(const Oid& root);
  // Removes every sub-tree of owner.
  void RemoveOwner(const void* owner);
  // The sub-tree whose id range holds uniqueId and the object's index; null when none.
  const Subtree* Find(uint32_t uniqueId, size_t* index) const;
  const std::vector<Subtree>& trees() const { return trees_; }
  std::vector<Subtree>& trees() { return trees_; }

 private:
  std::vector<Subtree> trees_;
};

}  // namespace tw::snmp

#endif  // TW_SNMP_SUBTREE_H_
