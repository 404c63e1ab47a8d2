// Running agents: a selecting agent narrows an index to what its selection takes; an acting
// agent runs its action (FIELD assignments) on each such document and stores it; a scripted
// agent runs its body through the script host. The run is recorded in the agent's design
// (time and count).
#include <dlfcn.h>

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

// The script host is loaded only when a scripted agent runs: it lies beside this library
// and brings the engine with it, which the document store itself does not need.
uint32_t RunScript(const std::string& body) {
  using RunFn = uint32_t (*)(const char*, size_t, char*, size_t);
  static RunFn run = [] {
    Dl_info self{};
    std::string dir;
    if (::dladdr(reinterpret_cast<void*>(&ExecuteAgent), &self) != 0 && self.dli_fname != nullptr) {
      dir = self.dli_fname;
      dir.erase(dir.find_last_of('/') + 1);
    }
    void* host = ::dlopen((dir + "libqshost.so").c_str(), RTLD_NOW | RTLD_GLOBAL);
    return host != nullptr ? reinterpret_cast<RunFn>(::dlsym(host, "QsRunAgent")) : nullptr;
  }();
  if (run == nullptr) return Fail(GVERR_NOT_SUPPORTED, "the script host cannot be loaded");
  char why[GV_ERROR_TEXT_SIZE] = {};
  const uint32_t st = run(body.data(), body.size(), why, sizeof why);
  return st == 0 ? 0 : Fail(GVERR_AGENT_SCRIPT, why, st);
}

}  // namespace

uint32_t ExecuteAgent(Database& db, GVNOTEID agent, GVINDEX index) {
  AgentSpec spec;
  if (uint32_t st = ReadAgentSpec(db, agent, spec)) return st;
  if (spec.kind == GVAGENT_SCRIPT) {
    const uint32_t st = RunScript(spec.action);
    if (uint32_t rec = RecordRun(db, agent, 0)) return st != 0 ? st : rec;
    return st;
  }
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
