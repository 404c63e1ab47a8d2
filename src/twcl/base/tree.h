// CL_Tree: an ordered tree whose nodes are named by unique pointer-sized labels and carry
// one pointer-sized content value each, reachable by label in one lookup; CL_TreeWalker
// visits a subtree in post-order (every node after its children, children first to last).
#ifndef TW_TWCL_BASE_TREE_H_
#define TW_TWCL_BASE_TREE_H_

#include <unordered_map>
#include <vector>

#include "twcl/base/object.h"

class CL_TreeNode : public CL_Object {
 public:
  explicit CL_TreeNode(CL_Word label);
  // Releases the list of children, not the child nodes (the tree owns every node).
  ~CL_TreeNode() override;
  CL_TreeNode(const CL_TreeNode&) = delete;
  CL_TreeNode& operator=(const CL_TreeNode&) = delete;
  using CL_Object::operator=;

  CL_Word Label() const { return _label; }
  CL_TreeNode* Parent() const { return _parent; }
  CL_Word& Content() { return _content; }  // null (0) when created
  CL_Word Content() const { return _content; }
  CL_Long Index() const { return _index; }  // position among the parent's children
  CL_Long ChildCount() const { return static_cast<CL_Long>(_children.size()); }
  // Null outside 0 .. ChildCount()-1.
  CL_TreeNode* Child(CL_Long i) const;
  // Inserts node after child position after (clamped to -1 .. ChildCount()-1: -1 first,
  // anything at or beyond the last: last); sets its parent and index and moves the later
  // siblings' indices up by one. False for a null node.
  bool AddChild(CL_TreeNode* node, CL_Long after);
  // A new node inserted as by AddChild; null when it cannot be made. The caller's tree
  // must register it (CL_Tree::AddChild does).
  CL_TreeNode* NewChild(CL_Word label, CL_Long after);

 private:
  friend class CL_Tree;

  CL_Word _label;
  CL_TreeNode* _parent = nullptr;
  std::vector<CL_TreeNode*> _children;
  CL_Long _index = 0;
  CL_Word _content = 0;
};

// Owns its nodes. Every change asks PrepareToChange first (a veto: nothing changes, the
// answer is null or false) and ends with Notify.
class CL_Tree : public CL_Object {
 public:
  CL_Tree();
  ~CL_Tree() override;  // deletes every node
  CL_Tree(const CL_Tree&) = delete;
  CL_Tree& operator=(const CL_Tree&) = delete;
  using CL_Object::operator=;

  const char* ClassName() const override;  // "CL_Tree"
  CL_Long ClassId() const override;        // 20

  // A new root; the former root becomes its last child. Null when vetoed or when label is
  // already in the tree.
  CL_TreeNode* NewRoot(CL_Word label);
  // A new node under parent_label after child position after (-1: first; at or beyond the
  // last: last). Null when vetoed, the parent is unknown or label is already in the tree.
  CL_TreeNode* AddChild(CL_Word label, CL_Word parent_label, CL_Long after);
  CL_TreeNode* Node(CL_Word label) const;  // null when unknown
  CL_TreeNode* Root() const { return _root; }
  // Both labels exist and label's node is top's node or lies below it.
  bool IsInSubtree(CL_Word top, CL_Word label) const;
  // Removes label's node and its whole subtree (deleted bottom-up); the later siblings'
  // indices move down by one; removing the root empties the tree. False when unknown or
  // vetoed.
  bool Remove(CL_Word label);
  CL_Long Size() const { return static_cast<CL_Long>(_nodes.size()); }

 private:
  void _DestroySubtree(CL_TreeNode* node);

  CL_TreeNode* _root = nullptr;
  std::unordered_map<CL_Word, CL_TreeNode*> _nodes;  // every node by label
};

// One level of a walk: a node and the position of the child on which the path continues.
struct CL_TreeWalkerFrame {
  CL_TreeNode* node;
  CL_Long position;
};

// Post-order walk of the subtree under a start node (not owned). The tree must not change
// during a walk (Reset after a change).
class CL_TreeWalker : public CL_Object {
 public:
  explicit CL_TreeWalker(CL_TreeNode* start);  // runs Reset
  ~CL_TreeWalker() override;
  CL_TreeWalker(const CL_TreeWalker& other);
  CL_TreeWalker& operator=(const CL_TreeWalker& other);
  using CL_Object::operator=;

  // From the start node down along first children, one frame per level.
  void Reset();
  bool More() const { return !_path.empty(); }
  // The next node in post-order; null when the walk is over.
  CL_TreeNode* Next();

 private:
  void _Descend(CL_TreeNode* node);  // pushes frames down the first children

  CL_TreeNode* _start;
  std::vector<CL_TreeWalkerFrame> _path;
};

#endif  // TW_TWCL_BASE_TREE_H_
