// The Oracle connector: one Connection per engine context, over the ORA72 client library.
//
// The engine's context block (twx_plugin.h) holds only a pointer to a Connection, which owns
// the property values, the client's login and host data areas and the selection cursor,
// opened at connect and closed at disconnect.
//
// Thread rules: a Connection is used by one thread at a time.
#ifndef TW_LINK_ORACLE_CONNECTION_H_
#define TW_LINK_ORACLE_CONNECTION_H_

#include <cstdint>
#include <string>

#include "flowcore.h"
#include "flowcore_ptr.h"
#include "ora72.h"
#include "properties.h"
#include "twengine.h"
#include "twx.h"

namespace oracle {

class Connection {
 public:
  Connection() = default;
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;
  ~Connection();

  [[nodiscard]] uint32_t Initialize(uint32_t connectCode, uint32_t flags);
  [[nodiscard]] uint32_t Terminate(uint32_t flags);
  [[nodiscard]] uint32_t SetProperty(uint32_t token, TWFIELD src);
  [[nodiscard]] uint32_t GetProperty(uint32_t token, TWFIELD dest);
  // Logs on as USERID[/PASSWORD][@SERVER], sets autocommit from CommitFrequency, opens the
  // selection cursor and reads the server's character set. A failure logs the server's text
  // and leaves nothing open.
  [[nodiscard]] uint32_t Connect();
  // Rolls back when errorFlag is set and RollbackOnError is on, releases the statements and
  // logs off (which commits); a failed commit is answered.
  [[nodiscard]] uint32_t Disconnect(uint32_t errorFlag);
  // TWACTION_RESET, TWACTION_TRUNCATE, TWACTION_COMMIT, TWACTION_ROLLBACK; another code
  // 12289.
  [[nodiscard]] uint32_t Action(uint32_t code);
  // ---- result sets from a text (describe.cc)
  // Runs an own statement: one with a select list opens a result set (executed at the first
  // fetch, *affected TWCOUNT_UNKNOWN; refused on a writeback link), others run at once. A
  // final ";" is dropped unless the text is a block.
  [[nodiscard]] uint32_t Execute(const TWStream* statement, TWFIELDLIST dest, uint32_t* affected);
  // Catalogue kinds TWOBJECT_METADATA (tables), TWOBJECT_INDEX and TWOBJECT_FIELD (of the
  // METADATA table): three text columns, name, owner and comment.
  [[nodiscard]] uint32_t Catalog(uint32_t objectType, TWFIELDLIST dest, uint32_t* affected);
  // Ends the open result set, if any.
  void EndResultSet();
  int queryState() const { return queryState_; }
  TWFIELDLIST described() const { return described_.get(); }
  // ---- data definition (statements.cc)
  // CREATE TABLE (TWOBJECT_METADATA) or INDEX (TWOBJECT_INDEX) for the fields of src; each
  // success counts one unit toward the commit.
  [[nodiscard]] uint32_t Create(uint32_t objectType, TWFIELDLIST src);
  [[nodiscard]] uint32_t Drop(uint32_t objectType);
  // Empties the METADATA table; counts one unit.
  [[nodiscard]] uint32_t Truncate();

  // ---- shared routines
  // Logs the server's text for return code rc (without its closing newline) and answers the
  // status of that entry (TWFAIL_EXTERNAL).
  [[nodiscard]] uint32_t LogError(int rc);
  // The cursor's failure: 942 is TWFAIL_INVALID_METADATA without a text, anything else the
  // server's text.
  [[nodiscard]] uint32_t CursorError(const OraCursor& cursor);
  // Autocommit on when CommitFrequency is 1, off otherwise; nothing when not connected.
  [[nodiscard]] uint32_t ApplyAutocommit();
  // Adds units written to the commit counter and commits when it reaches or passes
  // CommitFrequency (2 or more); a failed commit is answered.
  [[nodiscard]] uint32_t CountWritten(uint32_t units);
  // The native text of a stream property (the connection's format is read as is).
  static std::string TextOf(const TWStream& stream);

  bool connected() const { return connected_; }
  uint32_t sinceCommit() const { return sinceCommit_; }

  Props props;
  uint32_t metadataGeneration = 1;
  uint32_t nextGeneration = 2;

 private:
  // Logs TWFAIL_INVALID_METADATA naming METADATA and answers it.
  [[nodiscard]] uint32_t LogMissingMetadata();
  // Parses and executes text on a cursor of its own. 942 gives TWFAIL_INVALID_METADATA
  // (logged naming METADATA when logMissing); with nameError a 904 or 911 logs
  // TWFAIL_INVALID_FIELDNAME naming the text at the error offset; else the server's text.
  [[nodiscard]] uint32_t RunOnOwnCursor(const std::string& text, bool logMissing,
                                        bool nameError);
  // Appends the engine field of a described column to list.
  [[nodiscard]] uint32_t AppendColumn(TWFIELDLIST list, const std::string& name, int16_t type,
                                      int32_t size, int16_t precision, int16_t scale,
                                      bool notNull);
  // Describes the parsed select list into the description (and dest when given).
  [[nodiscard]] uint32_t DescribeSelect(TWFIELDLIST dest, uint32_t* columns);
  // Parses text on the selection cursor and describes it; see Execute.
  [[nodiscard]] uint32_t OpenResult(const std::string& text, TWFIELDLIST dest, uint32_t* affected,
                                    bool logMissing, bool own);
  // Reads NLS_CHARACTERSET and takes its format; an unknown set is a warning only.
  [[nodiscard]] uint32_t ReadCharacterSet();
  // Converts the text properties into the connection's format.
  void ConvertTextProperties();
  // Ends what the statements hold; the commit counter restarts.
  void ReleaseStatements();

  uint32_t connectCode_ = 0;
  OraLda lda_{};
  OraHda hda_{};
  OraCursor select_{};
  bool connected_ = false;
  uint32_t sinceCommit_ = 0;
  TWStream scratch_{};
  int queryState_ = 0;  // 0 no result set, 1 parsed, 2 executed
  flowcore::FieldlistPtr described_;
};

}  // namespace oracle

#endif  // TW_LINK_ORACLE_CONNECTION_H_
