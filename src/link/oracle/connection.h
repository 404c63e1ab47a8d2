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
#include <memory>
#include <string>
#include <vector>

#include "flowcore.h"
#include "flowcore_ptr.h"
#include "ora72.h"
#include "properties.h"
#include "twengine.h"
#include "twx.h"

namespace oracle {

// One described column and how its values travel between the server and the engine.
struct Column {
  int16_t internal = 0;  // the server's type (ORA_VARCHAR2, ORA_NUMBER, ...)
  int external = 0;      // the external type of its define and bind
  uint32_t element = 0;  // bytes of one value in a define buffer
  uint32_t stride = 0;   // bytes from one row's value to the next
  uint32_t size = 0;     // the column's size (text and raw), 0 when unbounded
  bool isLong = false;   // LONG or LONG RAW: values beyond the element come in pieces
};

// A table's or a statement's select list: the engine fields and the columns behind them.
// Shared by the statement slots that describe the same table at one METADATA generation.
struct Description {
  uint32_t identity = 0;  // the METADATA generation, or a fresh number for a statement
  std::string table;      // the METADATA text it was made for (tables, writeback selections)
  std::vector<Column> columns;
  flowcore::FieldlistPtr fields;  // one field per column, named by it
  bool hasLong = false;
  bool writeback = false;
};

// A cursor with the statement prepared on it for one kind of operation, and the caller's
// field list merged with the description it was prepared for.
struct Slot {
  OraCursor cursor{};
  bool open = false;
  uint32_t mergeFlag = 0;  // TWMERGEF_FETCH, _INSERT, _UPDATE or _REMOVE
  std::shared_ptr<Description> description;
  bool prepared = false;
  uint32_t sequence = 0;  // of the caller's list the statement was prepared for
  flowcore::FieldlistPtr merged;
  std::vector<uint32_t> columnOf;  // per merged entry, its column (from 0)
  // Forgets the statement and the merged list; the description stays.
  void Unprepare() {
    prepared = false;
    sequence = 0;
    merged.reset();
    columnOf.clear();
  }
};

// The datetime of the server's 7-byte DATE (century + 100, year + 100, month, day, hour + 1,
// minute + 1, second + 1), on the machine's wall clock.
[[nodiscard]] uint32_t DatetimeOfDate(const unsigned char date[7], TWDatetime* out);

// The write statements: which slot and statement an insert, update or remove uses.
enum class Write { kInsert, kUpdate, kRemove };

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
  // Ends the open result set, if any; a commit held back while a writeback selection was
  // open is made now.
  void EndResultSet();
  int queryState() const { return queryState_; }
  TWFIELDLIST described() const {
    return selection_.description ? selection_.description->fields.get() : TWNULLHANDLE;
  }
  // ---- records (select.cc, transfer.cc)
  // Opens the selection of METADATA (FIELD_LIST, CONDITION, time-stamp window, key terms of
  // keys' record recordIndex, ORDER_LIST, WRITEBACK) and describes it into dest.
  [[nodiscard]] uint32_t Select(TWFIELDLIST keys, uint32_t recordIndex, TWFIELDLIST dest,
                                uint32_t* affected);
  // Moves up to recordCount rows of the open result set into dest's slots from recordIndex,
  // in arrays of at most 32767 rows per call to the server.
  [[nodiscard]] uint32_t Fetch(TWFIELDLIST dest, uint32_t recordIndex, uint32_t recordCount,
                               uint32_t* affected);
  [[nodiscard]] uint32_t Insert(TWFIELDLIST src, uint32_t recordIndex, uint32_t recordCount,
                                uint32_t* affected);
  [[nodiscard]] uint32_t Update(TWFIELDLIST src, uint32_t recordIndex, uint32_t recordCount,
                                uint32_t* affected);
  [[nodiscard]] uint32_t Remove(TWFIELDLIST keys, uint32_t recordIndex, uint32_t recordCount,
                                uint32_t* affected);
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
  // CommitFrequency (2 or more); a failed commit is answered. While a writeback selection is
  // open the commit waits for its end: committing would end its FOR UPDATE cursor.
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
  [[nodiscard]] uint32_t RunOnOwnCursor(const std::string& text, bool logMissing, bool nameError);
  // Appends the engine field of a described column to list; *column (optional) receives
  // how its values travel.
  [[nodiscard]] uint32_t AppendColumn(TWFIELDLIST list, const std::string& name, int16_t type,
                                      int32_t size, int16_t precision, int16_t scale, bool notNull,
                                      Column* column);
  // Describes the select list parsed on slot's cursor into a new description of identity
  // (and dest when given). rowidPosition (from 1, 0 none) is the writeback ROWID, which gets
  // no field.
  [[nodiscard]] uint32_t DescribeParsed(Slot& slot, uint32_t identity, TWFIELDLIST dest,
                                        uint32_t rowidPosition);
  // Describes the METADATA table into slot: shares a description of the current generation
  // another slot holds, else parses SELECT * ... WHERE 0 = 1 on slot's cursor. 942 is 12545,
  // logged when logMissing.
  [[nodiscard]] uint32_t DescribeTable(Slot& slot, TWFIELDLIST dest, bool logMissing);
  // Parses text on the selection cursor and describes it; see Execute.
  [[nodiscard]] uint32_t OpenResult(const std::string& text, TWFIELDLIST dest, uint32_t* affected,
                                    bool logMissing, bool own);
  // ---- records (transfer.cc)
  // Merges list with slot's description (TWFieldlistMerge, the slot's flag and the merge
  // mode) and checks each field against its column's type.
  [[nodiscard]] uint32_t MergeInto(Slot& slot, TWFIELDLIST list, bool fetching);
  // Defines the selection's columns for rows rows at once.
  [[nodiscard]] uint32_t DefineRows(uint32_t rows);
  // Moves row row of the define buffers into record slot of the merged list.
  [[nodiscard]] uint32_t MoveRow(uint32_t row, uint32_t slot);
  // Reads the rest of a long column's value after the first piece.
  [[nodiscard]] uint32_t ReadLong(uint32_t position, bool raw, std::string& value);
  // Opens slot's cursor when it is not open.
  [[nodiscard]] uint32_t OpenSlot(Slot& slot);
  // Binds key terms of record recordIndex of keys to the selection cursor and executes it.
  [[nodiscard]] uint32_t ExecuteSelectionKeys(TWFIELDLIST keys, uint32_t recordIndex);
  // The write entry points' shared work on slot.
  [[nodiscard]] uint32_t WriteRecords(Write kind, TWFIELDLIST list, uint32_t recordIndex,
                                      uint32_t recordCount, uint32_t* affected);
  // Prepares the statement of kind on slot for list when it is not prepared for it.
  [[nodiscard]] uint32_t PrepareWrite(Write kind, Slot& slot, TWFIELDLIST list);
  // Binds record recordIndex (or, with rows above 1, the arrays of rows records from it)
  // and executes slot's statement.
  // *processed receives the rows the server wrote. A value that cannot be bound is logged
  // naming its field and answered after the rows before it were written.
  [[nodiscard]] uint32_t BindAndExecute(Write kind, Slot& slot, uint32_t recordIndex, uint32_t rows,
                                        uint32_t* processed);
  // Logs status naming entry index of list and answers it.
  [[nodiscard]] uint32_t LogField(uint32_t status, TWFIELDLIST list, uint32_t index);
  // Releases slot's statement, description and cursor.
  void ReleaseSlot(Slot& slot);
  // The slot of a write statement.
  Slot& SlotOf(Write kind) {
    return kind == Write::kInsert ? insert_ : kind == Write::kUpdate ? update_ : remove_;
  }
  // A writeback selection is open: its FOR UPDATE cursor must outlive every commit.
  bool HoldingRows() const {
    return queryState_ != 0 && selection_.description && selection_.description->writeback;
  }
  // Reads NLS_CHARACTERSET and takes its format; an unknown set is a warning only.
  [[nodiscard]] uint32_t ReadCharacterSet();
  // Converts the text properties into the connection's format.
  void ConvertTextProperties();
  // Ends what the statements hold; the commit counter restarts.
  void ReleaseStatements();

  uint32_t connectCode_ = 0;
  OraLda lda_{};
  OraHda hda_{};
  Slot selection_, insert_, update_, remove_;
  bool connected_ = false;
  uint32_t sinceCommit_ = 0;
  bool commitHeld_ = false;      // a commit waits for the writeback selection's end
  bool autocommitHeld_ = false;  // autocommit is off while a writeback selection is open
  TWStream scratch_{};
  int queryState_ = 0;  // 0 no result set, 1 parsed, 2 executed
  // The selection's fetch state.
  int64_t mark_ = 0;           // rows fetched so far, -1 once the server said there are no more
  uint32_t rowsDefined_ = 0;   // rows the define buffers hold
  uint32_t rowsPerFetch_ = 0;  // 1 for long columns and writeback selections
  std::vector<std::vector<unsigned char>> defines_;  // per column, rowsDefined_ values
  std::vector<int16_t> indicators_;                  // per column, rowsDefined_ entries
  std::vector<uint16_t> lengths_;                    // per column, rowsDefined_ entries
  bool writebackReady_ = false;
  uint32_t rowidPosition_ = 0;
  char rowid_[256] = {};
  uint16_t rowidLength_ = 0;
};

}  // namespace oracle

#endif  // TW_LINK_ORACLE_CONNECTION_H_
