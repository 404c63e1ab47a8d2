// Open databases as handles, and the whole-file operations: create (from a template),
// copy, delete and list.
#ifndef TW_OUTSIDE_PLEXAPI_DATABASE_H_
#define TW_OUTSIDE_PLEXAPI_DATABASE_H_

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "paths.h"
#include "session.h"
#include "store.h"

namespace plexa {

// A GVDB: the open database and the name it was opened by.
class DbHandle : public HandleObject {
 public:
  static constexpr HandleKind kKind = HandleKind::kDatabase;
  DbHandle(std::unique_ptr<Database> db, DbPath path);
  ~DbHandle() override;
  HandleKind kind() const override { return kKind; }
  Database& db() { return *db_; }
  const DbPath& path() const { return path_; }

 private:
  std::unique_ptr<Database> db_;
  DbPath path_;
};

// The database of a valid GVDB, else null.
Database* FindDatabase(GVDB db);

// Opens the database under a new handle.
[[nodiscard]] uint32_t OpenDatabase(const DbPath& path, GVDB& out);

// Creates the database file at target: empty, or a copy of the template's design, access
// list and information notes (documents too with GVCREATE_DOCUMENTS) with a new identity.
// title empty: the template's title, else the file's name.
[[nodiscard]] uint32_t CreateDatabase(const DbPath& target, std::string_view title,
                                      const DbPath* templ, uint32_t options, bool inherit);
// A new database's own identity and time of creation, and title when setTitle.
[[nodiscard]] uint32_t StampNewDatabase(Database& db, bool setTitle, std::string_view title);
// What a database made from the template templ (its rows already in, the write transaction
// txn open) keeps and drops: temporary views go, documents unless options has
// GVCREATE_DOCUMENTS; it gets its own identity and title.
[[nodiscard]] uint32_t TakeTemplate(Txn& txn, const DbPath& templ, std::string_view title,
                                    uint32_t options, bool inherit);
// Copies a whole database consistently (SQLite's backup) into a new file, keeping note ids
// and identities of notes; the copy gets a new database identity and, when setTitle, title.
// sizeLimitMb 0 or 0x7FFF: none.
[[nodiscard]] uint32_t CopyDatabase(const DbPath& source, const DbPath& dest, bool setTitle,
                                    std::string_view title, uint32_t sizeLimitMb);
// Deletes the file and its companions. Missing: GVERR_NO_DATABASE; open in this process:
// GVERR_DATABASE_IN_USE; not a database of this API: GVERR_NOT_A_DATABASE.
[[nodiscard]] uint32_t DeleteDatabase(const DbPath& path);
// Renames from to to (one rename of the file; to is replaced when replace is set, else an
// existing to is GVERR_EXISTS). Missing: GVERR_NO_DATABASE; either open in this process:
// GVERR_DATABASE_IN_USE; from not a database of this API: GVERR_NOT_A_DATABASE.
[[nodiscard]] uint32_t RenameDatabase(const DbPath& from, const DbPath& to, bool replace);

// One database of a listing.
struct ListedDatabase {
  std::string name;  // relative to the server's directory
  std::string title;
  bool is_template = false;
};
// The databases under dir (recursively), sorted by name; files that are not databases of
// this API are skipped.
[[nodiscard]] uint32_t ListDatabases(const std::string& serverDir, const std::string& subdir,
                                     std::vector<ListedDatabase>& out);

// A date-time as note and meta rows store it: the 8 bytes, little-endian.
std::string EncodeStoredTime(const GVTIMEDATE& t);
GVTIMEDATE DecodeStoredTime(std::string_view bytes);

}  // namespace plexa

#endif  // TW_OUTSIDE_PLEXAPI_DATABASE_H_
