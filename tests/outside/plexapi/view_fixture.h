// A session on a fresh data root with one open database, and small builders of documents,
// views and index walks, for the design and index tests. The fixture runs each test on both
// stores: a database file of a directory server and a database of a server the server map
// holds in PostgreSQL (the test command's private cluster; skipped without TW_PG_PORT).
#ifndef TW_TESTS_OUTSIDE_PLEXAPI_VIEW_FIXTURE_H_
#define TW_TESTS_OUTSIDE_PLEXAPI_VIEW_FIXTURE_H_

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "plexapi.h"
#include "store_fixture.h"

namespace viewtest {

using storetest::Engine;
using storetest::TestServer;

// One item to put: a text, a number, a time, a text list or a number list.
struct It {
  std::string name;
  uint32_t kind = GVTYPE_TEXT;
  std::string text;
  double number = 0;
  GVTIMEDATE time{};
  std::vector<std::string> texts;
  std::vector<double> numbers;
};
inline It Text(std::string name, std::string v) {
  It i;
  i.name = std::move(name);
  i.text = std::move(v);
  return i;
}
inline It Num(std::string name, double v) {
  It i;
  i.name = std::move(name);
  i.kind = GVTYPE_NUMBER;
  i.number = v;
  return i;
}
inline It Time(std::string name, GVTIMEDATE v) {
  It i;
  i.name = std::move(name);
  i.kind = GVTYPE_TIME;
  i.time = v;
  return i;
}
inline It TextList(std::string name, std::vector<std::string> v) {
  It i;
  i.name = std::move(name);
  i.kind = GVTYPE_TEXT_LIST;
  i.texts = std::move(v);
  return i;
}
inline It NumList(std::string name, std::vector<double> v) {
  It i;
  i.name = std::move(name);
  i.kind = GVTYPE_NUMBER_LIST;
  i.numbers = std::move(v);
  return i;
}

// A date-time from parts in the given zone (hours east), no daylight saving.
inline GVTIMEDATE At(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int zone = 0) {
  GVTIMEPARTS p{y, mo, d, 0, h, mi, s, 0, 0, zone};
  GVTIMEDATE t{};
  EXPECT_EQ(GVDatetimeCreate(&p, &t), 0u);
  return t;
}

inline uint32_t PutItem(GVDOC doc, const It& it) {
  std::string bytes;
  auto u16 = [&](size_t v) {
    bytes.push_back(static_cast<char>(v & 0xFF));
    bytes.push_back(static_cast<char>(v >> 8));
  };
  switch (it.kind) {
    case GVTYPE_NUMBER:
      return GVItemPut(doc, it.name.c_str(), 0, 0, GVTYPE_NUMBER, &it.number, 0);
    case GVTYPE_TIME:
      return GVItemPut(doc, it.name.c_str(), 0, 0, GVTYPE_TIME, &it.time, 0);
    case GVTYPE_TEXT_LIST:
      u16(it.texts.size());
      for (const std::string& t : it.texts) u16(t.size());
      for (const std::string& t : it.texts) bytes += t;
      return GVItemPut(doc, it.name.c_str(), 0, static_cast<uint32_t>(bytes.size()),
                       GVTYPE_TEXT_LIST, bytes.data(), 0);
    case GVTYPE_NUMBER_LIST:
      u16(it.numbers.size());
      u16(0);
      for (double d : it.numbers) bytes.append(reinterpret_cast<const char*>(&d), sizeof d);
      return GVItemPut(doc, it.name.c_str(), 0, static_cast<uint32_t>(bytes.size()),
                       GVTYPE_NUMBER_LIST, bytes.data(), 0);
    default:
      return GVItemPut(doc, it.name.c_str(), 0, static_cast<uint32_t>(it.text.size()), GVTYPE_TEXT,
                       it.text.c_str(), 0);
  }
}

// Stores a new document; answers its note id (0 on failure). parent: a response's parent.
inline GVNOTEID Put(GVDB db, const std::vector<It>& items, const uint8_t* parent = nullptr) {
  GVDOC doc = 0;
  EXPECT_EQ(GVDocumentCreate(db, 0, &doc), 0u);
  for (const It& it : items) EXPECT_EQ(PutItem(doc, it), 0u) << it.name;
  if (parent != nullptr) {
    EXPECT_EQ(GVDocumentSetProperty(doc, GVDOCPROP_PARENT, parent), 0u);
  }
  EXPECT_EQ(GVDocumentSave(doc, 0), 0u);
  GVNOTEID id = 0;
  EXPECT_EQ(GVDocumentGetProperty(doc, GVDOCPROP_NOTE_ID, &id), 0u);
  EXPECT_EQ(GVDocumentClose(doc, 0), 0u);
  return id;
}

// Replaces items of a stored document.
inline void Update(GVDB db, GVNOTEID id, const std::vector<It>& items) {
  GVDOC doc = 0;
  ASSERT_EQ(GVDocumentOpen(db, id, 0, &doc), 0u);
  for (const It& it : items) EXPECT_EQ(PutItem(doc, it), 0u) << it.name;
  EXPECT_EQ(GVDocumentClose(doc, 0), 0u);
}

inline std::vector<uint8_t> UnidOf(GVDB db, GVNOTEID id) {
  GVDOC doc = 0;
  std::vector<uint8_t> unid(GV_UNID_SIZE);
  EXPECT_EQ(GVDocumentOpen(db, id, GVOPEN_READONLY, &doc), 0u);
  EXPECT_EQ(GVDocumentGetProperty(doc, GVDOCPROP_UNID, unid.data()), 0u);
  EXPECT_EQ(GVDocumentClose(doc, 0), 0u);
  return unid;
}

struct Col {
  uint32_t kind;
  std::string formula;
};

inline GVViewColumn Column(uint32_t kind, const std::string& formula) {
  GVViewColumn c{};
  c.width = 80;
  c.kind = kind;
  c.display[23 - 12] = 0x0A;
  c.display[24 - 12] = 1;
  c.attr48 = c.attr52 = 2;
  c.attr56 = 14;
  c.formula = formula.c_str();
  std::strncpy(c.title, formula.c_str(), sizeof c.title - 1);
  return c;
}

// Creates a view; answers the status, id into *view.
inline uint32_t MakeView(GVDB db, const std::string& name, const std::string& selection,
                         const std::vector<Col>& cols, GVNOTEID* view = nullptr, uint32_t flags = 0,
                         uint32_t style = GVVIEW_STANDARD) {
  GVViewDesign d{};
  d.style = style;
  d.flags = flags;
  d.selectionKind = GVVIEWSEL_FORMULA;
  d.display[15 - 12] = d.display[19 - 12] = d.display[23 - 12] = 0x0A;
  d.selection = selection.c_str();
  std::strncpy(d.name, name.c_str(), sizeof d.name - 1);
  std::vector<GVViewColumn> columns;
  for (const Col& c : cols) columns.push_back(Column(c.kind, c.formula));
  return GVViewCreate(db, &d, static_cast<uint32_t>(columns.size()), columns.data(), view);
}

// What a navigation delivered: note id and entry word.
struct Step {
  GVNOTEID note;
  uint32_t flags;
  bool operator==(const Step& o) const { return note == o.note && flags == o.flags; }
};

// Navigates with (direction, flags) until it fails; answers the notes delivered.
inline std::vector<GVNOTEID> Walk(GVINDEX ix, uint32_t direction, uint32_t flags) {
  std::vector<GVNOTEID> out;
  GVNOTEID id = 0;
  while (GVIndexNavigate(ix, direction, flags, &id, nullptr) == 0) {
    out.push_back(id);
    if (out.size() > 100000) break;
  }
  return out;
}

inline std::vector<Step> WalkSteps(GVINDEX ix) {
  std::vector<Step> out;
  GVNOTEID id = 0;
  uint32_t word = 0;
  while (GVIndexNavigate(ix, GVNAV_NEXT, 0, &id, &word) == 0) out.push_back({id, word});
  return out;
}

inline std::string CellText(GVINDEX ix, uint32_t column) {
  char buf[512] = {};
  uint32_t st = GVViewcellFetch(ix, column, GVTYPE_TEXT, sizeof buf, buf);
  return st == 0 ? std::string(buf) : "<" + std::to_string(st) + ">";
}

inline uint32_t LastStatus(uint32_t* info = nullptr) {
  uint32_t status = 0;
  GVErrorFetch(&status, info, nullptr);
  return status;
}

// A session with a data root of its own and one open database "t.odb" on the test's server
// (TestServer(): the local one for files, else the server held in PostgreSQL).
class DbTest : public ::testing::TestWithParam<Engine> {
 protected:
  void SetUp() override {
    char dir[] = "/tmp/plexa-view-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    root_ = dir;
    setenv("PLEXA_ROOT", root_.c_str(), 1);
    ASSERT_NO_FATAL_FAILURE(store_.SetUp(GetParam(), root_));
    if (store_.skipped()) GTEST_SKIP() << store_.skipped();
    ASSERT_EQ(_GVInit(GV_VERSION, 0, 0, 0), 0u);
    ASSERT_EQ(GVDatabaseCreate(TestServer(), "t.odb", "T", 0, nullptr, nullptr, 0, 0), 0u);
    ASSERT_EQ(GVDatabaseOpen(TestServer(), "t.odb", 0, &db_), 0u);
  }
  void TearDown() override {
    GVTerm(0);
    store_.TearDown();
    std::error_code ec;
    std::filesystem::remove_all(root_, ec);
  }
  GVDB OpenOther(const char* file) {
    GVDB db = 0;
    EXPECT_EQ(GVDatabaseCreate(TestServer(), file, nullptr, 0, nullptr, nullptr, 0, 0), 0u);
    EXPECT_EQ(GVDatabaseOpen(TestServer(), file, 0, &db), 0u);
    return db;
  }
  // For tests that look into the SQLite file itself.
  bool OnFiles() const { return GetParam() == Engine::kSqlite; }
  GVINDEX OpenView(GVNOTEID view) {
    GVINDEX ix = 0;
    EXPECT_EQ(GVIndexOpen(db_, &ix), 0u);
    EXPECT_EQ(GVIndexOpenView(ix, 0, view, 0), 0u);
    return ix;
  }

  std::string root_;
  GVDB db_ = 0;
  storetest::Store store_;
};

}  // namespace viewtest

#endif  // TW_TESTS_OUTSIDE_PLEXAPI_VIEW_FIXTURE_H_
