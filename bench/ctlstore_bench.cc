// The control store's round trips as a server makes them: NextActivity taking a due activity
// and DoneActivity reporting its run, and NextActivity when nothing is due, with the
// Administrator database a file (argument 0) or on a server that the data root's server map
// holds in PostgreSQL (argument 1; the private cluster of scripts/pg.sh, TW_PG_PORT), and
// the ratio of the two.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "engine_ratio.h"
#include "pg_database.h"
#include "plexapi.h"
#include "taskrun_install.h"

namespace {

using taskrun_install::Installation;

constexpr int kActivities = 300;

// An installation serving kActivities one-time activities due an hour ago.
struct Served {
  std::unique_ptr<bench_pg::Database> cluster;
  Installation inst{"ctlstore_bench", "BENCH", "CTLSTORE_BENCH_KEEP"};
  std::string failure;

  explicit Served(bool held) {
    std::string heldBy;
    if (held) {
      cluster = std::make_unique<bench_pg::Database>("ctlstore_bench");
      heldBy = cluster->conninfo();
      if (heldBy.empty()) {
        failure = "no PostgreSQL cluster (TW_PG_PORT)";
        return;
      }
    }
    failure = inst.Make({}, heldBy);
    if (failure.empty()) failure = Queue();
    if (failure.empty()) failure = inst.Serve();
    if (failure.empty() && CSMgrInit(nullptr) != 0) failure = "CSMgrInit failed";
    if (failure.empty() && CSMgrServerState(CSMGR_STATE_STARTING) != 0)
      failure = "CSMgrServerState failed";
  }

  // The activities, stored through the document API.
  std::string Queue() {
    if (_GVInit(GV_VERSION, 0, 0, 0) != 0) return "_GVInit failed";
    std::string why;
    GVDB db = 0;
    if (GVDatabaseOpen(nullptr, inst.admin().c_str(), 0, &db) != 0) why = "no Administrator";
    GVNOTEID form = why.empty() ? GVFormLocateByName(db, "Activity\\Command") : 0;
    GVTIMEDATE due{};
    GVTIMEADJUST back{};
    back.hours = -1;
    if (GVDatetimeCurrent(&due) != 0 || GVDatetimeAdjust(&due, &back) != 0) why = "no time";
    for (int i = 0; i < kActivities && why.empty(); ++i) {
      GVDOC doc = 0;
      const std::string name = "Act" + std::to_string(i);
      bool ok = GVDocumentCreate(db, form, &doc) == 0 &&
                GVItemPut(doc, "Name", 0, 0, GVTYPE_TEXT, name.c_str(), 0) == 0 &&
                GVItemPut(doc, "SchedTime", GVTYPE_TIME, 0, GVTYPE_TIME, &due, 0) == 0 &&
                GVDocumentSave(doc, 0) == 0;
      GVNOTEID id = 0;
      ok = ok && GVDocumentGetProperty(doc, GVDOCPROP_NOTE_ID, &id) == 0;
      const double number = id;
      ok = ok && GVItemPut(doc, "ActivityID", GVTYPE_NUMBER, 0, GVTYPE_NUMBER, &number, 0) == 0;
      if (GVDocumentClose(doc, 0) != 0 || !ok) why = "cannot store " + name;
    }
    if (db != 0 && GVDatabaseClose(db, 0) != 0 && why.empty()) why = "close failed";
    GVTerm(0);
    return why;
  }
};

void BM_NextAndDoneActivity(benchmark::State& state) {
  Served s(state.range(0) != 0);
  if (!s.failure.empty()) {
    state.SkipWithError(s.failure.c_str());
    return;
  }
  for (auto _ : state) {
    CSMgrNextActivityRecord next{};
    if (CSMgrNextActivity(&next) != 0 || next.activityHandle == 0) {
      state.SkipWithError("nothing taken");
      break;
    }
    if (CSMgrDoneActivity(next.activityHandle, 0) != 0) {
      state.SkipWithError("done failed");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_NextAndDoneActivity)
    ->Arg(0)
    ->Arg(1)
    ->Iterations(kActivities)
    ->Unit(benchmark::kMillisecond);

void BM_NextActivityWhenNothingIsDue(benchmark::State& state) {
  Served s(state.range(0) != 0);
  if (!s.failure.empty()) {
    state.SkipWithError(s.failure.c_str());
    return;
  }
  for (int i = 0; i < kActivities; ++i) {
    CSMgrNextActivityRecord next{};
    if (CSMgrNextActivity(&next) != 0 || next.activityHandle == 0 ||
        CSMgrDoneActivity(next.activityHandle, 0) != 0) {
      state.SkipWithError("the queue did not empty");
      return;
    }
  }
  for (auto _ : state) {
    CSMgrNextActivityRecord next{};
    if (CSMgrNextActivity(&next) != 0 || next.activityHandle != 0) {
      state.SkipWithError("something was due");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_NextActivityWhenNothingIsDue)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  return bench_ratio::Main(argc, argv);
}
