// The replication's ordered store of one side: records added in any order come back in the
// order of TWFieldCompare on their keys, through blocks in memory and merged temporary files;
// two records whose keys compare equal are found before any record is given back; and the
// memory it takes does not grow with the records it holds.
#include "record_store.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <numeric>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "flowcore.h"
#include "flowcore_ptr.h"

namespace {

using tw::replica::RecordStore;

// A side's record: a text key (null when absent) and a text value.
struct Record {
  std::optional<std::string> key;
  std::string value;
};

class RecordStoreTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_NO_FATAL_FAILURE(MakeList(1, &list_, &fields_)); }
  // A list of records records with the text fields k and v.
  static void MakeList(uint32_t records, flowcore::FieldlistPtr* list,
                       std::vector<TWFIELD>* fields) {
    ASSERT_EQ(TWFieldlistAlloc(flowcore::Out(*list), records, 0), TWSUCCESS);
    for (const char* name : {"k", "v"}) {
      flowcore::StreamData text(TWSTREAMFMT_NATIVE);
      ASSERT_EQ(text.Set(TWSTREAMFMT_NATIVE, name), TWSUCCESS);
      TWFIELD field = TWNULLHANDLE;
      ASSERT_EQ(TWFieldlistAppend(list->get(), text.get(), TWTYPE_TEXT, &field), TWSUCCESS);
      fields->push_back(field);
    }
  }
  void Set(TWFIELD field, const std::optional<std::string>& text) {
    if (!text) {
      ASSERT_EQ(TWFieldSetNull(field, 1, 1), TWSUCCESS);
      return;
    }
    flowcore::StreamData stream(TWSTREAMFMT_NATIVE);
    ASSERT_EQ(stream.Set(TWSTREAMFMT_NATIVE, *text), TWSUCCESS);
    ASSERT_EQ(TWFieldSetStream(field, 1, stream.get()), TWSUCCESS);
  }
  std::string Get(TWFIELD field) {
    if (TWFieldIsNull(field, 1)) return "(null)";
    flowcore::StreamData stream(TWSTREAMFMT_NATIVE);
    EXPECT_EQ(TWFieldGetStream(field, 1, TWSTREAMFMT_NATIVE, stream.get(), nullptr), TWSUCCESS);
    return std::string(stream.view());
  }
  // Adds the records; whether a key came twice (the key then in *twiceKey).
  bool Fill(RecordStore& store, const std::vector<Record>& records, std::string* twiceKey) {
    bool twice = false;
    for (const Record& r : records) {
      Set(fields_[0], r.key);
      Set(fields_[1], r.value);
      EXPECT_EQ(store.Add(&twice), TWSUCCESS);
      if (twice) break;
    }
    if (!twice) {
      EXPECT_EQ(store.Finish(&twice), TWSUCCESS);
    }
    if (twice) *twiceKey = Get(fields_[0]);
    return twice;
  }
  // What the store gives back, "key=value" each.
  std::vector<std::string> Drain(RecordStore& store) {
    std::vector<std::string> out;
    for (;;) {
      bool end = false;
      EXPECT_EQ(store.Next(&end), TWSUCCESS);
      if (end) return out;
      out.push_back(Get(fields_[0]) + "=" + Get(fields_[1]));
    }
  }

  flowcore::FieldlistPtr list_;
  std::vector<TWFIELD> fields_;
};

// Keys numbered in read order; mixed case alternates k and K, which the comparison does not
// hold in that order.
std::vector<Record> Numbered(int count, bool mixedCase = true) {
  std::vector<Record> records;
  for (int i = 0; i < count; ++i) {
    char key[16];
    std::snprintf(key, sizeof key, "%c%06d", mixedCase && i % 2 != 0 ? 'K' : 'k', i);
    records.push_back({key, std::to_string(i)});
  }
  return records;
}

// In the engine's order: null first, then by character (upper case before lower).
std::vector<std::string> Expected(std::vector<Record> records) {
  std::sort(records.begin(), records.end(),
            [](const Record& a, const Record& b) { return a.key < b.key; });
  std::vector<std::string> out;
  for (const Record& r : records) out.push_back((r.key ? *r.key : "(null)") + "=" + r.value);
  return out;
}

TEST_F(RecordStoreTest, GivesRecordsBackInTheComparisonsOrder) {
  std::vector<Record> shuffled = Numbered(3000);
  std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937(7));
  std::vector<Record> lateFall = Numbered(3000, false);
  lateFall.push_back({"a", "first"});
  std::vector<Record> reversed = Numbered(3000);
  std::reverse(reversed.begin(), reversed.end());
  struct Case {
    const char* name;
    std::vector<Record> records;
    size_t block;
  };
  const Case cases[] = {
      {"mixed case and a null key, in memory",
       {{"c", "3"}, {"B", "2"}, {std::nullopt, "0"}, {"a", "1"}, {"D", "4"}},
       1 << 20},
      {"already in order, through a file", Numbered(3000, false), 1024},
      {"mixed case, many files merged in two rounds", Numbered(3000), 1024},
      {"in order but for the last, the file as read merged with it", lateFall, 1024},
      {"reversed, many files merged in two rounds", reversed, 1024},
      {"shuffled, many files merged in two rounds", shuffled, 1024},
      {"nothing", {}, 1024},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RecordStore store(fields_, {fields_[0]}, 0, c.block);
    std::string key;
    ASSERT_FALSE(Fill(store, c.records, &key)) << key;
    EXPECT_EQ(Drain(store), Expected(c.records));
  }
}

TEST_F(RecordStoreTest, FindsTwoRecordsOfOneKeyBeforeGivingAnyBack) {
  std::vector<Record> apart = Numbered(3000);
  apart.push_back({"K000123", "again"});  // its twin went to a file long before
  std::vector<Record> inBlock = Numbered(20);
  std::reverse(inBlock.begin(), inBlock.end());
  inBlock.insert(inBlock.begin() + 5, {"k000002", "again"});
  struct Case {
    const char* name;
    std::vector<Record> records;
    size_t block;
    std::string key;
  };
  const Case cases[] = {
      {"one after the other", {{"a", "1"}, {"b", "2"}, {"b", "3"}}, 1024, "b"},
      {"two nulls", {{std::nullopt, "1"}, {"a", "2"}, {std::nullopt, "3"}}, 1 << 20, "(null)"},
      {"within an unordered block", inBlock, 1 << 20, "k000002"},
      {"in two files", apart, 1024, "K000123"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RecordStore store(fields_, {fields_[0]}, 0, c.block);
    std::string key;
    EXPECT_TRUE(Fill(store, c.records, &key));
    EXPECT_EQ(key, c.key);
  }
}

// Records handed over a block of slots at a time, as the replication fetches them: the same
// order and the same twins as one at a time, a twin shown in slot 1 whichever slot it came in.
TEST_F(RecordStoreTest, TakesRecordsABlockOfSlotsAtATime) {
  constexpr uint32_t kSlots = 7;
  flowcore::FieldlistPtr list;
  std::vector<TWFIELD> fields;
  ASSERT_NO_FATAL_FAILURE(MakeList(kSlots, &list, &fields));
  auto set = [](TWFIELD field, uint32_t slot, const std::optional<std::string>& text) {
    if (!text) return TWFieldSetNull(field, slot, 1);
    flowcore::StreamData stream(TWSTREAMFMT_NATIVE);
    if (uint32_t status = stream.Set(TWSTREAMFMT_NATIVE, *text)) return status;
    return TWFieldSetStream(field, slot, stream.get());
  };
  std::vector<Record> mixed = Numbered(300);
  for (const Record& r : std::vector<Record>{
           {"ärger", "umlaut"}, {"日本", "kanji"}, {std::nullopt, "null"}, {"Zoë", "diaeresis"}})
    mixed.push_back(r);
  std::shuffle(mixed.begin(), mixed.end(), std::mt19937(5));
  std::vector<Record> twinFirstOfBlock = Numbered(kSlots);
  twinFirstOfBlock.push_back(twinFirstOfBlock.back());
  std::vector<Record> twinInBlock = Numbered(kSlots + 3);
  twinInBlock.insert(twinInBlock.begin() + kSlots + 2, {"k000008", "again"});
  struct Case {
    const char* name;
    std::vector<Record> records;
    size_t block;
    std::string twin;  // empty: none
  };
  const Case cases[] = {
      {"shuffled, multi-byte and null keys, through files", mixed, 1024, ""},
      {"in order, in memory", Numbered(kSlots * 3 + 2, false), 1 << 20, ""},
      {"a twin first in its block", twinFirstOfBlock, 1 << 20, "k000006"},
      {"a twin later in its block", twinInBlock, 1 << 20, "k000008"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RecordStore store(fields, {fields[0]}, 0, c.block);
    bool twice = false;
    for (size_t from = 0; from < c.records.size() && !twice; from += kSlots) {
      const auto count = static_cast<uint32_t>(std::min<size_t>(kSlots, c.records.size() - from));
      for (uint32_t slot = 1; slot <= count; ++slot) {
        ASSERT_EQ(set(fields[0], slot, c.records[from + slot - 1].key), TWSUCCESS);
        ASSERT_EQ(set(fields[1], slot, c.records[from + slot - 1].value), TWSUCCESS);
      }
      ASSERT_EQ(store.AddBlock(count, &twice), TWSUCCESS);
    }
    if (!twice) ASSERT_EQ(store.Finish(&twice), TWSUCCESS);
    if (!c.twin.empty()) {
      EXPECT_TRUE(twice);
      EXPECT_EQ(Get(fields[0]), c.twin);
      continue;
    }
    ASSERT_FALSE(twice);
    std::vector<std::string> out;
    for (bool end = false;;) {
      ASSERT_EQ(store.Next(&end), TWSUCCESS);
      if (end) break;
      out.push_back(Get(fields[0]) + "=" + Get(fields[1]));
    }
    EXPECT_EQ(out, Expected(c.records));
  }
}

long PeakKiB() {
  struct rusage usage {};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

// 100,000 records of 400 bytes (40 MB), shuffled: the store's peak stays a few blocks. The
// sanitizer keeps freed memory aside, so there only the order is checked.
TEST_F(RecordStoreTest, MemoryDoesNotGrowWithTheRecords) {
  std::vector<int> order(100000);
  std::iota(order.begin(), order.end(), 0);
  std::shuffle(order.begin(), order.end(), std::mt19937(11));
  [[maybe_unused]] const long before = PeakKiB();
  RecordStore store(fields_, {fields_[0]}, 0, size_t{4} << 20);
  bool twice = false;
  const std::string filler(400, 'v');
  for (int i : order) {
    char key[16];
    std::snprintf(key, sizeof key, "%c%06d", i % 2 == 0 ? 'k' : 'K', i);
    Set(fields_[0], std::string(key));
    Set(fields_[1], filler);
    ASSERT_EQ(store.Add(&twice), TWSUCCESS);
    ASSERT_FALSE(twice);
  }
  ASSERT_EQ(store.Finish(&twice), TWSUCCESS);
  ASSERT_FALSE(twice);
  std::string last;
  size_t count = 0;
  for (bool end = false;;) {
    ASSERT_EQ(store.Next(&end), TWSUCCESS);
    if (end) break;
    const std::string key = Get(fields_[0]);
    ASSERT_LT(last, key);
    last = key;
    ++count;
  }
  EXPECT_EQ(count, order.size());
#if !defined(__SANITIZE_ADDRESS__)
  EXPECT_LT(PeakKiB() - before, 24 * 1024);
#endif
}

}  // namespace
