// The Corvex connector: one Connection per engine context, over the FreeTDS client library
// (ct-library and bulk library).
//
// The engine's context block (twx_plugin.h) holds only a pointer to a Connection, which owns
// everything of its link: the property values, its text format, its message register, the
// three server connections (main for reads and the write-back cursor, work for statements,
// bulk for bulk copy) and the four statement descriptors. Messages of the client library
// reach the Connection whose server connection they concern (its CS_USERDATA), so that links
// of one process never see or convert each other's messages.
//
// Units: connection.cc (process set-up, messages, sessions, properties, connect and
// disconnect, running and draining statements), statements.cc (texts from properties and
// field lists, create, drop, catalogue, select, literal values), transfer.cc (describe,
// merge, fetch, prepared and bulk writes, write-back).
//
// Thread rules: a Connection is used by one thread at a time; the process's client-library
// context is shared, counted under a lock.
#ifndef TW_LINK_CORVEX_CONNECTION_H_
#define TW_LINK_CORVEX_CONNECTION_H_

#include <bkpublic.h>
#include <ctpublic.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "corvex_messages.h"
#include "flowcore.h"
#include "flowcore_ptr.h"
#include "properties.h"
#include "sql_text.h"
#include "twengine.h"
#include "twx.h"

namespace corvex {

using flowcore::FieldlistPtr;

// Server messages that say an object does not exist: missing table, truncate of one.
constexpr CS_INT kMissingObject = 208;
constexpr CS_INT kMissingTruncate = 4701;

// A column of a result or table.
struct Column {
  std::string name;
  CS_INT serverType = 0;
  CS_INT maxLength = 0;
  CS_INT fetchType = 0;
  CS_INT bindLength = 0;
  CS_INT scale = 0;
  CS_INT precision = 0;
  bool isLong = false;
  bool nullable = true;
  bool padded = false;  // a fixed char column, whose values come blank-padded
  // Read buffers of a result.
  std::vector<char> buffer;
  CS_INT copied = 0;
  CS_SMALLINT indicator = 0;
};

// A table's or result's description, shared by the descriptors of one METADATA generation.
struct Description {
  uint32_t generation = 0;
  std::string table;
  std::vector<Column> columns;
  FieldlistPtr list;
  bool hasLong = false;
};

enum class Kind : uint8_t { kRead, kInsert, kUpdate, kRemove };

// A statement descriptor.
struct Statement {
  Statement(Kind k, uint32_t bit, std::string_view statementId)
      : kind(k), flagBit(bit), id(statementId) {}
  Kind kind = Kind::kRead;
  uint32_t flagBit = 0;  // TWFIELDF_NO_FETCH ... NO_REMOVE
  std::string_view id;   // of the prepared statement
  CS_COMMAND* cmd = nullptr;
  bool prepared = false;
  bool atCursor = false;
  bool byKey = false;
  FieldlistPtr merged;
  uint32_t sequence = 0;
  // Merged entry i shows column columnOf[i] of the description (the merge's position).
  std::vector<uint32_t> columnOf;
  std::shared_ptr<Description> desc;
  // Parameter and bulk values of the record being sent.
  std::vector<std::string> holders;
  std::vector<CS_INT> lengths;
  std::vector<CS_SMALLINT> indicators;
};

// One value on its way to the server.
struct OutValue {
  CS_INT type = 0;  // CS_*_TYPE, or -1 null
  std::string bytes;
  CS_INT precision = 0, scale = 0;
};

class Connection {
 public:
  Connection() = default;
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;
  ~Connection();

  // ---- entry points (connection.cc)
  [[nodiscard]] uint32_t Initialize(uint32_t connectCode, uint32_t flags);
  [[nodiscard]] uint32_t Terminate(uint32_t flags);
  [[nodiscard]] uint32_t SetProperty(uint32_t token, TWFIELD src);
  [[nodiscard]] uint32_t GetProperty(uint32_t token, TWFIELD dest);
  // Opens the main and work connections, reads the server's character set and uses
  // DATABASE on both. A failure leaves nothing open.
  [[nodiscard]] uint32_t Connect();
  // Releases the statements (the bulk batch ends there) and closes the connections; a failed
  // release is answered.
  [[nodiscard]] uint32_t Disconnect(uint32_t errorFlag);
  [[nodiscard]] uint32_t Action(uint32_t code);

  // ---- entry points (statements.cc)
  [[nodiscard]] uint32_t Select(TWFIELDLIST keys, uint32_t recordIndex, TWFIELDLIST dest,
                                uint32_t* affected);
  [[nodiscard]] uint32_t Catalog(uint32_t objectType, TWFIELDLIST dest, uint32_t* affected);
  [[nodiscard]] uint32_t Create(uint32_t objectType, TWFIELDLIST src);
  [[nodiscard]] uint32_t Drop(uint32_t objectType);

  // ---- entry points (transfer.cc)
  [[nodiscard]] uint32_t Execute(const TWStream* statement, TWFIELDLIST dest, uint32_t* affected);
  [[nodiscard]] uint32_t Fetch(TWFIELDLIST dest, uint32_t recordIndex, uint32_t recordCount,
                               uint32_t* affected);
  [[nodiscard]] uint32_t Insert(TWFIELDLIST src, uint32_t recordIndex, uint32_t recordCount,
                                uint32_t* affected);
  [[nodiscard]] uint32_t Update(TWFIELDLIST src, uint32_t recordIndex, uint32_t recordCount,
                                uint32_t* affected);
  [[nodiscard]] uint32_t Remove(TWFIELDLIST keys, uint32_t recordIndex, uint32_t recordCount,
                                uint32_t* affected);

  // ---- messages and statements (connection.cc)
  // A message of the client library or server for this link: the first since the last reset
  // is kept; logged unless muted or a missing-object message.
  void Record(CS_INT number, std::string_view text);
  // The status of the recorded message (12545 for a missing object, else 12325); resets.
  [[nodiscard]] uint32_t Funnel();
  bool messaged() const { return firstMessage_ != 1; }
  // Sends text as a language command on cmd and drains its results; see Drain.
  [[nodiscard]] uint32_t Run(CS_COMMAND* cmd, std::string_view text, bool cancelAfter,
                             CS_INT* count = nullptr);
  // Sends the command and drains the results; the first row count goes to *count. Without
  // cancelAfter a pending row result stays for the caller.
  [[nodiscard]] uint32_t Drain(CS_COMMAND* cmd, bool cancelAfter, CS_INT* count = nullptr);
  // Runs text on a command of its own on the work connection.
  [[nodiscard]] uint32_t RunOnWork(std::string_view text, CS_INT* count = nullptr);
  [[nodiscard]] uint32_t AllocCommand(CS_CONNECTION* con, CS_COMMAND** cmd);
  [[nodiscard]] uint32_t UseDatabase(CS_COMMAND* cmd, std::string_view name);
  // Logs one of the connector's own texts (error, or informational) and answers its status.
  [[nodiscard]] uint32_t LogOwn(uint32_t id, bool informational);
  // Logs status naming METADATA, or a field's name.
  [[nodiscard]] uint32_t MissingMetadata();
  [[nodiscard]] uint32_t LogField(uint32_t status, TWFIELDLIST list, uint32_t index);
  // The native bytes of a property.
  static std::string_view TextOf(const TWStream& s);
  uint32_t textFormat() const { return static_cast<uint32_t>(props.textFormat); }
  // The text of a stream in the link's format (names, values).
  [[nodiscard]] uint32_t InFormat(const TWStream& source, std::string* out);
  // Reads and drops whatever results cmd still has, quietly: the library takes a command
  // cancelled while its results come as cancelled again at its next send.
  void Discard(CS_COMMAND* cmd);
  [[nodiscard]] uint32_t CloseCursor();
  [[nodiscard]] uint32_t ReleaseStatements();
  [[nodiscard]] uint32_t Release(Statement& st, bool full);

  // ---- transfer (transfer.cc)
  [[nodiscard]] uint32_t Describe(Statement& st, TWFIELDLIST dest, bool tableMode,
                                  bool computeMode);
  [[nodiscard]] uint32_t DescribeTable(Statement& st);
  [[nodiscard]] uint32_t Merge(Statement& st, TWFIELDLIST list);
  [[nodiscard]] uint32_t ExecuteText(std::string_view text, bool writeback, TWFIELDLIST dest,
                                     uint32_t* affected);
  [[nodiscard]] uint32_t ValueOf(TWFIELD field, uint32_t slot, const Column* column, OutValue& out);
  // The literal of value slot of field; column null in the key terms of a select.
  [[nodiscard]] uint32_t LiteralOf(TWFIELDLIST list, uint32_t index, uint32_t slot,
                                   const Column* column, std::string* out);

  bool connected() const { return main_ != nullptr; }
  CS_CONNECTION* work() const { return work_; }

  Props props;
  uint32_t metadataGeneration = 1;
  uint32_t nextGeneration = 2;
  uint32_t batchRows = 0;       // bulk rows sent since the batch began
  std::string currentDatabase;  // the last database the server said a connection is in

 private:
  [[nodiscard]] uint32_t OpenConnection(CS_CONNECTION** slot, bool bulkLogin);
  void CloseConnection(CS_CONNECTION** slot);
  [[nodiscard]] uint32_t ReadCharacterSet();
  void ConvertTextProperties();
  // Bulk copy (transfer.cc).
  [[nodiscard]] uint32_t OpenBulk();
  [[nodiscard]] uint32_t StartBulk();
  [[nodiscard]] uint32_t EnableBulk();
  // Ends the bulk batch (all: the copy too); a failure is the status of the rows it held.
  [[nodiscard]] uint32_t EndBatch(bool all = false);
  [[nodiscard]] uint32_t SendBulkRow(uint32_t slot);
  [[nodiscard]] uint32_t BindBulkRow(uint32_t slot);
  [[nodiscard]] uint32_t ExecuteRow(Statement& st, uint32_t slot, uint32_t* affected);
  [[nodiscard]] uint32_t Prepare(Statement& st, const std::string& text);
  [[nodiscard]] uint32_t CurrentTable(Statement& st);
  [[nodiscard]] uint32_t WriteByKey(Statement& st, TWFIELDLIST list, uint32_t recordIndex,
                                    uint32_t recordCount, uint32_t* affected);
  [[nodiscard]] uint32_t WriteAtCursor(bool update, TWFIELDLIST list, uint32_t recordIndex,
                                       uint32_t recordCount, uint32_t* affected);
  [[nodiscard]] uint32_t FetchColumn(Column& col, uint32_t number, TWFIELDLIST list, uint32_t index,
                                     uint32_t slot);
  [[nodiscard]] uint32_t BindResult();
  // The write texts of a merged list (statements.cc).
  [[nodiscard]] uint32_t WriteTextOf(Statement& st, bool literal, uint32_t slot, std::string* text);

  uint32_t connectCode_ = 0;
  bool contextHeld_ = false;
  CS_CONNECTION* main_ = nullptr;
  CS_CONNECTION* work_ = nullptr;
  CS_CONNECTION* bulk_ = nullptr;
  CS_BLKDESC* blk_ = nullptr;
  bool bulkStarted_ = false;
  bool bulkSent_ = false;             // a row went since blk_init: the copy is under way
  CS_COMMAND* positioned_ = nullptr;  // positioned writes on the main connection
  Statement read_{Kind::kRead, TWFIELDF_NO_FETCH, ""};
  Statement insert_{Kind::kInsert, TWFIELDF_NO_INSERT, "id_insert"};
  Statement update_{Kind::kUpdate, TWFIELDF_NO_UPDATE, "id_update"};
  Statement remove_{Kind::kRemove, TWFIELDF_NO_REMOVE, "id_remove"};
  int32_t firstPiecewise_ = -1;
  bool cursorOpen_ = false;
  bool endOfResult_ = false;
  bool rowCurrent_ = false;  // the last fetch gave a row that a positioned write may change
  bool resultOpen_ = false;
  CS_INT pendingType_ = 0;        // the row result Drain left for the caller, 0 none
  std::vector<int32_t> fieldOf_;  // read column -> merged entry (0-based), -1 none
  CS_INT firstMessage_ = 1;
  bool mute_ = false;
  TWStream scratch_{};
};

}  // namespace corvex

#endif  // TW_LINK_CORVEX_CONNECTION_H_
