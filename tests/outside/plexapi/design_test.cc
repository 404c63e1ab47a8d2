// Design elements: forms from field records (defaults, field walks, the form check), views
// (formula checks, names, copies, deletion), agents (acting and selecting runs), list walks,
// and the template builder.
#include "design.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "database.h"
#include "document.h"
#include "plexapi.h"
#include "richtext.h"
#include "store.h"
#include "template_build.h"
#include "view_fixture.h"

namespace {

using namespace viewtest;

struct FieldSpec {
  std::string name;
  uint32_t type;
  std::string defaultFormula;  // empty: none
};

// Creates a form through a composite of field records in the shape the connector builds:
// a paragraph definition, then per field a paragraph, its label and the field record.
uint32_t MakeForm(GVDB db, const std::string& name, const std::vector<FieldSpec>& fields,
                  GVNOTEID* form) {
  auto body = std::make_unique<plexa::Composite>();
  plexa::rt::AppendParagraphDef(body->records, GVCDSIG_PARDEF, GVParagraphDef{});
  for (const FieldSpec& f : fields) {
    plexa::rt::AppendParagraph(body->records);
    plexa::rt::AppendText(body->records, f.name);
    GVFieldRecord r{};
    r.itemType = f.type;
    r.flags = GVFIELDF_STORED;
    r.attr40 = r.attr44 = 2;
    r.listFlags =
        (f.type >= GVTYPE_TEXT_LIST && f.type <= GVTYPE_TIME_LIST) ? GVFIELD_MULTIVALUE : 0;
    r.name = f.name.c_str();
    r.defaultFormula = f.defaultFormula.empty() ? nullptr : f.defaultFormula.c_str();
    EXPECT_EQ(plexa::rt::AppendField(body->records, r), 0u);
  }
  GVCOMP comp = 0;
  EXPECT_EQ(plexa::AddHandle(std::move(body), 0, comp), 0u);
  GVFormDesign design{};
  design.formType = GVFORM_DOCUMENT;
  std::strncpy(design.name, name.c_str(), sizeof design.name - 1);
  uint32_t st = GVFormCreate(db, &design, comp, form);
  EXPECT_EQ(plexa::CloseHandle(comp), 0u);
  return st;
}

std::string ItemText(GVDOC doc, const char* name) {
  char buf[256] = {};
  uint32_t kind = GVTYPE_TEXT;
  uint32_t st = GVItemFetch(doc, name, &kind, 0, sizeof buf, buf);
  return st == 0 ? std::string(buf) : "<" + std::to_string(st) + ">";
}

using DesignTest = DbTest;

TEST_P(DesignTest, FormDefaultsFieldWalksAndTheFormCheck) {
  GVNOTEID form = 0;
  ASSERT_EQ(MakeForm(db_, "Configuration\\Server",
                     {{"Type", GVTYPE_TEXT, "'Configuration'"},
                      {"Name", GVTYPE_TEXT, ""},
                      {"PollInterval", GVTYPE_NUMBER, "60"},
                      {"Label", GVTYPE_TEXT, "Type + '/' + @@text@@(PollInterval)"},
                      {"Broken", GVTYPE_NUMBER, "1 / 0"},
                      {"Days", GVTYPE_NUMBER_LIST, "7"}},
                     &form),
            0u);
  EXPECT_EQ(GVFormLocateByName(db_, "configuration\\SERVER"), form);

  GVFormDesign design{};
  ASSERT_EQ(GVFormFetch(db_, form, &design), 0u);
  EXPECT_STREQ(design.name, "Configuration\\Server");
  EXPECT_EQ(design.formType, GVFORM_DOCUMENT);

  // The installer starts its walk with "next"; the connector with "first".
  for (uint32_t start : {GV_LIST_NEXT, GV_LIST_FIRST}) {
    std::vector<std::string> names;
    GVFieldInfo info{};
    for (uint32_t pos = start; GVFieldList(db_, form, pos, &info) == 0; pos = GV_LIST_NEXT)
      names.push_back(info.name);
    EXPECT_EQ(names, (std::vector<std::string>{"Type", "Name", "PollInterval", "Label", "Broken",
                                               "Days"}));
  }
  EXPECT_EQ(GVFieldGetCount(db_, form), 6u);
  GVFieldInfo info{};
  ASSERT_EQ(GVFieldFetch(db_, form, "pollinterval", &info), 0u);
  EXPECT_EQ(info.itemType, GVTYPE_NUMBER);
  EXPECT_EQ(info.flags & GVFIELDF_STORED, GVFIELDF_STORED);
  EXPECT_STREQ(info.name, "PollInterval");
  EXPECT_EQ(GVFieldFetch(db_, form, "Nope", &info), GVERR_NO_FIELD);
  EXPECT_EQ(GVFieldGetCount(db_, form + 2), 0u);

  GVDOC doc = 0;
  ASSERT_EQ(GVDocumentCreate(db_, form, &doc), 0u);
  EXPECT_EQ(ItemText(doc, "Form"), "Configuration\\Server");
  EXPECT_EQ(ItemText(doc, "Type"), "Configuration");
  EXPECT_EQ(ItemText(doc, "Label"), "Configuration/60");  // reads earlier defaults
  uint32_t type = 0;
  EXPECT_EQ(GVItemGetInfo(doc, "Name", &type, nullptr, nullptr), GVERR_NO_ITEM);
  EXPECT_EQ(GVItemGetInfo(doc, "Broken", &type, nullptr, nullptr), GVERR_NO_ITEM);
  ASSERT_EQ(GVItemGetInfo(doc, "Days", &type, nullptr, nullptr), 0u);
  EXPECT_EQ(type, GVTYPE_NUMBER_LIST);  // a list field keeps its list type

  // The form check knows the fields; "Form" and "$" names always pass.
  ASSERT_EQ(GVDatabaseSetProperty(db_, GVDBPROP_FORM_CHECK, 1), 0u);
  EXPECT_EQ(GVItemPut(doc, "name", 0, 0, GVTYPE_TEXT, "x", 0), 0u);
  EXPECT_EQ(GVItemPut(doc, "Stranger", 0, 0, GVTYPE_TEXT, "x", 0), GVERR_NO_FIELD);
  EXPECT_EQ(GVItemPut(doc, "$Fonts", 0, 0, GVTYPE_TEXT, "x", 0), 0u);
  EXPECT_EQ(GVDocumentClose(doc, GVCLOSE_DISCARD), 0u);
}

TEST_P(DesignTest, FormsRefuseTakenNamesBadFieldsAndBadDefaults) {
  GVNOTEID form = 0;
  ASSERT_EQ(MakeForm(db_, "Activity", {{"Name", GVTYPE_TEXT, ""}}, &form), 0u);
  GVNOTEID again = 0;
  EXPECT_EQ(MakeForm(db_, "ACTIVITY", {}, &again), GVERR_EXISTS);
  EXPECT_EQ(again, 0u);
  EXPECT_EQ(MakeForm(db_, "Twice", {{"A", GVTYPE_TEXT, ""}, {"a", GVTYPE_TEXT, ""}}, &again),
            GVERR_EXISTS);
  EXPECT_EQ(MakeForm(db_, "BadDefault", {{"A", GVTYPE_TEXT, "'open"}}, &again), GVERR_FORMULA);
  EXPECT_EQ(MakeForm(db_, "", {}, &again), GVERR_INVALID_ARGUMENT);
  EXPECT_EQ(MakeForm(db_, std::string(128, 'n'), {}, &again), GVERR_INVALID_ARGUMENT);
  EXPECT_EQ(MakeForm(db_, std::string(127, 'n'), {}, &again), 0u);
  EXPECT_EQ(GVFormCreate(db_, nullptr, 0, nullptr), GVERR_INVALID_ARGUMENT);
  GVFormDesign design{};
  std::strcpy(design.name, "Empty");
  EXPECT_EQ(GVFormCreate(db_, &design, 12345, nullptr), GVERR_INVALID_HANDLE);
  EXPECT_EQ(GVFormCreate(db_, &design, 0, nullptr), 0u);  // no body: no fields
}

TEST_P(DesignTest, LocateAnswersZeroAndRecordsWhatIsMissing) {
  const struct {
    GVNOTEID (*locate)(GVDB, const char*);
    uint32_t status;
  } cases[] = {{GVFormLocateByName, GVERR_NO_FORM},
               {GVViewLocateByName, GVERR_NO_VIEW},
               {GVAgentLocateByName, GVERR_NO_AGENT}};
  for (const auto& c : cases) {
    EXPECT_EQ(c.locate(db_, "absent"), 0u);
    EXPECT_EQ(LastStatus(), c.status);
    EXPECT_EQ(c.locate(db_, nullptr), 0u);
    EXPECT_EQ(c.locate(0, "absent"), 0u);
    EXPECT_EQ(LastStatus(), GVERR_INVALID_HANDLE);
    EXPECT_EQ(c.locate(db_, std::string(5000, 'x').c_str()), 0u);
  }
}

TEST_P(DesignTest, ViewCreationChecksNamesAndFormulas) {
  GVNOTEID view = 0;
  ASSERT_EQ(MakeView(db_, "(CS_Servers)", "SELECT Type = 'Configuration'",
                     {{GVCOL_SORTED, "Name"}, {0, "Time"}}, &view),
            0u);
  EXPECT_EQ(GVViewLocateByName(db_, "(cs_servers)"), view);
  EXPECT_EQ(GVColumnGetCount(db_, view), 2u);
  EXPECT_EQ(GVColumnGetCount(db_, view + 2), 0u);

  GVNOTEID other = 77;
  EXPECT_EQ(MakeView(db_, "(CS_SERVERS)", "", {{GVCOL_SORTED, "Name"}}, &other), GVERR_EXISTS);
  EXPECT_EQ(other, 77u);

  const struct {
    const char* selection;
    const char* column;
    uint32_t offset;
  } bad[] = {{"SELECT Name = 'x", "Name", 15},
             {"SELECT (Name", "Name", 13},
             {"SELECT @@nope@@", "Name", 8},
             {"", "Name +", 7},
             {"", "@@75@@(1;2", 11}};
  for (const auto& b : bad) {
    EXPECT_EQ(MakeView(db_, "Bad", b.selection, {{GVCOL_SORTED, b.column}}), GVERR_FORMULA)
        << b.selection << " | " << b.column;
    uint32_t info = 0;
    EXPECT_EQ(LastStatus(&info), GVERR_FORMULA);
    EXPECT_EQ(info, b.offset) << b.selection << " | " << b.column;
    EXPECT_EQ(GVViewLocateByName(db_, "Bad"), 0u);
  }
  EXPECT_EQ(MakeView(db_, "", "", {}), GVERR_INVALID_ARGUMENT);
  EXPECT_EQ(MakeView(db_, std::string(128, 'v'), "", {}), GVERR_INVALID_ARGUMENT);
  GVViewDesign d{};
  std::strcpy(d.name, "NoColumns");
  EXPECT_EQ(GVViewCreate(db_, &d, 1, nullptr, nullptr), GVERR_INVALID_ARGUMENT);
  GVViewColumn c{};
  EXPECT_EQ(GVViewCreate(db_, &d, 1, &c, nullptr), GVERR_INVALID_ARGUMENT);  // no formula
  std::memset(d.name, 'x', sizeof d.name);                                   // not terminated
  EXPECT_EQ(GVViewCreate(db_, &d, 0, nullptr, nullptr), GVERR_INVALID_ARGUMENT);
}

TEST_P(DesignTest, ListWalksGoByNameAndStartWithEitherPosition) {
  for (const char* name : {"b view", "A view", "c view"})
    ASSERT_EQ(MakeView(db_, name, "", {{GVCOL_SORTED, "Name"}}), 0u);
  ASSERT_EQ(MakeView(db_, "(temp0)", "", {{GVCOL_SORTED, "Name"}}, nullptr, 0, GVVIEW_TEMPORARY),
            0u);
  std::vector<std::string> names;
  std::vector<uint32_t> styles;
  GVDesignEntry e{};
  for (uint32_t pos = GV_LIST_NEXT; GVViewList(db_, pos, &e) == 0; pos = GV_LIST_NEXT) {
    names.push_back(e.name);
    styles.push_back(e.flags);
    EXPECT_EQ(GVViewLocateByName(db_, e.name), e.id);
  }
  EXPECT_EQ(names, (std::vector<std::string>{"(temp0)", "A view", "b view", "c view"}));
  EXPECT_EQ(styles, (std::vector<uint32_t>{GVVIEW_TEMPORARY, 8, 8, 8}));
  // After the end a walk starts again; "first" restarts one in progress.
  ASSERT_EQ(GVViewList(db_, GV_LIST_NEXT, &e), 0u);
  EXPECT_STREQ(e.name, "(temp0)");
  ASSERT_EQ(GVViewList(db_, GV_LIST_NEXT, &e), 0u);
  ASSERT_EQ(GVViewList(db_, GV_LIST_FIRST, &e), 0u);
  EXPECT_STREQ(e.name, "(temp0)");
  EXPECT_EQ(GVViewList(db_, 3, &e), GVERR_INVALID_ARGUMENT);
  EXPECT_EQ(GVViewList(db_, GV_LIST_NEXT, nullptr), GVERR_INVALID_ARGUMENT);
  EXPECT_EQ(GVFormList(db_, GV_LIST_FIRST, &e), GVERR_NO_MORE);
  EXPECT_EQ(GVAgentList(db_, GV_LIST_FIRST, &e), GVERR_NO_MORE);
}

TEST_P(DesignTest, CopiesRebuildTheTargetsIndexAndSkipTemporaryViews) {
  GVNOTEID form = 0, view = 0, temp = 0;
  ASSERT_EQ(MakeForm(db_, "Item", {{"Name", GVTYPE_TEXT, "'unnamed'"}}, &form), 0u);
  ASSERT_EQ(MakeView(db_, "Names", "SELECT Form = 'Item'", {{GVCOL_SORTED, "Name"}}, &view), 0u);
  ASSERT_EQ(MakeView(db_, "(t1)", "", {{GVCOL_SORTED, "Name"}}, &temp, 0, GVVIEW_TEMPORARY), 0u);
  GVDB target = OpenOther("copy.odb");
  Put(target, {Text("Form", "Item"), Text("Name", "zed")});
  Put(target, {Text("Form", "Other"), Text("Name", "out")});
  Put(target, {Text("Form", "item"), Text("Name", "Amy")});  // the selection compares exactly

  GVNOTEID formCopy = 0, viewCopy = 0, tempCopy = 99;
  ASSERT_EQ(GVFormCopy(db_, form, target, &formCopy, 0), 0u);
  ASSERT_EQ(GVViewCopy(db_, view, target, &viewCopy, 0), 0u);
  EXPECT_EQ(GVViewCopy(db_, temp, target, &tempCopy, 0), 0u);
  EXPECT_EQ(tempCopy, 0u);
  EXPECT_EQ(GVViewLocateByName(target, "(t1)"), 0u);
  EXPECT_EQ(GVFormLocateByName(target, "item"), formCopy);
  EXPECT_EQ(GVFieldGetCount(target, formCopy), 1u);
  EXPECT_EQ(GVViewCopy(db_, view, target, nullptr, 0), GVERR_EXISTS);
  EXPECT_EQ(GVFormCopy(db_, view, target, nullptr, 0), GVERR_NO_FORM);
  EXPECT_EQ(GVViewCopy(db_, form, target, nullptr, 0), GVERR_NO_VIEW);

  GVINDEX ix = 0;
  ASSERT_EQ(GVIndexOpen(target, &ix), 0u);
  ASSERT_EQ(GVIndexOpenView(ix, 0, viewCopy, 0), 0u);
  EXPECT_EQ(GVIndexGetCount(ix), 1u);
  // A document made from the copied form comes with its default and enters the view.
  GVDOC doc = 0;
  ASSERT_EQ(GVDocumentCreate(target, formCopy, &doc), 0u);
  ASSERT_EQ(GVDocumentClose(doc, 0), 0u);
  ASSERT_EQ(GVIndexRefresh(ix), 0u);
  ASSERT_EQ(GVIndexNavigate(ix, GVNAV_NEXT, 0, nullptr, nullptr), 0u);
  EXPECT_EQ(CellText(ix, 1), "unnamed");
}

TEST_P(DesignTest, DeletedViewsLeaveOpenIndexesWhole) {
  GVNOTEID view = 0;
  ASSERT_EQ(MakeView(db_, "All", "", {{GVCOL_SORTED, "Name"}}, &view), 0u);
  GVNOTEID a = Put(db_, {Text("Name", "a")});
  GVINDEX ix = OpenView(view);
  ASSERT_EQ(GVViewDelete(db_, view), 0u);
  EXPECT_EQ(GVViewLocateByName(db_, "All"), 0u);
  EXPECT_EQ(GVViewDelete(db_, view), GVERR_NO_VIEW);
  EXPECT_EQ(Walk(ix, GVNAV_NEXT, 0), std::vector<GVNOTEID>{a});
  EXPECT_EQ(CellText(ix, 1), "a");
  EXPECT_EQ(GVIndexOpenView(ix, 0, view, 0), GVERR_NO_VIEW);
  EXPECT_EQ(GVIndexRefresh(ix), GVERR_NO_VIEW);
  // The name is free again and the new view indexes what is there now.
  GVNOTEID again = 0;
  ASSERT_EQ(MakeView(db_, "ALL", "", {{GVCOL_SORTED, "Name"}}, &again), 0u);
  EXPECT_NE(again, view);
  EXPECT_EQ(GVIndexOpenView(ix, 0, again, 0), 0u);
  EXPECT_EQ(GVIndexGetCount(ix), 1u);
  // Deleting through the wrong kind is refused.
  EXPECT_EQ(GVFormDelete(db_, again), GVERR_NO_FORM);
  EXPECT_EQ(GVAgentDelete(db_, again), GVERR_NO_AGENT);
}

// Agents have no creating entry point: they come with templates, made here directly.
class AgentTest : public DbTest {
 protected:
  GVNOTEID Agent(const char* name, uint32_t kind, const char* selection, const char* action) {
    plexa::AgentSpec spec;
    spec.name = name;
    spec.kind = kind;
    spec.selection = selection;
    spec.action = action;
    GVNOTEID id = 0;
    EXPECT_EQ(plexa::CreateAgent(*plexa::FindDatabase(db_), spec, id), 0u);
    return id;
  }
};

TEST_P(AgentTest, ActingAgentsStoreTheirAssignmentsOnWhatTheySelect) {
  GVNOTEID a = Put(db_, {Text("Form", "Task"), Num("Done", 0), Text("Name", "a")});
  GVNOTEID b = Put(db_, {Text("Form", "Task"), Num("Done", 1), Text("Name", "b")});
  GVNOTEID c = Put(db_, {Text("Form", "Note"), Text("Name", "c")});
  GVNOTEID agent = Agent("(Close)", GVAGENT_ACTS, "SELECT Form = 'Task' & Done = 0",
                         "FIELD Done := 1; FIELD Closer := 'agent'");
  EXPECT_EQ(GVAgentLocateByName(db_, "(close)"), agent);
  ASSERT_EQ(GVAgentExecute(db_, agent, 0, 0, 0), 0u);
  for (auto [id, want] :
       {std::pair{a, "agent"}, std::pair{b, "<2147486209>"}, std::pair{c, "<2147486209>"}}) {
    GVDOC doc = 0;
    ASSERT_EQ(GVDocumentOpen(db_, id, GVOPEN_READONLY, &doc), 0u);
    EXPECT_EQ(ItemText(doc, "Closer"), want) << id;
    GVDocumentClose(doc, 0);
  }
  GVAgentInfo info{};
  ASSERT_EQ(GVAgentFetch(db_, agent, &info), 0u);
  EXPECT_EQ(info.kind, GVAGENT_ACTS);
  EXPECT_EQ(info.lastCount, 1u);
  EXPECT_STREQ(info.name, "(Close)");
  GVTIMEPARTS parts{};
  ASSERT_EQ(GVDatetimeFetch(&info.lastRun, &parts), 0u);
  EXPECT_GT(parts.year, 2000);

  // Over an index: the index's documents that the selection takes.
  GVNOTEID all = Agent("(Reopen)", GVAGENT_ACTS, "", "FIELD Done := 0");
  GVINDEX ix = 0;
  ASSERT_EQ(GVIndexOpen(db_, &ix), 0u);
  ASSERT_EQ(GVIndexSearch(ix, "SELECT Name = 'b'", 0, 0), 0u);
  ASSERT_EQ(GVAgentExecute(db_, all, ix, 0, 0), 0u);
  ASSERT_EQ(GVAgentFetch(db_, all, &info), 0u);
  EXPECT_EQ(info.lastCount, 1u);

  // An action that fails on a document leaves it and reports the formula error.
  GVNOTEID bad = Agent("(Bad)", GVAGENT_ACTS, "SELECT Form = 'Task'", "FIELD X := Name * 2");
  EXPECT_EQ(GVAgentExecute(db_, bad, 0, 0, 0), GVERR_FORMULA);
  EXPECT_EQ(GVAgentExecute(db_, bad + 2, 0, 0, 0), GVERR_NO_AGENT);
  EXPECT_EQ(GVAgentExecute(db_, all, 4242, 0, 0), GVERR_INVALID_HANDLE);
}

TEST_P(AgentTest, SelectingAgentsLeaveTheirChoiceInTheIndex) {
  GVNOTEID a = Put(db_, {Text("Form", "Task"), Text("Name", "a")});
  Put(db_, {Text("Form", "Note"), Text("Name", "b")});
  GVNOTEID c = Put(db_, {Text("Form", "Task"), Text("Name", "c")});
  GVNOTEID agent = Agent("Tasks", GVAGENT_SELECTS, "SELECT Form = 'Task'", "");
  // A fresh index (the connector's "execute NAME") is filled with what the agent selects.
  GVINDEX ix = 0;
  ASSERT_EQ(GVIndexOpen(db_, &ix), 0u);
  ASSERT_EQ(GVAgentExecute(db_, agent, ix, 0, 0), 0u);
  EXPECT_EQ(Walk(ix, GVNAV_NEXT, 0), (std::vector<GVNOTEID>{a, c}));
  // A filled index is narrowed.
  GVINDEX named = 0;
  ASSERT_EQ(GVIndexOpen(db_, &named), 0u);
  ASSERT_EQ(GVIndexSearch(named, "SELECT Name != 'a'", 0, 0), 0u);
  ASSERT_EQ(GVAgentExecute(db_, agent, named, 0, 0), 0u);
  EXPECT_EQ(Walk(named, GVNAV_NEXT, 0), (std::vector<GVNOTEID>{c}));
  GVAgentInfo info{};
  ASSERT_EQ(GVAgentFetch(db_, agent, &info), 0u);
  EXPECT_EQ(info.kind, GVAGENT_SELECTS);
  EXPECT_EQ(info.lastCount, 1u);
  // An agent recording no kind answers so, and runs as an acting one.
  GVNOTEID plain = Agent("Plain", 0, "", "");
  EXPECT_EQ(GVAgentFetch(db_, plain, &info), GVERR_AGENT_NO_INFO);
  EXPECT_EQ(GVAgentExecute(db_, plain, 0, 0, 0), 0u);
  // Copies go under the same name.
  GVDB other = OpenOther("other.odb");
  GVNOTEID copy = 0;
  ASSERT_EQ(GVAgentCopy(db_, agent, other, &copy, 0), 0u);
  EXPECT_EQ(GVAgentLocateByName(other, "TASKS"), copy);
  ASSERT_EQ(GVAgentFetch(other, copy, &info), 0u);
  EXPECT_EQ(info.kind, GVAGENT_SELECTS);
  EXPECT_EQ(info.lastCount, 0u);
  EXPECT_EQ(GVAgentCopy(db_, agent, other, &copy, 0), GVERR_EXISTS);
}

// ---------------------------------------------------------------- template builder -------

class TemplateTest : public DbTest {
 protected:
  std::string Path(const char* name) { return root_ + "/local/" + name; }
};

TEST_P(TemplateTest, BuildsATemplateThatDatabasesAreCreatedFrom) {
  const std::string json = R"js({
    "title": "Tarnway Test",
    "forms": [{"name": "Configuration\\Server",
               "fields": [{"name": "Type", "type": "text", "default": "'Configuration'"},
                          {"name": "Name", "type": "text"},
                          {"name": "Enabled", "type": "number", "default": "1"},
                          {"name": "Days", "type": "numberlist"},
                          {"name": "DocLink", "type": "richtext"}]}],
    "views": [{"name": "(CS_Servers)", "selection": "SELECT Type = 'Configuration'",
               "columns": [{"title": "Name", "formula": "Name", "sort": "ascending"},
                           {"formula": "Enabled"}]},
              {"name": "(Info)", "responses": true, "columns": [{"formula": "Subject"}]}],
    "agents": [{"name": "(Check)", "kind": "acts", "selection": "SELECT 1", "action": ""},
               {"name": "(Script)", "kind": "script", "action": "Print 1 ' not a formula"}],
    "documents": [{"class": "info", "items": [{"name": "Subject", "type": "text",
                                               "value": "About"},
                                              {"name": "Seen", "type": "timelist",
                                               "value": ["1996-11-05 14:07:09"]}]},
                  {"items": [{"name": "Type", "type": "text", "value": "Configuration"},
                             {"name": "Name", "type": "text", "value": "tmpl"}]}],
    "acl": [{"name": "", "access": "manager"}]})js";
  std::string error;
  ASSERT_EQ(plexa::BuildTemplate(json, Path("TEST.OTM"), error), 0u) << error;
  // Building again replaces the file.
  ASSERT_EQ(plexa::BuildTemplate(json, Path("TEST.OTM"), error), 0u) << error;

  GVDB t = 0;
  ASSERT_EQ(GVDatabaseOpen(nullptr, "TEST.OTM", 0, &t), 0u);
  char title[GV_TITLE_SIZE] = {};
  ASSERT_EQ(GVDatabaseGetProperty(t, GVDBPROP_TITLE, title), 0u);
  EXPECT_STREQ(title, "Tarnway Test");
  GVNOTEID form = GVFormLocateByName(t, "Configuration\\Server");
  ASSERT_NE(form, 0u);
  GVFieldInfo info{};
  ASSERT_EQ(GVFieldFetch(t, form, "Days", &info), 0u);
  EXPECT_EQ(info.itemType, GVTYPE_NUMBER_LIST);
  EXPECT_EQ(info.listFlags, GVFIELD_MULTIVALUE);
  EXPECT_NE(GVAgentLocateByName(t, "(Check)"), 0u);
  GVAgentInfo agent{};
  ASSERT_EQ(GVAgentFetch(t, GVAgentLocateByName(t, "(Script)"), &agent), 0u);
  EXPECT_EQ(agent.kind, GVAGENT_SCRIPT);
  // The template's own documents are indexed; its information notes are searched by class.
  GVINDEX ix = 0;
  ASSERT_EQ(GVIndexOpen(t, &ix), 0u);
  ASSERT_EQ(GVIndexOpenView(ix, 0, GVViewLocateByName(t, "(CS_Servers)"), 0), 0u);
  ASSERT_EQ(GVIndexNavigate(ix, GVNAV_NEXT, 0, nullptr, nullptr), 0u);
  EXPECT_EQ(CellText(ix, 1), "tmpl");
  uint32_t classes = 274;
  ASSERT_EQ(GVIndexSetProperty(ix, GVIDXPROP_CLASSES, &classes), 0u);
  ASSERT_EQ(GVIndexSearch(ix, nullptr, 0, 0), 0u);
  EXPECT_EQ(GVIndexGetCount(ix), 1u);
  ASSERT_EQ(GVDatabaseClose(t, 0), 0u);

  // A database made from it (on the test's server) has the design and the information note,
  // not the documents.
  ASSERT_EQ(GVDatabaseCreate(TestServer(), "made.odb", nullptr, 0, nullptr,
                             Path("TEST.OTM").c_str(), 0, 1),
            0u);
  GVDB made = 0;
  ASSERT_EQ(GVDatabaseOpen(TestServer(), "made.odb", 0, &made), 0u);
  GVNOTEID view = GVViewLocateByName(made, "(cs_servers)");
  ASSERT_NE(view, 0u);
  ASSERT_EQ(GVIndexOpen(made, &ix), 0u);
  ASSERT_EQ(GVIndexOpenView(ix, 0, view, 0), 0u);
  EXPECT_EQ(GVIndexGetCount(ix), 0u);
  GVDOC doc = 0;
  ASSERT_EQ(GVDocumentCreate(made, GVFormLocateByName(made, "configuration\\server"), &doc), 0u);
  ASSERT_EQ(GVItemPut(doc, "Name", 0, 0, GVTYPE_TEXT, "alpha", 0), 0u);
  ASSERT_EQ(GVDocumentClose(doc, 0), 0u);
  ASSERT_EQ(GVIndexRefresh(ix), 0u);
  ASSERT_EQ(GVIndexNavigate(ix, GVNAV_NEXT, 0, nullptr, nullptr), 0u);
  EXPECT_EQ(CellText(ix, 1), "alpha");
  EXPECT_EQ(CellText(ix, 2), "1");
  ASSERT_EQ(GVIndexClose(ix), 0u);
  classes = 274;
  ASSERT_EQ(GVIndexOpen(made, &ix), 0u);
  ASSERT_EQ(GVIndexSetProperty(ix, GVIDXPROP_CLASSES, &classes), 0u);
  ASSERT_EQ(GVIndexSearch(ix, nullptr, 0, 0), 0u);
  EXPECT_EQ(GVIndexGetCount(ix), 1u);
}

TEST_P(TemplateTest, ReportsWhatIsWrongAndWhere) {
  const struct {
    const char* json;
    uint32_t status;
    const char* where;
  } cases[] = {
      {"not json", GVERR_INVALID_ARGUMENT, "not valid JSON"},
      {"[]", GVERR_INVALID_ARGUMENT, "not an object"},
      {R"({"views": [{"name": "V", "columns": [{"formula": "A +"}]}]})", GVERR_FORMULA, "views[0]"},
      {R"({"views": [{"name": "V", "columns": [{"formula": "A", "sort": "up"}]}]})",
       GVERR_INVALID_ARGUMENT, "views[0].columns[0]: unknown sort"},
      {R"({"forms": [{"name": "F", "fields": [{"name": "A", "type": "blob"}]}]})",
       GVERR_INVALID_ARGUMENT, "forms[0].fields[0]: unknown type"},
      {R"({"forms": [{"name": "F"}, {"name": "f"}]})", GVERR_EXISTS, "forms[1]"},
      {R"({"documents": [{"items": [{"name": "N", "type": "number", "value": "x"}]}]})",
       GVERR_INVALID_ARGUMENT, "documents[0].items[0]: not a number"},
      {R"({"acl": [{"name": "x", "access": "god"}]})", GVERR_INVALID_ARGUMENT, "acl[0]"},
      {R"({"agents": [{"name": "A", "kind": "acts", "action": "FIELD := 1"}]})", GVERR_FORMULA,
       "agents[0]"},
  };
  for (const auto& c : cases) {
    std::string error;
    EXPECT_EQ(plexa::BuildTemplate(c.json, Path("BAD.OTM"), error), c.status) << c.json;
    EXPECT_NE(error.find(c.where), std::string::npos) << error;
    EXPECT_NE(access(Path("BAD.OTM").c_str(), F_OK), 0) << c.json;
  }
  // Nothing of a failed build is left beside the target.
  for (const auto& e : std::filesystem::directory_iterator(root_ + "/local"))
    EXPECT_EQ(e.path().filename().string().find("BAD"), std::string::npos) << e.path();
}

INSTANTIATE_TEST_SUITE_P(Stores, DesignTest, ::testing::Values(Engine::kSqlite, Engine::kPostgres),
                         storetest::EngineName);
INSTANTIATE_TEST_SUITE_P(Stores, AgentTest, ::testing::Values(Engine::kSqlite, Engine::kPostgres),
                         storetest::EngineName);
INSTANTIATE_TEST_SUITE_P(Stores, TemplateTest,
                         ::testing::Values(Engine::kSqlite, Engine::kPostgres),
                         storetest::EngineName);

}  // namespace
