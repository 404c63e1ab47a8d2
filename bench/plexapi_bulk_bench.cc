// Storing 10,000 documents into a new database of the document-database stand-in (one
// sorted view kept current): each closed on its own, closed with GVCLOSE_BULK (shared
// transactions), and the same records loaded by the administration tool's import.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>

#include "database.h"
#include "jsonl.h"
#include "plexapi.h"
#include "temp_dir.h"

namespace {

constexpr int kDocuments = 10000;

// One record: its fields as the connector would put them.
struct Record {
  char name[32];
  char group[16];
  char body[96];
  double n;
};

Record RecordOf(int i) {
  Record r{};
  std::snprintf(r.name, sizeof r.name, "Name-%07d", (i * 7919) % kDocuments);
  std::snprintf(r.group, sizeof r.group, "G%02d", i % 50);
  std::snprintf(r.body, sizeof r.body, "record %d of the load, with a few words to index", i);
  r.n = i;
  return r;
}

// The records as the tool's JSON lines.
std::string JsonLines() {
  std::string out;
  for (int i = 0; i < kDocuments; ++i) {
    Record r = RecordOf(i);
    char line[512];
    std::snprintf(line, sizeof line,
                  "{\"class\":\"document\",\"items\":["
                  "{\"name\":\"Form\",\"type\":\"text\",\"value\":\"Item\"},"
                  "{\"name\":\"Name\",\"type\":\"text\",\"value\":\"%s\"},"
                  "{\"name\":\"Group\",\"type\":\"text\",\"value\":\"%s\"},"
                  "{\"name\":\"N\",\"type\":\"number\",\"value\":%d},"
                  "{\"name\":\"Tags\",\"type\":\"textlist\",\"value\":[\"a\",\"b\"]},"
                  "{\"name\":\"Body\",\"type\":\"text\",\"value\":\"%s\"}]}\n",
                  r.name, r.group, i, r.body);
    out += line;
  }
  return out;
}

class Session {
 public:
  Session() {
    root_ = bench_temp::MakeDir("plexa-bulk-bench");
    if (root_.empty()) return;
    setenv("PLEXA_ROOT", root_.c_str(), 1);
    ok_ = _GVInit(GV_VERSION, 0, 0, 0) == 0;
  }
  ~Session() {
    GVTerm(0);
    std::error_code ec;
    if (!root_.empty()) std::filesystem::remove_all(root_, ec);
  }
  bool ok() const { return ok_; }

  // A new database with the view; 0 on failure.
  GVDB Fresh() {
    std::string file = "load" + std::to_string(++made_) + ".odb";
    GVDB db = 0;
    if (GVDatabaseCreate(nullptr, file.c_str(), "Load", 0, nullptr, nullptr, 0, 0) != 0 ||
        GVDatabaseOpen(nullptr, file.c_str(), 0, &db) != 0)
      return 0;
    GVViewDesign d{};
    d.style = GVVIEW_STANDARD;
    d.selectionKind = GVVIEWSEL_FORMULA;
    d.selection = "SELECT Form = 'Item'";
    std::strncpy(d.name, "ByName", sizeof d.name - 1);
    GVViewColumn column{};
    column.kind = GVCOL_SORTED;
    column.formula = "Name";
    if (GVViewCreate(db, &d, 1, &column, nullptr) != 0) return 0;
    return db;
  }

 private:
  std::string root_;
  int made_ = 0;
  bool ok_ = false;
};

Session& Shared() {
  static Session s;
  return s;
}

bool Store(GVDB db, int i, uint32_t closeFlags) {
  Record r = RecordOf(i);
  static const char tags[] =
      "\x02\x00\x01\x00\x01\x00"
      "ab";
  GVDOC doc = 0;
  if (GVDocumentCreate(db, 0, &doc) != 0) return false;
  bool ok = GVItemPut(doc, "Form", 0, 0, GVTYPE_TEXT, "Item", 0) == 0 &&
            GVItemPut(doc, "Name", 0, 0, GVTYPE_TEXT, r.name, 0) == 0 &&
            GVItemPut(doc, "Group", 0, 0, GVTYPE_TEXT, r.group, 0) == 0 &&
            GVItemPut(doc, "N", 0, 0, GVTYPE_NUMBER, &r.n, 0) == 0 &&
            GVItemPut(doc, "Tags", 0, sizeof tags - 1, GVTYPE_TEXT_LIST, tags, 0) == 0 &&
            GVItemPut(doc, "Body", 0, 0, GVTYPE_TEXT, r.body, 0) == 0;
  return GVDocumentClose(doc, closeFlags) == 0 && ok;
}

void Skip(benchmark::State& state) {
  char text[GV_ERROR_TEXT_SIZE] = {};
  GVErrorFetch(nullptr, nullptr, text);
  state.SkipWithError(text);
}

void StoreAll(benchmark::State& state, uint32_t closeFlags) {
  Session& s = Shared();
  for (auto _ : state) {
    state.PauseTiming();
    GVDB db = s.ok() ? s.Fresh() : 0;
    state.ResumeTiming();
    if (db == 0) return Skip(state);
    for (int i = 0; i < kDocuments; ++i)
      if (!Store(db, i, closeFlags)) return Skip(state);
    // The bulk's last batch is committed here: part of the load.
    if (GVDatabaseClose(db, 0) != 0) return Skip(state);
  }
  state.SetItemsProcessed(state.iterations() * kDocuments);
}

void BM_CloseEach(benchmark::State& state) {
  StoreAll(state, GVCLOSE_STORE);
}
BENCHMARK(BM_CloseEach)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_CloseBulk(benchmark::State& state) {
  StoreAll(state, GVCLOSE_BULK);
}
BENCHMARK(BM_CloseBulk)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_ToolImport(benchmark::State& state) {
  Session& s = Shared();
  const std::string lines = JsonLines();
  for (auto _ : state) {
    state.PauseTiming();
    GVDB db = s.ok() ? s.Fresh() : 0;
    plexa::Database* d = plexa::FindDatabase(db);
    std::istringstream in(lines);
    state.ResumeTiming();
    if (d == nullptr) return Skip(state);
    size_t count = 0;
    std::string error;
    if (plexadm::ImportNotes(*d, in, count, error) != 0 || count != kDocuments) {
      state.SkipWithError(error.c_str());
      return;
    }
    if (GVDatabaseClose(db, 0) != 0) return Skip(state);
  }
  state.SetItemsProcessed(state.iterations() * kDocuments);
}
BENCHMARK(BM_ToolImport)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
BENCHMARK_MAIN();
