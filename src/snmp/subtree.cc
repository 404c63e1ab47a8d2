// MIB table conversion and the sorted list of sub-trees.
#include "subtree.h"

#include <algorithm>
#include <atomic>

namespace tw::snmp {
namespace {

std::atomic<uint32_t> g_unique{1};

}  // namespace

int ConvertTable(const std::string& rootText, const std::vector<ObjectSpec>& rows, Subtree* out) {
  if (rows.empty()) return kLinkBadMib;
  Subtree tree;
  if (int rc = ParseOid(rootText, &tree.root); rc != 0) return rc;
  for (const ObjectSpec& row : rows) {
    MibObject o;
    o.access = static_cast<uint8_t>(row.flags & 0xFF);
    o.type = static_cast<uint8_t>((row.flags >> 8) & 0xFF);
    o.column = static_cast<uint8_t>((row.flags >> 16) & 0xFF);
    if (o.access < 1 || o.access > 3 || o.type < 1 || o.type > 5) return kLinkBadMib;
    Oid suffix;
    if (int rc = ParseOid(row.suffix, &suffix); rc != 0) return rc;
    o.oid = tree.root;
    if (!o.oid.Append(suffix)) return kOidTooLong;
    if (!tree.objects.empty() && CompareOid(tree.objects.back().oid, o.oid) >= -1)
      return kLinkBadMib;  // not after the one before, or a prefix of it
    tree.objects.push_back(o);
  }
  uint32_t first = g_unique.fetch_add(static_cast<uint32_t>(rows.size()));
  for (MibObject& o : tree.objects) o.uniqueId = first++;
  *out = std::move(tree);
  return 0;
}

bool ValidSubtree(const Subtree& tree) {
  if (tree.root.count == 0 || tree.objects.empty()) return false;
  for (size_t i = 0; i < tree.objects.size(); ++i) {
    const MibObject& o = tree.objects[i];
    if (CompareOid(tree.root, o.oid) != -1) return false;
    if (o.access < 1 || o.access > 3 || (o.type != kTypeInteger && o.type != kTypeText))
      return false;
    if (i > 0 && (CompareOid(tree.objects[i - 1].oid, o.oid) >= -1 ||
                  tree.objects[i - 1].uniqueId >= o.uniqueId))
      return false;
  }
  return true;
}

int SubtreeList::Add(Subtree tree) {
  if (!ValidSubtree(tree)) return kLinkBadMib;
  auto at = trees_.begin();
  for (; at != trees_.end(); ++at) {
    int c = CompareOid(at->root, tree.root);
    if (c == 0) {
      *at = std::move(tree);
      return 0;
    }
    if (c == -1 || c == 1) return kLinkBadMib;
    if (c > 0) break;
  }
  trees_.insert(at, std::move(tree));
  return 0;
}

int SubtreeList::Remove(const Oid& root) {
  auto at = std::find_if(trees_.begin(), trees_.end(),
                         [&](const Subtree& t) { return t.root == root; });
  if (at == trees_.end()) return kLinkNotFound;
  trees_.erase(at);
  return 0;
}

void SubtreeList::RemoveOwner(const void* owner) {
  std::erase_if(trees_, [&](const Subtree& t) { return t.owner == owner; });
}

const Subtree* SubtreeList::Find(uint32_t uniqueId, size_t* index) const {
  for (const Subtree& t : trees_) {
    if (uniqueId < t.objects.front().uniqueId || uniqueId > t.objects.back().uniqueId) continue;
    for (size_t i = 0; i < t.objects.size(); ++i)
      if (t.objects[i].uniqueId == uniqueId) {
        *index = i;
        return &t;
      }
  }
  return nullptr;
}

}  // namespace tw::snmp
