// Open documents: an in-memory copy of a note's items, header and attachments, stored item
// by item as changed; and the composite objects bound to a document's rich-text items.
#ifndef TW_OUTSIDE_PLEXAPI_DOCUMENT_H_
#define TW_OUTSIDE_PLEXAPI_DOCUMENT_H_

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "formula.h"
#include "session.h"
#include "store.h"

namespace plexa {

// An item of an open document. serial names this value: a changed item gets a new one.
struct DocItem : StoredItem {
  std::string key;  // the name, ASCII-lower-cased
  uint32_t serial = 0;
  bool appended = false;  // added by Append since the open or the last store
};

// An attachment of an open document: stored, or pending until the next store.
struct DocAttachment {
  uint32_t size = 0;
  GVTIMEDATE modified{};
  bool pending = false;
  std::string data;  // pending ones only
};

// A GVCOMP: rich-text records in memory. Bound to an item of its parent document when item
// is not empty; a bound, changed composite is written back when closed with
// GVCOMPCLOSE_WRITE or when its document is stored.
class Composite : public HandleObject {
 public:
  static constexpr HandleKind kKind = HandleKind::kComposite;
  HandleKind kind() const override { return kKind; }
  GVDOC doc = 0;
  std::string item;
  std::string records;
  bool dirty = false;
};

class Document : public HandleObject, public ItemSink {
 public:
  static constexpr HandleKind kKind = HandleKind::kDocument;
  HandleKind kind() const override { return kKind; }
  ~Document() override;

  // A new document (stored at its first store); form non-zero adds "Form" and the form's
  // defaults; an unknown form GVERR_NO_FORM. Form 0 is allowed under the database's form
  // check, which applies to what is put (CheckField).
  [[nodiscard]] static uint32_t Create(Database& db, GVNOTEID form, std::unique_ptr<Document>& out);
  // The stored document or information note. Otherwise: GVERR_NO_ENTRY. The rows of a note
  // with many item parts (a long log) are read from them when first asked for (ReadParts),
  // so that appending to it and storing it cost the same in a long log as in a short one.
  [[nodiscard]] static uint32_t Open(Database& db, GVNOTEID id, uint32_t flags,
                                     std::unique_ptr<Document>& out);
  // Registers a document under a handle that closes with its database's.
  [[nodiscard]] static uint32_t Register(std::unique_ptr<Document> doc, GVDOC& out);

  // Writes back bound composites, then stores the changed items, header and attachments
  // (nothing for an unchanged stored document) and updates the views. Read-only:
  // GVERR_READ_ONLY. Deleted meanwhile: GVERR_NO_ENTRY. ifUnchanged: a note stored by
  // anyone since this copy read it is GVERR_CONFLICT and nothing is written.
  [[nodiscard]] uint32_t Store(bool ifUnchanged = false);
  bool Changed() const;

  Database& db() const { return *db_; }
  GVNOTEID note_id() const { return id_; }
  uint32_t note_class() const { return cls_; }
  const Unid& unid() const { return unid_; }
  void set_unid(const Unid& u);
  const GVTIMEDATE& created() const { return created_; }
  const GVTIMEDATE& modified() const { return modified_; }
  uint32_t sequence() const { return seq_; }
  bool read_only() const { return read_only_; }
  bool has_parent() const { return has_parent_; }
  const Unid& parent() const { return parent_; }
  void set_parent(const Unid* parent);  // null or zeros: none
  bool form_check() const { return form_check_; }
  void set_form_check(bool on) { form_check_ = on; }
  // The form note named by the "Form" item (0: none).
  [[nodiscard]] uint32_t FormId(GVNOTEID& out) const;

  // Reads the rows of the parts that the open left in the store (none: nothing), as of the
  // open: when another connection has stored the note since, the rows as stored now (the
  // rows appended here and not yet stored follow them). A note removed meanwhile:
  // GVERR_NO_ENTRY. What reads the items below reads them so itself; callers that can
  // report a failure call this first.
  [[nodiscard]] uint32_t ReadParts() const;

  // Items. Names are matched without regard to ASCII case.
  const std::vector<DocItem>& items() const {
    EnsureParts();
    return items_;
  }
  const DocItem* First(std::string_view name) const;
  const DocItem* BySerial(uint32_t serial) const;
  // The rows of a name in order.
  std::vector<const DocItem*> All(std::string_view name) const;
  // GVERR_NO_FIELD when the form check is on and name is not a field of the document's
  // form ("Form" and names starting with "$" always pass); GVERR_NO_FORM when the check is
  // on and the document has no "Form" item.
  [[nodiscard]] uint32_t CheckField(std::string_view name) const;
  // Replaces every row of name by rows of type holding the values given (stored layout);
  // the first keeps the place of the first old row. Checks the value limits.
  [[nodiscard]] uint32_t Replace(std::string_view name, uint32_t type,
                                 std::vector<std::vector<uint8_t>> values);
  // The same with rows of any types (item copies).
  struct Row {
    uint32_t type = 0;
    std::vector<uint8_t> value;
  };
  [[nodiscard]] uint32_t ReplaceRows(std::string_view name, std::vector<Row> rows);
  // Appends one more row of name. Unless the name is otherwise changed too, the next store
  // adds the rows appended and leaves the stored ones alone.
  [[nodiscard]] uint32_t Append(std::string_view name, uint32_t type, std::vector<uint8_t> value);
  // Removes every row of name (none: nothing).
  [[nodiscard]] uint32_t Remove(std::string_view name);
  // Replaces name by records cut into pieces of at most GV_RICHTEXT_PIECE bytes.
  [[nodiscard]] uint32_t PutRichText(std::string_view name, std::string_view records);
  // The records of every rich-text row of name, joined (text rows as paragraphs).
  std::string JoinedRecords(std::string_view name) const;

  // ItemSource / ItemSink: the first row of a name decoded (rich text as all its pieces);
  // Set stores a formula's value as the type of its kind and count, without the form check.
  bool Find(std::string_view name, Value& out) const override;
  [[nodiscard]] uint32_t Set(std::string_view name, const Value& v) override;

  // Attachments by name.
  const std::map<std::string, DocAttachment>& attachments() const { return attachments_; }
  [[nodiscard]] uint32_t AttachmentData(const std::string& name, std::string& out) const;
  [[nodiscard]] uint32_t AddAttachment(const std::string& name, std::string data);
  // The walk of GVAttachmentList.
  std::vector<std::string> walk;
  size_t walk_pos = 0;
  bool walk_active = false;

 private:
  Document() = default;
  [[nodiscard]] uint32_t Validate(uint32_t type, const std::vector<uint8_t>& value) const;
  void Touch(const std::string& key) { dirty_.insert(key); }
  [[nodiscard]] uint32_t WriteBackComposites();
  // The rows flagged appended, in order; found from the end, where Append puts them.
  std::vector<DocItem*> AppendedRows();
  // Removes the rows of key, keeping the count of appended rows; whether any was removed.
  bool EraseRows(const std::string& key);
  // ReadParts for readers that return no status: a failure stays in parts_status_ for the
  // next ReadParts or Store.
  void EnsureParts() const {
    if (unread_parts_ > 0) parts_status_ = ReadParts();
  }
  // The index in items_ of the first row of key among the rows read (npos: none).
  size_t FirstRead(const std::string& key) const;

  Database* db_ = nullptr;
  GVNOTEID id_ = 0;
  uint32_t cls_ = kClassDocument;
  Unid unid_{};
  GVTIMEDATE created_{};
  GVTIMEDATE modified_{};
  uint32_t seq_ = 0;
  bool has_parent_ = false;
  Unid parent_{};
  bool read_only_ = false;
  bool form_check_ = true;
  bool is_new_ = true;
  bool parent_dirty_ = false;
  bool unid_dirty_ = false;
  // Mutable: the rows of unread parts are read by the readers that need them.
  mutable std::vector<DocItem> items_;
  // The parts the open left unread (see ReadParts): their rows belong after the first
  // packed_rows_ of items_, and they are the note's parts 1..unread_parts_ as long as its
  // seq is parts_seq_ (stores of this copy that append move it on).
  mutable int64_t unread_parts_ = 0;
  mutable uint32_t parts_status_ = 0;
  size_t packed_rows_ = 0;
  uint32_t parts_seq_ = 0;
  std::set<std::string> dirty_;     // keys of names changed since the open or the last store
  std::set<std::string> appended_;  // keys of names that had rows appended since then
  size_t appended_rows_ = 0;        // rows flagged appended (they lie towards the end)
  mutable uint32_t next_serial_ = 0;
  std::map<std::string, DocAttachment> attachments_;
};

// The document of a valid GVDOC, else null.
Document* FindDocument(GVDOC doc);

}  // namespace plexa

#endif  // TW_OUTSIDE_PLEXAPI_DOCUMENT_H_
