// Helpers of the Ordex connector tests, all on real databases:
//   - Env: the engine started with an unnamed activity to log to, a private data root for the
//     document databases (files, or with Use(kPostgres) a server the root's server map holds
//     in PostgreSQL: Db() names a test's database on it), and plexadm run as a program to
//     build templates, create databases and import documents as JSON lines.
//   - Link: a Connection initialised as the engine would, with property and connect helpers.
//   - Raw: the Plexa API opened by the test itself to look at what the connector stored.
#ifndef TW_TESTS_LINK_ORDEX_ORDEX_TEST_UTIL_H_
#define TW_TESTS_LINK_ORDEX_ORDEX_TEST_UTIL_H_

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "activity_test_util.h"
#include "connection.h"
#include "fake_ctlstore.h"
#include "flowcore.h"
#include "link_test_util.h"
#include "plat_test_util.h"
#include "store_fixture.h"

extern char** environ;

namespace ordex_test {

using ordex::Connection;
using twtest::List;
using twtest::Text;

// A test's database file on the test's server ("server!!file" when that is a named one).
inline std::string Db(const std::string& file) {
  const char* server = storetest::TestServer();
  return server != nullptr ? std::string(server) + "!!" + file : file;
}

// The database design every test starts from: a form of every item type, views (one with
// responses beneath their parents), both kinds of agent.
inline const char* const kTemplate = R"({"title": "Test",
 "forms": [{"name": "Person", "fields": [
    {"name": "Name", "type": "text"}, {"name": "Age", "type": "number"},
    {"name": "Born", "type": "time"}, {"name": "Tags", "type": "textlist"},
    {"name": "Scores", "type": "numberlist"}, {"name": "Body", "type": "richtext"},
    {"name": "Note", "type": "text"}]},
  {"name": "Topic", "fields": [{"name": "Subject", "type": "text"}]},
  {"name": "Memo", "fields": [{"name": "SendTo", "type": "textlist"}, {"name": "Subject", "type": "text"}]},
  {"name": "O'Brien\\x", "fields": [{"name": "Name", "type": "text"}]}],
 "views": [{"name": "ByName", "selection": "SELECT Form = 'Person'",
            "columns": [{"title": "Name", "formula": "Name", "sort": "ascending"},
                        {"title": "Age", "formula": "Age"}]},
           {"name": "Threads", "responses": true, "selection": "SELECT Form = 'Topic'",
            "columns": [{"title": "Subject", "formula": "Subject", "sort": "ascending"}]}],
 "agents": [{"name": "Elders", "kind": "selects", "selection": "SELECT Form = 'Person' & Age > 40"},
            {"name": "Touch", "kind": "acts", "selection": "SELECT Form = 'Person'",
             "action": "FIELD Note := 'touched'"}]})";

class Env {
 public:
  Env() : plexaRoot_("PLEXA_ROOT", root_.path().c_str()) {
    const char* build = std::getenv("TW_BUILD_DIR");
    EXPECT_NE(build, nullptr) << "run through ctest";
    tool_ = std::string(build != nullptr ? build : ".") + "/inst/plexadm";
    EXPECT_EQ(TWSystemInit(), TWSUCCESS);
    EXPECT_EQ(TWActivityAlloc(0, nullptr, 0), TWSUCCESS);
  }
  ~Env() {
    TWActivityFree();
    TWSystemTerm();
    store_.TearDown();
  }
  // Runs sql under the API on the test's database file (a statement of both stores' SQL).
  void Query(const std::string& file, const std::string& sql) {
    store_.Query(root_.path(), file, sql);
  }
  // Puts the test's databases on the store of engine; answers why it cannot ("": it can).
  std::string Use(storetest::Engine engine) {
    store_.SetUp(engine, root_.path());
    return store_.skipped() != nullptr ? store_.skipped() : "";
  }
  Env(const Env&) = delete;
  Env& operator=(const Env&) = delete;

  const std::string& root() const { return root_.path(); }
  std::string operator/(const std::string& name) const { return files_ / name; }

  // Runs plexadm on the data root; stdin from the file input when given. Answers its exit code.
  int Tool(std::vector<std::string> args, const std::string& input = "") {
    args.insert(args.begin(), {tool_, "--root", root_.path()});
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 0, input.empty() ? "/dev/null" : input.c_str(), O_RDONLY,
                                     0);
    const std::string err = files_ / "tool.err";
    posix_spawn_file_actions_addopen(&fa, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, tool_.c_str(), &fa, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    if (rc != 0) return -1;
    int status = 0;
    waitpid(pid, &status, 0);
    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    EXPECT_EQ(code, 0) << twtest::ReadFile(err);
    return code;
  }
  // A database db from the test template, holding the documents of jsonl (one per line).
  void MakeDatabase(const std::string& db, const std::string& jsonl = "") {
    const std::string json = files_ / "template.json", otm = files_ / "test.otm";
    twtest::WriteFile(json, kTemplate);
    Tool({"build-template", json, otm});
    Tool({"create", Db(db), "--template", otm});
    if (!jsonl.empty()) {
      const std::string lines = files_ / "import.jsonl";
      twtest::WriteFile(lines, jsonl);
      Tool({"import", Db(db)}, lines);
    }
  }

 private:
  twtest::Installation inst_;
  twtest::TempDir root_, files_;
  twtest::ScopedEnv plexaRoot_;
  std::string tool_;
  storetest::Store store_;
};

// A connection as the engine makes one: initialised with a connection code whose link part is
// not zero (the extra fields are marked with it).
class Link : public link_test::PropertyChain<Link> {
 public:
  explicit Link(uint32_t code = 0x00010001) { EXPECT_EQ(c.Initialize(code, 1), TWSUCCESS); }
  ~Link() { c.Terminate(1); }
  Link(const Link&) = delete;
  Link& operator=(const Link&) = delete;
  Link& On(const std::string& db, const std::string& form = "Person") {
    Str(TWTOKEN_DATABASE, Db(db));
    if (!form.empty()) Str(TWTOKEN_METADATA, form);
    return *this;
  }
  uint32_t Connect() { return c.Connect(); }
  // Sets a text list property from the entries.
  Link& Names(uint32_t token, const std::vector<std::string>& names) {
    std::string list(2 + 2 * names.size(), '\0');
    const uint16_t n = static_cast<uint16_t>(names.size());
    memcpy(list.data(), &n, 2);
    for (size_t i = 0; i < names.size(); ++i) {
      const uint16_t l = static_cast<uint16_t>(names[i].size());
      memcpy(list.data() + 2 + 2 * i, &l, 2);
    }
    for (const std::string& s : names) list += s;
    EXPECT_EQ(link_test::SetField(c, token, TWTYPE_BINARY,
                                  [&](TWFIELD f) {
                                    flowcore::StreamData s(TWSTREAMFMT_TEXT_LIST);
                                    EXPECT_EQ(s.Set(TWSTREAMFMT_TEXT_LIST, list), TWSUCCESS);
                                    EXPECT_EQ(TWFieldSetStream(f, 1, s.get()), TWSUCCESS);
                                  }),
              TWSUCCESS);
    return *this;
  }
  Connection c;
};

// The Plexa API opened by the test itself.
class Raw {
 public:
  enum Where { kTestServer, kLocal };
  explicit Raw(const std::string& db, Where where = kTestServer) {
    EXPECT_EQ(_GVInit(GV_VERSION, 0, 0, 0), 0u);
    const std::string name = where == kLocal ? db : Db(db);
    EXPECT_EQ(GVDatabaseOpen(nullptr, name.c_str(), 0, &db_), 0u) << name;
  }
  ~Raw() {
    if (db_ != 0) GVDatabaseClose(db_, 0);
    GVTerm(0);
  }
  Raw(const Raw&) = delete;
  Raw& operator=(const Raw&) = delete;
  GVDB get() const { return db_; }
  // The note ids the formula selects.
  std::vector<GVNOTEID> Search(const std::string& formula) {
    std::vector<GVNOTEID> out;
    GVINDEX index = 0;
    EXPECT_EQ(GVIndexOpen(db_, &index), 0u);
    EXPECT_EQ(GVIndexSearch(index, formula.c_str(), 0, 0), 0u) << formula;
    GVNOTEID note = 0;
    while (GVIndexNavigate(index, GVNAV_NEXT, GVNAVF_DOCUMENTS, &note, nullptr) == 0)
      out.push_back(note);
    GVIndexClose(index);
    return out;
  }
  // The item as text; "<none>" when the document has none.
  std::string Item(GVNOTEID note, const char* name) {
    GVDOC doc = 0;
    EXPECT_EQ(GVDocumentOpen(db_, note, GVOPEN_READONLY, &doc), 0u);
    uint32_t length = 0;
    std::string out = "<none>";
    if (GVItemGetLength(doc, name, 0, GVTYPE_TEXT, &length) == 0) {
      std::string text(length + 1, '\0');
      uint32_t kind = GVTYPE_TEXT;
      if (GVItemFetch(doc, name, &kind, 0, length + 1, text.data()) == 0) out = text.c_str();
    }
    GVDocumentClose(doc, GVCLOSE_DISCARD);
    return out;
  }
  uint32_t Type(GVNOTEID note, const char* name) {
    GVDOC doc = 0;
    EXPECT_EQ(GVDocumentOpen(db_, note, GVOPEN_READONLY, &doc), 0u);
    uint32_t type = 0;
    GVItemGetInfo(doc, name, &type, nullptr, nullptr);
    GVDocumentClose(doc, GVCLOSE_DISCARD);
    return type;
  }

 private:
  GVDB db_ = 0;
};

// A JSON line of a Person document.
inline std::string Person(const std::string& name, double age, const std::string& extra = "") {
  char number[40];
  snprintf(number, sizeof number, "%.17g", age);
  return R"({"items":[{"name":"Form","type":"text","value":"Person"},{"name":"Name","type":"text","value":")" +
         name + R"("},{"name":"Age","type":"number","value":)" + number + "}" + extra + "]}\n";
}

}  // namespace ordex_test

#endif  // TW_TESTS_LINK_ORDEX_ORDEX_TEST_UTIL_H_
