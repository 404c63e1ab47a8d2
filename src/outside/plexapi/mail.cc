// Mail: a memo made from a document, and sending, which stores a copy of the document in the
// local server's mail spool database (made on first use, with a view of the posted mail).
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <random>

#include "database.h"
#include "design.h"
#include "document.h"
#include "plexapi.h"
#include "richtext.h"
#include "session.h"
#include "timedate.h"
#include "value.h"

namespace plexa {
namespace {

constexpr const char* kSpoolFile = "mailspool.odb";
constexpr const char* kSpoolTitle = "Mail Spool";
constexpr const char* kSpoolView = "(Mail)";

// The rows of an open document by name, in the order of each name's first row.
struct Rows {
  std::string name;
  std::vector<Document::Row> rows;
};

std::vector<Rows> GroupRows(const Document& doc) {
  std::vector<Rows> out;
  std::vector<std::string> keys;
  for (const DocItem& it : doc.items()) {
    auto at = std::find(keys.begin(), keys.end(), it.key);
    if (at == keys.end()) {
      keys.push_back(it.key);
      out.push_back(Rows{it.name, {}});
      at = keys.end() - 1;
    }
    out[static_cast<size_t>(at - keys.begin())].rows.push_back(Document::Row{it.type, it.value});
  }
  return out;
}

Rows* FindRows(std::vector<Rows>& all, std::string_view name) {
  std::string key = FoldAscii(name);
  for (Rows& r : all)
    if (FoldAscii(r.name) == key) return &r;
  return nullptr;
}

void SetRows(std::vector<Rows>& all, std::string_view name, std::vector<Document::Row> rows) {
  if (Rows* r = FindRows(all, name)) {
    r->rows = std::move(rows);
    return;
  }
  all.push_back(Rows{std::string(name), std::move(rows)});
}

// The rows of a document with the records of composites still open on it, which hold its
// latest rich text.
std::vector<Rows> CurrentRows(const Document& doc) {
  std::vector<Rows> rows = GroupRows(doc);
  struct Ctx {
    GVDOC doc;
    std::vector<std::pair<std::string, std::string>> found;
  } ctx{doc.handle(), {}};
  ForEachHandle(
      HandleKind::kComposite,
      [](HandleObject& o, void* c) {
        auto* x = static_cast<Ctx*>(c);
        auto& comp = static_cast<Composite&>(o);
        if (comp.parent() == x->doc && !comp.item.empty() && comp.dirty)
          x->found.emplace_back(comp.item, comp.records);
      },
      &ctx);
  for (auto& [item, records] : ctx.found) {
    std::vector<Document::Row> pieces;
    for (std::string& p : rt::CutPieces(records))
      pieces.push_back(Document::Row{GVTYPE_COMPOSITE, std::vector<uint8_t>(p.begin(), p.end())});
    SetRows(rows, item, std::move(pieces));
  }
  return rows;
}

void RemoveRows(std::vector<Rows>& all, std::string_view name) {
  std::string key = FoldAscii(name);
  std::erase_if(all, [&](const Rows& r) { return FoldAscii(r.name) == key; });
}

// The texts of the first row of a name (an absent item: none); with names, a single text is
// a ","-separated list of names.
std::vector<std::string> TextsOf(std::vector<Rows>& all, std::string_view name, bool names = true) {
  Rows* r = FindRows(all, name);
  if (r == nullptr || r->rows.empty()) return {};
  Value v, text;
  if (DecodeItem(r->rows.front().type, r->rows.front().value, v) != 0) return {};
  if (names && v.type == GVTYPE_TEXT && !v.texts.empty()) return SplitList(v.texts.front());
  if (IsTextType(v.type)) return v.texts;
  if (Convert(v, GVTYPE_TEXT_LIST, text) == 0) return text.texts;
  return {};
}

Document::Row TextListRow(std::vector<std::string> texts) {
  return Document::Row{GVTYPE_TEXT_LIST, EncodeItem(Value::TextList(std::move(texts)))};
}

Document::Row TextRow(std::string text) {
  return Document::Row{GVTYPE_TEXT, EncodeItem(Value::Text(std::move(text)))};
}

std::string LoginName() {
  char buffer[4096];
  struct passwd pw;
  struct passwd* found = nullptr;
  if (getpwuid_r(geteuid(), &pw, buffer, sizeof buffer, &found) == 0 && found != nullptr &&
      found->pw_name != nullptr && *found->pw_name != '\0')
    return found->pw_name;
  return "Tarnway";
}

void RemoveDatabaseFiles(const std::string& path) {
  for (const char* suffix : {"-wal", "-shm", "-journal", ""}) unlink((path + suffix).c_str());
}

// Makes the spool complete (schema and view) under a private name, then links it into
// place: a process that finds the file finds its view too, and two first senders racing
// leave one spool.
[[nodiscard]] uint32_t CreateSpool(const DbPath& path) {
  if (!MakeDirectories(path.dir)) return Fail(GVERR_FILE, path.dir + ": " + std::strerror(errno));
  std::random_device rd;
  const std::string temp =
      path.path + ".new-" + std::to_string(getpid()) + "-" + std::to_string(rd());
  RemoveDatabaseFiles(temp);
  struct Cleanup {
    const std::string& path;
    ~Cleanup() { RemoveDatabaseFiles(path); }
  } cleanup{temp};
  {
    std::unique_ptr<Database> db;
    if (uint32_t st = Database::Create(temp, kSpoolTitle, BusyTimeoutMs(), db)) return st;
    ViewSpec spec;
    spec.name = kSpoolView;
    spec.columns.push_back({GVCOL_SORTED, "PostedDate", "Posted", {}});
    spec.columns.push_back({0, "SendTo", "To", {}});
    spec.columns.push_back({0, "Subject", "Subject", {}});
    GVNOTEID view = 0;
    if (uint32_t st = CreateView(*db, spec, view)) return st;
    if (uint32_t st = db->Exec("PRAGMA wal_checkpoint(TRUNCATE)")) return st;
  }
  if (link(temp.c_str(), path.path.c_str()) != 0 && errno != EEXIST)
    return Fail(GVERR_FILE, path.path + ": " + std::strerror(errno));
  return 0;
}

[[nodiscard]] uint32_t OpenSpool(std::unique_ptr<Database>& out) {
  DbPath path;
  if (uint32_t st = ResolveDatabase(DataRoot(), nullptr, kSpoolFile, path)) return st;
  uint32_t st = Database::Open(path.path, false, BusyTimeoutMs(), out);
  if (st != GVERR_NO_DATABASE) return st;
  if (uint32_t made = CreateSpool(path)) return made;
  return Database::Open(path.path, false, BusyTimeoutMs(), out);
}

// Stores rows and attachments as a new document of the spool.
uint32_t Post(const std::vector<Rows>& rows, const Document& source) {
  std::unique_ptr<Database> spool;
  if (uint32_t st = OpenSpool(spool)) return st;
  std::unique_ptr<Document> copy;
  if (uint32_t st = Document::Create(*spool, 0, copy)) return st;
  for (const Rows& r : rows)
    if (uint32_t st = copy->ReplaceRows(r.name, r.rows)) return st;
  for (const auto& [name, a] : source.attachments()) {
    std::string data;
    if (uint32_t st = source.AttachmentData(name, data)) return st;
    if (uint32_t st = copy->AddAttachment(name, std::move(data))) return st;
  }
  uint32_t st = copy->Store();
  copy.reset();
  return st;
}

[[nodiscard]] uint32_t MailCreate(Document& source, const char* sendTo, const char* copyTo,
                                  const char* blindCopyTo, const char* subject, GVDOC& out) {
  Database& db = source.db();
  std::unique_ptr<Document> mail;
  {
    // A memo has no form of the database: the form check does not apply to it.
    struct Restore {
      Database& db;
      bool on;
      ~Restore() { db.set_form_check(on); }
    } restore{db, db.form_check()};
    db.set_form_check(false);
    if (uint32_t st = Document::Create(db, 0, mail)) return st;
  }
  mail->set_form_check(false);
  std::vector<Rows> rows = CurrentRows(source);
  RemoveRows(rows, "Form");
  SetRows(rows, "Form", {TextRow("Memo")});
  const std::pair<const char*, const char*> lists[] = {
      {"SendTo", sendTo}, {"CopyTo", copyTo}, {"BlindCopyTo", blindCopyTo}};
  for (const auto& [name, names] : lists)
    if (names != nullptr) SetRows(rows, name, {TextListRow(SplitList(names))});
  if (subject != nullptr) SetRows(rows, "Subject", {TextRow(subject)});
  SetRows(rows, "From", {TextRow(LoginName())});
  for (Rows& r : rows)
    if (uint32_t st = mail->ReplaceRows(r.name, std::move(r.rows))) return st;
  return Document::Register(std::move(mail), out);
}

[[nodiscard]] uint32_t MailSend(Document& doc, uint32_t flags) {
  std::vector<Rows> rows = CurrentRows(doc);
  std::vector<std::string> recipients;
  bool addressed = false;
  for (const char* name : {"SendTo", "CopyTo", "BlindCopyTo"}) {
    for (std::string& r : TextsOf(rows, name)) {
      if (r.empty()) continue;
      if (std::strcmp(name, "SendTo") == 0) addressed = true;
      if (std::find(recipients.begin(), recipients.end(), r) == recipients.end())
        recipients.push_back(std::move(r));
    }
  }
  if (!addressed) return Fail(GVERR_MAIL, "no recipient in SendTo");
  if ((flags & GVMAIL_EMBED_FORM) != 0) {
    std::vector<std::string> form = TextsOf(rows, "Form", false);
    SetRows(rows, "$EmbeddedForm", {TextRow(form.empty() ? std::string() : form.front())});
  } else {
    SetRows(rows, "Form", {TextRow("Memo")});
  }
  SetRows(rows, "PostedDate", {Document::Row{GVTYPE_TIME, EncodeItem(Value::Time(CurrentTime()))}});
  SetRows(rows, "Recipients", {TextListRow(std::move(recipients))});
  if (uint32_t st = Post(rows, doc)) {
    const LastError& e = GetLastError();
    std::string why = e.status == st ? e.text : StatusText(st);
    return Fail(GVERR_MAIL, "the mail spool: " + why);
  }
  return 0;
}

}  // namespace
}  // namespace plexa

using plexa::Document;

extern "C" {

GV_API uint32_t GVMailCreate(GVDOC source, const char* sendTo, const char* copyTo,
                             const char* blindCopyTo, const char* subject, GVDOC* mail) {
  return plexa::ApiSession([&]() -> uint32_t {
    Document* d = plexa::FindDocument(source);
    if (d == nullptr) return GVERR_INVALID_HANDLE;
    if (mail == nullptr) return GVERR_INVALID_ARGUMENT;
    if (uint32_t s = d->ReadParts()) return s;
    return plexa::MailCreate(*d, sendTo, copyTo, blindCopyTo, subject, *mail);
  });
}

GV_API uint32_t GVMailSend(GVDOC doc, uint32_t flags) {
  return plexa::ApiSession([&]() -> uint32_t {
    Document* d = plexa::FindDocument(doc);
    if (d == nullptr) return GVERR_INVALID_HANDLE;
    if (uint32_t s = d->ReadParts()) return s;
    return plexa::MailSend(*d, flags);
  });
}

}  // extern "C"
