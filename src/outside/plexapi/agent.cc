// Running agents: a selecting agent narrows an index to what its selection takes; an acting
// agent runs its action (FIELD assignments) on each such document and stores it. The run is
// recorded in the agent's design (time and count).
#include <string>
#include <vector>

#include "database.h"
#include "design.h"
#include "document.h"
#include "index.h"
#include "timedate.h"

namespace plexa {
namespace {

[[nodiscard]] uint32_t RecordRun(Database& db, GVNOTEID agent, uint32_t count) {
  Txn txn(db);
  if (uint32_t st = txn.Begin(Txn::kWrite)) return st;
  if (uint32_t s = RunSql(txn, "UPDATE agent_def SET last_run=?, last_count=? WHERE agent=?",
                          AsBlob(EncodeStoredTime(CurrentTime())), count, agent))
    return s;
  return txn.Commit();
}

}  // namespace

uint32_t ExecuteAgent(Database& db, GVNOTEID agent, GVINDEX index) {
  AgentSpec spec;
  if (uint32_t st = ReadAgentSpec(db, agent, spec)) return st;
  Index* ix = nullptr;
  if (index != 0) {
    ix = FindIndex(index);
    if (ix == nullptr) return Fail(GVERR_INVALID_HANDLE, "index");
    if (&ix->db() != &db) return Fail(GVERR_INVALID_ARGUMENT, "the index is of another database");
  }
  FormulaPtr selection, action;
  if (uint32_t st = CompileOptional(spec.selection, "agent selection", selection)) return st;
  if (uint32_t st = CompileOptional(spec.action, "agent action", action)) return st;

  if (spec.kind == GVAGENT_SELECTS) {
    uint32_t count = 0;
    if (ix != nullptr) {
      if (uint32_t st = ix->Refine(spec.selection)) return st;
      count = ix->Count();
    } else {
      std::vector<GVNOTEID> notes;
      if (uint32_t st = SelectNotes(db, selection.get(), kClassDocument, nullptr, notes)) return st;
      count = static_cast<uint32_t>(notes.size());
    }
    return RecordRun(db, agent, count);
  }

  std::vector<GVNOTEID> notes;
  if (ix != nullptr && ix->filled()) {
    std::vector<GVNOTEID> among = ix->Notes();
    if (uint32_t st = SelectNotes(db, selection.get(), ix->classes(), &among, notes)) return st;
  } else {
    if (uint32_t st = SelectNotes(db, selection.get(), kClassDocument, nullptr, notes)) return st;
  }
  uint32_t count = 0;
  uint32_t failure = 0;
  for (GVNOTEID n : notes) {
    std::unique_ptr<Document> doc;
    uint32_t st = Document::Open(db, n, 0, doc);
    if (st == GVERR_NO_ENTRY) continue;  // deleted meanwhile
    if (st != 0) return st;
    ++count;
    if (!action) continue;
    // A document whose action fails is left as it was; the run goes on and reports it.
    if (uint32_t ex = Execute(*action, *doc)) {
      if (failure == 0) failure = ex;
      continue;
    }
    st = doc->Store();
    if (st == GVERR_NO_ENTRY) continue;
    if (st != 0) return st;
  }
  if (uint32_t st = RecordRun(db, agent, count)) return st;
  if (failure != 0) return Fail(failure, "the action failed on some documents");
  return 0;
}

}  // namespace plexa
