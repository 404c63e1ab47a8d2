// The state of one text-file connection and the operations behind its entry points. The
// engine's context block (twx_plugin.h) holds only a pointer to a Connection, which owns
// everything else: property values, the trace, the allocation registry and, while connected,
// a Session (the compiled ZID description, the open data file, the record buffers and the
// field bindings).
#ifndef TW_LINK_ZMLNK_CONNECTION_H_
#define TW_LINK_ZMLNK_CONNECTION_H_

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "dates.h"
#include "flowcore.h"
#include "memreg.h"
#include "properties.h"
#include "record_reader.h"
#include "record_writer.h"
#include "replace.h"
#include "trace.h"
#include "twx.h"
#include "twx_slots.h"
#include "zid_parser.h"

namespace flatrec {

// The most a record may hold (MaxRecSize): a record buffer is twice this.
constexpr int32_t kMaxRecordLimit = 0x4000000;
// Work buffers: the ZID text and the replacement text.
constexpr size_t kWorkBuffer = 0x7FFF;
// The most entries and the longest entry a list stream can describe (16-bit words).
constexpr size_t kMaxListWord = 0xFFFF;

// A piece of text that lies in the record or in the record's value arena.
struct TextRef {
  const char* ptr = nullptr;  // in the record; null when in the arena
  size_t offset = 0;          // in the arena
  size_t length = 0;
  std::string_view view(const std::string& arena) const {
    return ptr != nullptr ? std::string_view(ptr, length)
                          : std::string_view(arena.data() + offset, length);
  }
};

// What one column yielded for the current input record.
struct Bucket {
  uint16_t count = 0;  // values appended; 0: the field is null
  double number = 0;
  TWDatetime datetime{};
  TextRef text;         // a single text, or a single number's text
  uint8_t implied = 0;  // decimals implied in a number's text, placed when the text is used
  std::string list;     // a list value
  uint32_t listFormat = 0;
  int64_t located = -1;  // where the column's bytes start in the record; -1 not located
  void Clear() {
    count = 0;
    number = 0;
    datetime = TWDatetime{};
    text = TextRef{};
    implied = 0;
    list.clear();
    listFormat = 0;
    located = -1;
  }
};

// A field of the caller's list and the column it stands for; computed once per field list.
struct FieldBinding {
  TWFIELD field = TWNULLHANDLE;
  uint32_t type = 0;
  int column = -1;
  uint32_t error = 0;  // 12814 or 12548: logged and answered when the walk reaches it
  std::string name;
  // Set for each call's block of records (PrepareFields).
  twx::FieldSlots slots;
  uint32_t declared = 0;  // the stream format the field keeps, 0 for none
};

// The settings fixed at connect.
struct Settings {
  Direction direction = Direction::kSource;
  std::string dataName;
  bool embedded = false;
  bool textType = true;     // Filetype begins with 'T'
  bool binaryType = false;  // Filetype begins with 'B'
  uint32_t limit = kDefaultMaxRecSize;
  uint32_t fixedSize = 0;
  uint32_t minSize = 0;
  uint32_t maxText = kDefaultMaxText;
  std::string delimiter;
  std::string fill;
  DateNames names;
  std::string header, trailer;
};

class Session {
 public:
  Session() = default;
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  Settings settings;
  Zid zid;
  LocalZoneCache zones;  // for the dates read or written
  FILE* file = nullptr;
  std::string fileName;  // the data file as opened (for messages)
  RecordReader reader;
  RecordWriter writer;
  bool needDelimiter = false;  // a record was written since the file was opened or emptied
  bool writeFailed = false;    // a failed write was logged; later records are refused

  // Input.
  std::vector<Bucket> buckets;
  std::string arena;    // decoded values of the current record
  std::string work[2];  // one column's decoding, step by step
  int nextWork = 0;
  std::vector<std::string_view> tokens;

  // Field bindings of the last field list seen.
  std::vector<FieldBinding> bindings;
  TWFIELDLIST boundList = TWNULLHANDLE;
  uint32_t boundSequence = 0;
  uint8_t boundMode = 0;
  std::vector<int> columnBinding;  // output: per column, its binding or -1
  uint32_t slotFirst = 1;          // the record the prepared slots start at

  // Output.
  RegBuffer area;
  size_t dirty = 0;  // bytes of the area written since it was last filled
  TWStream dateText{};
  TWStream convText{};
  TWStream numberText{};  // a currency's or numeric's decimal text on its way to the record
  std::string format;     // a formatted date
};

class Connection {
 public:
  Connection() = default;
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  [[nodiscard]] uint32_t Initialize(uint32_t connectCode, uint32_t flags);
  [[nodiscard]] uint32_t Terminate(uint32_t flags);
  [[nodiscard]] uint32_t SetProperty(uint32_t token, TWFIELD src);
  [[nodiscard]] uint32_t GetProperty(uint32_t token, TWFIELD dest);
  [[nodiscard]] uint32_t Connect();
  [[nodiscard]] uint32_t Disconnect(uint32_t errorFlag);
  [[nodiscard]] uint32_t Execute(const TWStream* statement, TWFIELDLIST dest, uint32_t* count);
  [[nodiscard]] uint32_t Fetch(TWFIELDLIST dest, uint32_t index, uint32_t records, uint32_t* count);
  [[nodiscard]] uint32_t Insert(TWFIELDLIST src, uint32_t index, uint32_t records, uint32_t* count);
  [[nodiscard]] uint32_t Update(TWFIELDLIST src, uint32_t index, uint32_t records, uint32_t* count);
  [[nodiscard]] uint32_t Action(uint32_t code);
  // The entry points this connector does not offer: traced, then TWFAIL_UNAVAILABLE.
  [[nodiscard]] uint32_t Unavailable(std::string_view entry);

  // Parts used by the input and output units.
  MemRegistry registry;
  Tracer tracer;
  Props props;
  uint32_t connectCode = 0;
  uint32_t recordCounter = 0;  // records read or written on this context
  // Working values that keep their last non-zero property value across connects.
  uint32_t limit = kDefaultMaxRecSize;
  uint32_t maxText = kDefaultMaxText;
  uint32_t fixedSize = 0;
  uint32_t minSize = 0;
  RegBuffer work1, work2;
  std::unique_ptr<Session> session;

  // "[Input Record %lu]" or "[Output Record %lu]" with the record counter.
  std::string RecordLabel() const;
  // Logs a failed write of the session's data file (once) and answers 12325.
  [[nodiscard]] uint32_t WriteFailure(Session& s);

 private:
  [[nodiscard]] uint32_t ConnectSteps(Session& s);
  [[nodiscard]] uint32_t OpenData(Session& s);
  [[nodiscard]] uint32_t CloseData(Session& s, uint32_t errorFlag);
  [[nodiscard]] uint32_t ReadZidText(std::string* text, std::string* source);
};

// Record input (input.cc): reads the next accepted record and cuts it into the buckets
// (0, 12290, or the first failing column's status, logged), then moves the buckets into
// record first + k of list (first as prepared).
[[nodiscard]] uint32_t ReadRecord(Connection& c, std::string_view* record);
[[nodiscard]] uint32_t LocateFields(Connection& c, std::string_view record);
[[nodiscard]] uint32_t MoveFields(Connection& c, TWFIELDLIST list, uint32_t k);
// Binds the fields of list to columns (cached by the list's sequence number).
void BindFields(Connection& c, TWFIELDLIST list);
// Binds the fields of list and looks up their storage for records first to first + count - 1,
// before the first of them is moved.
void PrepareFields(Connection& c, TWFIELDLIST list, uint32_t first, uint32_t count);
// Record output (output.cc): builds and writes record first + k of list (first as prepared).
[[nodiscard]] uint32_t WriteRecord(Connection& c, TWFIELDLIST list, uint32_t k);
// Logs status for the field or column named name and answers it.
uint32_t LogNamed(uint32_t status, std::string_view name);

}  // namespace flatrec

#endif  // TW_LINK_ZMLNK_CONNECTION_H_
