// The templates built into the installation directory: each opens as a template with its
// design, the forms give the items the control store and the installers read, and the
// control store's views answer its keys and columns (the queue reaching new and
// run-at-once activities before scheduled ones).
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "plexa_test_util.h"
#include "view_fixture.h"

namespace {

using namespace viewtest;

class TemplateTest : public plexatest::SessionTest {
 protected:
  void SetUp() override {
    SessionTest::SetUp();
    // The installation directory of the build (ctest sets TW_BUILD_DIR).
    const char* inst = std::getenv("TW_INST_DIR");
    const char* build = std::getenv("TW_BUILD_DIR");
    ASSERT_TRUE(inst != nullptr || build != nullptr) << "run through ctest";
    const std::string instDir = inst != nullptr ? inst : std::string(build) + "/inst";
    // Copies: opening a database file writes beside it.
    for (const char* name : {"QTWADM.OTM", "QTWLOG.OTM", "QTWVLT.OTM"})
      std::filesystem::copy_file(instDir + "/" + name, Local(name));
  }
  void TearDown() override {
    for (GVDB db : open_) GVDatabaseClose(db, 0);
    SessionTest::TearDown();
  }
  GVDB Open(const std::string& file) {
    GVDB db = 0;
    EXPECT_EQ(GVDatabaseOpen(nullptr, file.c_str(), 0, &db), 0u) << file;
    open_.push_back(db);
    return db;
  }
  // A database made from a template as the installer makes it.
  GVDB FromTemplate(const std::string& file, const char* templ) {
    EXPECT_EQ(GVDatabaseCreate(nullptr, file.c_str(), nullptr, 0, nullptr, Local(templ).c_str(),
                               GVCREATE_DOCUMENTS, 1),
              0u);
    return Open(file);
  }
  // Stores a new document of the form with items; its note id.
  GVNOTEID New(GVDB db, const char* form, const std::vector<It>& items) {
    GVNOTEID formId = GVFormLocateByName(db, form);
    EXPECT_NE(formId, 0u) << form;
    GVDOC doc = 0;
    EXPECT_EQ(GVDocumentCreate(db, formId, &doc), 0u);
    for (const It& it : items) EXPECT_EQ(PutItem(doc, it), 0u) << it.name;
    EXPECT_EQ(GVDocumentSave(doc, 0), 0u);
    GVNOTEID id = 0;
    EXPECT_EQ(GVDocumentGetProperty(doc, GVDOCPROP_NOTE_ID, &id), 0u);
    EXPECT_EQ(GVDocumentClose(doc, 0), 0u);
    return id;
  }
  // A view's index; key search by one text or number key when given.
  GVINDEX View(GVDB db, const char* name) {
    GVNOTEID view = GVViewLocateByName(db, name);
    EXPECT_NE(view, 0u) << name;
    GVINDEX ix = 0;
    EXPECT_EQ(GVIndexOpen(db, &ix), 0u);
    EXPECT_EQ(GVIndexOpenView(ix, 0, view, 0), 0u);
    return ix;
  }
  // The document entries matching one key, in order.
  std::vector<GVNOTEID> Find(GVDB db, const char* view, GVKey key) {
    GVINDEX ix = View(db, view);
    key.column = 1;
    uint32_t matches = 0;
    std::vector<GVNOTEID> out;
    uint32_t st = GVIndexKeySearch(ix, 1, &key, 0, &matches);
    if (st == 0) {
      GVNOTEID id = 0;
      for (uint32_t n = 0; n < matches; ++n)
        if (GVIndexNavigate(ix, n == 0 ? GVNAV_CURRENT : GVNAV_NEXT, 0, &id, nullptr) == 0)
          out.push_back(id);
    } else {
      EXPECT_EQ(st, GVERR_KEY_NOT_FOUND) << view;
    }
    GVIndexClose(ix);
    return out;
  }
  static GVKey TextKey(const char* text) {
    GVKey k{};
    k.kind = GVTYPE_TEXT;
    k.text = text;
    return k;
  }
  static GVKey NumberKey(double n) {
    GVKey k{};
    k.kind = GVTYPE_NUMBER;
    k.number = n;
    return k;
  }
  static GVTIMEDATE Shifted(GVTIMEDATE t, int32_t hours) {
    GVTIMEADJUST a{};
    a.hours = hours;
    EXPECT_EQ(GVDatetimeAdjust(&t, &a), 0u);
    return t;
  }
  static std::string ItemText(GVDOC doc, const char* name) {
    char buffer[512] = "";
    uint32_t kind = GVTYPE_TEXT;
    uint32_t st = GVItemFetch(doc, name, &kind, 0, sizeof buffer, buffer);
    return st == 0 ? std::string(buffer) : "<" + std::to_string(st) + ">";
  }
  static double ItemNumber(GVDOC doc, const char* name) {
    double d = -12345;
    uint32_t kind = GVTYPE_NUMBER;
    EXPECT_EQ(GVItemFetch(doc, name, &kind, 0, 0, &d), 0u) << name;
    return d;
  }
  std::vector<GVDB> open_;
};

TEST_F(TemplateTest, EachTemplateOpensAsATemplateWithItsDesign) {
  struct Case {
    const char* file;
    const char* title;
    std::vector<const char*> forms, views, agents;
  } cases[] = {
      {"QTWADM.OTM",
       "Tarnway Administrator",
       {"Configuration\\Administrator",
        "Configuration\\Server",
        "Configuration\\Client",
        "Activity\\*Admin-Backup",
        "Activity\\*Admin-Purge Log",
        "Activity\\Direct Transfer",
        "Activity\\Replication",
        "Activity\\Change Propagation",
        "Activity\\Poll",
        "Activity\\Command",
        "Activity\\Script",
        "Link\\Ordex",
        "Link\\Oracle",
        "Link\\Corvex",
        "Link\\Sqlcli",
        "Link\\Xandb",
        "Link\\Flatrec",
        "Option\\Ordex",
        "Option\\Oracle",
        "Option\\Corvex",
        "Option\\Sqlcli",
        "Option\\Xandb",
        "Option\\Flatrec"},
       {"(CS_Administrators)", "(CS_Servers)", "(CS_Activities)", "(CS_Links)", "(CS_Options)",
        "(CS_Queued Events)", "(CS_Running Servers)", "(CS_Sync Dependents)", "(CS_Active Events)"},
       {}},
      {"QTWLOG.OTM",
       "Tarnway Log",
       {"Activity", "Server", "Client", "Operation", "Bug"},
       {"(CS_Servers)", "(CS_Activities)", "(CS_Open Logs)", "(Messages)"},
       {}},
      {"QTWVLT.OTM", "Tarnway Script Vault", {"Script"}, {"(Scripts)"}, {"(Vault Check)"}},
  };
  for (const Case& c : cases) {
    GVDB db = Open(c.file);
    char title[GV_TITLE_SIZE] = "";
    ASSERT_EQ(GVDatabaseGetProperty(db, GVDBPROP_TITLE, title), 0u);
    EXPECT_STREQ(title, c.title);
    for (const char* f : c.forms) EXPECT_NE(GVFormLocateByName(db, f), 0u) << c.file << " " << f;
    for (const char* v : c.views) EXPECT_NE(GVViewLocateByName(db, v), 0u) << c.file << " " << v;
    for (const char* a : c.agents) {
      GVNOTEID agent = GVAgentLocateByName(db, a);
      ASSERT_NE(agent, 0u) << a;
      EXPECT_EQ(GVAgentExecute(db, agent, 0, 0, 0), 0u) << a;
    }
    size_t forms = 0;
    GVDesignEntry e;
    for (uint32_t pos = GV_LIST_FIRST; GVFormList(db, pos, &e) == 0; pos = GV_LIST_NEXT) ++forms;
    EXPECT_EQ(forms, c.forms.size()) << c.file;
  }
  std::vector<std::string> listed;
  char name[GV_PATH_SIZE], title[GV_TITLE_SIZE];
  for (uint32_t pos = GV_LIST_FIRST;
       GVDatabaseList(nullptr, nullptr, 0, GVDBLIST_TEMPLATES, pos, 0, title, name) == 0;
       pos = GV_LIST_NEXT)
    listed.push_back(std::string(name) + "=" + title);
  EXPECT_EQ(listed,
            (std::vector<std::string>{"QTWADM.OTM=Tarnway Administrator", "QTWLOG.OTM=Tarnway Log",
                                      "QTWVLT.OTM=Tarnway Script Vault"}));
}

TEST_F(TemplateTest, FormsGiveTheItemsTheirReadersNeed) {
  GVDB db = FromTemplate("admin.odb", "QTWADM.OTM");
  // The installer's administrator document: only its own items written, the rest defaults.
  GVNOTEID admin = New(db, "Configuration\\Administrator",
                       {Text("LogServer", ""), Text("LogDatabase", "log.odb")});
  GVINDEX ix = 0;
  ASSERT_EQ(GVIndexOpen(db, &ix), 0u);
  ASSERT_EQ(GVIndexSearch(ix, "select @@98@@(Name) = @@98@@('Administrator')",
                          GVFormLocateByName(db, "Configuration\\Administrator"), 0),
            0u);
  ASSERT_EQ(GVIndexGetCount(ix), 1u);
  GVIndexClose(ix);
  GVDOC doc = 0;
  ASSERT_EQ(GVDocumentOpen(db, admin, GVOPEN_READONLY, &doc), 0u);
  EXPECT_EQ(ItemNumber(doc, "Revision"), 131072.0);
  EXPECT_EQ(ItemNumber(doc, "StatusInterval"), 5.0);
  EXPECT_EQ(ItemText(doc, "HelpDatabase"), "");
  EXPECT_EQ(ItemText(doc, "Type") + "/" + ItemText(doc, "SubType"), "Configuration/Administrator");
  GVDocumentClose(doc, 0);
  EXPECT_EQ(Find(db, "(CS_Administrators)", TextKey("Administrator")),
            std::vector<GVNOTEID>{admin});

  // Every activity and link form lists its properties by name and token, one for one, and
  // each name is a field of the form.
  struct Expect {
    const char* form;
    std::vector<std::string> names;
    std::vector<double> tokens;
  } exact[] = {
      {"Activity\\*Admin-Backup",
       {"Action", "SrcServer", "SrcDatabase", "DestServer", "DestDatabase"},
       {1, 16842753, 16842754, 33619969, 33619970}},
      {"Activity\\*Admin-Purge Log",
       {"Action", "LogServer", "LogDatabase", "Expiration"},
       {1, 3, 4, 2}},
  };
  GVDesignEntry e;
  size_t checked = 0;
  for (uint32_t pos = GV_LIST_FIRST; GVFormList(db, pos, &e) == 0; pos = GV_LIST_NEXT) {
    std::string form = e.name;
    if (form.rfind("Activity\\", 0) != 0 && form.rfind("Link\\", 0) != 0) continue;
    ++checked;
    GVDOC d = 0;
    ASSERT_EQ(GVDocumentCreate(db, e.id, &d), 0u);
    EXPECT_NE(ItemText(d, "Library"), "") << form;
    const void* p = nullptr;
    uint32_t kind = 0, length = 0;
    ASSERT_EQ(GVItemGetPointer(d, "PropNameList", &kind, &p, &length), 0u) << form;
    ASSERT_EQ(kind, GVTYPE_TEXT_LIST);
    std::vector<std::string> names;
    for (uint32_t i = 1; i <= GVTextListGetCount(p, length); ++i) {
      char n[GV_ITEM_NAME_SIZE];
      ASSERT_EQ(GVTextListFetch(p, length, i, n, sizeof n), 0u);
      names.push_back(n);
      GVFieldInfo info;
      EXPECT_EQ(GVFieldFetch(db, e.id, n, &info), 0u) << form << " " << n;
    }
    kind = GVTYPE_NUMBER_LIST;
    ASSERT_EQ(GVItemGetPointer(d, "PropTokenList", &kind, &p, &length), 0u) << form;
    const auto* b = static_cast<const uint8_t*>(p);
    const uint16_t count = static_cast<uint16_t>(b[0] | b[1] << 8);
    EXPECT_EQ(b[2] | b[3] << 8, 0) << form << ": the token list has no ranges";
    EXPECT_EQ(count, names.size()) << form;
    std::vector<double> tokens(count);
    std::memcpy(tokens.data(), b + 4, count * sizeof(double));
    for (const Expect& x : exact)
      if (form == x.form) {
        EXPECT_EQ(names, x.names);
        EXPECT_EQ(tokens, x.tokens);
      }
    GVDocumentClose(d, GVCLOSE_DISCARD);
  }
  EXPECT_EQ(checked, 14u);
  // A server's settings: PollInterval is required by the control store.
  GVNOTEID server = New(db, "Configuration\\Server", {Text("Name", "srv1")});
  ASSERT_EQ(GVDocumentOpen(db, server, GVOPEN_READONLY, &doc), 0u);
  EXPECT_EQ(ItemNumber(doc, "PollInterval"), 60.0);
  EXPECT_EQ(ItemNumber(doc, "Enabled"), 1.0);
  EXPECT_EQ(ItemNumber(doc, "MaxActivities"), 10.0);
  GVDocumentClose(doc, 0);
}

TEST_F(TemplateTest, TheQueueReachesNewAndRunAtOnceActivitiesBeforeScheduledOnes) {
  GVDB db = FromTemplate("admin.odb", "QTWADM.OTM");
  GVTIMEDATE now{};
  ASSERT_EQ(GVDatetimeCurrent(&now), 0u);
  const char* form = "Activity\\Direct Transfer";
  auto queued = [&](const char* name, GVTIMEDATE sched, std::vector<It> more = {}) {
    more.push_back(Text("Name", name));
    more.push_back(Time("SchedTime", sched));
    GVNOTEID id = New(db, form, more);
    Update(db, id, {Num("ActivityID", id)});
    return id;
  };
  GVNOTEID later = queued("later", Shifted(now, 48));
  GVNOTEID fresh = New(db, form, {Text("Name", "fresh"), Time("SchedTime", Shifted(now, 24))});
  GVNOTEID asap = queued("asap", Shifted(now, 48), {Num("RunASAP", 1)});
  GVNOTEID past = queued("past", Shifted(now, -1), {Num("ServerID", 40)});
  queued("disabled", Shifted(now, -1), {Text("Enabled", "0")});
  GVNOTEID locked = queued("locked", Shifted(now, -1), {Num("Lock", 12)});
  GVNOTEID unscheduled = New(db, "Activity\\Command", {Text("Name", "unscheduled")});
  Update(db, unscheduled, {Num("ActivityID", unscheduled)});

  GVINDEX ix = View(db, "(CS_Queued Events)");
  std::vector<GVNOTEID> order;
  std::vector<double> ids, servers;
  GVNOTEID id = 0;
  while (GVIndexNavigate(ix, GVNAV_NEXT, 0, &id, nullptr) == 0) {
    order.push_back(id);
    GVTIMEDATE when{};
    EXPECT_EQ(GVViewcellFetch(ix, 1, GVTYPE_TIME, 0, &when), 0u) << "column 1 of " << id;
    double n = -1;
    EXPECT_EQ(GVViewcellFetch(ix, 2, GVTYPE_NUMBER, 0, &n), 0u);
    ids.push_back(n);
    EXPECT_EQ(GVViewcellFetch(ix, 3, GVTYPE_NUMBER, 0, &n), 0u);
    servers.push_back(n);
    // The control store's scan stops at the first entry not yet due.
    int32_t cmp = 0;
    ASSERT_EQ(GVDatetimeCompare(&when, &now, &cmp), 0u);
    if (id == later)
      EXPECT_GE(cmp, 0);
    else
      EXPECT_LT(cmp, 0) << "entry " << id << " must come before the first scheduled one";
  }
  GVIndexClose(ix);
  // fresh (not yet queued), asap and the one without a schedule share the earliest time, in
  // note-id order; then the due one, then the one scheduled later.
  EXPECT_EQ(order, (std::vector<GVNOTEID>{fresh, asap, unscheduled, past, later}));
  EXPECT_EQ(ids, (std::vector<double>{0, double(asap), double(unscheduled), double(past),
                                      double(later)}));
  EXPECT_EQ(servers, (std::vector<double>{0, 0, 0, 40, 0}));

  EXPECT_EQ(Find(db, "(CS_Active Events)", NumberKey(12)), std::vector<GVNOTEID>{locked});
  EXPECT_EQ(Find(db, "(CS_Active Events)", NumberKey(0)), std::vector<GVNOTEID>{});
  EXPECT_EQ(Find(db, "(CS_Activities)", TextKey("PAST")), std::vector<GVNOTEID>{past});

  // A waiting activity is found under each id it waits on, with its sync time in column 2.
  GVNOTEID waiting =
      New(db, form,
          {Text("Name", "waiting"), Num("SyncID", 1),
           NumList("SyncDependents", {double(later), double(asap)}), Time("SyncTime", now)});
  EXPECT_EQ(Find(db, "(CS_Sync Dependents)", NumberKey(later)), std::vector<GVNOTEID>{waiting});
  EXPECT_EQ(Find(db, "(CS_Sync Dependents)", NumberKey(asap)), std::vector<GVNOTEID>{waiting});
  EXPECT_EQ(Find(db, "(CS_Sync Dependents)", NumberKey(999)), std::vector<GVNOTEID>{});
  ix = View(db, "(CS_Sync Dependents)");
  GVKey key = NumberKey(asap);
  key.column = 1;
  ASSERT_EQ(GVIndexKeySearch(ix, 1, &key, 0, nullptr), 0u);
  ASSERT_EQ(GVIndexNavigate(ix, GVNAV_CURRENT, 0, &id, nullptr), 0u);
  GVTIMEDATE sync{};
  ASSERT_EQ(GVViewcellFetch(ix, 2, GVTYPE_TIME, 0, &sync), 0u);
  EXPECT_EQ(std::memcmp(&sync, &now, sizeof now), 0);
  GVIndexClose(ix);

  // Only running servers are in the running view, with their sign of life in column 2.
  GVNOTEID up = New(db, "Configuration\\Server",
                    {Text("Name", "up"), Num("ServerStatus", 2), Time("Time", now)});
  GVNOTEID down = New(db, "Configuration\\Client", {Text("Name", "down")});
  ix = View(db, "(CS_Running Servers)");
  EXPECT_EQ(Walk(ix, GVNAV_NEXT, 0), std::vector<GVNOTEID>{up});
  ASSERT_EQ(GVIndexSetPosition(ix, 1), 0u);
  ASSERT_EQ(GVViewcellFetch(ix, 2, GVTYPE_TIME, 0, &sync), 0u);
  EXPECT_EQ(std::memcmp(&sync, &now, sizeof now), 0);
  GVIndexClose(ix);
  EXPECT_EQ(Find(db, "(CS_Servers)", TextKey("down")), std::vector<GVNOTEID>{down});
  GVNOTEID link = New(db, "Link\\Flatrec", {Text("Name", "files")});
  GVNOTEID option = New(db, "Option\\Oracle", {Text("Name", "opts")});
  EXPECT_EQ(Find(db, "(CS_Links)", TextKey("files")), std::vector<GVNOTEID>{link});
  EXPECT_EQ(Find(db, "(CS_Options)", TextKey("opts")), std::vector<GVNOTEID>{option});
}

TEST_F(TemplateTest, LogViewsFindTheNewestLogOfAServerOrActivityFirst) {
  GVDB db = FromTemplate("log.odb", "QTWLOG.OTM");
  GVTIMEDATE now{};
  ASSERT_EQ(GVDatetimeCurrent(&now), 0u);
  GVNOTEID older = New(db, "Server",
                       {Text("Server", "srv1"), Time("StartTime", Shifted(now, -5)),
                        Time("FinishTime", Shifted(now, -4))});
  GVNOTEID newer =
      New(db, "Server",
          {Text("Server", "srv1"), Time("StartTime", Shifted(now, -1)), Time("FinishTime", now)});
  GVNOTEID other = New(db, "Client", {Text("Server", "srv2"), Time("StartTime", now)});
  GVNOTEID run = New(
      db, "Activity",
      {Text("Server", "srv1"), Text("Activity", "Nightly"), Time("StartTime", Shifted(now, -2))});
  EXPECT_EQ(Find(db, "(CS_Servers)", TextKey("srv1")), (std::vector<GVNOTEID>{newer, older}));
  EXPECT_EQ(Find(db, "(CS_Activities)", TextKey("nightly")), std::vector<GVNOTEID>{run});

  // The open logs of a server, with their name and kind.
  EXPECT_EQ(Find(db, "(CS_Open Logs)", TextKey("srv1")), std::vector<GVNOTEID>{run});
  GVINDEX ix = View(db, "(CS_Open Logs)");
  std::vector<std::string> rows;
  for (GVNOTEID id = 0; GVIndexNavigate(ix, GVNAV_NEXT, 0, &id, nullptr) == 0;)
    rows.push_back(CellText(ix, 1) + "|" + CellText(ix, 2) + "|" + CellText(ix, 3));
  GVIndexClose(ix);
  EXPECT_EQ(rows, (std::vector<std::string>{"srv1|Nightly|Activity", "srv2|srv2|Client"}));

  ix = View(db, "(Messages)");
  EXPECT_EQ(Walk(ix, GVNAV_NEXT, 0), (std::vector<GVNOTEID>{other, newer, run, older}));
  GVIndexClose(ix);
}

}  // namespace
