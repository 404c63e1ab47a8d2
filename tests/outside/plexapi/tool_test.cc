// The administration tool plexadm, run as a program on a private data root: an
// Administrator database from its template, documents put and shown, views listed, JSON
// lines exported and imported, on files and on a server that the data root's map holds in
// PostgreSQL; and the JSON lines themselves, exact to the byte.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "database.h"
#include "document.h"
#include "jsonl.h"
#include "plexa_test_util.h"
#include "store_fixture.h"

extern char** environ;

namespace {

struct Result {
  int code = -1;
  std::string out, err;
};

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

class ToolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The installation directory of the build (ctest sets TW_BUILD_DIR).
    const char* inst = std::getenv("TW_INST_DIR");
    const char* build = std::getenv("TW_BUILD_DIR");
    ASSERT_TRUE(inst != nullptr || build != nullptr) << "run through ctest";
    const std::string instDir = inst != nullptr ? inst : std::string(build) + "/inst";
    inst_ = instDir + "/";
  }
  // Runs plexadm --root ROOT args, stdin from the file input (empty: /dev/null).
  Result Run(std::vector<std::string> args, const std::string& input = "") {
    const std::string tool = inst_ + "plexadm";
    args.insert(args.begin(), {tool, "--root", root_.path()});
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const std::string out = root_ / "stdout", err = root_ / "stderr";
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 0, input.empty() ? "/dev/null" : input.c_str(), O_RDONLY,
                                     0);
    posix_spawn_file_actions_addopen(&fa, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&fa, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid = 0;
    Result r;
    int rc = posix_spawn(&pid, tool.c_str(), &fa, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    EXPECT_EQ(rc, 0) << tool;
    if (rc != 0) return r;
    int status = 0;
    waitpid(pid, &status, 0);
    r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.out = ReadAll(out);
    r.err = ReadAll(err);
    return r;
  }
  // Runs and expects success; the output.
  std::string Ok(std::vector<std::string> args, const std::string& input = "") {
    Result r = Run(args, input);
    EXPECT_EQ(r.code, 0) << args[0] << ": " << r.err;
    return r.out;
  }
  std::string NewDocument(const std::string& db, std::vector<std::string> args) {
    args.insert(args.begin(), {"new", db});
    std::string out = Ok(args);
    if (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
  }
  void CreateAdmin(const std::string& db = "admin.odb") {
    Ok({"create", db, "--template", inst_ + "QTWADM.OTM"});
  }

  twtest::TempDir root_;
  std::string inst_;
};

// The same commands on each store: the test's databases on files of the local server, or on
// the server that the data root's map holds in PostgreSQL.
class ToolStoresTest : public ToolTest, public ::testing::WithParamInterface<storetest::Engine> {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(ToolTest::SetUp());
    ASSERT_NO_FATAL_FAILURE(store_.SetUp(GetParam(), root_.path()));
    if (store_.skipped()) GTEST_SKIP() << store_.skipped();
    admin_ = Db("admin.odb");
  }
  // The name plexadm takes for the database file of the test's server.
  static std::string Db(const std::string& file) {
    const char* server = storetest::TestServer();
    return server != nullptr ? std::string(server) + "!!" + file : file;
  }
  // plexadm's list of the test's server.
  std::vector<std::string> List() {
    const char* server = storetest::TestServer();
    return server != nullptr ? std::vector<std::string>{"list", "--server", server}
                             : std::vector<std::string>{"list"};
  }

  storetest::Store store_;
  std::string admin_;
};

TEST_P(ToolStoresTest, AdministratorDatabaseFromTheTemplateThroughExportAndImport) {
  CreateAdmin(admin_);
  EXPECT_EQ(Ok(List()), "admin.odb\tTarnway Administrator\n");
  const std::string activity = NewDocument(admin_, {"Activity\\Direct Transfer", "Name=Nightly"});
  const std::string link = NewDocument(admin_, {"Link\\Ordex", "Name=MyLink"});
  const std::string server =
      NewDocument(admin_, {"Configuration\\Server", "Name=srv1", "ServerStatus:number=2"});
  ASSERT_FALSE(activity.empty());

  std::string views = Ok({"views", admin_});
  for (const char* v :
       {"(CS_Administrators)", "(CS_Servers)", "(CS_Activities)", "(CS_Links)", "(CS_Options)",
        "(CS_Queued Events)", "(CS_Running Servers)", "(CS_Sync Dependents)", "(CS_Active Events)"})
    EXPECT_NE(views.find(std::string("\t") + v + "\n"), std::string::npos) << v;
  EXPECT_EQ(Ok({"view", admin_, "(CS_Activities)"}), activity + "\tNightly\n");
  EXPECT_EQ(Ok({"view", admin_, "(CS_Links)"}), link + "\tMyLink\n");
  EXPECT_EQ(Ok({"view", admin_, "(CS_Servers)", "--key", "SRV1"}), server + "\tsrv1\n");
  EXPECT_EQ(Ok({"view", admin_, "(CS_Servers)", "--key", "nobody"}), "");
  std::vector<std::string> running = Lines(Ok({"view", admin_, "(CS_Running Servers)"}));
  ASSERT_EQ(running.size(), 1u);
  EXPECT_EQ(running[0].substr(0, server.size() + 6), server + "\tsrv1\t");
  // A new activity waits in the queue with ActivityID 0, to be queued by the control store.
  std::vector<std::string> queue = Lines(Ok({"view", admin_, "(CS_Queued Events)"}));
  ASSERT_EQ(queue.size(), 1u);
  EXPECT_EQ(queue[0].substr(0, activity.size() + 1), activity + "\t");
  EXPECT_EQ(queue[0].substr(queue[0].size() - 4), "\t0\t0");

  const std::string file = root_ / "admin.jsonl";
  std::ofstream(file) << Ok({"export", admin_});
  ASSERT_EQ(Lines(ReadAll(file)).size(), 3u);
  Ok({"delete-doc", admin_, activity});
  EXPECT_EQ(Ok({"view", admin_, "(CS_Activities)"}), "");
  EXPECT_EQ(Ok({"import", admin_}, file), "3 notes\n");
  std::vector<std::string> activities = Lines(Ok({"view", admin_, "(CS_Activities)"}));
  ASSERT_EQ(activities.size(), 1u);
  EXPECT_NE(activities[0], activity + "\tNightly") << "a deleted note comes back as a new one";
  // Importing again replaces the notes of the same identity, keeping their note ids.
  EXPECT_EQ(Ok({"import", admin_}, file), "3 notes\n");
  EXPECT_EQ(Lines(Ok({"view", admin_, "(CS_Activities)"})), activities);
  EXPECT_EQ(Ok({"view", admin_, "(CS_Links)"}), link + "\tMyLink\n");
  EXPECT_EQ(Lines(Ok({"export", admin_})).size(), 3u);
}

TEST_P(ToolStoresTest, PutShowAndDeleteItems) {
  CreateAdmin(admin_);
  const std::string id = NewDocument(admin_, {"Configuration\\Server", "Name=s1"});
  struct Case {
    const char* item;
    const char* type;
    const char* value;
    const char* shown;  // the lines show gives for the item
  } cases[] = {
      {"PollInterval", "number", "30", "item\tPollInterval\tnumber\n  30\n"},
      {"ActiveDays", "numberlist", "1, 2,3", "item\tActiveDays\tnumberlist\n  1\n  2\n  3\n"},
      {"Owners", "textlist", "ann,bob", "item\tOwners\ttextlist\n  ann\n  bob\n"},
      {"Notes", "richtext", "a\nb", "item\tNotes\trichtext\n  | a\n  | b\n"},
      {"Stamp", "time", "1996-11-05T14:07:09.00-05",
       "item\tStamp\ttime\n  1996-11-05T14:07:09.00-05\n"},
  };
  for (const Case& c : cases) Ok({"put", admin_, id, c.item, c.type, c.value});
  std::string shown = Ok({"show", admin_, id});
  for (const Case& c : cases)
    EXPECT_NE(shown.find(c.shown), std::string::npos) << c.item << "\n" << shown;
  EXPECT_NE(shown.find("item\tName\ttext\n  s1\n"), std::string::npos);
  Ok({"delete-item", admin_, id, "PollInterval"});
  shown = Ok({"show", admin_, id});
  EXPECT_EQ(shown.find("PollInterval"), std::string::npos);
  EXPECT_NE(shown.find("item\tOwners"), std::string::npos);
  EXPECT_EQ(Ok({"search", admin_, "SELECT Name = 's1'"}), id + "\tConfiguration\\Server\n");
}

TEST_P(ToolStoresTest, FailuresExitOneWithTheReasonAndChangeNothing) {
  CreateAdmin(admin_);
  const std::string link = NewDocument(admin_, {"Link\\Oracle", "Name=L1"});
  struct Case {
    std::vector<std::string> args;
    const char* said;
  } cases[] = {
      {{"frobnicate"}, "unknown command"},
      {{"views", Db("nothere.odb")}, "nothere.odb"},
      {{"create", admin_}, "admin.odb"},
      {{"show", admin_, "x"}, "show DB NOTEID"},
      {{"show", admin_, "9998"}, "9998"},
      {{"new", admin_, "No Such Form"}, "no such form"},
      {{"put", admin_, link, "N", "number", "ten"}, "not a number"},
      {{"put", admin_, link, "N", "colour", "red"}, "unknown type"},
      {{"view", admin_, "(Nope)"}, "no such view"},
      {{"export", admin_, "--classes", "0"}, "class mask"},
  };
  for (const Case& c : cases) {
    Result r = Run(c.args);
    EXPECT_EQ(r.code, 1) << c.args[0];
    EXPECT_NE(r.err.find(c.said), std::string::npos) << c.args[0] << ": " << r.err;
  }
  const std::string before = Ok({"export", admin_});
  // A bad second line: nothing of the first is imported either.
  const std::string file = root_ / "bad.jsonl";
  std::ofstream(file) << R"({"items":[{"name":"Form","type":"text","value":"Link\\Corvex"}]})"
                      << "\n"
                      << R"({"items":[{"name":"N","type":"number","value":"ten"}]})"
                      << "\n";
  Result r = Run({"import", admin_}, file);
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("line 2"), std::string::npos) << r.err;
  EXPECT_EQ(Ok({"export", admin_}), before);
}

TEST_F(ToolTest, DesignDumpsBuildBackAndCheckFindsAStaleView) {
  CreateAdmin();
  const std::string dump = Ok({"dump-design", "admin.odb"});
  const std::string json = root_ / "design.json";
  std::ofstream(json) << dump;
  Ok({"build-template", json, root_ / "local/again.otm"});
  EXPECT_EQ(Ok({"dump-design", "again.otm"}), dump);
  EXPECT_EQ(Ok({"list", "--templates"}), "again.otm\tTarnway Administrator\n");

  NewDocument("admin.odb", {"Activity\\Script", "Name=nightly"});
  EXPECT_EQ(Ok({"check", "admin.odb"}), "ok\n");
  {
    plexatest::RawDb raw(root_ / "local/admin.odb");
    raw.Exec(
        "DELETE FROM view_entry WHERE view IN "
        "(SELECT id FROM note WHERE design_key = '(cs_activities)')");
  }
  Result r = Run({"check", "admin.odb"});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.out, "(CS_Activities): 0 entries stored, 1 expected (reindex rebuilds it)\n");
  Ok({"reindex", "admin.odb", "(cs_activities)"});
  EXPECT_EQ(Ok({"check", "admin.odb"}), "ok\n");
  EXPECT_EQ(Lines(Ok({"view", "admin.odb", "(CS_Activities)"})).size(), 1u);
}

// A copy of a database is a database of its own, listed beside it, and goes when deleted.
TEST_P(ToolStoresTest, CopyListAndDelete) {
  CreateAdmin(admin_);
  const std::string activity = NewDocument(admin_, {"Activity\\Script", "Name=Caf\xC3\xA9"});
  const std::string copy = Db("copy.odb");
  Ok({"copy", admin_, copy, "--title", "Copied"});
  EXPECT_EQ(Ok(List()), "admin.odb\tTarnway Administrator\ncopy.odb\tCopied\n");
  EXPECT_EQ(Ok({"view", copy, "(CS_Activities)"}), activity + "\tCaf\xC3\xA9\n");
  Ok({"put", copy, activity, "Name", "text", "other"});
  EXPECT_EQ(Ok({"view", admin_, "(CS_Activities)"}), activity + "\tCaf\xC3\xA9\n");
  EXPECT_EQ(Ok({"check", copy}), "ok\n");
  Ok({"delete", copy});
  EXPECT_EQ(Ok(List()), "admin.odb\tTarnway Administrator\n");
  Result r = Run({"views", copy});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("copy.odb"), std::string::npos) << r.err;
}

INSTANTIATE_TEST_SUITE_P(Stores, ToolStoresTest,
                         ::testing::Values(storetest::Engine::kSqlite,
                                           storetest::Engine::kPostgres),
                         storetest::EngineName);

TEST(ToolJsonl, TimesHaveOneTextThatReadsBackExactly) {
  struct Case {
    const char* text;
    bool valid;
  } cases[] = {
      {"1996-11-05T14:07:09.00-05", true},
      {"1996-11-05+00", true},
      {"T23:59:59.99+14", true},
      {"2024-07-01T02:00:00.50+01D", true},
      {"32767-12-31T00:00:00.00-12", true},
      {"0001-01-01+00", true},
      {"1996-11-05", false},
      {"1996-13-05+00", false},
      {"1996-02-30+00", false},
      {"T24:00:00.00+00", false},
      {"T12:00:00+00", false},
      {"1996-11-05T14:07:09.00+15", false},
      {"1996-11-05+00X", false},
      {"+00", false},
      {"", false},
      {"96-11-05+00", false},
  };
  for (const Case& c : cases) {
    GVTIMEDATE t{};
    ASSERT_EQ(plexadm::ParseTimeText(c.text, t), c.valid) << c.text;
    if (!c.valid) continue;
    std::string back;
    bool null = true;
    ASSERT_TRUE(plexadm::TimeText(t, back, null)) << c.text;
    EXPECT_FALSE(null);
    EXPECT_EQ(back, c.text);
  }
  // The worked example of the stored layout: 5 November 1996 14:07:09 in zone -5.
  GVTIMEDATE t{};
  ASSERT_TRUE(plexadm::ParseTimeText("1996-11-05T14:07:09.00-05", t));
  EXPECT_EQ(t.ticks, 5082900u);
  EXPECT_EQ(t.date, 2450393u | (0x7Bu << 24));
  std::string text;
  bool null = false;
  GVTIMEDATE zeros{};
  ASSERT_TRUE(plexadm::TimeText(zeros, text, null));
  EXPECT_TRUE(null);
  GVTIMEDATE bad{9000000, 2450393};
  EXPECT_FALSE(plexadm::TimeText(bad, text, null)) << "ticks beyond a day";
}

TEST(ToolJsonl, Base64RoundTripsEveryLength) {
  std::string bytes;
  for (int n = 0; n < 8; ++n) {
    std::string decoded;
    ASSERT_TRUE(plexadm::Base64Decode(plexadm::Base64Encode(bytes), decoded));
    EXPECT_EQ(decoded, bytes);
    bytes += static_cast<char>(0xF0 + n);
  }
  EXPECT_EQ(plexadm::Base64Encode("Man"), "TWFu");
  EXPECT_EQ(plexadm::Base64Encode("Ma"), "TWE=");
  std::string out;
  EXPECT_FALSE(plexadm::Base64Decode("TW!u", out));
  EXPECT_FALSE(plexadm::Base64Decode("TWFuT", out));
}

class JsonlTest : public plexatest::SessionTest {
 protected:
  // The rows of every note: identity, class, parent, created, then each item in its order:
  // position, name, type, flags and value.
  static std::vector<std::string> Rows(const std::string& path) {
    plexatest::RawDb raw(path);
    const char* kWhere = " FROM note WHERE class IN (1, 2) ORDER BY unid";
    const std::vector<std::string> notes =
        raw.Column(std::string("SELECT hex(unid) || '|' || class || '|' || quote(parent) || '|' || "
                               "hex(created)") +
                   kWhere);
    const std::vector<std::string> packed = raw.Column(std::string("SELECT items") + kWhere);
    std::vector<std::string> rows;
    for (size_t n = 0; n < notes.size() && n < packed.size(); ++n) {
      int ord = 0;
      for (const plexa::StoredItem& it : plexatest::PackedItems({packed[n]}))
        rows.push_back(notes[n] + '|' + std::to_string(++ord) + '|' + it.name + '|' +
                       std::to_string(it.type) + '|' + std::to_string(it.flags) + '|' +
                       plexadm::HexOf(it.value.data(), it.value.size()));
    }
    return rows;
  }
  static std::vector<std::string> Attachments(const std::string& path) {
    plexatest::RawDb raw(path);
    return raw.Column(
        "SELECT hex(n.unid) || '|' || a.name || '|' || hex(a.data) FROM note n JOIN attachment a "
        "ON a.note = n.id ORDER BY n.unid, a.name");
  }
};

TEST_F(JsonlTest, ExportThenImportGivesBackEveryRowByteForByte) {
  GVDB source = CreateOpen("source.odb");
  GVDOC parent = 0, doc = 0;
  ASSERT_EQ(GVDocumentCreate(source, 0, &parent), 0u);
  ASSERT_EQ(GVItemPut(parent, "Form", 0, 0, GVTYPE_TEXT, "Topic", 0), 0u);
  ASSERT_EQ(GVDocumentSave(parent, 0), 0u);
  uint8_t parentId[GV_UNID_SIZE];
  ASSERT_EQ(GVDocumentGetProperty(parent, GVDOCPROP_UNID, parentId), 0u);
  ASSERT_EQ(GVDocumentCreate(source, 0, &doc), 0u);
  ASSERT_EQ(GVDocumentSetProperty(doc, GVDOCPROP_PARENT, parentId), 0u);
  double nan = std::nan(""), inf = HUGE_VAL, neg = -0.0;
  ASSERT_EQ(GVItemPut(doc, "NaN", 0, 0, GVTYPE_NUMBER, &nan, 0), 0u);
  ASSERT_EQ(GVItemPut(doc, "Inf", 0, 0, GVTYPE_NUMBER, &inf, 0), 0u);
  ASSERT_EQ(GVItemPut(doc, "NegZero", 0, 0, GVTYPE_NUMBER, &neg, 0), 0u);
  // A number list with one value and one range: u16 1, u16 1, 8, {1, 5}.
  std::string ranged = std::string("\1\0\1\0", 4);
  for (double d : {8.0, 1.0, 5.0}) ranged.append(reinterpret_cast<const char*>(&d), 8);
  ASSERT_EQ(GVItemPut(doc, "Ranged", 0, static_cast<uint32_t>(ranged.size()), GVTYPE_NUMBER_LIST,
                      ranged.data(), 0),
            0u);
  ASSERT_EQ(GVItemPut(doc, "Latin1", 0, 3, GVTYPE_TEXT, "\xE9t\xE9", 0), 0u);
  ASSERT_EQ(GVItemPut(doc, "Unicode", 0, 0, GVTYPE_TEXT, "\xC3\xA9t\xC3\xA9 \xF0\x9F\x8C\x8D", 0),
            0u);
  GVTIMEDATE times[2] = {{5082900, 2450393u | (0x7Bu << 24)}, {0xFFFFFFFFu, 2450393u}};
  std::string timeList = std::string("\2\0\0\0", 4);
  timeList.append(reinterpret_cast<const char*>(times), sizeof times);
  ASSERT_EQ(GVItemPut(doc, "Times", 0, static_cast<uint32_t>(timeList.size()), GVTYPE_TIME_LIST,
                      timeList.data(), 0),
            0u);
  ASSERT_EQ(GVItemPut(doc, "Blob", 0, 5, GVTYPE_OTHER, "\0\1\2\3\4", 0), 0u);
  std::string big;
  for (int i = 0; i < 3000; ++i) big += "line " + std::to_string(i) + " of the rich text\n";
  ASSERT_EQ(GVItemPut(doc, "Body", GVTYPE_COMPOSITE, static_cast<uint32_t>(big.size()), GVTYPE_TEXT,
                      big.c_str(), 0),
            0u);
  uint32_t pieces = 0;
  ASSERT_EQ(GVItemGetInfo(doc, "Body", nullptr, &pieces, nullptr), 0u);
  ASSERT_GT(pieces, 1u);
  // Two rows of one name, as the core library appends them.
  plexa::Document* d = plexa::FindDocument(doc);
  ASSERT_EQ(d->Append("Twice", GVTYPE_TEXT, plexa::EncodeItem(plexa::Value::Text("one"))), 0u);
  ASSERT_EQ(d->Append("Twice", GVTYPE_NUMBER, plexa::EncodeItem(plexa::Value::Number(2))), 0u);
  std::string file = root() + "a.bin";
  std::ofstream(file, std::ios::binary) << std::string("\0\xFF attached", 10);
  ASSERT_EQ(GVAttachmentAttach(doc, file.c_str(), "a.bin", 0, 0), 0u);
  ASSERT_EQ(GVDocumentClose(doc, 0), 0u);
  ASSERT_EQ(GVDocumentClose(parent, 0), 0u);

  std::stringstream lines;
  std::string error;
  ASSERT_EQ(plexadm::ExportNotes(*plexa::FindDatabase(source), GVCLASS_DOCUMENT, "", lines, error),
            0u)
      << error;
  const std::string exported = lines.str();
  EXPECT_NE(exported.find("\"value\":\"NaN\""), std::string::npos);
  EXPECT_NE(exported.find("\"raw\""), std::string::npos) << "the text that is not UTF-8";
  EXPECT_NE(exported.find("\"ranges\":[[1.0,5.0]]"), std::string::npos) << exported;

  GVDB target = CreateOpen("target.odb");
  GVViewDesign design{};
  design.style = GVVIEW_STANDARD;
  design.selectionKind = GVVIEWSEL_FORMULA;
  design.selection = "SELECT Form = 'Topic'";
  std::strcpy(design.name, "Topics");
  GVViewColumn column{};
  column.kind = GVCOL_SORTED;
  column.formula = "Form";
  GVNOTEID topics = 0;
  ASSERT_EQ(GVViewCreate(target, &design, 1, &column, &topics), 0u);
  size_t count = 0;
  ASSERT_EQ(plexadm::ImportNotes(*plexa::FindDatabase(target), lines, count, error), 0u) << error;
  EXPECT_EQ(count, 2u);
  EXPECT_EQ(Rows(Local("target.odb")), Rows(Local("source.odb")));
  EXPECT_EQ(Attachments(Local("target.odb")), Attachments(Local("source.odb")));
  EXPECT_EQ(Attachments(Local("target.odb")).size(), 1u);

  // The import kept the target's view current.
  GVINDEX index = 0;
  ASSERT_EQ(GVIndexOpen(target, &index), 0u);
  ASSERT_EQ(GVIndexOpenView(index, 0, topics, 0), 0u);
  EXPECT_EQ(GVIndexGetCount(index), 1u);
  GVIndexClose(index);

  // An information note and a replaced note, from hand-written lines.
  std::stringstream more;
  more << R"({"unid":"0123456789abcdef0123456789ABCDEF","class":"info","items":[)"
       << R"({"name":"Subject","type":"text","value":"About"}]})"
       << "\n\n"
       << R"({"unid":"0123456789abcdef0123456789abcdef","class":"info","items":[)"
       << R"({"name":"Subject","type":"richtext","text":"Replaced"}]})"
       << "\n";
  ASSERT_EQ(plexadm::ImportNotes(*plexa::FindDatabase(target), more, count, error), 0u) << error;
  EXPECT_EQ(count, 2u);
  std::stringstream info;
  ASSERT_EQ(plexadm::ExportNotes(*plexa::FindDatabase(target), GVCLASS_INFO, "", info, error), 0u);
  std::vector<std::string> infoLines = Lines(info.str());
  ASSERT_EQ(infoLines.size(), 1u);
  EXPECT_NE(infoLines[0].find("\"class\":\"info\""), std::string::npos);
  EXPECT_NE(infoLines[0].find("\"text\":\"Replaced\""), std::string::npos);

  struct Bad {
    const char* line;
    const char* why;
  } bad[] = {
      {"[1]", "not an object"},
      {"{\"unid\":\"12\"}", "unid"},
      {"{\"class\":\"design\"}", "class"},
      {"{\"items\":[{\"name\":\"A\",\"type\":\"time\",\"value\":\"tuesday\"}]}", "date-time"},
      {"{\"items\":[{\"name\":\"A\",\"type\":\"number\",\"raw\":\"AAA\"}]}", "raw"},
      {"{\"items\":[{\"name\":\"A\",\"type\":\"richtext\",\"records\":\"hf9AAA==\"}]}", "records"},
      {"{\"attachments\":[{\"name\":\"../x\",\"data\":\"\"}]}", "attachment"},
      {"{not json", "not valid JSON"},
  };
  for (const Bad& b : bad) {
    std::stringstream in(std::string(b.line) + "\n");
    EXPECT_EQ(plexadm::ImportNotes(*plexa::FindDatabase(target), in, count, error),
              GVERR_INVALID_ARGUMENT)
        << b.line;
    EXPECT_NE(error.find(b.why), std::string::npos) << b.line << ": " << error;
    EXPECT_NE(error.find("line 1"), std::string::npos) << error;
  }
  GVDatabaseClose(source, 0);
  GVDatabaseClose(target, 0);
}

}  // namespace
