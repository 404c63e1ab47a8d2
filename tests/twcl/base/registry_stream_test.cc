// Tests of the class registry and of CL_Stream: defaults, primitives, the object format
// with back references, and the read journal that undoes a failed read exactly.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <set>
#include <vector>

#include "base_test_util.h"
#include "twcl/base/class_registry.h"
#include "twcl/base/object_stream.h"
#include "twcl/base/string.h"

namespace twcl_test {
namespace {

// Counts the live instances of T, so a test sees exactly which objects a read deleted.
template <class T>
struct Counted {
  static inline int live = 0;
  Counted() { ++live; }
  Counted(const Counted&) { ++live; }
  ~Counted() { --live; }
};

// Stored form: id 1001, value (4); a negative value is refused on reading.
class Leaf : public StoredValue<1001>, public Counted<Leaf> {
 public:
  using CL_Object::operator=;
  explicit Leaf(CL_Long v = 0) : StoredValue(v) {}
  Leaf(const Leaf&) = delete;
  Leaf& operator=(const Leaf&) = delete;

  const char* ClassName() const override { return "Leaf"; }
  CL_Long StorableFormWidth() const override { return 8; }
};

// Refers to objects by pointer without owning them, as the library's containers of object
// pointers do. Stored form: id 1002, count (4), each object in its pointer form.
class Holder : public CL_Object, public Counted<Holder> {
 public:
  using CL_Object::operator=;
  static constexpr CL_Long kId = 1002;
  Holder() = default;
  explicit Holder(std::vector<CL_Object*> objects) : items(std::move(objects)) {}
  Holder(const Holder&) = delete;
  Holder& operator=(const Holder&) = delete;

  CL_Long ClassId() const override { return kId; }
  const char* ClassName() const override { return "Holder"; }
  bool WriteTo(CL_Stream& s) const override {
    if (!s.WriteLong(kId) || !s.WriteLong(static_cast<CL_Long>(items.size()))) return false;
    for (const CL_Object* item : items)
      if (!s.Write(item)) return false;
    return true;
  }
  bool ReadFrom(CL_Stream& s) override {
    CL_Long count;
    if (!ReadClassId(s) || !s.ReadLong(count)) return false;
    if (count < 0 || std::int64_t{count} * 2 > s.Remaining()) return false;
    const CL_Long mark = s._ReadMark();
    std::vector<CL_Object*> read;
    for (CL_Long i = 0; i < count; ++i) {
      CL_Object* item;
      if (!s.Read(item)) {
        s._AbandonRead(mark);
        return false;
      }
      read.push_back(item);
    }
    items = std::move(read);
    return true;
  }

  std::vector<CL_Object*> items;
};

CL_Object* MakeLeaf() {
  return new Leaf;
}
CL_Object* MakeHolder() {
  return new Holder;
}
const CL_ClassIdEntry leaf_entry(Leaf::kId, &MakeLeaf);
const CL_ClassIdEntry holder_entry(Holder::kId, &MakeHolder);

// Deletes a graph read from a stream: every object once, however often it is referred to.
void DeleteGraph(CL_Object* root) {
  std::set<CL_Object*> all;
  std::function<void(CL_Object*)> collect = [&](CL_Object* object) {
    if (object == nullptr || !all.insert(object).second) return;
    if (auto* holder = dynamic_cast<Holder*>(object))
      for (CL_Object* item : holder->items) collect(item);
  };
  collect(root);
  for (CL_Object* object : all) delete object;
}

Bytes Written(const std::function<void(CL_Stream&)>& write, bool remember = false) {
  VectorStream s;
  if (remember) s.RememberPointers();
  write(s);
  return s.bytes;
}

const Bytes kFlagO = {0x4F, 0x00};
const Bytes kFlagR = {0x52, 0x00};
const Bytes kFlagN = {0x4E, 0x00};

Bytes LeafForm(CL_Long value) {
  return Cat({kFlagO, LE(Leaf::kId), LE(Leaf::kId), LE(value)});
}

// ---------------------------------------------------------------------------------------
// Registry

TEST(RegistryTest, AnswersTheRegisteredCreatorOrNull) {
  EXPECT_EQ(CL_FindCreator(Leaf::kId), &MakeLeaf);
  EXPECT_EQ(CL_FindCreator(987654), nullptr);
  EXPECT_EQ(CL_FindCreator(CL_ClassId_Object), nullptr);

  const CL_Creator string_creator = CL_FindCreator(CL_ClassId_String);
  ASSERT_NE(string_creator, nullptr);
  const std::unique_ptr<CL_Object> made(string_creator());
  EXPECT_EQ(made->ClassId(), CL_ClassId_String);
  EXPECT_STREQ(made->AsString().AsPtr(), "");
}

TEST(RegistryTest, ALaterEntryReplacesAndEntriesWithdrawWhenDestroyed) {
  {
    const CL_ClassIdEntry first(1500, &MakeLeaf);
    EXPECT_STREQ(first.ClassName(), "CL_ClassIdEntry");
    EXPECT_EQ(CL_FindCreator(1500), &MakeLeaf);
    const CL_ClassIdEntry second(1500, &MakeHolder);
    EXPECT_EQ(CL_FindCreator(1500), &MakeHolder);
  }
  EXPECT_EQ(CL_FindCreator(1500), nullptr);
  EXPECT_EQ(CL_FindCreator(Leaf::kId), &MakeLeaf);
}

// ---------------------------------------------------------------------------------------
// Stream defaults and primitives

TEST(StreamDefaultsTest, Identity) {
  VectorStream s;
  EXPECT_STREQ(s.ClassName(), "CL_Stream");
  EXPECT_EQ(s.ClassId(), 30);
  EXPECT_STREQ(s.ErrorString().AsPtr(), "");
}

TEST(StreamDefaultsTest, SeekingClampsAtTheStart) {
  struct Case {
    const char* name;
    CL_Long start;
    std::function<bool(CL_Stream&)> move;
    bool result;
    CL_Long offset;
  };
  const Case cases[] = {
      {"forward", 5, [](CL_Stream& s) { return s.SeekRelative(3); }, true, 8},
      {"back", 5, [](CL_Stream& s) { return s.SeekRelative(-5); }, true, 0},
      {"before the start", 5, [](CL_Stream& s) { return s.SeekRelative(-100); }, true, 0},
      {"past 32 bits", 5,
       [](CL_Stream& s) { return s.SeekRelative(std::numeric_limits<CL_Long>::max()); }, false, 5},
      {"to the end", 2, [](CL_Stream& s) { return s.SeekToEnd(); }, true, 10},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    VectorStream s(Bytes(10));
    s.position = c.start;
    EXPECT_EQ(c.move(s), c.result);
    EXPECT_EQ(s.Offset(), c.offset);
  }
}

TEST(StreamDefaultsTest, EofAndRemaining) {
  struct Case {
    CL_Long offset;
    bool eof;
    CL_Long remaining;
  };
  for (const Case& c :
       {Case{0, false, 10}, Case{9, false, 1}, Case{10, true, 0}, Case{12, true, 0}}) {
    SCOPED_TRACE(c.offset);
    VectorStream s(Bytes(10));
    s.position = c.offset;
    EXPECT_EQ(s.Eof(), c.eof);
    EXPECT_EQ(s.Remaining(), c.remaining);
  }

  // A stream that cannot tell its size leaves nothing to trust.
  class Unsized : public VectorStream {
   public:
    using CL_Object::operator=;
    CL_Long Size() override { return -1; }
  } unsized;
  EXPECT_EQ(unsized.Remaining(), 0);
}

TEST(StreamPrimitivesTest, LongsAndFlagsAreLittleEndian) {
  struct Case {
    CL_Long value;
    Bytes bytes;
  };
  const Case cases[] = {
      {0, {0, 0, 0, 0}},
      {1, {1, 0, 0, 0}},
      {0x12345678, {0x78, 0x56, 0x34, 0x12}},
      {-1, {0xFF, 0xFF, 0xFF, 0xFF}},
      {std::numeric_limits<CL_Long>::min(), {0, 0, 0, 0x80}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    VectorStream out;
    ASSERT_TRUE(out.WriteLong(c.value));
    EXPECT_EQ(out.bytes, c.bytes);
    VectorStream in(c.bytes);
    CL_Long read = 0;
    ASSERT_TRUE(in.ReadLong(read));
    EXPECT_EQ(read, c.value);
  }

  VectorStream flags;
  flags.WriteShort('O');
  flags.WriteShort(-2);
  EXPECT_EQ(flags.bytes, (Bytes{0x4F, 0x00, 0xFE, 0xFF}));
  flags.position = 0;
  short a = 0, b = 0;
  ASSERT_TRUE(flags.ReadShort(a) && flags.ReadShort(b));
  EXPECT_EQ(a, 'O');
  EXPECT_EQ(b, -2);
}

TEST(StreamPrimitivesTest, ShortInputFails) {
  for (std::size_t n = 0; n < 4; ++n) {
    SCOPED_TRACE(n);
    VectorStream s(Bytes(n, 0x11));
    CL_Long value;
    EXPECT_FALSE(s.ReadLong(value));
  }
  VectorStream one(Bytes{0x4F});
  short flag;
  EXPECT_FALSE(one.ReadShort(flag));
}

TEST(StreamPrimitivesTest, WordsTravelInFourBytes) {
  struct Case {
    CL_Word value;
    bool fits;
  };
  const Case cases[] = {
      {0, true},
      {-1, true},
      {std::numeric_limits<CL_Long>::max(), true},
      {std::numeric_limits<CL_Long>::min(), true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    VectorStream s;
    ASSERT_TRUE(s.WriteWord(c.value));
    EXPECT_EQ(s.bytes, LE(static_cast<CL_Long>(c.value)));
    s.position = 0;
    CL_Word read = 12345;
    ASSERT_TRUE(s.ReadWord(read));
    EXPECT_EQ(read, c.value);  // sign-extended
  }
  if constexpr (sizeof(CL_Word) > 4) {
    for (const CL_Word wide : {CL_Word{std::numeric_limits<CL_Long>::max()} + 1,
                               CL_Word{std::numeric_limits<CL_Long>::min()} - 1}) {
      VectorStream s;
      EXPECT_FALSE(s.WriteWord(wide));
      EXPECT_TRUE(s.bytes.empty());
    }
  }
}

// ---------------------------------------------------------------------------------------
// Object format

TEST(ObjectFormatTest, NullPointerIsTheFlagAlone) {
  EXPECT_EQ(Written([](CL_Stream& s) { s.Write(static_cast<const CL_Object*>(nullptr)); }), kFlagN);
  VectorStream in(kFlagN);
  CL_Object* read = &in;
  EXPECT_TRUE(in.Read(read));
  EXPECT_EQ(read, nullptr);
}

TEST(ObjectFormatTest, ObjectByPointerIsFlagIdAndBody) {
  const Leaf leaf(7);
  const Bytes bytes = Written([&](CL_Stream& s) { EXPECT_TRUE(s.Write(&leaf)); });
  EXPECT_EQ(bytes, (Bytes{0x4F, 0, 0xE9, 3, 0, 0, 0xE9, 3, 0, 0, 7, 0, 0, 0}));
  VectorStream in(bytes);
  CL_Object* read = nullptr;
  ASSERT_TRUE(in.Read(read));
  const std::unique_ptr<CL_Object> owned(read);
  ASSERT_EQ(read->ClassId(), Leaf::kId);
  EXPECT_EQ(static_cast<Leaf*>(read)->value, 7);
}

TEST(ObjectFormatTest, WithoutRememberingASecondWriteRepeatsTheObject) {
  const Leaf leaf(7);
  const Bytes bytes = Written([&](CL_Stream& s) { s.Write(&leaf) && s.Write(&leaf); });
  EXPECT_EQ(bytes, Cat({LeafForm(7), LeafForm(7)}));
  VectorStream in(bytes);
  CL_Object *a = nullptr, *b = nullptr;
  ASSERT_TRUE(in.Read(a) && in.Read(b));
  EXPECT_NE(a, b);
  delete a;
  delete b;
}

TEST(ObjectFormatTest, RememberingWritesABackReferenceToTheFirstBody) {
  const Leaf leaf(7);
  // A null first, so the body offset is not just the size of a header.
  const Bytes bytes = Written(
      [&](CL_Stream& s) {
        s.Write(static_cast<const CL_Object*>(nullptr));
        s.Write(&leaf);
        s.Write(&leaf);
      },
      true);
  EXPECT_EQ(bytes, Cat({kFlagN, LeafForm(7), kFlagR, LE(2 + 2 + 4)}));

  VectorStream in(bytes);
  CL_Object *none = &in, *first = nullptr, *second = nullptr;
  ASSERT_TRUE(in.Read(none) && in.Read(first) && in.Read(second));
  EXPECT_EQ(none, nullptr);
  EXPECT_EQ(first, second);
  delete first;
}

TEST(ObjectFormatTest, SwitchingRememberingForgetsEarlierWrites) {
  const Leaf leaf(1);
  struct Case {
    const char* name;
    std::function<void(CL_Stream&)> between;
  };
  const Case cases[] = {
      {"remember again", [](CL_Stream& s) { s.RememberPointers(); }},
      {"forget", [](CL_Stream& s) { s.ForgetPointers(); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes bytes = Written(
        [&](CL_Stream& s) {
          s.Write(&leaf);
          c.between(s);
          s.Write(&leaf);
        },
        true);
    EXPECT_EQ(bytes, Cat({LeafForm(1), LeafForm(1)}));
  }
}

TEST(ObjectFormatTest, ByValueNeverWritesABackReference) {
  const Leaf leaf(3);
  const Bytes bytes = Written(
      [&](CL_Stream& s) {
        EXPECT_TRUE(s.Write(leaf));
        EXPECT_TRUE(s.Write(leaf));
      },
      true);
  EXPECT_EQ(bytes, Cat({LeafForm(3), LeafForm(3)}));

  VectorStream in(bytes);
  Leaf target(0);
  ASSERT_TRUE(in.Read(target));
  EXPECT_EQ(target.value, 3);
}

TEST(ObjectFormatTest, ReadByValueLeavesTheIdCheckToTheBody) {
  struct Case {
    const char* name;
    Bytes bytes;
    bool result;
  };
  const Case cases[] = {
      {"header id ignored", Cat({kFlagO, LE(999), LE(Leaf::kId), LE(5)}), true},
      {"body id checked", Cat({kFlagO, LE(Leaf::kId), LE(999), LE(5)}), false},
      {"no id", kFlagO, false},
      {"no flag", Bytes{}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WarningCapture capture;
    VectorStream in(c.bytes);
    Leaf target(0);
    EXPECT_EQ(in.Read(target), c.result);
    EXPECT_EQ(target.value, c.result ? 5 : 0);
    EXPECT_TRUE(capture.texts().empty());
  }
}

TEST(ObjectFormatTest, ReadByValueWarnsAboutOtherFlags) {
  struct Case {
    Bytes bytes;
    const char* warning;
  };
  const Case cases[] = {
      {Cat({kFlagR, LE(0)}), "CL_Stream::Read: reading object, found pointer"},
      {kFlagN, "CL_Stream::Read: invalid flag: 78"},
      {Bytes{'X', 0}, "CL_Stream::Read: invalid flag: 88"},
      {Bytes{0xFF, 0xFF}, "CL_Stream::Read: invalid flag: -1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.warning);
    WarningCapture capture;
    VectorStream in(c.bytes);
    Leaf target(4);
    EXPECT_FALSE(in.Read(target));
    EXPECT_EQ(target.value, 4);
    EXPECT_THAT(capture.texts(), testing::ElementsAre(c.warning));
  }
}

TEST(ObjectFormatTest, FailedPointerReadsAnswerNullAndLeaveNothingBehind) {
  struct Case {
    const char* name;
    Bytes bytes;
    const char* warning;  // or null
  };
  const Case cases[] = {
      {"no flag", Bytes{0x4F}, nullptr},
      {"unknown class", Cat({kFlagO, LE(4242), LE(4242)}), nullptr},
      {"unregistered class", Cat({kFlagO, LE(CL_ClassId_Object)}), nullptr},
      {"id cut short", Bytes{0x4F, 0, 0xE9, 3}, nullptr},
      {"body refused", LeafForm(-1), nullptr},
      {"body cut short", Bytes{0x4F, 0, 0xE9, 3, 0, 0, 0xE9, 3, 0, 0, 7}, nullptr},
      {"reference never read", Cat({kFlagR, LE(6)}), nullptr},
      {"negative reference", Cat({kFlagR, LE(-6)}), nullptr},
      {"reference cut short", Bytes{0x52, 0, 6, 0}, nullptr},
      {"invalid flag", Bytes{'Q', 0}, "CL_Stream::Read: invalid flag: 81"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WarningCapture capture;
    const int leaves = Leaf::live;
    VectorStream in(c.bytes);
    CL_Object* read = &in;
    EXPECT_FALSE(in.Read(read));
    EXPECT_EQ(read, nullptr);
    EXPECT_EQ(Leaf::live, leaves);
    if (c.warning != nullptr)
      EXPECT_THAT(capture.texts(), testing::ElementsAre(c.warning));
    else
      EXPECT_TRUE(capture.texts().empty());
  }
}

// ---------------------------------------------------------------------------------------
// Read journal

// The stream of an object graph: outer holder [inner holder [leaf 1, leaf 2], leaf 1 again
// (a back reference), leaf 3].
Bytes NestedGraph(CL_Long last_value) {
  Leaf one(1), two(2), three(last_value);
  Holder inner({&one, &two});
  Holder outer({&inner, &one, &three});
  return Written([&](CL_Stream& s) { s.Write(&outer); }, true);
}

TEST(ReadJournalTest, NestedGraphRoundTrips) {
  VectorStream in(NestedGraph(3));
  CL_Object* read = nullptr;
  ASSERT_TRUE(in.Read(read));
  auto* outer = dynamic_cast<Holder*>(read);
  ASSERT_NE(outer, nullptr);
  ASSERT_EQ(outer->items.size(), 3u);
  auto* inner = dynamic_cast<Holder*>(outer->items[0]);
  ASSERT_NE(inner, nullptr);
  ASSERT_EQ(inner->items.size(), 2u);
  EXPECT_EQ(outer->items[1], inner->items[0]);  // the back reference
  EXPECT_EQ(static_cast<Leaf*>(inner->items[1])->value, 2);
  EXPECT_EQ(static_cast<Leaf*>(outer->items[2])->value, 3);
  DeleteGraph(read);
  EXPECT_EQ(Leaf::live, 0);
  EXPECT_EQ(Holder::live, 0);
}

TEST(ReadJournalTest, AFailedReadDeletesEveryObjectCreatedInsideIt) {
  // The last leaf is refused after the inner holder and two leaves were created.
  VectorStream in(NestedGraph(-1));
  CL_Object* read = &in;
  EXPECT_FALSE(in.Read(read));
  EXPECT_EQ(read, nullptr);
  EXPECT_EQ(Leaf::live, 0);
  EXPECT_EQ(Holder::live, 0);
  EXPECT_EQ(in._ReadMark(), 0);
}

TEST(ReadJournalTest, EveryTruncationFailsWithoutLeaks) {
  const Bytes full = NestedGraph(3);
  for (std::size_t n = 0; n < full.size(); ++n) {
    SCOPED_TRACE(n);
    VectorStream in(Bytes(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(n)));
    CL_Object* read = &in;
    EXPECT_FALSE(in.Read(read));
    EXPECT_EQ(read, nullptr);
    EXPECT_EQ(Leaf::live, 0);
    EXPECT_EQ(Holder::live, 0);
  }
}

TEST(ReadJournalTest, AbandonedObjectsCannotBeReachedByALaterReference) {
  // Body of the first leaf: outer flag 2 + id 4, outer body id 4 + count 4, inner flag 2 +
  // id 4, inner body id 4 + count 4, leaf flag 2 + id 4.
  const CL_Long first_leaf_body = 2 + 4 + 4 + 4 + 2 + 4 + 4 + 4 + 2 + 4;
  const Bytes failing = NestedGraph(-1);
  VectorStream in(Cat({failing, kFlagR, LE(first_leaf_body)}));
  CL_Object* read = nullptr;
  EXPECT_FALSE(in.Read(read));
  ASSERT_TRUE(in.SeekTo(static_cast<CL_Long>(failing.size())));
  EXPECT_FALSE(in.Read(read));
  EXPECT_EQ(read, nullptr);

  // The same reference into a graph that was read whole does reach the leaf.
  const Bytes good = NestedGraph(3);
  VectorStream again(Cat({good, kFlagR, LE(first_leaf_body)}));
  CL_Object *root = nullptr, *leaf = nullptr;
  ASSERT_TRUE(again.Read(root));
  ASSERT_TRUE(again.Read(leaf));
  EXPECT_EQ(leaf, static_cast<Holder*>(static_cast<Holder*>(root)->items[0])->items[0]);
  DeleteGraph(root);
}

TEST(ReadJournalTest, ObjectsReadBeforeTheFailedReadSurviveIt) {
  Leaf kept(5), bad(-1);
  Holder holder({&kept, &bad});
  const Bytes bytes = Written(
      [&](CL_Stream& s) {
        s.Write(&kept);
        s.Write(&holder);  // refers to kept by a back reference
        s.Write(&kept);
      },
      true);
  const int baseline = Leaf::live;
  VectorStream in(bytes);
  CL_Object *first = nullptr, *failed = &in, *again = nullptr;
  ASSERT_TRUE(in.Read(first));
  EXPECT_FALSE(in.Read(failed));
  EXPECT_EQ(Leaf::live, baseline + 1);  // only the refused leaf was created and deleted
  ASSERT_TRUE(in.Read(again));
  EXPECT_EQ(again, first);
  delete first;
}

TEST(ReadJournalTest, CyclicGraphsDoNotRoundTrip) {
  // A body that refers to its own object finds no entry for it yet: the read fails whole.
  Leaf leaf(1);
  Holder cycle;
  cycle.items = {&leaf, &cycle};
  const Bytes bytes = Written([&](CL_Stream& s) { s.Write(&cycle); }, true);
  const int leaves = Leaf::live, holders = Holder::live;
  VectorStream in(bytes);
  CL_Object* read = &in;
  EXPECT_FALSE(in.Read(read));
  EXPECT_EQ(read, nullptr);
  EXPECT_EQ(Leaf::live, leaves);
  EXPECT_EQ(Holder::live, holders);
}

TEST(ReadJournalTest, AbandonReadOnlyGoesBackToTheMark) {
  VectorStream in(Cat({LeafForm(1), LeafForm(2), LeafForm(3)}));
  CL_Object *a = nullptr, *b = nullptr, *c = nullptr;
  ASSERT_TRUE(in.Read(a));
  const CL_Long mark = in._ReadMark();
  ASSERT_TRUE(in.Read(b) && in.Read(c));
  in._AbandonRead(mark);
  EXPECT_EQ(Leaf::live, 1);
  EXPECT_EQ(static_cast<Leaf*>(a)->value, 1);
  EXPECT_EQ(in._ReadMark(), mark);
  delete a;
}

}  // namespace
}  // namespace twcl_test
