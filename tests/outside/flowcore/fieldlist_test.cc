// Field lists: building and altering, lookups, walks, sequence numbers, copies, and merged
// views with their pairing modes, losses, operation filters and shared storage.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "field_test_util.h"
#include "flowcore.h"

namespace {

using twtest::List;
using twtest::Stream;
using twtest::TextOf;

// The entries of a list as "name@position" in order.
std::string Layout(TWFIELDLIST list) {
  std::string out;
  uint32_t n = TWFieldlistGetCount(list);
  for (uint32_t i = 1; i <= n; ++i) {
    Stream name;
    uint32_t position = 0;
    EXPECT_EQ(TWFieldlistGetName(list, i, 0, name.get()), 0u);
    EXPECT_EQ(TWFieldlistGetPosition(list, i, &position), 0u);
    if (!out.empty()) out += ' ';
    out += name.bytes() + "@" + std::to_string(position);
  }
  return out;
}

void SetText(TWFIELD f, uint32_t index, const char* text) {
  Stream s(text);
  ASSERT_EQ(TWFieldSetStream(f, index, s.get()), 0u);
}

TEST(FieldlistBuild, AppendedFieldsTakeTheListsRecordsAndFlags) {
  List list(3, TWFIELDF_TRUNC_PREC);
  for (uint32_t type = TWTYPE_INVALID; type <= TWTYPE_MAX; ++type)
    list.Add("f" + std::to_string(type), type);
  EXPECT_EQ(TWFieldlistGetCount(list), 8u);
  EXPECT_EQ(TWFieldlistGetRecordCount(list), 3u);
  for (uint32_t i = 1; i <= 8; ++i) {
    TWFIELD f = list.At(i);
    EXPECT_EQ(TWFieldGetType(f), i - 1);
    EXPECT_EQ(TWFieldGetValueCount(f), 3u);
    EXPECT_EQ(TWFieldGetFlags(f), uint32_t{TWFIELDF_TRUNC_PREC});
    EXPECT_EQ(TWFieldIsNull(f, 3), 1);
  }

  Stream name("bad");
  TWFIELD out = TWNULLHANDLE;
  EXPECT_EQ(TWFieldlistAppend(list, name.get(), TWTYPE_MAX + 1, &out), TWFAIL_INVALID_TYPE);
  EXPECT_EQ(TWFieldlistAppend(list, nullptr, TWTYPE_INT, &out), TWFAIL_NULL_FIELDNAME);
  EXPECT_EQ(TWFieldlistAppend(TWNULLHANDLE, name.get(), TWTYPE_INT, &out),
            TWFAIL_INVALID_FIELDLIST);
  EXPECT_EQ(TWFieldlistGetCount(list), 8u);
  EXPECT_EQ(TWFieldlistAppend(list, name.get(), TWTYPE_INT, nullptr), 0u);
  List huge(0xFFFFFFFFu);
  EXPECT_EQ(TWFieldlistAppend(huge, name.get(), TWTYPE_NUMERIC, &out), TWFAIL_MEMORY);
  EXPECT_EQ(TWFieldlistGetCount(huge), 0u);

  TWFIELDLIST bad = reinterpret_cast<TWFIELDLIST>(&name);
  EXPECT_EQ(TWFieldlistAlloc(&bad, 1, 0x8), TWFAIL_INVALID_FLAGS);
  EXPECT_EQ(bad, nullptr);
  EXPECT_EQ(TWFieldlistAlloc(nullptr, 1, 0), TWFAIL_NULL_RESULT);
  EXPECT_EQ(TWFieldlistFree(TWNULLHANDLE), 0u);
  EXPECT_EQ(TWFieldlistGetCount(TWNULLHANDLE), 0u);
  EXPECT_EQ(TWFieldlistGetRecordCount(TWNULLHANDLE), 0u);
  EXPECT_EQ(TWFieldlistGetSequence(TWNULLHANDLE), 0u);
}

TEST(FieldlistBuild, InsertReplaceRemoveAndIndexes) {
  List list(1);
  list.Add("b", TWTYPE_INT);
  Stream a("a"), c("c"), z("z");
  TWFIELD f = TWNULLHANDLE;
  ASSERT_EQ(TWFieldlistInsert(list, 1, a.get(), TWTYPE_TEXT, &f), 0u);
  ASSERT_EQ(TWFieldlistInsert(list, 3, c.get(), TWTYPE_FLOAT, nullptr), 0u);
  EXPECT_EQ(Layout(list), "a@1 b@2 c@3");
  EXPECT_EQ(list.At(1), f);

  ASSERT_EQ(TWFieldlistReplace(list, 2, z.get(), TWTYPE_DATETIME, &f), 0u);
  EXPECT_EQ(TWFieldGetType(f), uint32_t{TWTYPE_DATETIME});
  EXPECT_EQ(Layout(list), "a@1 z@2 c@3");
  ASSERT_EQ(TWFieldlistRemove(list, 1), 0u);
  EXPECT_EQ(Layout(list), "z@1 c@2");
  ASSERT_EQ(TWFieldlistSetName(list, 2, a.get()), 0u);
  EXPECT_EQ(Layout(list), "z@1 a@2");

  struct {
    const char* what;
    uint32_t got, want;
  } cases[] = {
      {"insert 0", TWFieldlistInsert(list, 0, a.get(), 1, nullptr), TWFAIL_ZERO_INDEX},
      {"insert gap", TWFieldlistInsert(list, 4, a.get(), 1, nullptr), TWFAIL_INVALID_INDEX},
      {"replace 3", TWFieldlistReplace(list, 3, a.get(), 1, nullptr), TWFAIL_INVALID_INDEX},
      {"remove 0", TWFieldlistRemove(list, 0), TWFAIL_ZERO_INDEX},
      {"remove 3", TWFieldlistRemove(list, 3), TWFAIL_INVALID_INDEX},
      {"name 3", TWFieldlistSetName(list, 3, a.get()), TWFAIL_INVALID_INDEX},
      {"name null", TWFieldlistSetName(list, 1, nullptr), TWFAIL_NULL_FIELDNAME},
      {"field 0", TWFieldlistGetField(list, 0, 0, &f, nullptr), TWFAIL_ZERO_INDEX},
      {"field 3", TWFieldlistGetField(list, 3, 0, &f, nullptr), TWFAIL_INVALID_INDEX},
      {"get name out", TWFieldlistGetName(list, 1, 0, nullptr), TWFAIL_NULL_RESULT},
      {"position out", TWFieldlistGetPosition(list, 1, nullptr), TWFAIL_NULL_RESULT},
      {"null list", TWFieldlistRemove(TWNULLHANDLE, 1), TWFAIL_INVALID_FIELDLIST},
  };
  for (const auto& row : cases) EXPECT_EQ(row.got, row.want) << row.what;
  EXPECT_EQ(Layout(list), "z@1 a@2");
}

TEST(FieldlistNames, LookupIgnoresCaseAndTakesTheFirst) {
  List list(1);
  list.Add("Amount", TWTYPE_INT);
  TWFIELD second = list.Add("AMOUNT", TWTYPE_INT);
  list.Add(
      "Stra\xC3\x9F"
      "e",
      TWTYPE_TEXT);
  struct {
    std::string name;
    uint32_t format, status, index;
  } cases[] = {
      {"amount", TWSTREAMFMT_NATIVE, 0, 1},
      {"aMoUnT", TWSTREAMFMT_QMBCS, 0, 1},
      {std::string("a\0m\0o\0u\0n\0t\0", 12), TWSTREAMFMT_UNICODE, 0, 1},
      {"STRA\xC3\x9F"
       "E",
       TWSTREAMFMT_NATIVE, 0, 3},
      {"amount ", TWSTREAMFMT_NATIVE, TWFAIL_INVALID_INDEX, 0},
      {"", TWSTREAMFMT_NATIVE, TWFAIL_INVALID_INDEX, 0},
  };
  for (const auto& c : cases) {
    Stream name(c.name, c.format);
    TWFIELD f = TWNULLHANDLE;
    uint32_t index = 0;
    EXPECT_EQ(TWFieldlistLookup(list, name.get(), &f, &index), c.status) << c.name;
    EXPECT_EQ(index, c.index) << c.name;
  }
  EXPECT_EQ(TWFieldlistLookup(list, nullptr, nullptr, nullptr), TWFAIL_NULL_FIELDNAME);

  // Renaming the first makes the second the first of its name.
  Stream other("other"), amount("amount");
  ASSERT_EQ(TWFieldlistSetName(list, 1, other.get()), 0u);
  TWFIELD f = TWNULLHANDLE;
  ASSERT_EQ(TWFieldlistLookup(list, amount.get(), &f, nullptr), 0u);
  EXPECT_EQ(f, second);
}

TEST(FieldlistNames, NamesInOtherFormatsAndTheLongest) {
  List list(1);
  list.Add("id", TWTYPE_INT);
  list.Add("n\xC3\xA4me", TWTYPE_TEXT);  // 5 bytes, 4 characters
  Stream wide;
  ASSERT_EQ(TWFieldlistGetName(list, 2, TWSTREAMFMT_UNICODE, wide.get()), 0u);
  EXPECT_EQ(wide.format(), uint32_t{TWSTREAMFMT_UNICODE});
  EXPECT_EQ(wide.bytes(), std::string("n\0\xE4\0m\0e\0", 8));
  Stream cp;
  TWFIELD f = TWNULLHANDLE;
  ASSERT_EQ(TWFieldlistGetField(list, 2, TWSTREAMFMT_CP1252, &f, cp.get()), 0u);
  EXPECT_EQ(cp.bytes(), "n\xE4me");
  EXPECT_EQ(TWFieldGetType(f), uint32_t{TWTYPE_TEXT});

  EXPECT_EQ(TWFieldlistGetNameLength(list, 0), 5u);
  EXPECT_EQ(TWFieldlistGetNameLength(list, TWSTREAMFMT_UNICODE), 8u);
  EXPECT_EQ(TWFieldlistGetNameLength(list, TWSTREAMFMT_CP1252), 4u);
  List empty(1);
  EXPECT_EQ(TWFieldlistGetNameLength(empty, 0), 0u);
  EXPECT_EQ(TWFieldlistGetNameLength(TWNULLHANDLE, 0), 0u);

  // A name given in another set is kept as the same text.
  Stream latin("gr\xFC\xDF", TWSTREAMFMT_ISO88591);
  ASSERT_EQ(TWFieldlistSetName(list, 1, latin.get()), 0u);
  EXPECT_EQ(list.Name(1), "gr\xC3\xBC\xC3\x9F");
}

TEST(FieldlistWalk, EntriesInOrderUntilTheEnd) {
  List list(2);
  TWFIELD a = list.Add("a", TWTYPE_INT);
  list.Add("b", TWTYPE_TEXT);
  ASSERT_EQ(TWFieldSetFlags(a, TWFIELDF_KEY), 0u);
  TWFIELD f = TWNULLHANDLE;
  uint32_t index = 0, type = 0, flags = 0;
  Stream name;
  EXPECT_EQ(TWFieldlistList(list, &f, &index, &type, &flags, name.get()), TWFAIL_LIST_SETUP);
  ASSERT_EQ(TWFieldlistListSetup(list, TWSTREAMFMT_UNICODE), 0u);
  ASSERT_EQ(TWFieldlistList(list, &f, &index, &type, &flags, name.get()), 0u);
  EXPECT_EQ(f, a);
  EXPECT_EQ(index, 1u);
  EXPECT_EQ(type, uint32_t{TWTYPE_INT});
  EXPECT_EQ(flags, uint32_t{TWFIELDF_KEY});
  EXPECT_EQ(name.bytes(), std::string("a\0", 2));
  ASSERT_EQ(TWFieldlistList(list, nullptr, &index, &type, nullptr, nullptr), 0u);
  EXPECT_EQ(index, 2u);
  EXPECT_EQ(type, uint32_t{TWTYPE_TEXT});
  EXPECT_EQ(TWFieldlistList(list, &f, &index, &type, &flags, name.get()), TWFAIL_END_OF_DATA);
  EXPECT_EQ(TWFieldlistList(list, &f, &index, &type, &flags, name.get()), TWFAIL_END_OF_DATA);

  // A new setup starts over, also after the names changed.
  Stream renamed("renamed");
  ASSERT_EQ(TWFieldlistSetName(list, 1, renamed.get()), 0u);
  ASSERT_EQ(TWFieldlistListSetup(list, TWSTREAMFMT_UNICODE), 0u);
  ASSERT_EQ(TWFieldlistList(list, nullptr, nullptr, nullptr, nullptr, name.get()), 0u);
  EXPECT_EQ(name.bytes(), std::string("r\0e\0n\0a\0m\0e\0d\0", 14));
  ASSERT_EQ(TWFieldlistListSetup(list, 0), 0u);
  ASSERT_EQ(TWFieldlistList(list, nullptr, nullptr, nullptr, nullptr, name.get()), 0u);
  EXPECT_EQ(name.bytes(), "renamed");
  EXPECT_EQ(name.format(), uint32_t{TWSTREAMFMT_QMBCS});
  EXPECT_EQ(TWFieldlistListSetup(TWNULLHANDLE, 0), TWFAIL_INVALID_FIELDLIST);
}

TEST(FieldlistSequence, RenewedByEveryChangeOfEntriesOrNamesOnly) {
  std::set<uint32_t> seen;
  List list(1);
  auto renewed = [&](const char* what) {
    uint32_t s = TWFieldlistGetSequence(list);
    EXPECT_NE(s, 0u) << what;
    EXPECT_TRUE(seen.insert(s).second) << what;
  };
  renewed("alloc");
  TWFIELD f = list.Add("a", TWTYPE_INT);
  renewed("append");
  Stream b("b");
  ASSERT_EQ(TWFieldlistInsert(list, 1, b.get(), TWTYPE_INT, nullptr), 0u);
  renewed("insert");
  ASSERT_EQ(TWFieldlistSetName(list, 1, b.get()), 0u);
  renewed("rename");
  ASSERT_EQ(TWFieldlistReplace(list, 1, b.get(), TWTYPE_TEXT, nullptr), 0u);
  renewed("replace");
  ASSERT_EQ(TWFieldlistRemove(list, 1), 0u);
  renewed("remove");

  uint32_t before = TWFieldlistGetSequence(list);
  int32_t v = 3;
  ASSERT_EQ(TWFieldSetInt(f, 1, &v), 0u);
  ASSERT_EQ(TWFieldSetFlags(f, TWFIELDF_KEY), 0u);
  ASSERT_EQ(TWFieldlistListSetup(list, 0), 0u);
  EXPECT_EQ(TWFieldlistGetSequence(list), before);

  // A list made where a freed one lay never shows an old number.
  for (int i = 0; i < 3; ++i) {
    TWFIELDLIST l = TWNULLHANDLE;
    ASSERT_EQ(TWFieldlistAlloc(&l, 1, 0), 0u);
    EXPECT_TRUE(seen.insert(TWFieldlistGetSequence(l)).second);
    ASSERT_EQ(TWFieldlistFree(l), 0u);
  }
}

TEST(FieldlistCopy, CopyIsDeepAndCopyRefShares) {
  List source(2);
  TWFIELD text = source.Add("t", TWTYPE_TEXT);
  ASSERT_EQ(TWFieldSetFormatStream(text, 0, 8, TWSTREAMFMT_NATIVE), 0u);
  ASSERT_EQ(TWFieldSetFlags(text, TWFIELDF_NO_NULL), 0u);
  SetText(text, 2, "two");

  List copy(5);
  copy.Add("old", TWTYPE_INT);
  ASSERT_EQ(TWFieldlistCopy(copy, source), 0u);
  EXPECT_EQ(Layout(copy), "t@1");
  EXPECT_EQ(TWFieldlistGetRecordCount(copy), 2u);
  TWFIELD copied = copy.At(1);
  EXPECT_NE(copied, text);
  EXPECT_EQ(TWFieldGetFlags(copied), uint32_t{TWFIELDF_NO_NULL});
  EXPECT_EQ(TextOf(copied, 2), "two");
  EXPECT_EQ(TWFieldFree(copied), TWFAIL_INVALID_FIELD);
  SetText(text, 2, "changed");
  EXPECT_EQ(TextOf(copied, 2), "two");

  List ref(1);
  ASSERT_EQ(TWFieldlistCopyRef(ref, source), 0u);
  EXPECT_EQ(Layout(ref), "t@1");
  EXPECT_EQ(ref.At(1), text);
  EXPECT_EQ(TWFieldlistGetRecordCount(ref), 2u);
  // Both sides are now bound to each other's layout.
  Stream n("n");
  EXPECT_EQ(TWFieldlistAppend(ref, n.get(), TWTYPE_INT, nullptr), TWFAIL_FIELDLIST_REF);
  EXPECT_EQ(TWFieldlistAppend(source, n.get(), TWTYPE_INT, nullptr), TWFAIL_FIELDLIST_REF);
  EXPECT_EQ(TWFieldlistCopy(source, copy), TWFAIL_FIELDLIST_REF);
  ASSERT_EQ(TWFieldlistFree(ref.release()), 0u);
  EXPECT_EQ(TWFieldlistAppend(source, n.get(), TWTYPE_INT, nullptr), 0u);
  EXPECT_EQ(TWFieldlistCopy(TWNULLHANDLE, source), TWFAIL_INVALID_FIELDLIST);
}

// A data list "ID, Name, Price, Stamp" with two records and the given field flags, and a
// name-only list.
struct Lists {
  List data{2};
  TWFIELD id, name, price, stamp;
  Lists() {
    id = data.Add("ID", TWTYPE_INT);
    name = data.Add("Name", TWTYPE_TEXT);
    price = data.Add("Price", TWTYPE_FLOAT);
    stamp = data.Add("Stamp", TWTYPE_DATETIME);
  }
};

List Names(std::initializer_list<const char*> names) {
  List l(0);
  for (const char* n : names) l.Add(n, TWTYPE_INT);
  return l;
}

TEST(FieldlistMerge, PairsByPositionOrByNameWithLosses) {
  Lists lists;
  struct Case {
    std::vector<const char*> names;
    uint32_t flags, status;
    const char* layout;
  } cases[] = {
      // By position: names i and data i; data beyond the names stays under its own name.
      {{"a", "b", "c", "d"}, 0, 0, "a@1 b@2 c@3 d@4"},
      {{"a", "b"}, 0, 0, "a@1 b@2 Price@3 Stamp@4"},
      {{"a", "b"}, TWMERGEF_DATA_LOSS, 0, "a@1 b@2"},
      {{"a", "b", "c", "d", "e"}, 0, TWFAIL_MERGE_FIELD, ""},
      {{"a", "b", "c", "d", "e"}, TWMERGEF_NAME_LOSS, 0, "a@1 b@2 c@3 d@4"},
      // By name, ignoring case; the view follows the name list.
      {{"price", "id", "STAMP", "name"}, TWMERGEF_MAP_NAME, 0, "price@1 id@2 STAMP@3 name@4"},
      {{"price", "id"}, TWMERGEF_MAP_NAME, TWFAIL_MERGE_FIELD, ""},
      {{"price", "id"}, TWMERGEF_MAP_NAME | TWMERGEF_DATA_LOSS, 0, "price@1 id@2"},
      {{"x", "price", "id", "name", "stamp"}, TWMERGEF_MAP_NAME, TWFAIL_MERGE_FIELD, ""},
      {{"x", "price", "id", "name", "stamp"},
       TWMERGEF_MAP_NAME | TWMERGEF_NAME_LOSS,
       0,
       "price@2 id@3 name@4 stamp@5"},
      {{"x", "price"}, TWMERGEF_MAP_NAME | TWMERGEF_NAME_LOSS | TWMERGEF_DATA_LOSS, 0, "price@2"},
      {{}, TWMERGEF_DATA_LOSS, 0, ""},
  };
  for (const Case& c : cases) {
    List names(0);
    for (const char* n : c.names) names.Add(n, TWTYPE_INT);
    std::string label =
        "flags " + std::to_string(c.flags) + " names " + std::to_string(c.names.size());
    TWFIELDLIST merged = reinterpret_cast<TWFIELDLIST>(&lists);
    EXPECT_EQ(TWFieldlistMerge(&merged, names, lists.data, c.flags), c.status) << label;
    if (c.status != 0) {
      EXPECT_EQ(merged, nullptr) << label;
      continue;
    }
    List view(merged, true);
    EXPECT_EQ(Layout(view), c.layout) << label;
    EXPECT_EQ(TWFieldlistGetRecordCount(view), 2u);
  }
}

TEST(FieldlistMerge, ViewSharesValuesFlagsAndFormatsWithTheData) {
  Lists lists;
  List names = Names({"price", "name"});
  List view(TWNULLHANDLE, true);
  ASSERT_EQ(TWFieldlistMerge(view.out(), names, lists.data, TWMERGEF_MAP_NAME | TWMERGEF_DATA_LOSS),
            0u);
  EXPECT_EQ(view.At(1), lists.price);
  EXPECT_EQ(view.At(2), lists.name);

  double p = 9.5;
  ASSERT_EQ(TWFieldSetFloat(view.At(1), 2, &p), 0u);
  EXPECT_EQ(TextOf(lists.price, 2), "9.5");
  void* slot = nullptr;
  ASSERT_EQ(TWFieldGetBuffer(lists.name, 1, &slot, nullptr), 0u);
  SetText(view.At(2), 1, "through the view");
  EXPECT_EQ(static_cast<TWStream*>(slot)->length, 16u);

  ASSERT_EQ(TWFieldSetFlags(lists.price, TWFIELDF_KEY), 0u);
  ASSERT_EQ(TWFieldSetFormatStream(view.At(2), 0, 40, TWSTREAMFMT_NATIVE), 0u);
  uint32_t flags = 0, maxLength = 0;
  ASSERT_EQ(TWFieldlistListSetup(view, 0), 0u);
  ASSERT_EQ(TWFieldlistList(view, nullptr, nullptr, nullptr, &flags, nullptr), 0u);
  EXPECT_EQ(flags, uint32_t{TWFIELDF_KEY});
  ASSERT_EQ(TWFieldGetFormatStream(lists.name, nullptr, &maxLength, nullptr), 0u);
  EXPECT_EQ(maxLength, 40u);

  // A view has its own names, order and sequence.
  Stream renamed("cost");
  ASSERT_EQ(TWFieldlistSetName(view, 1, renamed.get()), 0u);
  EXPECT_EQ(view.Name(1), "cost");
  EXPECT_EQ(lists.data.Name(3), "Price");
  EXPECT_NE(TWFieldlistGetSequence(view), TWFieldlistGetSequence(lists.data));
}

TEST(FieldlistMerge, OperationFlagsLeaveFieldsOutWithoutAPosition) {
  Lists lists;
  // A control column ahead of the data columns, not to be written.
  ASSERT_EQ(TWFieldSetFlags(lists.id, TWFIELDF_NO_INSERT | TWFIELDF_NO_UPDATE | TWFIELDF_NO_REMOVE |
                                          TWFIELDF_NO_CREATE),
            0u);
  ASSERT_EQ(TWFieldSetFlags(lists.price, TWFIELDF_KEY | TWFIELDF_NO_UPDATE), 0u);
  List columns = Names({"c1", "c2", "c3"});
  struct {
    uint32_t flags;
    const char* layout;
  } cases[] = {
      {TWMERGEF_INSERT | TWMERGEF_NAME_LOSS, "c1@1 c2@2 c3@3"},
      {TWMERGEF_FETCH | TWMERGEF_NAME_LOSS, "c1@1 c2@2 c3@3 Stamp@4"},
      {TWMERGEF_UPDATE | TWMERGEF_NAME_LOSS, "c1@1 c2@2"},
      {TWMERGEF_UPDATE | TWMERGEF_KEY | TWMERGEF_NAME_LOSS, "c1@1 c2@2 c3@3"},
  };
  for (const auto& c : cases) {
    List view(TWNULLHANDLE, true);
    ASSERT_EQ(TWFieldlistMerge(view.out(), columns, lists.data, c.flags), 0u) << c.flags;
    EXPECT_EQ(Layout(view), c.layout) << c.flags;
  }
  // Under INSERT the first written field is Name, under UPDATE|KEY the key Price comes back.
  List insert(TWNULLHANDLE, true), update(TWNULLHANDLE, true);
  ASSERT_EQ(TWFieldlistMerge(insert.out(), columns, lists.data, TWMERGEF_INSERT), 0u);
  EXPECT_EQ(insert.At(1), lists.name);
  ASSERT_EQ(TWFieldlistMerge(update.out(), columns, lists.data,
                             TWMERGEF_UPDATE | TWMERGEF_KEY | TWMERGEF_NAME_LOSS),
            0u);
  EXPECT_EQ(update.At(1), lists.name);
  EXPECT_EQ(update.At(2), lists.price);

  // By name the same filter applies before pairing: a left-out field has no name to match.
  List byName = Names({"ID", "Name"});
  List merged(TWNULLHANDLE, true);
  EXPECT_EQ(TWFieldlistMerge(merged.out(), byName, lists.data,
                             TWMERGEF_MAP_NAME | TWMERGEF_DATA_LOSS | TWMERGEF_INSERT),
            TWFAIL_MERGE_FIELD);
}

TEST(FieldlistMerge, BadArgumentsLeaveNoHandle) {
  Lists lists;
  List names = Names({"a"});
  List nameOnly(0);
  nameOnly.Add("x", TWTYPE_INT);
  TWFIELDLIST merged = reinterpret_cast<TWFIELDLIST>(&lists);
  EXPECT_EQ(TWFieldlistMerge(&merged, names, nameOnly, 0), TWFAIL_NO_MERGE_DATA);
  EXPECT_EQ(merged, nullptr);
  merged = reinterpret_cast<TWFIELDLIST>(&lists);
  EXPECT_EQ(TWFieldlistMerge(&merged, TWNULLHANDLE, lists.data, 0), TWFAIL_INVALID_FIELDLIST);
  EXPECT_EQ(merged, nullptr);
  EXPECT_EQ(TWFieldlistMerge(&merged, names, TWNULLHANDLE, 0), TWFAIL_INVALID_FIELDLIST);
  EXPECT_EQ(TWFieldlistMerge(&merged, names, lists.data, 0x8), TWFAIL_INVALID_FLAGS);
  EXPECT_EQ(TWFieldlistMerge(nullptr, names, lists.data, 0), TWFAIL_NULL_RESULT);
  TWFIELDLIST virt = reinterpret_cast<TWFIELDLIST>(&lists);
  EXPECT_EQ(TWFieldlistMergeVirtual(&merged, names, nameOnly, 0, 0x10000, &virt),
            TWFAIL_NO_MERGE_DATA);
  EXPECT_EQ(virt, nullptr);
  EXPECT_EQ(TWFieldlistMergeVirtual(&merged, names, lists.data, 0, 0x10000, nullptr),
            TWFAIL_NULL_RESULT);
}

TEST(FieldlistMerge, ViewOutlivesItsDataList) {
  TWFIELDLIST view = TWNULLHANDLE, viewOfView = TWNULLHANDLE;
  TWFIELD price = TWNULLHANDLE;
  {
    Lists lists;
    price = lists.price;
    SetText(lists.name, 2, "kept");
    List names = Names({"n", "p"});
    ASSERT_EQ(TWFieldlistMerge(&view, names, lists.data,
                               TWMERGEF_MAP_NAME | TWMERGEF_NAME_LOSS | TWMERGEF_DATA_LOSS),
              0u);
    ASSERT_EQ(TWFieldlistGetCount(view), 0u);
    TWFieldlistFree(view);
    List byPosition = Names({"n", "p"});
    ASSERT_EQ(TWFieldlistMerge(&view, byPosition, lists.data, TWMERGEF_DATA_LOSS), 0u);
    // Merging a view again points at the data list's own fields.
    List again = Names({"x"});
    ASSERT_EQ(TWFieldlistMerge(&viewOfView, again, view, TWMERGEF_NAME_LOSS), 0u);
  }  // the data list and its names are freed here
  TWFIELD n = TWNULLHANDLE;
  ASSERT_EQ(TWFieldlistGetField(view, 2, 0, &n, nullptr), 0u);
  EXPECT_EQ(TextOf(n, 2), "kept");
  SetText(n, 1, "still writable");
  EXPECT_EQ(TextOf(n, 1), "still writable");
  EXPECT_EQ(TWFieldlistGetRecordCount(view), 2u);
  TWFIELD first = TWNULLHANDLE;
  ASSERT_EQ(TWFieldlistGetField(viewOfView, 1, 0, &first, nullptr), 0u);
  int32_t v = 11;
  EXPECT_EQ(TWFieldSetInt(first, 1, &v), 0u);
  EXPECT_NE(first, price);
  ASSERT_EQ(TWFieldlistFree(view), 0u);
  EXPECT_EQ(TextOf(first, 1), "11");
  ASSERT_EQ(TWFieldlistFree(viewOfView), 0u);
}

TEST(FieldlistMerge, ViewedListsRefuseAlterationUntilTheViewsGo) {
  Lists lists;
  List names = Names({"a", "b", "c", "d"});
  TWFIELDLIST view = TWNULLHANDLE, second = TWNULLHANDLE;
  ASSERT_EQ(TWFieldlistMerge(&view, names, lists.data, 0), 0u);
  ASSERT_EQ(TWFieldlistMerge(&second, names, view, 0), 0u);
  Stream n("n");
  for (TWFIELDLIST l : {static_cast<TWFIELDLIST>(lists.data), view, second}) {
    EXPECT_EQ(TWFieldlistAppend(l, n.get(), TWTYPE_INT, nullptr), TWFAIL_FIELDLIST_REF);
    EXPECT_EQ(TWFieldlistInsert(l, 1, n.get(), TWTYPE_INT, nullptr), TWFAIL_FIELDLIST_REF);
    EXPECT_EQ(TWFieldlistReplace(l, 1, n.get(), TWTYPE_INT, nullptr), TWFAIL_FIELDLIST_REF);
    EXPECT_EQ(TWFieldlistRemove(l, 1), TWFAIL_FIELDLIST_REF);
    EXPECT_EQ(TWFieldlistCopy(l, names), TWFAIL_FIELDLIST_REF);
    EXPECT_EQ(TWFieldlistCopyRef(l, names), TWFAIL_FIELDLIST_REF);
    EXPECT_EQ(TWFieldlistSetName(l, 1, n.get()), 0u);
  }
  // The name list is only read.
  EXPECT_EQ(TWFieldlistAppend(names, n.get(), TWTYPE_INT, nullptr), 0u);
  ASSERT_EQ(TWFieldlistFree(view), 0u);
  EXPECT_EQ(TWFieldlistRemove(lists.data, 1), TWFAIL_FIELDLIST_REF);
  ASSERT_EQ(TWFieldlistFree(second), 0u);
  EXPECT_EQ(TWFieldlistRemove(lists.data, 1), 0u);
}

TEST(FieldlistMerge, MappedThroughTwoStagesAsATransferDoes) {
  // Source names pick and order the source's columns by name; destination names rename
  // them by position; a connector then pairs its columns with the result by position.
  Lists lists;
  List srcNames = Names({"price", "id"});
  List destNames = Names({"Cost", "Key"});
  List mappedSource(TWNULLHANDLE, true), mappedDest(TWNULLHANDLE, true);
  ASSERT_EQ(TWFieldlistMerge(mappedSource.out(), srcNames, lists.data,
                             TWMERGEF_MAP_NAME | TWMERGEF_DATA_LOSS),
            0u);
  ASSERT_EQ(TWFieldlistMerge(mappedDest.out(), destNames, mappedSource, TWMERGEF_DATA_LOSS), 0u);
  EXPECT_EQ(Layout(mappedDest), "Cost@1 Key@2");
  EXPECT_EQ(mappedDest.At(1), lists.price);

  List columns = Names({"KEYCOL", "COST", "EXTRA"});
  List fetch(TWNULLHANDLE, true);
  ASSERT_EQ(TWFieldlistMerge(fetch.out(), columns, mappedDest,
                             TWMERGEF_FETCH | TWMERGEF_NAME_LOSS | TWMERGEF_MAP_NAME),
            TWFAIL_MERGE_FIELD);
  List byName = Names({"key", "cost", "extra"});
  ASSERT_EQ(TWFieldlistMerge(fetch.out(), byName, mappedDest,
                             TWMERGEF_FETCH | TWMERGEF_NAME_LOSS | TWMERGEF_MAP_NAME),
            0u);
  EXPECT_EQ(Layout(fetch), "key@1 cost@2");
  EXPECT_EQ(fetch.At(1), lists.id);

  // Walk positions are the column numbers the connectors bind.
  ASSERT_EQ(TWFieldlistListSetup(fetch, TWSTREAMFMT_NATIVE), 0u);
  std::vector<uint32_t> positions;
  uint32_t position = 0;
  while (TWFieldlistList(fetch, nullptr, &position, nullptr, nullptr, nullptr) == 0)
    positions.push_back(position);
  EXPECT_EQ(positions, (std::vector<uint32_t>{1, 2}));
}

TEST(FieldlistMerge, VirtualFieldsGoToTheirOwnView) {
  Lists lists;
  TWFIELD own1 = lists.data.Add("NoteId", TWTYPE_INT);
  TWFIELD own2 = lists.data.Add("Form", TWTYPE_TEXT);
  ASSERT_EQ(TWFieldSetVirtualCode(own1, 0x00070000), 0u);
  ASSERT_EQ(TWFieldSetVirtualCode(own2, 0x00070000), 0u);
  TWFIELD foreign = lists.data.Add("Other", TWTYPE_INT);
  ASSERT_EQ(TWFieldSetVirtualCode(foreign, 0x00080000), 0u);

  List names = Names({"id", "name", "price", "stamp", "other"});
  List merged(TWNULLHANDLE, true), virt(TWNULLHANDLE, true);
  ASSERT_EQ(TWFieldlistMergeVirtual(merged.out(), names, lists.data, TWMERGEF_MAP_NAME, 0x00071234,
                                    virt.out()),
            0u);
  EXPECT_EQ(Layout(merged), "id@1 name@2 price@3 stamp@4 other@5");
  EXPECT_EQ(Layout(virt), "NoteId@1 Form@2");
  EXPECT_EQ(virt.At(2), own2);

  // A code with no link part names no virtual field; in a plain merge they are ordinary.
  List none(TWNULLHANDLE, true), noVirt(TWNULLHANDLE, true);
  ASSERT_EQ(TWFieldlistMergeVirtual(none.out(), lists.data, lists.data, 0, 0x1234, noVirt.out()),
            0u);
  EXPECT_EQ(TWFieldlistGetCount(none), 7u);
  EXPECT_EQ(TWFieldlistGetCount(noVirt), 0u);
  List plain(TWNULLHANDLE, true);
  EXPECT_EQ(TWFieldlistMerge(plain.out(), names, lists.data, TWMERGEF_MAP_NAME),
            TWFAIL_MERGE_FIELD);
}

}  // namespace
