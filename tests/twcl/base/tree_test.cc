// Tests of CL_Tree, its nodes and the post-order walker.
#include "twcl/base/tree.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <random>
#include <vector>

#include "base_test_util.h"

namespace twcl_test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

std::vector<CL_Word> Walk(CL_TreeNode* start) {
  std::vector<CL_Word> labels;
  CL_TreeWalker walker(start);
  while (walker.More()) labels.push_back(walker.Next()->Label());
  EXPECT_EQ(walker.Next(), nullptr);
  return labels;
}

std::vector<CL_Word> Children(const CL_TreeNode* node) {
  std::vector<CL_Word> labels;
  for (CL_Long i = 0; i < node->ChildCount(); ++i) labels.push_back(node->Child(i)->Label());
  return labels;
}

// Every node reachable from the root knows its parent and its position, and is found by
// its label; the tree holds no other node.
void ExpectConsistent(const CL_Tree& tree) {
  CL_Long reached = 0;
  std::function<void(const CL_TreeNode*)> visit = [&](const CL_TreeNode* node) {
    ++reached;
    EXPECT_EQ(tree.Node(node->Label()), node);
    for (CL_Long i = 0; i < node->ChildCount(); ++i) {
      EXPECT_EQ(node->Child(i)->Parent(), node);
      EXPECT_EQ(node->Child(i)->Index(), i);
      visit(node->Child(i));
    }
  };
  if (tree.Root() != nullptr) {
    EXPECT_EQ(tree.Root()->Parent(), nullptr);
    visit(tree.Root());
  }
  EXPECT_EQ(reached, tree.Size());
}

// Root 1 with children 2 and 3, and 4 under 2.
void BuildSmall(CL_Tree& tree) {
  ASSERT_NE(tree.NewRoot(1), nullptr);
  ASSERT_NE(tree.AddChild(2, 1, 0), nullptr);
  ASSERT_NE(tree.AddChild(3, 1, 0), nullptr);
  ASSERT_NE(tree.AddChild(4, 2, 0), nullptr);
}

TEST(TreeWalker, VisitsChildrenBeforeTheirParentFirstToLast) {
  CL_Tree tree;
  BuildSmall(tree);
  EXPECT_THAT(Walk(tree.Root()), ElementsAre(4, 2, 3, 1));
  EXPECT_THAT(Walk(tree.Node(2)), ElementsAre(4, 2));
  EXPECT_THAT(Walk(tree.Node(3)), ElementsAre(3));
  EXPECT_THAT(Walk(nullptr), IsEmpty());

  CL_TreeWalker walker(tree.Root());
  EXPECT_EQ(walker.Next()->Label(), 4);
  CL_TreeWalker copy(walker);
  EXPECT_EQ(walker.Next()->Label(), 2);
  EXPECT_EQ(copy.Next()->Label(), 2);  // a copy goes on from where the original stood
  walker.Reset();
  EXPECT_EQ(walker.Next()->Label(), 4);
  copy = walker;
  EXPECT_EQ(copy.Next()->Label(), 2);
}

TEST(TreeWalker, MatchesARecursivePostOrderOnRandomTrees) {
  std::mt19937 random(5);
  for (int round = 0; round < 20; ++round) {
    CL_Tree tree;
    tree.NewRoot(0);
    for (CL_Word label = 1; label < 200; ++label) {
      const auto parent = static_cast<CL_Word>(random() % static_cast<unsigned>(label));
      const auto after = static_cast<CL_Long>(random() % 5) - 2;
      ASSERT_NE(tree.AddChild(label, parent, after), nullptr);
    }
    ExpectConsistent(tree);
    std::vector<CL_Word> expected;
    std::function<void(const CL_TreeNode*)> post_order = [&](const CL_TreeNode* node) {
      for (CL_Long i = 0; i < node->ChildCount(); ++i) post_order(node->Child(i));
      expected.push_back(node->Label());
    };
    post_order(tree.Root());
    EXPECT_EQ(Walk(tree.Root()), expected);
  }
}

TEST(Tree, NewRootTakesTheFormerRootAsItsLastChild) {
  CL_Tree tree;
  EXPECT_STREQ(tree.ClassName(), "CL_Tree");
  EXPECT_EQ(tree.ClassId(), 20);
  BuildSmall(tree);
  CL_TreeNode* nine = tree.NewRoot(9);
  ASSERT_NE(nine, nullptr);
  EXPECT_EQ(tree.Root(), nine);
  EXPECT_THAT(Children(nine), ElementsAre(1));
  ASSERT_NE(tree.NewRoot(10), nullptr);
  EXPECT_THAT(Children(tree.Root()), ElementsAre(9));
  EXPECT_EQ(tree.Root()->Index(), 0);
  EXPECT_EQ(tree.NewRoot(4), nullptr);  // a label already in the tree
  EXPECT_EQ(tree.Size(), 6);
  ExpectConsistent(tree);
}

TEST(Tree, ChildrenGoAfterTheGivenPosition) {
  const struct {
    CL_Long after;
    std::vector<CL_Word> children;
  } cases[] = {
      {-5, {5, 2, 3}}, {-1, {5, 2, 3}}, {0, {2, 5, 3}},
      {1, {2, 3, 5}},  {2, {2, 3, 5}},  {200000, {2, 3, 5}},
  };
  for (const auto& c : cases) {
    CL_Tree tree;
    BuildSmall(tree);
    CL_TreeNode* node = tree.AddChild(5, 1, c.after);
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(node->Parent(), tree.Root());
    EXPECT_EQ(Children(tree.Root()), c.children) << "after " << c.after;
    ExpectConsistent(tree);
    ASSERT_TRUE(tree.Remove(5));
    EXPECT_THAT(Children(tree.Root()), ElementsAre(2, 3));
    ExpectConsistent(tree);
  }
}

TEST(Tree, LookupsAndRefusals) {
  CL_Tree tree;
  EXPECT_EQ(tree.AddChild(1, 0, 0), nullptr);  // no parent yet
  BuildSmall(tree);
  EXPECT_EQ(tree.AddChild(3, 2, 0), nullptr);   // label present
  EXPECT_EQ(tree.AddChild(7, 99, 0), nullptr);  // unknown parent
  EXPECT_EQ(tree.Size(), 4);
  EXPECT_EQ(tree.Node(99), nullptr);
  EXPECT_EQ(tree.Root()->Child(-1), nullptr);
  EXPECT_EQ(tree.Root()->Child(2), nullptr);
  EXPECT_FALSE(tree.Root()->AddChild(nullptr, 0));

  EXPECT_TRUE(tree.IsInSubtree(1, 1));
  EXPECT_TRUE(tree.IsInSubtree(1, 4));
  EXPECT_TRUE(tree.IsInSubtree(2, 4));
  EXPECT_FALSE(tree.IsInSubtree(3, 4));
  EXPECT_FALSE(tree.IsInSubtree(4, 2));
  EXPECT_FALSE(tree.IsInSubtree(99, 4));
  EXPECT_FALSE(tree.IsInSubtree(1, 99));

  CL_TreeNode* node = tree.Node(4);
  EXPECT_EQ(node->Content(), 0);
  node->Content() = 1234;
  EXPECT_EQ(tree.Node(4)->Content(), 1234);
  // Labels are pointer-sized: an address works as a label.
  const auto address = reinterpret_cast<CL_Word>(&tree);
  ASSERT_NE(tree.AddChild(address, 4, 0), nullptr);
  EXPECT_TRUE(tree.IsInSubtree(2, address));
}

TEST(Tree, RemovingASubtreeOrTheRoot) {
  CL_Tree tree;
  BuildSmall(tree);
  EXPECT_FALSE(tree.Remove(99));
  ASSERT_TRUE(tree.Remove(2));
  EXPECT_EQ(tree.Node(2), nullptr);
  EXPECT_EQ(tree.Node(4), nullptr);
  EXPECT_THAT(Children(tree.Root()), ElementsAre(3));
  EXPECT_EQ(tree.Node(3)->Index(), 0);
  ExpectConsistent(tree);
  ASSERT_TRUE(tree.Remove(1));
  EXPECT_EQ(tree.Root(), nullptr);
  EXPECT_EQ(tree.Size(), 0);
  for (const CL_Word label : {1, 2, 3, 4}) EXPECT_EQ(tree.Node(label), nullptr);
  ASSERT_NE(tree.NewRoot(1), nullptr);  // the labels are free again
}

TEST(Tree, DeepChainsNeedNoDeepRecursion) {
  CL_Tree tree;
  tree.NewRoot(0);
  const CL_Word depth = 200000;
  for (CL_Word label = 1; label < depth; ++label)
    ASSERT_NE(tree.AddChild(label, label - 1, 0), nullptr);
  CL_TreeWalker walker(tree.Root());
  EXPECT_EQ(walker.Next()->Label(), depth - 1);
  EXPECT_TRUE(tree.IsInSubtree(0, depth - 1));
  ASSERT_TRUE(tree.Remove(1));
  EXPECT_EQ(tree.Size(), 1);
  for (CL_Word label = 1; label < depth; ++label)
    ASSERT_NE(tree.AddChild(label, label - 1, 0), nullptr);
  // The destructor deletes the rest.
}

TEST(Tree, EveryChangeAsksFirstAndTellsOnce) {
  const struct {
    const char* name;
    std::function<bool(CL_Tree&)> change;
  } cases[] = {
      {"NewRoot", [](CL_Tree& t) { return t.NewRoot(8) != nullptr; }},
      {"AddChild", [](CL_Tree& t) { return t.AddChild(8, 1, 0) != nullptr; }},
      {"Remove", [](CL_Tree& t) { return t.Remove(2); }},
  };
  for (const auto& c : cases) {
    for (const bool permit : {false, true}) {
      CL_Tree tree;
      BuildSmall(tree);
      Recorder recorder;
      recorder.permit = permit;
      recorder.Watch(tree);
      EXPECT_EQ(c.change(tree), permit) << c.name;
      EXPECT_EQ(recorder.pre, 1) << c.name;
      EXPECT_EQ(recorder.post, permit ? 1 : 0) << c.name;
      EXPECT_EQ(tree.Size(), permit ? (c.name[0] == 'R' ? 2 : 5) : 4) << c.name;
      ExpectConsistent(tree);
    }
  }
  // Refused for a reason of its own: asked, but nobody is told.
  CL_Tree tree;
  BuildSmall(tree);
  Recorder recorder;
  recorder.Watch(tree);
  EXPECT_EQ(tree.AddChild(2, 1, 0), nullptr);
  EXPECT_FALSE(tree.Remove(42));
  EXPECT_EQ(recorder.post, 0);
}

}  // namespace
}  // namespace twcl_test
