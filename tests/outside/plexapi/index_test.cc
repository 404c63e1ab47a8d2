// Indexes over views and searches: selection and sort order, categories, multi-valued keys,
// response hierarchies, every navigation shape the callers use, key search with match
// counts, saved positions, cells, the connector's stamp-view sequence, full-text search,
// deleting and copying documents, and views kept current when other processes save.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "document.h"
#include "plexa_test_util.h"
#include "plexapi.h"
#include "richtext.h"
#include "value.h"
#include "view_fixture.h"

extern char** environ;

namespace {

using namespace viewtest;
using plexatest::RawDb;

constexpr const char* kChildVariable = "PLEXA_INDEX_TEST_CHILD";

// The connector's temporary-view loop: the first free "(TWMainIndexView<n>)" of 256.
uint32_t TempViewLoop(GVDB db, std::string& name) {
  for (int n = 0; n < 256; ++n) {
    char text[64];
    std::snprintf(text, sizeof text, "(TWMainIndexView%d)", n);
    if (GVViewLocateByName(db, text) != 0) continue;
    uint32_t st = MakeView(db, text, "SELECT Form = 'Item'", {{GVCOL_SORTED, "Name"}}, nullptr, 0,
                           GVVIEW_TEMPORARY);
    if (st == 0) {
      name = text;
      return 0;
    }
    if (st != GVERR_EXISTS) return st;
  }
  return GVERR_NO_VIEW;
}

// What a child process does: "store <count> <prefix>" stores documents into t.odb and
// deletes the first one it stored; "tempview" runs the temporary-view loop, writes the name
// it got as a line to descriptor 3 and holds its view until its standard input ends.
int RunChild(const std::string& action) {
  if (_GVInit(GV_VERSION, 0, 0, 0) != 0) return 10;
  GVDB db = 0;
  if (GVDatabaseOpen(TestServer(), "t.odb", 0, &db) != 0) return 11;
  char verb[32] = {}, arg[512] = {};
  int count = 0;
  if (std::sscanf(action.c_str(), "%31s %d %511s", verb, &count, arg) == 3 &&
      std::strcmp(verb, "store") == 0) {
    GVNOTEID first = 0;
    for (int i = 0; i < count; ++i) {
      GVNOTEID id = Put(db, {Text("Form", "Item"),
                             Text("Name", std::string(arg) + std::to_string(i)), Num("N", i)});
      if (id == 0) return 12;
      if (first == 0) first = id;
    }
    if (GVDocumentDelete(db, first, 0) != 0) return 13;
    return 0;
  }
  if (action == "tempview") {
    std::string name;
    uint32_t st = TempViewLoop(db, name);
    if (st != 0) return 15;
    name += '\n';
    if (write(3, name.data(), name.size()) != static_cast<ssize_t>(name.size())) return 17;
    char c;
    while (read(0, &c, 1) > 0) {
    }
    return 0;
  }
  return 16;
}

// Child processes are this program started again with the action in the environment; the
// action runs once the program is set up (all libraries initialised), instead of the tests.
class ChildEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    if (const char* action = getenv(kChildVariable)) _exit(RunChild(action));
  }
};
[[maybe_unused]] ::testing::Environment* const g_child = [] {
  setenv("TZ", "UTC", 1);
  tzset();
  return ::testing::AddGlobalTestEnvironment(new ChildEnvironment);
}();

// Starts this program again with the action in its environment, its standard output (the
// child's own test banner, of no interest) to /dev/null; dup2s maps further descriptors of
// this process onto the child's. -1 when it cannot be started.
pid_t SpawnChild(const std::string& action, std::initializer_list<std::pair<int, int>> dup2s) {
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) env.emplace_back(*e);
  env.push_back(std::string(kChildVariable) + "=" + action);
  std::vector<char*> envp;
  for (std::string& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  char self[] = "index_test_child";
  char* argv[] = {self, nullptr};
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
  for (const auto& [from, to] : dup2s) posix_spawn_file_actions_adddup2(&fa, from, to);
  pid_t pid = -1;
  if (posix_spawn(&pid, "/proc/self/exe", &fa, nullptr, argv, envp.data()) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&fa);
  return pid;
}

pid_t Spawn(const std::string& action) {
  pid_t pid = SpawnChild(action, {});
  EXPECT_GT(pid, 0);
  return pid;
}

// A child that talks through pipes: its standard input (closing it lets the child end) and
// its descriptor 3. The child is killed and reaped when this goes, whatever the test did.
class PipedChild {
 public:
  explicit PipedChild(const std::string& action) {
    int in[2] = {-1, -1}, out[2] = {-1, -1};
    if (pipe2(in, O_CLOEXEC) == 0 && pipe2(out, O_CLOEXEC) == 0)
      pid_ = SpawnChild(action, {{in[0], 0}, {out[1], 3}});
    for (int fd : {in[0], out[1]})
      if (fd >= 0) close(fd);
    to_ = in[1];
    from_ = out[0];
  }
  ~PipedChild() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      Reap();
    }
    if (to_ >= 0) close(to_);
    if (from_ >= 0) close(from_);
  }
  PipedChild(const PipedChild&) = delete;
  PipedChild& operator=(const PipedChild&) = delete;
  bool started() const { return pid_ > 0; }
  // The child's next line on descriptor 3 (blocks until it comes; "" when it never does).
  std::string Line() {
    std::string line;
    char c;
    while (read(from_, &c, 1) == 1 && c != '\n') line += c;
    return line;
  }
  // Lets the child end by itself, or kills it; then reaps it: its wait status.
  int Release() {
    close(to_);
    to_ = -1;
    return Reap();
  }
  int Kill() {
    kill(pid_, SIGKILL);
    return Reap();
  }

 private:
  int Reap() {
    int status = 0;
    pid_t pid = std::exchange(pid_, -1);
    return pid > 0 && waitpid(pid, &status, 0) == pid ? status : -1;
  }
  pid_t pid_ = -1;
  int to_ = -1;
  int from_ = -1;
};

int Wait(pid_t pid) {
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

using IndexTest = DbTest;

// ---------------------------------------------------------------- selection and sort ------

TEST_P(IndexTest, ViewsSelectAndSortTextsNumbersAndTimes) {
  const struct {
    const char* what;
    uint32_t kind;
    std::vector<It> values;        // one document per value, in this order
    std::vector<size_t> expected;  // the documents in view order
  } cases[] = {
      {"texts ignore ASCII case",
       GVCOL_SORTED,
       {Text("V", "b"), Text("V", "A"), Text("V", "c"), Text("V", "B"), Text("V", "a\xC3\xA9")},
       {1, 4, 0, 3, 2}},
      {"numbers, -0 equal to 0",
       GVCOL_SORTED,
       {Num("V", 10), Num("V", -2), Num("V", 3.5), Num("V", 0), Num("V", -0.0), Num("V", 1e20),
        Num("V", -1e-300)},
       {1, 6, 3, 4, 2, 0, 5}},
      {"times as instants",
       GVCOL_SORTED,
       {Time("V", At(2024, 1, 2, 12, 0, 0, 2)), Time("V", At(2024, 1, 2, 11, 0, 0, 0)),
        Time("V", At(2024, 1, 2, 9, 0, 0, -3)), Time("V", At(2023, 12, 31, 23, 0, 0, -5))},
       {3, 0, 1, 2}},
      {"descending numbers",
       GVCOL_SORTED | GVCOL_DESCENDING,
       {Num("V", 1), Num("V", 3), Num("V", 2)},
       {1, 2, 0}},
      {"empty < numbers < times < texts",
       GVCOL_SORTED,
       {Text("V", "x"), Num("V", 5), Time("V", At(2000, 1, 1)), Text("W", "no V"), Text("V", "")},
       {3, 4, 1, 2, 0}},
      {"descending texts, longer after its prefix reversed",
       GVCOL_SORTED | GVCOL_DESCENDING,
       {Text("V", "ab"), Text("V", "abc"), Text("V", "B")},
       {2, 1, 0}},
  };
  int n = 0;
  for (const auto& c : cases) {
    std::string form = "F" + std::to_string(n++);
    GVNOTEID view = 0;
    ASSERT_EQ(MakeView(db_, form, "SELECT Form = '" + form + "'", {{c.kind, "V"}}, &view), 0u);
    std::vector<GVNOTEID> ids;
    for (const It& v : c.values) ids.push_back(Put(db_, {Text("Form", form), v}));
    std::vector<GVNOTEID> want;
    for (size_t i : c.expected) want.push_back(ids[i]);
    GVINDEX ix = OpenView(view);
    EXPECT_EQ(Walk(ix, GVNAV_NEXT, 0), want) << c.what;
    EXPECT_EQ(GVIndexGetCount(ix), ids.size()) << c.what;
    GVIndexClose(ix);
  }
}

TEST_P(IndexTest, SortsOnSeveralColumnsAndKeepsViewsCurrentOnSaveAndDelete) {
  GVNOTEID view = 0;
  ASSERT_EQ(
      MakeView(db_, "Two", "SELECT Kind = 'k'",
               {{GVCOL_SORTED, "A"}, {GVCOL_SORTED | GVCOL_DESCENDING, "B"}, {0, "A + '/' + B"}},
               &view),
      0u);
  GVNOTEID x = Put(db_, {Text("Kind", "k"), Text("A", "a"), Text("B", "1")});
  GVNOTEID y = Put(db_, {Text("Kind", "k"), Text("A", "a"), Text("B", "2")});
  GVNOTEID z = Put(db_, {Text("Kind", "k"), Text("A", "0"), Text("B", "9")});
  Put(db_, {Text("Kind", "K"), Text("A", "a"), Text("B", "3")});  // formulas compare exactly
  GVINDEX ix = OpenView(view);
  EXPECT_EQ(Walk(ix, GVNAV_NEXT, 0), (std::vector<GVNOTEID>{z, y, x}));
  // A save moves the entry, a save that unselects removes it, a delete drops it.
  Update(db_, x, {Text("A", "0")});
  Update(db_, z, {Text("Kind", "gone")});
  ASSERT_EQ(GVIndexRefresh(ix), 0u);
  EXPECT_EQ(Walk(ix, GVNAV_NEXT, 0), (std::vector<GVNOTEID>{x, y}));
  ASSERT_EQ(GVIndexSetPosition(ix, 1), 0u);
  EXPECT_EQ(CellText(ix, 3), "0/1");
  ASSERT_EQ(GVDocumentDelete(db_, x, 0), 0u);
  // The snapshot stays as it was until refreshed.
  EXPECT_EQ(GVIndexGetCount(ix), 2u);
  ASSERT_EQ(GVIndexRefresh(ix), 0u);
  EXPECT_EQ(Walk(ix, GVNAV_NEXT, 0), (std::vector<GVNOTEID>{y}));
}

// A walk through a search reads the documents it opens next in one go: what the walk itself
// changes or deletes on the way is what it then opens, not what it read ahead.
TEST_P(IndexTest, AWalkThroughASearchOpensEachDocumentAsStoredMeanwhile) {
  std::vector<GVNOTEID> ids;
  for (int i = 0; i < 300; ++i) {
    ids.push_back(Put(db_, {Text("Form", i % 50 == 7 ? "Other" : "Item"),
                            Text("Name", "n" + std::to_string(i))}));
  }
  ASSERT_EQ(GVDocumentDelete(db_, ids[100], 0), 0u);  // a gap inside a span
  GVINDEX ix = 0;
  ASSERT_EQ(GVIndexOpen(db_, &ix), 0u);
  ASSERT_EQ(GVIndexSearch(ix, "@@select@@ Form = 'Item'", 0, 0), 0u);
  auto name = [&](GVNOTEID note, uint32_t& st) {
    GVDOC doc = 0;
    st = GVDocumentOpen(db_, note, GVOPEN_READONLY, &doc);
    char text[64] = "";
    uint32_t kind = GVTYPE_TEXT;
    if (st == 0) st = GVItemFetch(doc, "Name", &kind, 0, sizeof text, text);
    if (doc != 0) EXPECT_EQ(GVDocumentClose(doc, GVCLOSE_DISCARD), 0u);
    return std::string(text);
  };
  std::vector<std::string> seen;
  GVNOTEID note = 0;
  uint32_t word = 0;
  for (size_t step = 0; GVIndexNavigate(ix, GVNAV_NEXT, GVNAVF_DOCUMENTS, &note, &word) == 0;
       ++step) {
    uint32_t st = 0;
    const std::string text = name(note, st);
    seen.push_back(st == 0 ? text : "status " + std::to_string(st));
    if (step == 5) {
      Update(db_, ids[20], {Text("Name", "changed")});
      ASSERT_EQ(GVDocumentDelete(db_, ids[30], 0), 0u);
    }
  }
  std::vector<std::string> want;
  for (int i = 0; i < 300; ++i) {
    if (i % 50 == 7 || i == 100) continue;
    want.push_back(i == 20   ? "changed"
                   : i == 30 ? "status " + std::to_string(GVERR_NO_ENTRY)
                             : "n" + std::to_string(i));
  }
  EXPECT_EQ(seen, want);
  EXPECT_EQ(GVIndexClose(ix), 0u);
}

TEST_P(IndexTest, SearchesTakeFormulaAndFormAndRefuseMalformedFormulas) {
  GVNOTEID a = Put(db_, {Text("Form", "Activity"), Text("Type", "x"), Text("Name", "it's")});
  GVNOTEID b = Put(db_, {Text("Form", "Activity"), Text("Type", "y")});
  GVNOTEID c = Put(db_, {Text("Form", "Server"), Text("Type", "x")});
  GVDOC d = 0;
  ASSERT_EQ(GVDocumentCreate(db_, 0, &d), 0u);
  ASSERT_EQ(GVDocumentClose(d, 0), 0u);  // a document without items
  GVINDEX ix = 0;
  ASSERT_EQ(GVIndexOpen(db_, &ix), 0u);
  const struct {
    const char* formula;
    std::vector<GVNOTEID> want;
  } cases[] = {
      {"@@select@@ Form = 'Activity' & (Type = \"x\")", {a}},
      {"@@select@@ Form = 'Activity' & Name = 'it\\'s'", {a}},
      {"select @@98@@(Form) = @@98@@('SERVER')", {c}},
      {"@@select@@ Name = @@40@@", {b, c, c + 2}},
      {"@@select@@ ", {a, b, c, c + 2}},
      {"", {a, b, c, c + 2}},
      {"SELECT Type = 'x'; SELECT Type = 'y'", {b}},
  };
  for (const auto& t : cases) {
    ASSERT_EQ(GVIndexSearch(ix, t.formula, 0, 0), 0u) << t.formula;
    EXPECT_EQ(Walk(ix, GVNAV_NEXT, 0), t.want) << t.formula;
  }
  ASSERT_EQ(GVIndexSearch(ix, nullptr, 0, 0), 0u);
  EXPECT_EQ(GVIndexGetCount(ix), 4u);

  for (auto [formula, offset] : {std::pair{"@@select@@ Form = 'x", 19u}, std::pair{"SELECT (", 9u},
                                 std::pair{"@@select@@ @@999@@", 12u}}) {
    EXPECT_EQ(GVIndexSearch(ix, formula, 0, 0), GVERR_FORMULA) << formula;
    uint32_t info = 0;
    EXPECT_EQ(LastStatus(&info), GVERR_FORMULA);
    EXPECT_EQ(info, offset) << formula;
  }
  // A failed search keeps what the index held.
  EXPECT_EQ(GVIndexGetCount(ix), 4u);
  // With a form: only the documents whose "Form" names it, letter case aside.
  GVFormDesign design{};
  std::strcpy(design.name, "activity");
  GVNOTEID form = 0;
  ASSERT_EQ(GVFormCreate(db_, &design, 0, &form), 0u);
  ASSERT_EQ(GVIndexSearch(ix, nullptr, form, 0), 0u);
  EXPECT_EQ(Walk(ix, GVNAV_NEXT, 0), (std::vector<GVNOTEID>{a, b}));
  ASSERT_EQ(GVIndexSearch(ix, "SELECT Type = 'y'", form, 0), 0u);
  EXPECT_EQ(Walk(ix, GVNAV_NEXT, 0), (std::vector<GVNOTEID>{b}));
  EXPECT_EQ(GVIndexSearch(ix, nullptr, form + 100, 0), GVERR_NO_FORM);
}

// A search loads only the items its formula names: names in another letter case, names under
// @@absent@@ and items beyond the first few rows of a note still decide, and a FIELD
// assignment reads nothing of its own.
TEST_P(IndexTest, SearchesSeeEveryItemTheirFormulaNames) {
  std::vector<It> many = {Text("Form", "Item")};
  for (int i = 0; i < 20; ++i)
    many.push_back(Text("I" + std::to_string(i), "v" + std::to_string(i) + " \xC3\xA9t\xC3\xA9"));
  GVNOTEID a = Put(db_, {Text("Form", "Item"), Text("Colour", "Red"), Num("Size", 3)});
  GVNOTEID b = Put(db_, {Text("Form", "Item"), Text("Colour", "blue")});
  GVNOTEID c = Put(db_, {Text("Form", "Item"), Num("SIZE", 1)});
  GVNOTEID d = Put(db_, many);
  GVINDEX ix = 0;
  ASSERT_EQ(GVIndexOpen(db_, &ix), 0u);
  const struct {
    const char* formula;
    std::vector<GVNOTEID> want;
  } cases[] = {
      {"SELECT COLOUR = 'Red'", {a}},
      {"SELECT colour = 'blue'", {b}},
      {"SELECT @@89@@(cOlOuR) & size < 2", {c}},
      {"SELECT Size > 2 | Colour = 'blue' | I19 = 'v19 \xC3\xA9t\xC3\xA9'", {a, b, d}},
      {"FIELD Size := 9; SELECT Size = 9", {}},
      {"SELECT i8 = 'v8 \xC3\xA9t\xC3\xA9' & I0 = 'v0 \xC3\xA9t\xC3\xA9'", {d}},
  };
  for (const auto& t : cases) {
    ASSERT_EQ(GVIndexSearch(ix, t.formula, 0, 0), 0u) << t.formula;
    EXPECT_EQ(Walk(ix, GVNAV_NEXT, 0), t.want) << t.formula;
  }
  // Each of the many rows is indexed for full text and read back in its place.
  uint32_t found = 0;
  ASSERT_EQ(GVIndexFTSearch(ix, "v17", 0, 0, &found), 0u);
  EXPECT_EQ(Walk(ix, GVNAV_NEXT, 0), (std::vector<GVNOTEID>{d}));
  GVDOC doc = 0;
  ASSERT_EQ(GVDocumentOpen(db_, d, GVOPEN_READONLY, &doc), 0u);
  for (int i = 0; i < 20; ++i) {
    char text[64] = "";
    uint32_t kind = GVTYPE_TEXT;
    const std::string name = "I" + std::to_string(i);
    ASSERT_EQ(GVItemFetch(doc, name.c_str(), &kind, 0, sizeof text, text), 0u) << name;
    EXPECT_EQ(std::string(text), "v" + std::to_string(i) + " \xC3\xA9t\xC3\xA9");
  }
  EXPECT_EQ(GVDocumentClose(doc, GVCLOSE_DISCARD), 0u);
  EXPECT_EQ(GVIndexClose(ix), 0u);
}

// ---------------------------------------------------------------- categories and lists ---

TEST_P(IndexTest, CategoriesGroupDocumentsAndCarryTheirValue) {
  GVNOTEID view = 0;
  ASSERT_EQ(MakeView(db_, "ByType", "",
                     {{GVCOL_CATEGORY, "Type"}, {GVCOL_SORTED, "Name"}, {0, "N"}}, &view),
            0u);
  GVNOTEID b = Put(db_, {Text("Type", "x"), Text("Name", "b"), Num("N", 2)});
  GVNOTEID a = Put(db_, {Text("Type", "X"), Text("Name", "a"), Num("N", 1)});
  GVNOTEID c = Put(db_, {Text("Type", "y"), Text("Name", "c"), Num("N", 3)});
  GVINDEX ix = OpenView(view);
  const uint32_t kCat = GVENTRY_CATEGORY | GVENTRY_HAS_CHILDREN;
  const uint32_t kDoc1 = 1u << 8;
  EXPECT_EQ(WalkSteps(ix),
            (std::vector<Step>{{0, kCat}, {a, kDoc1}, {b, kDoc1}, {0, kCat}, {c, kDoc1}}));
  EXPECT_EQ(GVIndexGetCount(ix), 3u);
  // Positions count the entries of level 0: here the categories.
  ASSERT_EQ(GVIndexSetPosition(ix, 2), 0u);
  EXPECT_EQ(CellText(ix, 1), "y");
  EXPECT_EQ(CellText(ix, 2), "");
  double n = 0;
  EXPECT_EQ(GVViewcellFetch(ix, 3, GVTYPE_NUMBER, 0, &n), GVERR_NO_VALUE);
  ASSERT_EQ(GVIndexSetPosition(ix, 1), 0u);
  EXPECT_EQ(CellText(ix, 1), "X");  // the first document's spelling
  ASSERT_EQ(GVIndexSetPosition(ix, 3), 0u);
  EXPECT_EQ(GVIndexNavigate(ix, GVNAV_CURRENT, 0, nullptr, nullptr), GVERR_NO_MORE);
  EXPECT_EQ(GVViewcellFetch(ix, 1, GVTYPE_TEXT, 8, &n), GVERR_NOT_POSITIONED);
}

TEST_P(IndexTest, ListValuesInExpandedColumnsMakeOneEntryEach) {
  GVNOTEID view = 0, cats = 0;
  ASSERT_EQ(MakeView(db_, "Tags", "", {{GVCOL_SORTED | GVCOL_EXPAND, "Tags"}, {0, "Tags"}}, &view),
            0u);
  ASSERT_EQ(MakeView(db_, "TagCats", "", {{GVCOL_CATEGORY, "Tags"}, {GVCOL_SORTED, "Name"}}, &cats),
            0u);
  GVNOTEID one = Put(db_, {TextList("Tags", {"b", "a"}), Text("Name", "one")});
  GVNOTEID two = Put(db_, {TextList("Tags", {"c"}), Text("Name", "two")});
  GVNOTEID none = Put(db_, {TextList("Tags", {}), Text("Name", "none")});
  GVNOTEID nums = Put(db_, {NumList("Tags", {2, 1}), Text("Name", "nums")});
  GVINDEX ix = OpenView(view);
  EXPECT_EQ(Walk(ix, GVNAV_NEXT, 0), (std::vector<GVNOTEID>{none, nums, nums, one, one, two}));
  EXPECT_EQ(GVIndexGetCount(ix), 6u);
  ASSERT_EQ(GVIndexSetPosition(ix, 4), 0u);
  EXPECT_EQ(CellText(ix, 1), "a");
  EXPECT_EQ(CellText(ix, 2), "b, a");  // an unexpanded column shows the whole list
  // Each note once since the last fill.
  ASSERT_EQ(GVIndexRefresh(ix), 0u);
  EXPECT_EQ(Walk(ix, GVNAV_NEXT, GVNAVF_UNIQUE), (std::vector<GVNOTEID>{none, nums, one, two}));
  ASSERT_EQ(GVIndexSetPosition(ix, 0), 0u);
  EXPECT_TRUE(Walk(ix, GVNAV_NEXT, GVNAVF_UNIQUE).empty());
  GVKey key{};
  key.column = 1;
  key.kind = GVTYPE_TEXT;
  key.text = "B";
  uint32_t matches = 0;
  ASSERT_EQ(GVIndexKeySearch(ix, 1, &key, 0, &matches), 0u);
  EXPECT_EQ(matches, 1u);
  GVNOTEID id = 0;
  ASSERT_EQ(GVIndexNavigate(ix, GVNAV_CURRENT, 0, &id, nullptr), 0u);
  EXPECT_EQ(id, one);
  key.kind = GVTYPE_NUMBER;
  key.number = 1;
  ASSERT_EQ(GVIndexKeySearch(ix, 1, &key, 0, &matches), 0u);
  EXPECT_EQ(matches, 1u);

  GVINDEX ci = OpenView(cats);
  std::vector<std::string> labels;
  std::vector<GVNOTEID> notes;
  for (GVNOTEID n = 0; GVIndexNavigate(ci, GVNAV_NEXT, 0, &n, nullptr) == 0;) {
    notes.push_back(n);
    if (n == 0) labels.push_back(CellText(ci, 1));
  }
  EXPECT_EQ(labels, (std::vector<std::string>{"", "1", "2", "a", "b", "c"}));
  EXPECT_EQ(notes, (std::vector<GVNOTEID>{0, none, 0, nums, 0, nums, 0, one, 0, one, 0, two}));
}

// A view is read in pages of a thousand entries: runs of one sort key that cross a page
// (several notes, each with many list entries of one value) come back whole and in order.
TEST_P(IndexTest, AViewLargerThanAReadPageComesBackWholeAndInKeyOrder) {
  GVNOTEID view = 0;
  ASSERT_EQ(MakeView(db_, "Tags", "", {{GVCOL_SORTED | GVCOL_EXPAND, "Tags"}, {0, "Name"}}, &view),
            0u);
  constexpr size_t kEntries = 1700;  // each run crosses a page
  const std::vector<std::string> same(kEntries, "Même");
  std::vector<GVNOTEID> want;
  GVNOTEID first = Put(db_, {Text("Name", "zz"), TextList("Tags", {"Zoë"})});
  for (const char* name : {"a", "b", "c"}) {
    GVNOTEID id = Put(db_, {Text("Name", name), TextList("Tags", same)});
    want.insert(want.end(), kEntries, id);
  }
  GVNOTEID last = Put(db_, {Text("Name", "0"), TextList("Tags", {"m"})});
  want.insert(want.begin(), last);
  want.push_back(first);
  GVINDEX ix = OpenView(view);
  EXPECT_EQ(GVIndexGetCount(ix), want.size());
  EXPECT_EQ(Walk(ix, GVNAV_NEXT, 0), want);
  // Back from the last entry, where the walk stopped.
  EXPECT_EQ(Walk(ix, GVNAV_PREV, 0), std::vector<GVNOTEID>(want.rbegin() + 1, want.rend()));
  GVKey key{};
  key.column = 1;
  key.kind = GVTYPE_TEXT;
  key.text = "MÊME";  // letter case folds for ASCII letters only
  uint32_t matches = 0;
  EXPECT_EQ(GVIndexKeySearch(ix, 1, &key, 0, &matches), GVERR_KEY_NOT_FOUND);
  key.text = "MêmE";
  ASSERT_EQ(GVIndexKeySearch(ix, 1, &key, 0, &matches), 0u);
  EXPECT_EQ(matches, 3 * kEntries);
  EXPECT_EQ(CellText(ix, 2), "a");
}

// ---------------------------------------------------------------- hierarchy --------------

TEST_P(IndexTest, ResponsesSitBeneathTheirParents) {
  GVNOTEID view = 0, flat = 0;
  ASSERT_EQ(MakeView(db_, "Threads", "", {{GVCOL_SORTED, "Name"}}, &view, GVVIEWF_RESPONSES), 0u);
  ASSERT_EQ(MakeView(db_, "Flat", "", {{GVCOL_SORTED, "Name"}}, &flat), 0u);
  GVNOTEID p = Put(db_, {Text("Name", "p")});
  GVNOTEID q = Put(db_, {Text("Name", "q")});
  std::vector<uint8_t> pu = UnidOf(db_, p);
  GVNOTEID r2 = Put(db_, {Text("Name", "r2")}, pu.data());
  GVNOTEID r1 = Put(db_, {Text("Name", "r1")}, pu.data());
  std::vector<uint8_t> r1u = UnidOf(db_, r1);
  GVNOTEID r11 = Put(db_, {Text("Name", "a-first-by-name")}, r1u.data());
  // Two documents that answer each other must not loop.
  GVNOTEID x = Put(db_, {Text("Name", "x")});
  GVNOTEID y = Put(db_, {Text("Name", "y")}, UnidOf(db_, x).data());
  Update(db_, x, {});
  {
    GVDOC d = 0;
    ASSERT_EQ(GVDocumentOpen(db_, x, 0, &d), 0u);
    ASSERT_EQ(GVDocumentSetProperty(d, GVDOCPROP_PARENT, UnidOf(db_, y).data()), 0u);
    ASSERT_EQ(GVDocumentClose(d, 0), 0u);
  }
  GVINDEX ix = OpenView(view);
  const uint32_t kKids = GVENTRY_HAS_CHILDREN, kResp = GVENTRY_RESPONSE;
  EXPECT_EQ(WalkSteps(ix), (std::vector<Step>{{p, kKids},
                                              {r1, kResp | kKids | (1u << 8)},
                                              {r11, kResp | (2u << 8)},
                                              {r2, kResp | (1u << 8)},
                                              {q, 0},
                                              {x, 0},
                                              {y, 0}}));
  GVINDEX fi = OpenView(flat);
  EXPECT_EQ(Walk(fi, GVNAV_NEXT, 0), (std::vector<GVNOTEID>{r11, p, q, r1, r2, x, y}));
  // Main documents only.
  ASSERT_EQ(GVIndexRefresh(ix), 0u);
  EXPECT_EQ(Walk(ix, GVNAV_NEXT_MAIN, GVNAVF_DOCUMENTS | GVNAVF_UNIQUE),
            (std::vector<GVNOTEID>{p, q, x, y}));
}

// Every navigation the callers make, as a script of (direction, flags) → expected note.
TEST_P(IndexTest, NavigationShapesOfTheCallers) {
  GVNOTEID threads = 0, cats = 0;
  ASSERT_EQ(MakeView(db_, "Threads", "SELECT Kind = 't'", {{GVCOL_SORTED, "Name"}}, &threads,
                     GVVIEWF_RESPONSES),
            0u);
  ASSERT_EQ(MakeView(db_, "Cats", "SELECT Kind = 'c'",
                     {{GVCOL_CATEGORY, "Type"}, {GVCOL_SORTED, "Name"}}, &cats),
            0u);
  GVNOTEID p = Put(db_, {Text("Kind", "t"), Text("Name", "p")});
  GVNOTEID r1 = Put(db_, {Text("Kind", "t"), Text("Name", "r1")}, UnidOf(db_, p).data());
  GVNOTEID r11 = Put(db_, {Text("Kind", "t"), Text("Name", "r11")}, UnidOf(db_, r1).data());
  GVNOTEID r2 = Put(db_, {Text("Kind", "t"), Text("Name", "r2")}, UnidOf(db_, p).data());
  GVNOTEID q = Put(db_, {Text("Kind", "t"), Text("Name", "q")});
  GVNOTEID a = Put(db_, {Text("Kind", "c"), Text("Type", "x"), Text("Name", "a")});
  GVNOTEID b = Put(db_, {Text("Kind", "c"), Text("Type", "x"), Text("Name", "b")});
  GVNOTEID c = Put(db_, {Text("Kind", "c"), Text("Type", "y"), Text("Name", "c")});

  struct Move {
    uint32_t setPosition;  // ~0u: none
    uint32_t direction;
    uint32_t flags;
    uint32_t status;
    GVNOTEID note;
  };
  const uint32_t kNo = ~0u;
  const struct {
    const char* what;
    GVNOTEID view;
    std::vector<Move> moves;
  } scripts[] = {
      {"descendants: peek, first, next below, end, parent",
       threads,
       {{1, GVNAV_CURRENT, 0, 0, p},
        {kNo, GVNAV_FIRST_DESCENDANT, GVNAVF_PEEK, 0, r1},
        {kNo, GVNAV_CURRENT, 0, 0, p},
        {kNo, GVNAV_FIRST_DESCENDANT, 0, 0, r1},
        {kNo, GVNAV_NEXT_DESCENDANT, 0, 0, r11},
        {kNo, GVNAV_NEXT_DESCENDANT, 0, 0, r2},
        {kNo, GVNAV_NEXT_DESCENDANT, 0, GVERR_NO_MORE, 0},
        {kNo, GVNAV_CURRENT, 0, 0, r2},
        {kNo, GVNAV_PARENT, 0, 0, p},
        {kNo, GVNAV_PARENT, 0, GVERR_NO_MORE, 0},
        {2, GVNAV_FIRST_DESCENDANT, GVNAVF_PEEK, GVERR_NO_MORE, 0},
        {2, GVNAV_NEXT_DESCENDANT, 0, GVERR_NO_MORE, 0}}},
      {"next, previous, next of level 0, backward",
       threads,
       {{0, GVNAV_NEXT, 0, 0, p},
        {kNo, GVNAV_NEXT, 0, 0, r1},
        {kNo, GVNAV_NEXT_MAIN, 0, 0, q},
        {kNo, GVNAV_PREV, 0, 0, r2},
        {kNo, GVNAV_NEXT, GVNAVF_BACKWARD, 0, r11},
        {kNo, GVNAV_NEXT_MAIN, GVNAVF_BACKWARD, 0, p},
        {kNo, GVNAV_NEXT, GVNAVF_BACKWARD, GVERR_NO_MORE, 0},
        {kNo, GVNAV_CURRENT, 0, 0, p},
        {2, GVNAV_NEXT, 0, GVERR_NO_MORE, 0},
        {kNo, GVNAV_CURRENT, 0, 0, q},
        {kNo, GVNAV_PREV, 0, 0, r2},
        {0, GVNAV_PREV, 0, GVERR_NO_MORE, 0},
        {0, 99, 0, GVERR_INVALID_ARGUMENT, 0}}},
      {"categories: current moves onto the first, documents skip categories",
       cats,
       {{0, GVNAV_CURRENT, 0, 0, 0},
        {0, GVNAV_CURRENT, GVNAVF_DOCUMENTS, 0, a},
        {2, GVNAV_CURRENT, 0, 0, 0},
        {kNo, GVNAV_CURRENT, GVNAVF_DOCUMENTS, 0, c},
        {kNo, GVNAV_PARENT, 0, 0, 0},
        {kNo, GVNAV_PARENT, GVNAVF_DOCUMENTS, GVERR_NO_MORE, 0},
        {1, GVNAV_NEXT_MAIN, GVNAVF_DOCUMENTS, 0, a},
        {kNo, GVNAV_NEXT_MAIN, 0, 0, b},
        {kNo, GVNAV_NEXT_MAIN, 0, 0, 0},
        {kNo, GVNAV_NEXT_MAIN, GVNAVF_DOCUMENTS, 0, c},
        {kNo, GVNAV_NEXT_MAIN, GVNAVF_DOCUMENTS, GVERR_NO_MORE, 0},
        {0, GVNAV_NEXT, GVNAVF_DOCUMENTS | GVNAVF_UNIQUE, GVERR_NO_MORE, 0}}},
  };
  for (const auto& s : scripts) {
    GVINDEX ix = OpenView(s.view);
    for (size_t i = 0; i < s.moves.size(); ++i) {
      const Move& m = s.moves[i];
      if (m.setPosition != kNo) {
        ASSERT_EQ(GVIndexSetPosition(ix, m.setPosition), 0u);
      }
      GVNOTEID id = 12345;
      EXPECT_EQ(GVIndexNavigate(ix, m.direction, m.flags, &id, nullptr), m.status)
          << s.what << " step " << i;
      EXPECT_EQ(id, m.status == 0 ? m.note : 12345u) << s.what << " step " << i;
    }
    GVIndexClose(ix);
  }
}

// ---------------------------------------------------------------- key search -------------

class KeySearchTest : public DbTest {
 protected:
  void SetUp() override {
    DbTest::SetUp();
    ASSERT_EQ(
        MakeView(db_, "Keys", "",
                 {{GVCOL_SORTED, "Name"}, {GVCOL_SORTED, "N"}, {GVCOL_SORTED, "When"}, {0, "Tag"}},
                 &view_),
        0u);
    const GVTIMEDATE t1 = At(2024, 5, 1, 10), t2 = At(2024, 5, 2, 10), t3 = At(2024, 5, 3, 10);
    apple1_ = Put(db_, {Text("Name", "apple"), Num("N", 1), Time("When", t1), Text("Tag", "red")});
    apple2_ =
        Put(db_, {Text("Name", "Apple"), Num("N", 2), Time("When", t2), Text("Tag", "green")});
    apple3_ = Put(db_, {Text("Name", "apple"), Num("N", 2), Time("When", t3), Text("Tag", "red")});
    banana_ = Put(db_, {Text("Name", "banana"), Num("N", 1), Time("When", t1), Text("Tag", "red")});
    cherry_ =
        Put(db_, {Text("Name", "cherry"), Num("N", 3), Time("When", t2), Text("Tag", "blue")});
    ix_ = OpenView(view_);
  }
  static GVKey Key(uint32_t column, const char* text) {
    GVKey k{};
    k.column = column;
    k.kind = GVTYPE_TEXT;
    k.text = text;
    return k;
  }
  static GVKey Key(uint32_t column, double number) {
    GVKey k{};
    k.column = column;
    k.kind = GVTYPE_NUMBER;
    k.number = number;
    return k;
  }
  static GVKey Key(uint32_t column, GVTIMEDATE time) {
    GVKey k{};
    k.column = column;
    k.kind = GVTYPE_TIME;
    k.time = time;
    return k;
  }
  GVNOTEID view_ = 0, apple1_ = 0, apple2_ = 0, apple3_ = 0, banana_ = 0, cherry_ = 0;
  GVINDEX ix_ = 0;
};

TEST_P(KeySearchTest, FindsTheFirstMatchAndCountsTheRun) {
  const GVTIMEDATE t3 = At(2024, 5, 3, 10);
  const struct {
    const char* what;
    std::vector<GVKey> keys;
    uint32_t status;
    uint32_t matches;
    std::vector<GVNOTEID> delivered;  // CURRENT then NEXT for the matches
  } cases[] = {
      {"leading text, case folded", {Key(1, "APPLE")}, 0, 3, {apple1_, apple2_, apple3_}},
      {"two leading columns", {Key(1, "apple"), Key(2, 2.0)}, 0, 2, {apple2_, apple3_}},
      {"three leading columns, time", {Key(1, "apple"), Key(2, 2.0), Key(3, t3)}, 0, 1, {apple3_}},
      {"time in another zone, same instant",
       {Key(1, "apple"), Key(2, 2.0), Key(3, At(2024, 5, 3, 5, 0, 0, -5))},
       0,
       1,
       {apple3_}},
      {"not leading: the run of consecutive matches", {Key(4, "RED")}, 0, 1, {apple1_}},
      {"not leading, second column", {Key(2, 3.0)}, 0, 1, {cherry_}},
      {"absent", {Key(1, "durian")}, GVERR_KEY_NOT_FOUND, 0, {}},
      {"kind differs from the cells", {Key(1, 1.0)}, GVERR_KEY_NOT_FOUND, 0, {}},
  };
  for (const auto& c : cases) {
    uint32_t matches = 99;
    EXPECT_EQ(
        GVIndexKeySearch(ix_, static_cast<uint32_t>(c.keys.size()), c.keys.data(), 0, &matches),
        c.status)
        << c.what;
    EXPECT_EQ(matches, c.matches) << c.what;
    std::vector<GVNOTEID> got;
    GVNOTEID id = 0;
    for (uint32_t i = 0; i < c.matches; ++i)
      if (GVIndexNavigate(ix_, i == 0 ? GVNAV_CURRENT : GVNAV_NEXT, 0, &id, nullptr) == 0)
        got.push_back(id);
    EXPECT_EQ(got, c.delivered) << c.what;
  }
  // Not found leaves the index before the first entry.
  GVKey absent = Key(1, "zzz");
  EXPECT_EQ(GVIndexKeySearch(ix_, 1, &absent, 0, nullptr), GVERR_KEY_NOT_FOUND);
  GVNOTEID id = 0;
  ASSERT_EQ(GVIndexNavigate(ix_, GVNAV_CURRENT, 0, &id, nullptr), 0u);
  EXPECT_EQ(id, apple1_);
}

TEST_P(KeySearchTest, RefusesWhatItCannotSearch) {
  GVKey k = Key(1, "apple");
  EXPECT_EQ(GVIndexKeySearch(ix_, 0, &k, 0, nullptr), GVERR_INVALID_ARGUMENT);
  EXPECT_EQ(GVIndexKeySearch(ix_, 1, nullptr, 0, nullptr), GVERR_INVALID_ARGUMENT);
  GVKey far = Key(5, "x");
  EXPECT_EQ(GVIndexKeySearch(ix_, 1, &far, 0, nullptr), GVERR_NO_COLUMN);
  GVKey odd = Key(1, "x");
  odd.kind = GVTYPE_TEXT_LIST;
  EXPECT_EQ(GVIndexKeySearch(ix_, 1, &odd, 0, nullptr), GVERR_INVALID_ARGUMENT);
  GVKey nullText = Key(1, static_cast<const char*>(nullptr));
  EXPECT_EQ(GVIndexKeySearch(ix_, 1, &nullText, 0, nullptr), GVERR_KEY_NOT_FOUND);
  GVINDEX search = 0;
  ASSERT_EQ(GVIndexOpen(db_, &search), 0u);
  ASSERT_EQ(GVIndexSearch(search, nullptr, 0, 0), 0u);
  EXPECT_EQ(GVIndexKeySearch(search, 1, &k, 0, nullptr), GVERR_NOT_SUPPORTED);
}

TEST_P(KeySearchTest, TheSelectSlotStepsBackSoThatFetchDeliversTheMatch) {
  // Key search, then one step backward; fetch then walks forward with flags 12.
  for (auto [name, first] : {std::pair{"banana", banana_}, std::pair{"apple", apple1_}}) {
    GVKey k = Key(1, name);
    uint32_t matches = 0;
    ASSERT_EQ(GVIndexKeySearch(ix_, 1, &k, 0, &matches), 0u);
    uint32_t st = GVIndexNavigate(ix_, GVNAV_NEXT, GVNAVF_BACKWARD, nullptr, nullptr);
    if (st == GVERR_NO_MORE) {
      ASSERT_EQ(GVIndexSetPosition(ix_, 0), 0u);
    } else {
      ASSERT_EQ(st, 0u);
    }
    std::vector<GVNOTEID> got = Walk(ix_, GVNAV_NEXT, GVNAVF_DOCUMENTS | GVNAVF_UNIQUE);
    ASSERT_GE(got.size(), matches);
    EXPECT_EQ(got.front(), first) << name;
  }
}

TEST_P(KeySearchTest, ALongLivedIndexSeesNewSavesOnKeySearch) {
  GVKey k = Key(1, "date");
  EXPECT_EQ(GVIndexKeySearch(ix_, 1, &k, 0, nullptr), GVERR_KEY_NOT_FOUND);
  GVNOTEID date = Put(db_, {Text("Name", "Date"), Num("N", 9)});
  uint32_t matches = 0;
  ASSERT_EQ(GVIndexKeySearch(ix_, 1, &k, 0, &matches), 0u);
  EXPECT_EQ(matches, 1u);
  GVNOTEID id = 0;
  ASSERT_EQ(GVIndexNavigate(ix_, GVNAV_CURRENT, 0, &id, nullptr), 0u);
  EXPECT_EQ(id, date);
}

// ---------------------------------------------------------------- positions and cells ----

TEST_P(KeySearchTest, SavedPositionsSurviveRefreshAndDeletion) {
  GVKey k = Key(1, "apple");
  ASSERT_EQ(GVIndexKeySearch(ix_, 1, &k, 0, nullptr), 0u);
  ASSERT_EQ(GVIndexNavigate(ix_, GVNAV_NEXT, 0, nullptr, nullptr), 0u);  // apple2
  char saved[GV_POSITION_SIZE];
  ASSERT_EQ(GVIndexGetViewPosition(ix_, 0, saved), 0u);
  EXPECT_LT(std::strlen(saved), GV_POSITION_SIZE);
  ASSERT_EQ(GVIndexSetPosition(ix_, 0), 0u);
  ASSERT_EQ(GVIndexSetViewPosition(ix_, saved), 0u);
  GVNOTEID id = 0;
  ASSERT_EQ(GVIndexNavigate(ix_, GVNAV_CURRENT, 0, &id, nullptr), 0u);
  EXPECT_EQ(id, apple2_);
  // After a refresh that moved entries the same entry is found; once it is gone, the next.
  Put(db_, {Text("Name", "aardvark")});
  ASSERT_EQ(GVIndexRefresh(ix_), 0u);
  ASSERT_EQ(GVIndexSetViewPosition(ix_, saved), 0u);
  ASSERT_EQ(GVIndexNavigate(ix_, GVNAV_CURRENT, 0, &id, nullptr), 0u);
  EXPECT_EQ(id, apple2_);
  ASSERT_EQ(GVDocumentDelete(db_, apple2_, 0), 0u);
  ASSERT_EQ(GVIndexRefresh(ix_), 0u);
  ASSERT_EQ(GVIndexSetViewPosition(ix_, saved), 0u);
  ASSERT_EQ(GVIndexNavigate(ix_, GVNAV_CURRENT, 0, &id, nullptr), 0u);
  EXPECT_EQ(id, apple3_);
  // Before the first and after the last are positions too.
  ASSERT_EQ(GVIndexSetPosition(ix_, 0), 0u);
  ASSERT_EQ(GVIndexGetViewPosition(ix_, 0, saved), 0u);
  ASSERT_EQ(GVIndexSetPosition(ix_, 99), 0u);
  ASSERT_EQ(GVIndexSetViewPosition(ix_, saved), 0u);
  ASSERT_EQ(GVIndexNavigate(ix_, GVNAV_NEXT, 0, &id, nullptr), 0u);
  EXPECT_NE(id, 0u);
  for (const char* bad : {"", "v1", "v2;B", "v1;1,2", "v1;x,2,0,00", "v1;0,2,0,0g", "v1;B;B;B"})
    EXPECT_EQ(GVIndexSetViewPosition(ix_, bad), GVERR_INVALID_ARGUMENT) << bad;
  std::string huge(600, 'v');
  EXPECT_EQ(GVIndexSetViewPosition(ix_, huge.c_str()), GVERR_INVALID_ARGUMENT);
  EXPECT_EQ(GVIndexGetViewPosition(ix_, 0, nullptr), GVERR_INVALID_ARGUMENT);
}

TEST_P(IndexTest, ASavedWalkResumesBelowTheSameParent) {
  GVNOTEID view = 0;
  ASSERT_EQ(MakeView(db_, "Threads", "", {{GVCOL_SORTED, "Name"}}, &view, GVVIEWF_RESPONSES), 0u);
  GVNOTEID p = Put(db_, {Text("Name", "p")});
  GVNOTEID r1 = Put(db_, {Text("Name", "r1")}, UnidOf(db_, p).data());
  GVNOTEID r2 = Put(db_, {Text("Name", "r2")}, UnidOf(db_, p).data());
  Put(db_, {Text("Name", "q")});
  GVINDEX ix = OpenView(view);
  ASSERT_EQ(GVIndexSetPosition(ix, 1), 0u);
  GVNOTEID id = 0;
  ASSERT_EQ(GVIndexNavigate(ix, GVNAV_FIRST_DESCENDANT, 0, &id, nullptr), 0u);
  EXPECT_EQ(id, r1);
  char saved[GV_POSITION_SIZE];
  ASSERT_EQ(GVIndexGetViewPosition(ix, GVPOSF_WALK, saved), 0u);
  // Walk on elsewhere, then come back: the descendant walk goes on where it was.
  ASSERT_EQ(GVIndexSetPosition(ix, 2), 0u);
  ASSERT_EQ(GVIndexSetViewPosition(ix, saved), 0u);
  ASSERT_EQ(GVIndexNavigate(ix, GVNAV_NEXT_DESCENDANT, 0, &id, nullptr), 0u);
  EXPECT_EQ(id, r2);
  // Without the walk the anchor is not restored.
  char plain[GV_POSITION_SIZE];
  ASSERT_EQ(GVIndexSetViewPosition(ix, saved), 0u);
  ASSERT_EQ(GVIndexGetViewPosition(ix, 0, plain), 0u);
  ASSERT_EQ(GVIndexSetViewPosition(ix, plain), 0u);
  EXPECT_EQ(GVIndexNavigate(ix, GVNAV_NEXT_DESCENDANT, 0, &id, nullptr), GVERR_NO_MORE);
}

TEST_P(IndexTest, CellsReadAsNumbersTimesTextsAndLists) {
  GVNOTEID view = 0;
  ASSERT_EQ(MakeView(db_, "Cells", "",
                     {{GVCOL_SORTED, "N"},
                      {0, "When"},
                      {0, "Words"},
                      {0, "Missing"},
                      {0, "Body"},
                      {0, "N * 2"}},
                     &view),
            0u);
  const GVTIMEDATE when = At(1996, 11, 5, 14, 7, 9);
  GVNOTEID id = Put(db_, {Num("N", 2.5), Time("When", when), TextList("Words", {"alpha", "beta"})});
  {
    GVDOC doc = 0;
    ASSERT_EQ(GVDocumentOpen(db_, id, 0, &doc), 0u);
    ASSERT_EQ(GVItemPut(doc, "Body", GVTYPE_COMPOSITE, 0, GVTYPE_TEXT, "rich\ntext", 0), 0u);
    ASSERT_EQ(GVDocumentClose(doc, 0), 0u);
  }
  GVINDEX ix = OpenView(view);
  double n = 0;
  EXPECT_EQ(GVViewcellFetch(ix, 1, GVTYPE_NUMBER, 0, &n), GVERR_NOT_POSITIONED);
  ASSERT_EQ(GVIndexNavigate(ix, GVNAV_NEXT, 0, nullptr, nullptr), 0u);
  ASSERT_EQ(GVViewcellFetch(ix, 1, GVTYPE_NUMBER, 0, &n), 0u);
  EXPECT_EQ(n, 2.5);
  ASSERT_EQ(GVViewcellFetch(ix, 6, GVTYPE_NUMBER, 0, &n), 0u);
  EXPECT_EQ(n, 5.0);
  GVTIMEDATE t{};
  ASSERT_EQ(GVViewcellFetch(ix, 2, GVTYPE_TIME, 0, &t), 0u);
  EXPECT_EQ(std::memcmp(&t, &when, sizeof t), 0);
  EXPECT_EQ(GVViewcellFetch(ix, 2, GVTYPE_NUMBER, 0, &n), GVERR_ITEM_KIND);
  EXPECT_EQ(GVViewcellFetch(ix, 4, GVTYPE_NUMBER, 0, &n), GVERR_NO_VALUE);
  EXPECT_EQ(GVViewcellFetch(ix, 4, GVTYPE_TIME, 0, &t), GVERR_NO_VALUE);
  EXPECT_EQ(CellText(ix, 1), "2.5");
  EXPECT_EQ(CellText(ix, 3), "alpha, beta");
  EXPECT_EQ(CellText(ix, 4), "");
  EXPECT_EQ(CellText(ix, 5), "rich\ntext");
  uint32_t length = 0;
  ASSERT_EQ(GVViewcellGetLength(ix, 3, GVTYPE_TEXT, &length), 0u);
  EXPECT_EQ(length, 11u);
  // The connector reads with the length it got plus room for the NUL; less room cuts.
  char small[6];
  ASSERT_EQ(GVViewcellFetch(ix, 3, GVTYPE_TEXT, sizeof small, small), 0u);
  EXPECT_STREQ(small, "alpha");
  EXPECT_EQ(GVViewcellFetch(ix, 3, GVTYPE_TEXT, 0, small), GVERR_BUFFER_TOO_SMALL);
  uint8_t list[64];
  ASSERT_EQ(GVViewcellGetLength(ix, 3, GVTYPE_TEXT_LIST, &length), 0u);
  EXPECT_EQ(length, 2u + 4u + 9u);
  ASSERT_EQ(GVViewcellFetch(ix, 3, GVTYPE_TEXT_LIST, sizeof list, list), 0u);
  EXPECT_EQ(GVTextListGetCount(list, length), 2u);
  EXPECT_EQ(GVViewcellFetch(ix, 3, GVTYPE_TEXT_LIST, 4, list), GVERR_BUFFER_TOO_SMALL);
  for (uint32_t column : {0u, 7u})
    EXPECT_EQ(GVViewcellFetch(ix, column, GVTYPE_NUMBER, 0, &n), GVERR_NO_COLUMN) << column;
  EXPECT_EQ(GVViewcellFetch(ix, 1, GVTYPE_COMPOSITE, sizeof list, list), GVERR_ITEM_KIND);
  EXPECT_EQ(GVViewcellFetch(ix, 1, GVTYPE_NUMBER, 0, nullptr), GVERR_INVALID_ARGUMENT);
  GVINDEX search = 0;
  ASSERT_EQ(GVIndexOpen(db_, &search), 0u);
  ASSERT_EQ(GVIndexSearch(search, nullptr, 0, 0), 0u);
  ASSERT_EQ(GVIndexNavigate(search, GVNAV_NEXT, 0, nullptr, nullptr), 0u);
  EXPECT_EQ(GVViewcellFetch(search, 1, GVTYPE_NUMBER, 0, &n), GVERR_NO_COLUMN);
}

// ---------------------------------------------------------------- the stamp view ----------

// The connector's select with a stamp field: a temporary view whose first column (a
// category) says 2 for documents stamped within (base, max] and 1 for all others, then one
// sorted column; position 1, read column 1, position 2 unless it read 2, fetch onward.
TEST_P(IndexTest, TheStampViewDeliversExactlyTheDocumentsInTheWindow) {
  const std::string stamp =
      "@@181@@ (@@89@@ (Stamp); 1; @@93@@ (Stamp) & (Stamp > @@75@@(1996;11;5;0;0;0) & "
      "Stamp <= @@75@@(1996;11;6;0;0;0)); 2; 1)";
  auto select = [&](const std::vector<std::vector<It>>& docs, std::vector<GVNOTEID>& ids,
                    uint32_t& cellStatus) {
    static int round = 0;
    std::string form = "Item" + std::to_string(round++);
    ids.clear();
    for (std::vector<It> d : docs) {
      d.push_back(Text("Form", form));
      ids.push_back(Put(db_, d));
    }
    GVNOTEID view = 0;
    EXPECT_EQ(
        MakeView(db_, "(TWMainIndexView" + form + ")", "@@select@@ Form = '" + form + "'",
                 {{GVCOL_CATEGORY, stamp}, {GVCOL_SORTED, "Order"}}, &view, 0, GVVIEW_TEMPORARY),
        0u);
    GVINDEX ix = OpenView(view);
    EXPECT_EQ(GVIndexSetPosition(ix, 1), 0u);
    double first = 0;
    cellStatus = GVViewcellFetch(ix, 1, GVTYPE_NUMBER, 0, &first);
    if (cellStatus != 0 || first != 2.0) {
      EXPECT_EQ(GVIndexSetPosition(ix, 2), 0u);
    }
    std::vector<GVNOTEID> got = Walk(ix, GVNAV_NEXT, GVNAVF_DOCUMENTS | GVNAVF_UNIQUE);
    GVIndexClose(ix);
    EXPECT_EQ(GVViewDelete(db_, view), 0u);
    return got;
  };
  std::vector<GVNOTEID> ids;
  uint32_t cell = 0;
  const std::vector<std::vector<It>> mixed = {
      {Time("Stamp", At(1996, 11, 5, 12)), Text("Order", "b")},  // in
      {Time("Stamp", At(1996, 11, 4)), Text("Order", "a")},      // before
      {Text("Order", "c")},                                      // no stamp
      {Time("Stamp", At(1996, 11, 6)), Text("Order", "a")},      // the last moment, in
      {Time("Stamp", At(1996, 11, 5)), Text("Order", "d")},      // the first moment, out
      {Text("Stamp", "1996-11-05 12:00"), Text("Order", "e")},   // not a time
      {Time("Stamp", At(1996, 11, 5, 23, 59, 59)), Text("Order", "c")}};
  std::vector<GVNOTEID> got = select(mixed, ids, cell);
  EXPECT_EQ(got, (std::vector<GVNOTEID>{ids[3], ids[0], ids[6]}));
  got = select({{Text("Order", "a")}, {Time("Stamp", At(1990, 1, 1)), Text("Order", "b")}}, ids,
               cell);
  EXPECT_TRUE(got.empty());
  got = select({{Time("Stamp", At(1996, 11, 5, 1)), Text("Order", "b")},
                {Time("Stamp", At(1996, 11, 5, 2)), Text("Order", "a")}},
               ids, cell);
  EXPECT_EQ(cell, 0u);
  EXPECT_EQ(got, (std::vector<GVNOTEID>{ids[1], ids[0]}));
  got = select({}, ids, cell);
  EXPECT_EQ(cell, GVERR_NOT_POSITIONED);
  EXPECT_TRUE(got.empty());
}

// ---------------------------------------------------------------- other processes --------

TEST_P(IndexTest, ViewsStayCurrentWhenAnotherProcessSaves) {
  GVNOTEID view = 0;
  ASSERT_EQ(
      MakeView(db_, "Items", "SELECT Form = 'Item'", {{GVCOL_SORTED, "Name"}, {0, "N"}}, &view),
      0u);
  GVNOTEID mine = Put(db_, {Text("Form", "Item"), Text("Name", "zz-mine")});
  GVINDEX ix = OpenView(view);
  ASSERT_EQ(Wait(Spawn("store 5 child-")), 0);
  // The snapshot is the one taken; a refresh shows the other process's work.
  EXPECT_EQ(GVIndexGetCount(ix), 1u);
  ASSERT_EQ(GVIndexRefresh(ix), 0u);
  EXPECT_EQ(GVIndexGetCount(ix), 5u);  // five stored, the first deleted, mine
  std::vector<std::string> names;
  while (GVIndexNavigate(ix, GVNAV_NEXT, 0, nullptr, nullptr) == 0)
    names.push_back(CellText(ix, 1));
  EXPECT_EQ(names,
            (std::vector<std::string>{"child-1", "child-2", "child-3", "child-4", "zz-mine"}));
  // A key search on a long-lived index sees it without a refresh.
  GVINDEX keyed = OpenView(view);
  ASSERT_EQ(Wait(Spawn("store 3 late-")), 0);
  GVKey key{};
  key.column = 1;
  key.kind = GVTYPE_TEXT;
  key.text = "LATE-2";
  uint32_t matches = 0;
  ASSERT_EQ(GVIndexKeySearch(keyed, 1, &key, 0, &matches), 0u);
  EXPECT_EQ(matches, 1u);
  ASSERT_EQ(GVViewcellFetch(keyed, 2, GVTYPE_NUMBER, 0, &key.number), 0u);
  EXPECT_EQ(key.number, 2.0);
  (void)mine;
}

TEST_P(IndexTest, SavesThroughOneHandleKeepViewsMadeThroughAnother) {
  GVDB other = 0;
  ASSERT_EQ(GVDatabaseOpen(TestServer(), "t.odb", 0, &other), 0u);
  GVNOTEID early = Put(db_, {Text("Name", "early")});  // this handle's design cache is read
  GVNOTEID view = 0;
  ASSERT_EQ(MakeView(other, "Late", "SELECT Name != 'skip'", {{GVCOL_SORTED, "Name"}}, &view), 0u);
  GVNOTEID late = Put(db_, {Text("Name", "late")});
  Put(db_, {Text("Name", "skip")});
  GVINDEX ix = OpenView(view);
  EXPECT_EQ(Walk(ix, GVNAV_NEXT, 0), (std::vector<GVNOTEID>{early, late}));
  ASSERT_EQ(GVViewDelete(other, view), 0u);
  Put(db_, {Text("Name", "after")});  // no view left to keep
  EXPECT_EQ(GVIndexRefresh(ix), GVERR_NO_VIEW);
}

TEST_P(IndexTest, TemporaryViewNamesAreTakenOnceAcrossProcessesAndFreedWithTheirMakers) {
  Put(db_, {Text("Form", "Item"), Text("Name", "a")});
  std::vector<std::unique_ptr<PipedChild>> children;
  for (int i = 0; i < 4; ++i) {
    children.push_back(std::make_unique<PipedChild>("tempview"));
    ASSERT_TRUE(children.back()->started());
  }
  std::vector<std::string> names;
  for (auto& c : children) names.push_back(c->Line());
  EXPECT_EQ(std::set<std::string>(names.begin(), names.end()).size(), 4u);
  for (const std::string& n : names) EXPECT_NE(GVViewLocateByName(db_, n.c_str()), 0u) << n;
  // Two makers are killed (they never delete their views), one ends by itself without
  // deleting; trying their names removes their views, while the living one keeps its own.
  EXPECT_TRUE(WIFSIGNALED(children[0]->Kill()));
  EXPECT_TRUE(WIFSIGNALED(children[2]->Kill()));
  int ended = children[3]->Release();
  EXPECT_TRUE(WIFEXITED(ended) && WEXITSTATUS(ended) == 0);
  EXPECT_NE(GVViewLocateByName(db_, names[1].c_str()), 0u);
  for (size_t i : {0, 2, 3}) EXPECT_EQ(GVViewLocateByName(db_, names[i].c_str()), 0u) << names[i];
  std::vector<std::string> listed;
  GVDesignEntry e{};
  for (uint32_t at = GV_LIST_FIRST; GVViewList(db_, at, &e) == 0; at = GV_LIST_NEXT)
    listed.push_back(e.name);
  EXPECT_EQ(listed, std::vector<std::string>{names[1]});
  // The view creation itself takes over an orphaned name that nobody looked up.
  PipedChild late("tempview");
  std::string lateName = late.Line();
  EXPECT_TRUE(WIFSIGNALED(late.Kill()));
  EXPECT_EQ(
      MakeView(db_, lateName.c_str(), "", {{GVCOL_SORTED, "Name"}}, nullptr, 0, GVVIEW_TEMPORARY),
      0u);
  // A maker's id given to a later process is not taken for the maker: the mark holds the
  // process's start too.
  GVNOTEID mine = GVViewLocateByName(db_, lateName.c_str());
  ASSERT_NE(mine, 0u);
  store_.Query(
      root_, "t.odb",
      "UPDATE view_def SET maker_token = maker_token || '0' WHERE view = " + std::to_string(mine));
  EXPECT_EQ(GVViewLocateByName(db_, lateName.c_str()), 0u);
  std::set<std::string> held{names[1]};
  std::string name;
  // A name taken in any letter case is taken; once all 256 are, the loop gives up.
  std::string folded = names[1];
  for (char& c : folded) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  EXPECT_EQ(MakeView(db_, folded.c_str(), "", {{GVCOL_SORTED, "Name"}}), GVERR_EXISTS);
  for (size_t made = held.size(); made < 256; ++made) ASSERT_EQ(TempViewLoop(db_, name), 0u);
  EXPECT_EQ(TempViewLoop(db_, name), GVERR_NO_VIEW);
  EXPECT_EQ(WEXITSTATUS(children[1]->Release()), 0);
  // Temporary views do not come along when a database is made from this one.
  ASSERT_EQ(GVDatabaseCreate(TestServer(), "from.odb", nullptr, 0, TestServer(), "t.odb", 2, 0),
            0u);
  GVDB from = 0;
  ASSERT_EQ(GVDatabaseOpen(TestServer(), "from.odb", 0, &from), 0u);
  e = GVDesignEntry{};
  EXPECT_EQ(GVViewList(from, GV_LIST_FIRST, &e), GVERR_NO_MORE);
}

// ---------------------------------------------------------------- documents of an index --

TEST_P(IndexTest, FullTextSearchFindsWordsAndPhrasesAndRefines) {
  GVNOTEID a = Put(db_, {Text("Subject", "The Quick brown fox"), Text("Kind", "x")});
  GVNOTEID b = Put(db_, {TextList("Tags", {"lazy", "dog"}), Text("Kind", "y")});
  GVNOTEID c =
      Put(db_, {Text("Subject", "quick"), TextList("Tags", {"DOG days"}), Text("Kind", "x")});
  GVNOTEID d = Put(db_, {Num("Quick", 1)});
  GVNOTEID f = Put(db_, {Text("Subject", "start-up \"art\" deco"), Text("Note", "Brown")});
  {
    GVDOC doc = 0;
    ASSERT_EQ(GVDocumentOpen(db_, d, 0, &doc), 0u);
    ASSERT_EQ(GVItemPut(doc, "Body", GVTYPE_COMPOSITE, 0, GVTYPE_TEXT, "a brown\nfox jumps", 0),
              0u);
    ASSERT_EQ(GVDocumentClose(doc, 0), 0u);
  }
  GVINDEX ix = 0;
  ASSERT_EQ(GVIndexOpen(db_, &ix), 0u);
  const struct {
    const char* query;
    std::vector<GVNOTEID> want;
  } cases[] = {{"quick", {a, c}},
               {"\"brown fox\"", {a}},
               {"BROWN FOX", {a, d}},
               {"dog", {b, c}},
               {"\"dog days\" quick", {c}},
               {"jumps", {d}},
               {"zebra", {}},
               {"", {a, b, c, d, f}},
               {"\"lazy dog\"", {}},    // two entries of a list are two texts
               {"\"brown fox\"", {a}},  // nor does a phrase run across paragraphs (d)
               {"art", {f}},            // words, not pieces of words: "start" is not "art"
               {"sta", {}},
               {"\"up art deco\"", {f}},
               {"\"deco brown\"", {}},    // nor across items
               {"brown deco", {f}},       // the words of a query may lie in different items
               {"-- brown", {a, d, f}}};  // a term without a word looks for nothing
  for (const auto& t : cases) {
    uint32_t found = 99;
    ASSERT_EQ(GVIndexFTSearch(ix, t.query, 0, 0, &found), 0u) << t.query;
    EXPECT_EQ(found, t.want.size()) << t.query;
    EXPECT_EQ(Walk(ix, GVNAV_NEXT, 0), t.want) << t.query;
  }
  uint32_t found = 0;
  ASSERT_EQ(GVIndexFTSearch(ix, "quick", 0, 1, &found), 0u);
  EXPECT_EQ(found, 1u);
  // Refining keeps the index's documents that match, and a refresh repeats both steps.
  ASSERT_EQ(GVIndexSearch(ix, "SELECT Kind = 'x'", 0, 0), 0u);
  ASSERT_EQ(GVIndexFTSearch(ix, "dog", GVFTS_REFINE, 0, &found), 0u);
  EXPECT_EQ(Walk(ix, GVNAV_NEXT, 0), std::vector<GVNOTEID>{c});
  GVNOTEID e = Put(db_, {Text("Kind", "x"), Text("Subject", "hot dog")});
  ASSERT_EQ(GVIndexRefresh(ix), 0u);
  EXPECT_EQ(Walk(ix, GVNAV_NEXT, 0), (std::vector<GVNOTEID>{c, e}));
}

// The documents a full-text search of db finds, in order.
std::vector<GVNOTEID> FullTextFinds(GVDB db, const char* query) {
  GVINDEX ix = 0;
  EXPECT_EQ(GVIndexOpen(db, &ix), 0u);
  EXPECT_EQ(GVIndexFTSearch(ix, query, 0, 0, nullptr), 0u) << query;
  std::vector<GVNOTEID> found = Walk(ix, GVNAV_NEXT, 0);
  EXPECT_EQ(GVIndexClose(ix), 0u);
  return found;
}

// The index is kept by the transaction that stores or deletes a document, whoever stores
// it; a file made before the index gets it at its first open for writing.
TEST_P(IndexTest, FullTextIndexFollowsStoresDeletesAndOlderFiles) {
  GVNOTEID a = Put(db_, {Text("Subject", "old words")});
  GVNOTEID b = Put(db_, {Text("Subject", "gone soon")});
  Update(db_, a, {Text("Subject", "new words")});
  EXPECT_EQ(FullTextFinds(db_, "old"), std::vector<GVNOTEID>{});
  EXPECT_EQ(FullTextFinds(db_, "new words"), std::vector<GVNOTEID>{a});
  ASSERT_EQ(GVDocumentDelete(db_, b, 0), 0u);
  EXPECT_EQ(FullTextFinds(db_, "soon"), std::vector<GVNOTEID>{});
  // Stores of another process and copies between databases are indexed too.
  ASSERT_EQ(Wait(Spawn("store 3 child")), 0);
  EXPECT_EQ(FullTextFinds(db_, "child2").size(), 1u);
  GVDB other = OpenOther("other.odb");
  GVNOTEID copy = 0;
  ASSERT_EQ(GVDocumentCopy(db_, a, other, &copy), 0u);
  EXPECT_EQ(FullTextFinds(other, "new"), std::vector<GVNOTEID>{copy});
  // A database made from this one has the rows of the documents it takes along only.
  for (uint32_t options : {0u, uint32_t{GVCREATE_DOCUMENTS}}) {
    std::string file = "made" + std::to_string(options) + ".odb";
    ASSERT_EQ(
        GVDatabaseCreate(TestServer(), file.c_str(), nullptr, 0, TestServer(), "t.odb", options, 0),
        0u);
    GVDB made = 0;
    ASSERT_EQ(GVDatabaseOpen(TestServer(), file.c_str(), 0, &made), 0u);
    EXPECT_EQ(store_.Query(root_, file, "SELECT COUNT(*) FROM fulltext") != "0", options != 0)
        << file;
    EXPECT_EQ(FullTextFinds(made, "new words").size(), options != 0 ? 1u : 0u) << file;
  }
  // The rest is about SQLite files of an earlier layout.
  if (!OnFiles()) return;
  {
    RawDb raw(root_ + "/local/t.odb");
    raw.Exec(
        "DROP TABLE fulltext; ALTER TABLE view_def DROP COLUMN maker_pid; "
        "ALTER TABLE view_def DROP COLUMN maker_token;");
  }
  GVDB again = 0;
  ASSERT_EQ(GVDatabaseOpen(TestServer(), "t.odb", 0, &again), 0u);
  EXPECT_EQ(FullTextFinds(again, "new words"), std::vector<GVNOTEID>{a});
  EXPECT_EQ(FullTextFinds(again, "child1").size(), 1u);
  ASSERT_EQ(MakeView(again, "(TWMainIndexView0)", "", {{GVCOL_SORTED, "Subject"}}, nullptr, 0,
                     GVVIEW_TEMPORARY),
            0u);
}

// Rows appended to a stored document (as a log adds its lines) are kept apart from the
// items stored before, without those being read or written again; views, searches and
// readers see one document all the same, and a store that replaces a name gathers it all.
TEST_P(IndexTest, RowsAppendedToAStoredDocumentReadAsOneWithTheirViewsAndSearches) {
  GVNOTEID view = 0;
  ASSERT_EQ(MakeView(db_, "Log", "SELECT Kind = 'k'", {{GVCOL_SORTED, "Tag"}, {0, "Late"}}, &view),
            0u);
  auto rich = [](const char* text) {
    std::string records;
    plexa::rt::AppendText(records, text);
    return std::vector<uint8_t>(records.begin(), records.end());
  };
  auto text = [](const char* t) { return plexa::EncodeItem(plexa::Value::Text(t)); };
  GVNOTEID a = Put(db_, {Text("Kind", "k"), Text("Tag", "b\xC3\xA9ta")});
  GVNOTEID other = Put(db_, {Text("Kind", "k"), Text("Tag", "a")});
  auto append = [&](std::vector<std::pair<const char*, std::vector<uint8_t>>> rows, uint32_t type) {
    GVDOC doc = 0;
    ASSERT_EQ(GVDocumentOpen(db_, a, 0, &doc), 0u);
    for (auto& [name, value] : rows)
      ASSERT_EQ(plexa::FindDocument(doc)->Append(name, type, std::move(value)), 0u) << name;
    ASSERT_EQ(GVDocumentSave(doc, 0), 0u);
    ASSERT_EQ(GVDocumentClose(doc, 0), 0u);
  };
  append({{"Body", rich("alpha")}}, GVTYPE_COMPOSITE);
  append({{"Body", rich("beta gamma")}, {"Body", rich("delta")}}, GVTYPE_COMPOSITE);
  append({{"Tag", text("z")}, {"Late", text("late \xE2\x82\xAC")}}, GVTYPE_TEXT);
  auto parts = [&] {
    return store_.Query(root_, "t.odb", "SELECT parts FROM note WHERE id = " + std::to_string(a));
  };
  EXPECT_EQ(parts(), "4") << "one a store and name";
  auto read = [&](const char* name) {
    GVDOC doc = 0;
    EXPECT_EQ(GVDocumentOpen(db_, a, GVOPEN_READONLY, &doc), 0u);
    std::vector<std::string> values;
    for (const plexa::DocItem& it : plexa::FindDocument(doc)->items()) {
      if (it.name != name) continue;
      plexa::Value v;
      EXPECT_EQ(plexa::DecodeItem(it.type, it.value, v), 0u);
      std::string t;
      if (it.type == GVTYPE_COMPOSITE)
        EXPECT_EQ(plexa::rt::ToText(v.records, t), 0u);
      else
        t = v.texts.at(0);
      values.push_back(t);
    }
    EXPECT_EQ(GVDocumentClose(doc, 0), 0u);
    return values;
  };
  auto check = [&](const char* when) {
    EXPECT_EQ(read("Body"), (std::vector<std::string>{"alpha", "beta gamma", "delta"})) << when;
    EXPECT_EQ(read("Tag"), (std::vector<std::string>{"b\xC3\xA9ta", "z"})) << when;
    GVINDEX ix = OpenView(view);
    EXPECT_EQ(Walk(ix, GVNAV_NEXT, 0), (std::vector<GVNOTEID>{other, a})) << when;
    ASSERT_EQ(GVIndexSetPosition(ix, 2), 0u);
    EXPECT_EQ(CellText(ix, 1), "b\xC3\xA9ta") << when << ": an item reads as its first row";
    EXPECT_EQ(CellText(ix, 2), "late \xE2\x82\xAC") << when;
    EXPECT_EQ(GVIndexClose(ix), 0u);
    EXPECT_EQ(FullTextFinds(db_, "\"beta gamma\""), std::vector<GVNOTEID>{a}) << when;
    EXPECT_EQ(FullTextFinds(db_, "alpha delta late"), std::vector<GVNOTEID>{a}) << when;
    EXPECT_EQ(FullTextFinds(db_, "\"alpha beta\""), std::vector<GVNOTEID>{}) << when;
    EXPECT_EQ(FullTextFinds(db_, "\"gamma delta\""), std::vector<GVNOTEID>{}) << when;
  };
  check("in parts");
  // Copies of the database and of the document hold the parts as well.
  ASSERT_EQ(GVDatabaseCopy(TestServer(), "t.odb", TestServer(), "copy.odb", "Copy", 0, 0, 0), 0u);
  GVDB copy = 0;
  ASSERT_EQ(GVDatabaseOpen(TestServer(), "copy.odb", 0, &copy), 0u);
  EXPECT_EQ(FullTextFinds(copy, "\"beta gamma\""), std::vector<GVNOTEID>{a});
  EXPECT_EQ(GVDatabaseClose(copy, 0), 0u);
  GVDB elsewhere = OpenOther("other.odb");
  GVNOTEID copied = 0;
  ASSERT_EQ(GVDocumentCopy(db_, a, elsewhere, &copied), 0u);
  EXPECT_EQ(FullTextFinds(elsewhere, "\"beta gamma\" late"), std::vector<GVNOTEID>{copied});
  Update(db_, a, {Text("Late", "late \xE2\x82\xAC")});
  EXPECT_EQ(parts(), "0") << "a replaced name gathers the parts";
  EXPECT_EQ(store_.Query(root_, "t.odb", "SELECT COUNT(*) FROM item_part"), "0");
  check("gathered");
  ASSERT_EQ(GVDocumentDelete(db_, a, 0), 0u);
  EXPECT_EQ(FullTextFinds(db_, "gamma"), std::vector<GVNOTEID>{});
}

// A connection that appended to a note knows which names the note's parts hold and does not
// ask for the others at its next append; a part that another connection appended meanwhile
// is still found by the views.
TEST_P(IndexTest, AppendsAfterAnotherConnectionsAppendSeeItsParts) {
  GVNOTEID view = 0;
  ASSERT_EQ(MakeView(db_, "Log", "SELECT Kind = 'k'", {{GVCOL_SORTED, "Tag"}, {0, "Late"}}, &view),
            0u);
  GVNOTEID a = Put(db_, {Text("Kind", "k"), Text("Tag", "t")});
  auto append = [&](GVDB db, const char* name, const char* value) {
    GVDOC doc = 0;
    ASSERT_EQ(GVDocumentOpen(db, a, 0, &doc), 0u);
    ASSERT_EQ(plexa::FindDocument(doc)->Append(name, GVTYPE_TEXT,
                                               plexa::EncodeItem(plexa::Value::Text(value))),
              0u);
    ASSERT_EQ(GVDocumentSave(doc, 0), 0u);
    ASSERT_EQ(GVDocumentClose(doc, 0), 0u);
  };
  auto late = [&] {
    GVINDEX ix = OpenView(view);
    EXPECT_EQ(GVIndexSetPosition(ix, 1), 0u);
    std::string cell = CellText(ix, 2);
    EXPECT_EQ(GVIndexClose(ix), 0u);
    return cell;
  };
  append(db_, "Body", "one");
  append(db_, "Body", "two");  // this connection knows now that no part holds "Late"
  EXPECT_EQ(late(), "");
  GVDB second = 0;
  ASSERT_EQ(GVDatabaseOpen(TestServer(), "t.odb", 0, &second), 0u);
  append(second, "Late", "l\xC3\xA4te");
  EXPECT_EQ(late(), "l\xC3\xA4te");
  append(db_, "Body", "three");
  EXPECT_EQ(late(), "l\xC3\xA4te") << "the first connection's append kept the other's part";
  append(db_, "Body", "four");
  EXPECT_EQ(late(), "l\xC3\xA4te");
  EXPECT_EQ(GVDatabaseClose(second, 0), 0u);
}

// A document with many parts (a long log) is opened without them, and they are read when an
// item of theirs is asked for: as of the open, or as stored now when another connection
// stored the note meanwhile; its own appends and a store that gathers the parts keep every
// row in order.
TEST_P(IndexTest, ALogOpenedWithoutItsPartsReadsThemWhenAskedFor) {
  constexpr int kLines = 20;  // beyond the parts an open reads with the note
  GVNOTEID view = 0;
  ASSERT_EQ(MakeView(db_, "Log", "SELECT Kind = 'k'", {{GVCOL_SORTED, "Tag"}, {0, "Line"}}, &view),
            0u);
  GVDB second = 0;
  ASSERT_EQ(GVDatabaseOpen(TestServer(), "t.odb", 0, &second), 0u);
  auto open = [](GVDB db, GVNOTEID id) {
    GVDOC doc = 0;
    EXPECT_EQ(GVDocumentOpen(db, id, 0, &doc), 0u);
    return doc;
  };
  auto append = [](GVDOC doc, const std::string& name, const std::string& value) {
    ASSERT_EQ(plexa::FindDocument(doc)->Append(name, GVTYPE_TEXT,
                                               plexa::EncodeItem(plexa::Value::Text(value))),
              0u);
  };
  // The texts of a name's rows as the document holds them (after GVItemGetInfo, which reads
  // the parts and reports a failure to).
  auto rows = [](GVDOC doc, const char* name) {
    std::vector<std::string> texts;
    uint32_t type = 0, count = 0, length = 0;
    const uint32_t s = GVItemGetInfo(doc, name, &type, &count, &length);
    if (s != 0 && s != GVERR_NO_ITEM) {
      texts.push_back("status " + std::to_string(s));
      return texts;
    }
    for (const plexa::DocItem* it : plexa::FindDocument(doc)->All(name)) {
      plexa::Value v;
      EXPECT_EQ(plexa::DecodeItem(it->type, it->value, v), 0u);
      texts.push_back(v.texts.at(0));
    }
    return texts;
  };
  auto lines = [](int from, int to) {
    std::vector<std::string> out;
    for (int n = from; n <= to; ++n) out.push_back("L\xC3\xAFne " + std::to_string(n));
    return out;
  };
  auto plus = [](std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
  };
  // A log of kLines parts, one a store, each from a document opened afresh.
  auto makeLog = [&](bool withForm) {
    GVNOTEID id = withForm ? Put(db_, {Text("Kind", "k"), Text("Tag", "t"), Text("Form", "Log")})
                           : Put(db_, {Text("Kind", "k"), Text("Tag", "t")});
    for (int n = 1; n <= kLines; ++n) {
      GVDOC doc = open(db_, id);
      append(doc, "Line", "L\xC3\xAFne " + std::to_string(n));
      EXPECT_EQ(GVDocumentClose(doc, 0), 0u);
    }
    EXPECT_EQ(
        store_.Query(root_, "t.odb", "SELECT parts FROM note WHERE id = " + std::to_string(id)),
        std::to_string(kLines));
    return id;
  };
  auto reread = [&](GVNOTEID id, const char* name) {
    GVDOC doc = open(second, id);
    std::vector<std::string> texts = rows(doc, name);
    EXPECT_EQ(GVDocumentClose(doc, GVCLOSE_DISCARD), 0u);
    return texts;
  };

  // Read as of the open, packed items without the parts.
  GVNOTEID a = makeLog(true);
  GVDOC doc = open(db_, a);
  char kind[8] = {};
  uint32_t type = GVTYPE_TEXT;
  ASSERT_EQ(GVItemFetch(doc, "Kind", &type, 0, sizeof kind, kind), 0u);
  EXPECT_STREQ(kind, "k");
  EXPECT_EQ(rows(doc, "Line"), lines(1, kLines));
  // This copy's appends follow the parts, once stored as before.
  append(doc, "Line", "own 1");
  ASSERT_EQ(GVDocumentSave(doc, 0), 0u);
  append(doc, "Line", "own 2");
  EXPECT_EQ(rows(doc, "Line"), plus(lines(1, kLines), {"own 1", "own 2"}));
  EXPECT_EQ(GVDocumentClose(doc, 0), 0u);
  EXPECT_EQ(reread(a, "Line"), plus(lines(1, kLines), {"own 1", "own 2"}));

  // Appended here and stored before the parts were read: they stay where they belong.
  GVNOTEID b = makeLog(true);
  doc = open(db_, b);
  append(doc, "Line", "own");
  ASSERT_EQ(GVDocumentSave(doc, 0), 0u);
  EXPECT_EQ(rows(doc, "Line"), plus(lines(1, kLines), {"own"}));
  // A name replaced after a lazy open gathers every part into the note.
  append(doc, "Line", "own again");
  ASSERT_EQ(PutItem(doc, Text("Tag", "u")), 0u);
  EXPECT_EQ(GVDocumentClose(doc, 0), 0u);
  EXPECT_EQ(store_.Query(root_, "t.odb", "SELECT parts FROM note WHERE id = " + std::to_string(b)),
            "0");
  EXPECT_EQ(reread(b, "Line"), plus(lines(1, kLines), {"own", "own again"}));
  EXPECT_EQ(reread(b, "Tag"), std::vector<std::string>{"u"});

  // A Form appended to a note without one gathers the parts too.
  GVNOTEID c = makeLog(false);
  doc = open(db_, c);
  append(doc, "Form", "Log");
  EXPECT_EQ(GVDocumentClose(doc, 0), 0u);
  EXPECT_EQ(reread(c, "Line"), lines(1, kLines));
  EXPECT_EQ(reread(c, "Form"), std::vector<std::string>{"Log"});

  // Another connection appends after the open: the rows as stored now, then this copy's.
  GVNOTEID d = makeLog(true);
  doc = open(db_, d);
  append(doc, "Line", "mine");
  GVDOC other = open(second, d);
  append(other, "Line", "theirs");
  EXPECT_EQ(GVDocumentClose(other, 0), 0u);
  EXPECT_EQ(rows(doc, "Line"), plus(lines(1, kLines), {"theirs", "mine"}));
  EXPECT_EQ(GVDocumentClose(doc, 0), 0u);
  EXPECT_EQ(reread(d, "Line"), plus(lines(1, kLines), {"theirs", "mine"}));

  // Another connection gathers the parts (and so renumbers those that follow) after the
  // open, and this copy appends and stores before reading them.
  GVNOTEID e = makeLog(true);
  doc = open(db_, e);
  other = open(second, e);
  ASSERT_EQ(PutItem(other, Text("Tag", "v")), 0u);
  EXPECT_EQ(GVDocumentClose(other, 0), 0u);
  other = open(second, e);
  append(other, "Line", "after");
  EXPECT_EQ(GVDocumentClose(other, 0), 0u);
  append(doc, "Line", "mine");
  ASSERT_EQ(GVDocumentSave(doc, 0), 0u);
  EXPECT_EQ(rows(doc, "Line"), plus(lines(1, kLines), {"after", "mine"}));
  EXPECT_EQ(rows(doc, "Tag"), std::vector<std::string>{"v"});
  EXPECT_EQ(GVDocumentClose(doc, 0), 0u);
  EXPECT_EQ(reread(e, "Line"), plus(lines(1, kLines), {"after", "mine"}));
  // The view holds the log's first line wherever its rows are.
  GVINDEX ix = OpenView(view);
  EXPECT_EQ(Walk(ix, GVNAV_NEXT, 0), (std::vector<GVNOTEID>{a, c, d, b, e}));
  ASSERT_EQ(GVIndexSetPosition(ix, 5), 0u);
  EXPECT_EQ(CellText(ix, 2), "L\xC3\xAFne 1");
  EXPECT_EQ(GVIndexClose(ix), 0u);

  // Removed by another connection before its parts were read: a clear status.
  GVNOTEID f = makeLog(true);
  doc = open(db_, f);
  ASSERT_EQ(GVDocumentDelete(second, f, 0), 0u);
  EXPECT_EQ(rows(doc, "Line"),
            std::vector<std::string>{"status " + std::to_string(GVERR_NO_ENTRY)});
  EXPECT_EQ(GVDocumentClose(doc, GVCLOSE_DISCARD), 0u);
  EXPECT_EQ(GVDatabaseClose(second, 0), 0u);
}

// A database of the first layout (a row an item, a full-text row an item) is converted in
// place at its first open: the same items in the same order and stored layout, the same searches
// and views, and stores afterwards.
TEST_P(IndexTest, ADatabaseOfTheItemRowLayoutIsConvertedAtItsFirstOpen) {
  GVNOTEID view = 0;
  ASSERT_EQ(MakeView(db_, "Subjects", "", {{GVCOL_SORTED, "Subject"}}, &view), 0u);
  GVNOTEID a =
      Put(db_, {Text("Subject", "apple"), Text("Body", "\xC3\x89t\xC3\xA9 na\xC3\xAFve"),
                TextList("Tags", {"alpha beta", "gamma"}), Num("N", -1.7976931348623157e308)});
  GVNOTEID b = Put(db_, {Text("Subject", "Zebra"), TextList("Empty", {}), Text("Tail", "last")});
  // A changed name goes behind the others, as it always has.
  Update(db_, b, {Text("Subject", "zebra")});
  ASSERT_EQ(GVDatabaseClose(db_, 0), 0u);
  db_ = 0;
  // Rows written the old way, with the engine's own statements.
  auto run = [&](const std::string& sql) { store_.Column(root_, "t.odb", sql); };
  auto count = [&](const std::string& sql) { return store_.Query(root_, "t.odb", sql); };
  auto bytes = [&](const void* data, size_t size) {
    std::string hex;
    for (size_t k = 0; k < size; ++k) {
      char two[3];
      std::snprintf(two, sizeof two, "%02x", static_cast<const uint8_t*>(data)[k]);
      hex += two;
    }
    return OnFiles() ? "X'" + hex + "'" : "decode('" + hex + "', 'hex')";
  };
  auto text = [&](const std::string& t) {
    const std::string b = bytes(t.data(), t.size());
    return OnFiles() ? "CAST(" + b + " AS TEXT)" : b;
  };
  const char* kItemTable = OnFiles()
                               ? "CREATE TABLE item(note INTEGER NOT NULL REFERENCES note(id) "
                                 "ON DELETE CASCADE, ord INTEGER NOT NULL, name TEXT NOT NULL, "
                                 "name_key TEXT NOT NULL, type INTEGER NOT NULL, flags INTEGER "
                                 "NOT NULL DEFAULT 0, value BLOB NOT NULL, PRIMARY KEY(note, "
                                 "ord)) WITHOUT ROWID"
                               : "CREATE TABLE item(note bigint NOT NULL REFERENCES note(id) "
                                 "ON DELETE CASCADE, ord bigint NOT NULL, name bytea NOT NULL, "
                                 "name_key bytea NOT NULL, type bigint NOT NULL, flags bigint "
                                 "NOT NULL DEFAULT 0, value bytea NOT NULL, PRIMARY KEY(note, "
                                 "ord))";
  const std::vector<std::string> packed =
      store_.Column(root_, "t.odb", "SELECT items FROM note ORDER BY id");
  const std::vector<std::string> ids =
      store_.Column(root_, "t.odb", "SELECT id FROM note ORDER BY id", false);
  const std::vector<std::string> classes =
      store_.Column(root_, "t.odb", "SELECT class FROM note ORDER BY id", false);
  ASSERT_EQ(ids.size(), packed.size());
  run(kItemTable);
  run("CREATE INDEX item_name ON item(note, name_key)");
  run("DELETE FROM fulltext");
  for (size_t n = 0; n < ids.size(); ++n) {
    const int64_t note = std::stoll(ids[n]);
    int64_t ord = 0;
    for (const plexa::StoredItem& it : plexatest::PackedItems({packed[n]})) {
      ++ord;
      run("INSERT INTO item(note, ord, name, name_key, type, flags, value) VALUES(" + ids[n] +
          ", " + std::to_string(ord) + ", " + text(it.name) + ", " +
          text(plexa::FoldAscii(it.name)) + ", " + std::to_string(it.type) + ", " +
          std::to_string(it.flags) + ", " + bytes(it.value.data(), it.value.size()) + ")");
      std::string body;
      plexa::AppendItemText(it, body);
      if (body.empty() || (classes[n] != "1" && classes[n] != "2")) continue;
      const std::string b = bytes(body.data(), body.size());
      run("INSERT INTO fulltext(rowid, body) VALUES(" + std::to_string(note << 32 | ord) + ", " +
          (OnFiles() ? "CAST(" + b + " AS TEXT)" : "convert_from(" + b + ", 'UTF8')") + ")");
    }
  }
  EXPECT_EQ(count("SELECT COUNT(*) FROM fulltext"), "5") << "a row a text item";
  run("ALTER TABLE note DROP COLUMN items");
  run("ALTER TABLE note DROP COLUMN parts");
  run("DROP TABLE item_part");
  run("UPDATE meta SET value = " + std::string(OnFiles() ? "1" : "'1'") + " WHERE key = 'schema'");
  ASSERT_EQ(GVDatabaseOpen(TestServer(), "t.odb", 0, &db_), 0u);
  EXPECT_EQ(count(OnFiles() ? "SELECT value FROM meta WHERE key = 'schema'"
                            : "SELECT convert_from(value, 'UTF8') FROM meta WHERE key = 'schema'"),
            "2");
  EXPECT_EQ(
      count(OnFiles() ? "SELECT COUNT(*) FROM sqlite_master WHERE name IN ('item', "
                        "'item_name')"
                      : "SELECT COUNT(*) FROM pg_class WHERE relname IN ('item', 'item_name') "
                        "AND relnamespace = current_schema()::regnamespace"),
      "0");
  EXPECT_EQ(store_.Column(root_, "t.odb", "SELECT items FROM note ORDER BY id"), packed);
  EXPECT_EQ(count("SELECT COUNT(*) FROM fulltext"), "2") << "one row a note";
  GVDOC doc = 0;
  ASSERT_EQ(GVDocumentOpen(db_, b, GVOPEN_READONLY, &doc), 0u);
  std::vector<std::string> names;
  for (const plexa::DocItem& it : plexa::FindDocument(doc)->items()) names.push_back(it.name);
  EXPECT_EQ(names, (std::vector<std::string>{"Empty", "Tail", "Subject"}));
  ASSERT_EQ(GVDocumentClose(doc, GVCLOSE_DISCARD), 0u);
  GVDesignEntry entry{};
  ASSERT_EQ(GVViewList(db_, GV_LIST_NEXT, &entry), 0u);
  EXPECT_STREQ(entry.name, "Subjects");
  EXPECT_EQ(FullTextFinds(db_, "na\xC3\xAFve"), std::vector<GVNOTEID>{a});
  EXPECT_EQ(FullTextFinds(db_, "\"alpha beta\""), std::vector<GVNOTEID>{a});
  EXPECT_EQ(FullTextFinds(db_, "\"beta gamma\""), std::vector<GVNOTEID>{}) << "across two entries";
  EXPECT_EQ(FullTextFinds(db_, "\"gamma apple\""), std::vector<GVNOTEID>{}) << "across two items";
  EXPECT_EQ(FullTextFinds(db_, "apple gamma"), std::vector<GVNOTEID>{a}) << "terms in two items";
  EXPECT_EQ(Walk(OpenView(view), GVNAV_NEXT, 0), (std::vector<GVNOTEID>{a, b}));
  Update(db_, a, {Text("Subject", "zoo")});
  EXPECT_EQ(Walk(OpenView(view), GVNAV_NEXT, 0), (std::vector<GVNOTEID>{b, a}));
  EXPECT_EQ(FullTextFinds(db_, "zoo"), std::vector<GVNOTEID>{a});
  EXPECT_EQ(FullTextFinds(db_, "apple"), std::vector<GVNOTEID>{});
  GVNOTEID c = Put(db_, {Text("Subject", "new")});
  EXPECT_EQ(FullTextFinds(db_, "new"), std::vector<GVNOTEID>{c});
  // Opened again, it is the new layout already.
  GVDB again = 0;
  ASSERT_EQ(GVDatabaseOpen(TestServer(), "t.odb", 0, &again), 0u);
  EXPECT_EQ(FullTextFinds(again, "last"), std::vector<GVNOTEID>{b});
}

TEST_P(IndexTest, DeleteAllEntriesDeletesEachDocumentOnce) {
  GVNOTEID view = 0, all = 0;
  ASSERT_EQ(
      MakeView(db_, "Tags", "SELECT Form = 'Log'", {{GVCOL_SORTED | GVCOL_EXPAND, "Tags"}}, &view),
      0u);
  ASSERT_EQ(MakeView(db_, "All", "", {{GVCOL_SORTED, "Form"}}, &all), 0u);
  Put(db_, {Text("Form", "Log"), TextList("Tags", {"a", "b", "c"})});
  Put(db_, {Text("Form", "Log"), TextList("Tags", {"b"})});
  GVNOTEID keep = Put(db_, {Text("Form", "Other")});
  GVINDEX ix = OpenView(view);
  EXPECT_EQ(GVIndexGetCount(ix), 4u);
  ASSERT_EQ(GVIndexDeleteAllEntries(ix, 0), 0u);
  EXPECT_EQ(GVIndexGetCount(ix), 0u);
  EXPECT_EQ(GVIndexDeleteAllEntries(ix, 0), GVERR_NO_ENTRY);
  ASSERT_EQ(GVIndexRefresh(ix), 0u);
  EXPECT_EQ(GVIndexGetCount(ix), 0u);
  GVINDEX rest = OpenView(all);
  EXPECT_EQ(Walk(rest, GVNAV_NEXT, 0), std::vector<GVNOTEID>{keep});
  // A document another handle deleted first is passed over.
  GVNOTEID gone = Put(db_, {Text("Form", "Log"), TextList("Tags", {"z"})});
  ASSERT_EQ(GVIndexRefresh(ix), 0u);
  ASSERT_EQ(GVDocumentDelete(db_, gone, 0), 0u);
  EXPECT_EQ(GVIndexDeleteAllEntries(ix, GVCLOSE_BULK), 0u);
}

TEST_P(IndexTest, CopyHierarchyCopiesTheDescendantsOfAnEntry) {
  GVNOTEID view = 0;
  ASSERT_EQ(MakeView(db_, "Threads", "", {{GVCOL_SORTED, "Name"}}, &view, GVVIEWF_RESPONSES), 0u);
  GVNOTEID p = Put(db_, {Text("Name", "p"), Text("Form", "Topic")});
  GVNOTEID r1 = Put(db_, {Text("Name", "r1"), NumList("Nums", {1, 2})}, UnidOf(db_, p).data());
  GVNOTEID r2 = Put(db_, {Text("Name", "r2")}, UnidOf(db_, r1).data());
  GVDB target = OpenOther("target.odb");
  GVNOTEID targetView = 0;
  ASSERT_EQ(GVViewCopy(db_, view, target, &targetView, 0), 0u);
  GVNOTEID top = Put(target, {Text("Name", "new top")});
  std::vector<uint8_t> topUnid = UnidOf(target, top);

  // The connector's TWXHIER sequence: stand on the note, ask whether it has descendants,
  // save the position, copy each descendant under the new document, restore.
  GVINDEX ix = OpenView(view);
  GVNOTEID id = 0;
  ASSERT_EQ(GVIndexNavigate(ix, GVNAV_NEXT, 0, &id, nullptr), 0u);
  ASSERT_EQ(id, p);
  ASSERT_EQ(GVIndexNavigate(ix, GVNAV_CURRENT, 0, &id, nullptr), 0u);
  ASSERT_EQ(GVIndexNavigate(ix, GVNAV_FIRST_DESCENDANT, GVNAVF_PEEK, nullptr, nullptr), 0u);
  char saved[GV_POSITION_SIZE];
  ASSERT_EQ(GVIndexGetViewPosition(ix, GVPOSF_WALK, saved), 0u);
  std::vector<GVNOTEID> copies;
  for (uint32_t dir = GVNAV_FIRST_DESCENDANT; GVIndexNavigate(ix, dir, 0, &id, nullptr) == 0;
       dir = GVNAV_NEXT_DESCENDANT) {
    GVNOTEID copy = id;
    ASSERT_EQ(GVIndexCopyHierarchy(ix, target, &copy, 0), 0u);
    GVDOC d = 0;
    ASSERT_EQ(GVDocumentOpen(target, copy, 0, &d), 0u);
    // The parent reference came along (the caller resets it).
    uint8_t parent[GV_UNID_SIZE];
    EXPECT_EQ(GVDocumentGetProperty(d, GVDOCPROP_PARENT, parent), 0u);
    ASSERT_EQ(GVDocumentSetProperty(d, GVDOCPROP_PARENT, topUnid.data()), 0u);
    ASSERT_EQ(GVDocumentClose(d, 0), 0u);
    copies.push_back(copy);
  }
  ASSERT_EQ(copies.size(), 2u);
  ASSERT_EQ(GVIndexSetViewPosition(ix, saved), 0u);
  ASSERT_EQ(GVIndexNavigate(ix, GVNAV_CURRENT, 0, &id, nullptr), 0u);
  EXPECT_EQ(id, p);
  // The copies have new identities, their items, and stand beneath the new document.
  EXPECT_NE(UnidOf(target, copies[0]), UnidOf(db_, r1));
  GVINDEX ti = 0;
  ASSERT_EQ(GVIndexOpen(target, &ti), 0u);
  ASSERT_EQ(GVIndexOpenView(ti, 0, targetView, 0), 0u);
  EXPECT_EQ(Walk(ti, GVNAV_NEXT, 0), (std::vector<GVNOTEID>{top, copies[0], copies[1]}));
  GVDOC d = 0;
  ASSERT_EQ(GVDocumentOpen(target, copies[0], GVOPEN_READONLY, &d), 0u);
  const void* bytes = nullptr;
  uint32_t kind = 0, length = 0;
  ASSERT_EQ(GVItemGetPointer(d, "Nums", &kind, &bytes, &length), 0u);
  EXPECT_EQ(kind, GVTYPE_NUMBER_LIST);
  EXPECT_EQ(length, 4u + 16u);
  GVDocumentClose(d, 0);
  // The current entry is copied when no note is named; a category or no entry cannot be.
  GVNOTEID none = 0;
  ASSERT_EQ(GVIndexCopyHierarchy(ix, db_, &none, 0), 0u);
  EXPECT_NE(none, 0u);
  ASSERT_EQ(GVIndexSetPosition(ix, 0), 0u);
  none = 0;
  EXPECT_EQ(GVIndexCopyHierarchy(ix, db_, &none, 0), GVERR_NOT_POSITIONED);
  EXPECT_EQ(GVIndexCopyHierarchy(ix, db_, nullptr, 0), GVERR_INVALID_ARGUMENT);
  GVNOTEID missing = view;  // a design note is not a document
  EXPECT_EQ(GVIndexCopyHierarchy(ix, db_, &missing, 0), GVERR_NO_ENTRY);
  (void)r2;
}

// ---------------------------------------------------------------- handles ----------------

TEST_P(IndexTest, BadHandlesAndArgumentsAreRefusedNotFollowed) {
  GVINDEX ix = 0;
  EXPECT_EQ(GVIndexOpen(db_, nullptr), GVERR_INVALID_ARGUMENT);
  EXPECT_EQ(GVIndexOpen(0, &ix), GVERR_INVALID_HANDLE);
  ASSERT_EQ(GVIndexOpen(db_, &ix), 0u);
  // An index never filled is empty; a database handle is not an index.
  EXPECT_EQ(GVIndexNavigate(ix, GVNAV_NEXT, 0, nullptr, nullptr), GVERR_NO_MORE);
  EXPECT_EQ(GVIndexGetCount(ix), 0u);
  EXPECT_EQ(GVIndexRefresh(ix), 0u);
  EXPECT_EQ(GVIndexOpenView(ix, 0, 0, 0), GVERR_NO_VIEW);
  EXPECT_EQ(GVIndexOpenView(ix, 0, 3, 0), GVERR_NO_VIEW);
  EXPECT_EQ(GVIndexSetProperty(ix, 99, nullptr), GVERR_INVALID_ARGUMENT);
  EXPECT_EQ(GVIndexSetProperty(ix, GVIDXPROP_CLASSES, nullptr), 0u);
  ASSERT_EQ(GVIndexSearch(ix, nullptr, 0, 0), 0u);
  EXPECT_EQ(GVIndexGetCount(ix), 0u);  // no classes: nothing
  for (GVINDEX bad : {GVINDEX{0}, GVINDEX{db_}, GVINDEX{0xFFFFFFFF}}) {
    GVNOTEID id = 0;
    EXPECT_EQ(GVIndexNavigate(bad, GVNAV_NEXT, 0, &id, nullptr), GVERR_INVALID_HANDLE);
    EXPECT_EQ(GVIndexOpenView(bad, 0, 2, 0), GVERR_INVALID_HANDLE);
    EXPECT_EQ(GVIndexSearch(bad, nullptr, 0, 0), GVERR_INVALID_HANDLE);
    EXPECT_EQ(GVIndexSetPosition(bad, 0), GVERR_INVALID_HANDLE);
    EXPECT_EQ(GVIndexGetCount(bad), 0u);
    EXPECT_EQ(GVIndexClose(bad), GVERR_INVALID_HANDLE);
    EXPECT_EQ(GVIndexDeleteAllEntries(bad, 0), GVERR_INVALID_HANDLE);
  }
  ASSERT_EQ(GVIndexClose(ix), 0u);
  EXPECT_EQ(GVIndexClose(ix), GVERR_INVALID_HANDLE);
  // Closing the database closes its indexes.
  ASSERT_EQ(GVIndexOpen(db_, &ix), 0u);
  ASSERT_EQ(GVDatabaseClose(db_, 0), 0u);
  EXPECT_EQ(GVIndexGetCount(ix), 0u);
  EXPECT_EQ(GVIndexRefresh(ix), GVERR_INVALID_HANDLE);
  db_ = 0;
  GVTerm(0);
  EXPECT_EQ(GVIndexOpen(1, &ix), GVERR_NOT_INITIALIZED);
  EXPECT_EQ(GVViewLocateByName(1, "x"), 0u);
  ASSERT_EQ(_GVInit(GV_VERSION, 0, 0, 0), 0u);
}

INSTANTIATE_TEST_SUITE_P(Stores, IndexTest, ::testing::Values(Engine::kSqlite, Engine::kPostgres),
                         storetest::EngineName);
INSTANTIATE_TEST_SUITE_P(Stores, KeySearchTest,
                         ::testing::Values(Engine::kSqlite, Engine::kPostgres),
                         storetest::EngineName);

}  // namespace
