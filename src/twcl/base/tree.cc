// CL_Tree, its nodes and the post-order walker.
#include "twcl/base/tree.h"

#include <algorithm>
#include <vector>

// ---- CL_TreeNode

CL_TreeNode::CL_TreeNode(CL_Word label) : _label(label) {}

CL_TreeNode::~CL_TreeNode() = default;

CL_TreeNode* CL_TreeNode::Child(CL_Long i) const {
  return i >= 0 && i < ChildCount() ? _children[static_cast<std::size_t>(i)] : nullptr;
}

bool CL_TreeNode::AddChild(CL_TreeNode* node, CL_Long after) {
  if (node == nullptr) return false;
  const CL_Long position = std::clamp<CL_Long>(after, -1, ChildCount() - 1) + 1;
  _children.insert(_children.begin() + position, node);
  node->_parent = this;
  node->_index = position;
  for (auto it = _children.begin() + position + 1; it != _children.end(); ++it) ++(*it)->_index;
  return true;
}

CL_TreeNode* CL_TreeNode::NewChild(CL_Word label, CL_Long after) {
  auto* node = new CL_TreeNode(label);
  AddChild(node, after);
  return node;
}

// ---- CL_Tree

CL_Tree::CL_Tree() = default;

CL_Tree::~CL_Tree() {
  for (const auto& [label, node] : _nodes) delete node;
}

const char* CL_Tree::ClassName() const {
  return "CL_Tree";
}

CL_Long CL_Tree::ClassId() const {
  return CL_ClassId_Tree;
}

CL_TreeNode* CL_Tree::NewRoot(CL_Word label) {
  if (!PrepareToChange() || _nodes.contains(label)) return nullptr;
  auto* node = new CL_TreeNode(label);
  if (_root != nullptr) node->AddChild(_root, node->ChildCount() - 1);
  _nodes.emplace(label, node);
  _root = node;
  Notify();
  return node;
}

CL_TreeNode* CL_Tree::AddChild(CL_Word label, CL_Word parent_label, CL_Long after) {
  if (!PrepareToChange()) return nullptr;
  CL_TreeNode* parent = Node(parent_label);
  if (parent == nullptr || _nodes.contains(label)) return nullptr;
  CL_TreeNode* node = parent->NewChild(label, after);
  _nodes.emplace(label, node);
  Notify();
  return node;
}

CL_TreeNode* CL_Tree::Node(CL_Word label) const {
  const auto it = _nodes.find(label);
  return it != _nodes.end() ? it->second : nullptr;
}

bool CL_Tree::IsInSubtree(CL_Word top, CL_Word label) const {
  const CL_TreeNode* top_node = Node(top);
  if (top_node == nullptr) return false;
  for (const CL_TreeNode* node = Node(label); node != nullptr; node = node->Parent())
    if (node == top_node) return true;
  return false;
}

bool CL_Tree::Remove(CL_Word label) {
  if (!PrepareToChange()) return false;
  CL_TreeNode* node = Node(label);
  if (node == nullptr) return false;
  if (CL_TreeNode* parent = node->_parent) {
    auto& siblings = parent->_children;
    const auto at = siblings.begin() + node->_index;
    for (auto it = siblings.erase(at); it != siblings.end(); ++it) --(*it)->_index;
  } else {
    _root = nullptr;
  }
  _DestroySubtree(node);
  Notify();
  return true;
}

void CL_Tree::_DestroySubtree(CL_TreeNode* node) {
  // An explicit stack: a deep chain of nodes must not exhaust the call stack.
  std::vector<CL_TreeNode*> pending{node};
  while (!pending.empty()) {
    CL_TreeNode* doomed = pending.back();
    pending.pop_back();
    pending.insert(pending.end(), doomed->_children.begin(), doomed->_children.end());
    _nodes.erase(doomed->_label);
    delete doomed;
  }
}

// ---- CL_TreeWalker

CL_TreeWalker::CL_TreeWalker(CL_TreeNode* start) : _start(start) {
  Reset();
}

CL_TreeWalker::~CL_TreeWalker() = default;

CL_TreeWalker::CL_TreeWalker(const CL_TreeWalker& other)
    : CL_Object(other), _start(other._start), _path(other._path) {}

CL_TreeWalker& CL_TreeWalker::operator=(const CL_TreeWalker& other) {
  _start = other._start;
  _path = other._path;
  return *this;
}

void CL_TreeWalker::Reset() {
  _path.clear();
  _Descend(_start);
}

void CL_TreeWalker::_Descend(CL_TreeNode* node) {
  for (; node != nullptr; node = node->Child(0)) _path.push_back({node, 0});
}

CL_TreeNode* CL_TreeWalker::Next() {
  if (_path.empty()) return nullptr;
  CL_TreeNode* result = _path.back().node;
  if (_path.size() == 1) {
    _path.clear();
    return result;
  }
  _path.pop_back();
  CL_TreeWalkerFrame& up = _path.back();
  if (up.position + 1 < up.node->ChildCount()) _Descend(up.node->Child(++up.position));
  return result;
}
