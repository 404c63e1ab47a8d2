// View indexes of the document-database stand-in on 10,000 documents: opening a view and
// walking every entry with a cell read, a key search on the sorted column, and a store that
// brings three views up to date. Each runs on a database file (argument 0) and, when
// TW_PG_PORT names a cluster of scripts/pg.sh, on a database of a server the data root's
// server map holds in PostgreSQL (argument 1), followed by the ratio of the two.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "engine_ratio.h"
#include "pg_database.h"
#include "plexapi.h"
#include "temp_dir.h"

namespace {

constexpr int kDocuments = 10000;

// The session's data root, whose server map names the server "hub" (held in a database of
// its own of the cluster) when there is a cluster.
struct Root {
  bench_pg::Database cluster{"plexa_bench"};
  std::string dir;
  bool ok = false;
  bool held = false;

  Root() {
    dir = bench_temp::MakeDir("plexa-bench");
    if (dir.empty()) return;
    setenv("PLEXA_ROOT", dir.c_str(), 1);
    if (!cluster.conninfo().empty()) {
      FILE* map = std::fopen((dir + "/servers.map").c_str(), "w");
      held = map != nullptr;
      if (map != nullptr) {
        std::fprintf(map, "hub %s\n", cluster.conninfo().c_str());
        std::fclose(map);
      }
    }
    ok = _GVInit(GV_VERSION, 0, 0, 0) == 0;
  }
  ~Root() {
    GVTerm(0);
    std::error_code ec;
    if (!dir.empty()) std::filesystem::remove_all(dir, ec);
  }
};

Root& SharedRoot() {
  static Root root;
  return root;
}

struct Fixture {
  const char* server = nullptr;
  bool missing = false;  // no cluster to hold the server
  GVDB db = 0;
  GVNOTEID byName = 0;
  bool ok = false;

  explicit Fixture(bool held) {
    Root& root = SharedRoot();
    if (!root.ok) return;
    if (held) {
      missing = !root.held;
      if (missing) return;
      server = "hub";
    }
    if (GVDatabaseCreate(server, "bench.odb", "Bench", 0, nullptr, nullptr, 0, 0) != 0) return;
    if (GVDatabaseOpen(server, "bench.odb", 0, &db) != 0) return;
    if (!View("ByName", "SELECT Form = 'Item'", {{GVCOL_SORTED, "Name"}, {0, "N"}}, &byName) ||
        !View("ByGroup", "SELECT N > 100", {{GVCOL_CATEGORY, "Group"}, {GVCOL_SORTED, "N"}},
              nullptr) ||
        !View("Tags", "", {{GVCOL_SORTED | GVCOL_EXPAND, "Tags"}}, nullptr))
      return;
    for (int i = 0; i < kDocuments; ++i)
      if (!Store(i)) return;
    ok = true;
  }
  ~Fixture() {
    if (db != 0) GVDatabaseClose(db, 0);
  }

  struct Col {
    uint32_t kind;
    const char* formula;
  };
  bool View(const char* name, const char* selection, std::initializer_list<Col> cols,
            GVNOTEID* id) {
    GVViewDesign d{};
    d.style = GVVIEW_STANDARD;
    d.selectionKind = GVVIEWSEL_FORMULA;
    d.selection = selection;
    std::strncpy(d.name, name, sizeof d.name - 1);
    GVViewColumn columns[4] = {};
    uint32_t n = 0;
    for (const Col& c : cols) {
      columns[n].kind = c.kind;
      columns[n].formula = c.formula;
      ++n;
    }
    return GVViewCreate(db, &d, n, columns, id) == 0;
  }

  bool Store(int i, const char* form = "Item") {
    GVDOC doc = 0;
    if (GVDocumentCreate(db, 0, &doc) != 0) return false;
    char name[32], group[16];
    std::snprintf(name, sizeof name, "Name-%07d", (i * 7919) % kDocuments);
    std::snprintf(group, sizeof group, "G%02d", i % 50);
    double n = i;
    const char tags[] =
        "\x02\x00\x01\x00\x01\x00"
        "ab";
    bool stored = GVItemPut(doc, "Form", 0, 0, GVTYPE_TEXT, form, 0) == 0 &&
                  GVItemPut(doc, "Name", 0, 0, GVTYPE_TEXT, name, 0) == 0 &&
                  GVItemPut(doc, "Group", 0, 0, GVTYPE_TEXT, group, 0) == 0 &&
                  GVItemPut(doc, "N", 0, 0, GVTYPE_NUMBER, &n, 0) == 0 &&
                  GVItemPut(doc, "Tags", 0, sizeof tags - 1, GVTYPE_TEXT_LIST, tags, 0) == 0;
    return GVDocumentClose(doc, 0) == 0 && stored;
  }
};

Fixture& Shared(int64_t held) {
  static Fixture files(false);
  if (held == 0) return files;
  static Fixture postgres(true);
  return postgres;
}

void BM_OpenViewAndWalk(benchmark::State& state) {
  Fixture& f = Shared(state.range(0));
  if (!f.ok) {
    char text[GV_ERROR_TEXT_SIZE] = "no PostgreSQL cluster (TW_PG_PORT)";
    if (!f.missing) GVErrorFetch(nullptr, nullptr, text);
    state.SkipWithError(text);
    return;
  }
  for (auto _ : state) {
    GVINDEX ix = 0;
    GVIndexOpen(f.db, &ix);
    GVIndexOpenView(ix, 0, f.byName, 0);
    GVNOTEID id = 0;
    double n = 0, sum = 0;
    int walked = 0;
    while (GVIndexNavigate(ix, GVNAV_NEXT, 0, &id, nullptr) == 0) {
      GVViewcellFetch(ix, 2, GVTYPE_NUMBER, 0, &n);
      sum += n;
      ++walked;
    }
    GVIndexClose(ix);
    if (walked != kDocuments) state.SkipWithError("walk incomplete");
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * kDocuments);
}
BENCHMARK(BM_OpenViewAndWalk)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_KeySearch(benchmark::State& state) {
  Fixture& f = Shared(state.range(0));
  if (!f.ok) {
    char text[GV_ERROR_TEXT_SIZE] = "no PostgreSQL cluster (TW_PG_PORT)";
    if (!f.missing) GVErrorFetch(nullptr, nullptr, text);
    state.SkipWithError(text);
    return;
  }
  GVINDEX ix = 0;
  GVIndexOpen(f.db, &ix);
  GVIndexOpenView(ix, 0, f.byName, 0);
  int i = 0;
  for (auto _ : state) {
    char name[32];
    std::snprintf(name, sizeof name, "name-%07d", (i++ * 31) % kDocuments);
    GVKey key{};
    key.column = 1;
    key.kind = GVTYPE_TEXT;
    key.text = name;
    uint32_t matches = 0;
    if (GVIndexKeySearch(ix, 1, &key, 0, &matches) != 0 || matches != 1)
      state.SkipWithError("key not found");
  }
  GVIndexClose(ix);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_KeySearch)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

void BM_StoreUpdatingViews(benchmark::State& state) {
  Fixture& f = Shared(state.range(0));
  if (!f.ok) {
    char text[GV_ERROR_TEXT_SIZE] = "no PostgreSQL cluster (TW_PG_PORT)";
    if (!f.missing) GVErrorFetch(nullptr, nullptr, text);
    state.SkipWithError(text);
    return;
  }
  int i = kDocuments;
  for (auto _ : state)
    if (!f.Store(i++, "Extra")) state.SkipWithError("store failed");
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_StoreUpdatingViews)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  return bench_ratio::Main(argc, argv);
}
