// The test connector behind testlink.twx and its broken variants: all seventeen entry points
// over a small in-memory table, and a journal of every call as the connector saw it, so that
// tests check the engine's side of the plug-in contract. The journal of a connection is its
// read-only property Journal; the first and last bits of every connection also go, one line
// each, to testlink.journal in the installation directory, where they outlive the contexts.
//
// Variants define before including: TESTLINK_VERSION, TESTLINK_KIND (identity words),
// TESTLINK_OMIT_UPDATE (no TWXUpdate export), TESTLINK_BAD_TABLE (an own row without name).
#ifndef TW_TESTS_FLOWCORE_TESTLINK_CONNECTOR_H_
#define TW_TESTS_FLOWCORE_TESTLINK_CONNECTOR_H_

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "flowcore_ptr.h"
#include "platform.h"
#include "tw/guard.h"
#include "twx.h"

#ifndef TESTLINK_VERSION
#define TESTLINK_VERSION TWX_VERSION
#endif
#ifndef TESTLINK_KIND
#define TESTLINK_KIND TWX_KIND_CONNECTOR
#endif

namespace testlink {

// Own property tokens, in table order.
enum : uint32_t { kRows = 1, kColumns = 2, kJournal = 3, kFail = 4 };

using Row = std::vector<std::string>;

struct State {
  std::string journal;
  std::vector<std::string> columns{"Key", "Value"};
  std::vector<Row> rows;
  bool exists = true;
  // The open result set: its column names and rows, and the next row to fetch.
  bool open = false;
  std::vector<std::string> resultColumns;
  std::vector<Row> result;
  size_t next = 0;
  // Property values.
  std::string server, database, userid, password, metadata, index, condition, fail;
  std::string fieldList;  // text-list bytes
  int32_t mapName = 0;
  TWDatetime baseStamp{};
  int32_t textFormat = TWSTREAMFMT_NATIVE;
};

}  // namespace testlink

struct TWXContext {
  uint32_t connectCode;
  uint32_t connected;
  testlink::State* state;
  unsigned char spare[200];  // more bytes for the engine to zero
};

namespace testlink {

const TWXPropertyDef kProperties[] = {TWX_PROPERTY_PREDEF(TWTOKEN_SERVER, TWTYPE_TEXT),
                                      TWX_PROPERTY_PREDEF(TWTOKEN_DATABASE, TWTYPE_TEXT),
                                      TWX_PROPERTY_PREDEF(TWTOKEN_USERID, TWTYPE_TEXT),
                                      TWX_PROPERTY_PREDEF(TWTOKEN_PASSWORD, TWTYPE_TEXT),
                                      TWX_PROPERTY_PREDEF(TWTOKEN_METADATA, TWTYPE_TEXT),
                                      TWX_PROPERTY_PREDEF(TWTOKEN_INDEX, TWTYPE_TEXT),
                                      TWX_PROPERTY_PREDEF(TWTOKEN_MAP_NAME, TWTYPE_INT),
                                      TWX_PROPERTY_PREDEF(TWTOKEN_FIELD_LIST, TWTYPE_BINARY),
                                      TWX_PROPERTY_PREDEF(TWTOKEN_CONDITION, TWTYPE_TEXT),
                                      TWX_PROPERTY_PREDEF(TWTOKEN_BASESTAMP, TWTYPE_DATETIME),
                                      TWX_PROPERTY_PREDEF(TWTOKEN_TEXT_FORMAT, TWTYPE_INT),
                                      TWX_PROPERTY(kRows, TWTYPE_TEXT, "Rows"),
                                      TWX_PROPERTY(kColumns, TWTYPE_TEXT, "Columns"),
                                      TWX_PROPERTY(kJournal, TWTYPE_TEXT, "Journal"),
                                      TWX_PROPERTY(kFail, TWTYPE_TEXT, "Fail"),
#ifdef TESTLINK_BAD_TABLE
                                      {5, TWTYPE_INT, 0, nullptr, 0},
#endif
                                      TWX_PROPERTY_END};

const TWXIdentity kIdentity = {TESTLINK_VERSION,   TESTLINK_KIND,      TWX_IDENTITY_FLAGS, 0,
                               sizeof(TWXContext), TWSTREAMFMT_NATIVE, kProperties};

// How each property is stored; the dispatch walks this table.
enum class Kind { kText, kList, kInt, kFlag, kDatetime, kRows, kColumns, kJournal, kTextFormat };
struct Binding {
  uint32_t token;
  Kind kind;
  std::string State::*text = nullptr;
  int32_t State::*number = nullptr;
};
const Binding kBindings[] = {
    {TWTOKEN_SERVER, Kind::kText, &State::server},
    {TWTOKEN_DATABASE, Kind::kText, &State::database},
    {TWTOKEN_USERID, Kind::kText, &State::userid},
    {TWTOKEN_PASSWORD, Kind::kText, &State::password},
    {TWTOKEN_METADATA, Kind::kText, &State::metadata},
    {TWTOKEN_INDEX, Kind::kText, &State::index},
    {TWTOKEN_MAP_NAME, Kind::kFlag, nullptr, &State::mapName},
    {TWTOKEN_FIELD_LIST, Kind::kList, &State::fieldList},
    {TWTOKEN_CONDITION, Kind::kText, &State::condition},
    {TWTOKEN_BASESTAMP, Kind::kDatetime},
    {TWTOKEN_TEXT_FORMAT, Kind::kTextFormat},
    {kRows, Kind::kRows},
    {kColumns, Kind::kColumns},
    {kJournal, Kind::kJournal},
    {kFail, Kind::kText, &State::fail},
};

const Binding* FindBinding(uint32_t token) {
  for (const Binding& b : kBindings)
    if (b.token == token) return &b;
  return nullptr;
}

std::string Format(const char* format, unsigned a, unsigned b = 0, unsigned c = 0) {
  char line[128];
  std::snprintf(line, sizeof line, format, a, b, c);
  return line;
}

void Note(TWXContext* ctx, const std::string& line) {
  ctx->state->journal += line;
  ctx->state->journal += '\n';
}

void NoteProcess(const std::string& line) {
  std::ofstream out(std::string(TWFileExeDir()) + "testlink.journal", std::ios::app);
  out << line << '\n';
}

std::vector<std::string> Split(std::string_view text, char separator) {
  std::vector<std::string> parts;
  if (text.empty()) return parts;
  size_t start = 0;
  for (;;) {
    size_t end = text.find(separator, start);
    parts.emplace_back(text.substr(start, end - start));
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  return parts;
}

std::string JoinRows(const std::vector<Row>& rows) {
  std::string text;
  for (size_t r = 0; r < rows.size(); ++r) {
    if (r != 0) text += ';';
    for (size_t i = 0; i < rows[r].size(); ++i) {
      if (i != 0) text += ',';
      text += rows[r][i];
    }
  }
  return text;
}

// A stream the connector owns for one call.
class OwnStream {
 public:
  TWStream* get() { return s_.get(); }
  uint32_t Set(std::string_view text, uint32_t format = TWSTREAMFMT_NATIVE) {
    return s_.Set(format, text);
  }
  std::string Text() const { return std::string(s_.view()); }

 private:
  flowcore::StreamData s_{TWSTREAMFMT_NATIVE};
};

// Value index of field as text; null and unreadable values read as "".
std::string FieldText(TWFIELD field, uint32_t index) {
  OwnStream s;
  int32_t isNull = 1;
  if (TWFieldGetStream(field, index, TWSTREAMFMT_NATIVE, s.get(), &isNull) != 0 || isNull)
    return {};
  return s.Text();
}

uint32_t LogText(uint32_t status, std::string_view text) {
  OwnStream s;
  s.Set(text);
  return TWActivityLogEx(status, 0, 0, 0, text.empty() ? nullptr : s.get(), nullptr, nullptr);
}

bool Fails(TWXContext* ctx, std::string_view entry) {
  for (const std::string& name : Split(ctx->state->fail, ','))
    if (name == entry) return true;
  return false;
}

uint32_t Refuse(std::string_view entry) {
  OwnStream s;
  s.Set(std::string("testlink refused ") + std::string(entry));
  return TWActivityLogStream(0, s.get(), 42);
}

uint32_t InvalidProperty(uint32_t token) {
  return TWActivityLogEx(TWFAIL_INVALID_PROPERTY, token, 0, 0, nullptr, nullptr, nullptr);
}

int ColumnOf(const State& st, std::string_view name) {
  for (size_t i = 0; i < st.columns.size(); ++i)
    if (::strcasecmp(st.columns[i].c_str(), std::string(name).c_str()) == 0)
      return static_cast<int>(i);
  return -1;
}

// The table column field i of list stands for: by name under MapName, else by position.
int ColumnFor(const State& st, TWFIELDLIST list, uint32_t i) {
  if (!st.mapName) return i - 1 < st.columns.size() ? static_cast<int>(i - 1) : -1;
  OwnStream name;
  if (TWFieldlistGetName(list, i, TWSTREAMFMT_NATIVE, name.get()) != 0) return -1;
  return ColumnOf(st, name.Text());
}

uint32_t MissingTable(TWXContext* ctx) {
  return LogText(TWFAIL_INVALID_METADATA, ctx->state->metadata);
}

int Compare(const std::string& a, const std::string& b) {
  char* endA = nullptr;
  char* endB = nullptr;
  double x = std::strtod(a.c_str(), &endA);
  double y = std::strtod(b.c_str(), &endB);
  if (!a.empty() && !b.empty() && *endA == '\0' && *endB == '\0') return x < y ? -1 : x > y;
  return a.compare(b) < 0 ? -1 : a.compare(b) > 0;
}

// The key-term rule: KEY_GT wins over KEY_LT, "=" joins either unless KEY_NE, KEY_NE alone
// is "<>".
bool TermHolds(uint32_t flags, int cmp) {
  const bool gt = flags & TWFIELDF_KEY_GT, lt = flags & TWFIELDF_KEY_LT,
             ne = flags & TWFIELDF_KEY_NE;
  if (gt) return ne ? cmp > 0 : cmp >= 0;
  if (lt) return ne ? cmp < 0 : cmp <= 0;
  return ne ? cmp != 0 : cmp == 0;
}

// True when row matches every key field of record index of keys (a list without keys
// matches every row).
bool Matches(const State& st, const Row& row, TWFIELDLIST keys, uint32_t index) {
  const uint32_t n = TWFieldlistGetCount(keys);
  for (uint32_t i = 1; i <= n; ++i) {
    TWFIELD field = TWNULLHANDLE;
    OwnStream name;
    if (TWFieldlistGetField(keys, i, TWSTREAMFMT_NATIVE, &field, name.get()) != 0) return false;
    const uint32_t flags = TWFieldGetFlags(field);
    if (!(flags & TWFIELDF_KEY)) continue;
    int column = ColumnOf(st, name.Text());
    if (column < 0 || static_cast<size_t>(column) >= row.size()) return false;
    if (!TermHolds(flags, Compare(row[column], FieldText(field, index)))) return false;
  }
  return true;
}

// Opens a result set of rows and describes it into dest when dest has no fields yet.
uint32_t OpenResult(TWXContext* ctx, std::vector<std::string> columns, std::vector<Row> rows,
                    TWFIELDLIST dest, uint32_t* count) {
  State& st = *ctx->state;
  st.open = true;
  st.resultColumns = std::move(columns);
  st.result = std::move(rows);
  st.next = 0;
  if (dest != TWNULLHANDLE && TWFieldlistGetCount(dest) == 0) {
    for (const std::string& column : st.resultColumns) {
      OwnStream name;
      name.Set(column);
      if (uint32_t status = TWFieldlistAppend(dest, name.get(), TWTYPE_TEXT, nullptr))
        return status;
    }
  }
  *count = TWCOUNT_UNKNOWN;
  return 0;
}

}  // namespace testlink

using namespace testlink;

extern "C" {

const char* const TWOrdinalNames[] = TWX_CONNECTOR_ORDINAL_NAMES;

uint32_t TWXIdentify(TWXIdentity* identity) noexcept {
  *identity = kIdentity;
  return 0;
}

uint32_t TWXInitialize(TWXContext* ctx, uint32_t connectCode, uint32_t flags) noexcept {
  return tw::guard([&]() -> uint32_t {
    bool zeroed = true;
    for (size_t i = 0; i < sizeof(TWXContext); ++i)
      zeroed = zeroed && reinterpret_cast<const unsigned char*>(ctx)[i] == 0;
    ctx->state = new State;
    ctx->connectCode = connectCode;
    Note(ctx, Format("Initialize code=%08X flags=%u zeroed=%u", connectCode, flags, zeroed));
    NoteProcess(Format("Initialize code=%08X flags=%u", connectCode, flags));
    return 0;
  });
}

uint32_t TWXTerminate(TWXContext* ctx, uint32_t flags) noexcept {
  return tw::guard([&]() -> uint32_t {
    NoteProcess(Format("Terminate code=%08X flags=%u connected=%u", ctx->connectCode, flags,
                       ctx->connected));
    delete ctx->state;
    std::memset(ctx, 0, sizeof *ctx);
    return 0;
  });
}

uint32_t TWXSetProperty(TWXContext* ctx, uint32_t token, TWFIELD src) noexcept {
  return tw::guard([&]() -> uint32_t {
    Note(ctx, Format("SetProperty token=%08X", token));
    State& st = *ctx->state;
    const Binding* b = FindBinding(token);
    if (b == nullptr || b->kind == Kind::kJournal || b->kind == Kind::kTextFormat)
      return InvalidProperty(token);
    int32_t isNull = 1;
    switch (b->kind) {
      case Kind::kText:
      case Kind::kRows:
      case Kind::kColumns: {
        std::string text = FieldText(src, 1);
        if (text == "reject")
          return TWActivityLogEx(TWFAIL_PROPERTY_VALUE, token, 0, 0, nullptr, nullptr, nullptr);
        if (b->kind == Kind::kText) {
          st.*(b->text) = text;
        } else if (b->kind == Kind::kColumns) {
          st.columns = Split(text, ',');
        } else {
          st.rows.clear();
          for (const std::string& row : Split(text, ';')) st.rows.push_back(Split(row, ','));
        }
        return 0;
      }
      case Kind::kList: {
        OwnStream s;
        if (TWFieldGetStream(src, 1, TWSTREAMFMT_TEXT_LIST, s.get(), &isNull) != 0 || isNull)
          st.*(b->text) = std::string();
        else
          st.*(b->text) = s.Text();
        return 0;
      }
      case Kind::kFlag: {
        int32_t value = 0;
        if (TWFieldGetInt(src, 1, &value, &isNull) == 0 && !isNull) st.*(b->number) = value != 0;
        return 0;
      }
      case Kind::kDatetime:
        if (TWFieldGetDatetime(src, 1, &st.baseStamp, &isNull) != 0 || isNull)
          TWDatetimeClear(&st.baseStamp);
        return 0;
      default:
        return InvalidProperty(token);
    }
  });
}

uint32_t TWXGetProperty(TWXContext* ctx, uint32_t token, TWFIELD dest) noexcept {
  return tw::guard([&]() -> uint32_t {
    State& st = *ctx->state;
    const Binding* b = FindBinding(token);
    std::string journal = st.journal;  // the journal as it was before this call
    Note(ctx, Format("GetProperty token=%08X", token));
    if (b == nullptr) return InvalidProperty(token);
    OwnStream s;
    switch (b->kind) {
      case Kind::kText:
        s.Set(st.*(b->text));
        return TWFieldSetStream(dest, 1, s.get());
      case Kind::kList:
        s.Set(st.*(b->text), TWSTREAMFMT_TEXT_LIST);
        return TWFieldSetStream(dest, 1, s.get());
      case Kind::kRows:
        s.Set(JoinRows(st.rows));
        return TWFieldSetStream(dest, 1, s.get());
      case Kind::kColumns:
        s.Set(JoinRows({st.columns}));
        return TWFieldSetStream(dest, 1, s.get());
      case Kind::kJournal:
        s.Set(journal);
        return TWFieldSetStream(dest, 1, s.get());
      case Kind::kFlag:
        return TWFieldSetInt(dest, 1, &(st.*(b->number)));
      case Kind::kTextFormat:
        return TWFieldSetInt(dest, 1, &st.textFormat);
      case Kind::kDatetime: {
        TWDatetime value = st.baseStamp;
        if (value.ticks == 0 && value.date == 0) {
          TWDatetimeSetJulian(&value, TWDTNULL_DATE);
          TWDatetimeSetTicks(&value, TWDTNULL_TIME);
        }
        return TWFieldSetDatetime(dest, 1, &value);
      }
      default:
        return InvalidProperty(token);
    }
  });
}

uint32_t TWXConnect(TWXContext* ctx) noexcept {
  return tw::guard([&]() -> uint32_t {
    Note(ctx, "Connect");
    if (Fails(ctx, "Connect")) return Refuse("Connect");
    ctx->connected = 1;
    return 0;
  });
}

uint32_t TWXDisconnect(TWXContext* ctx, uint32_t errorFlag) noexcept {
  return tw::guard([&]() -> uint32_t {
    Note(ctx, Format("Disconnect error=%u", errorFlag));
    if (!ctx->connected) return 0;
    ctx->connected = 0;
    ctx->state->open = false;
    return Fails(ctx, "Disconnect") ? Refuse("Disconnect") : 0;
  });
}

uint32_t TWXExecute(TWXContext* ctx, const TWStream* statement, TWFIELDLIST dest,
                    uint32_t* count) noexcept {
  return tw::guard([&]() -> uint32_t {
    Note(ctx, Format("Execute count=%u", *count) + " statement=" +
                  std::string(static_cast<const char*>(statement->data ? statement->data : ""),
                              statement->length));
    if (Fails(ctx, "Execute")) return Refuse("Execute");
    if (!ctx->state->exists) return MissingTable(ctx);
    return OpenResult(ctx, ctx->state->columns, ctx->state->rows, dest, count);
  });
}

uint32_t TWXSelect(TWXContext* ctx, TWFIELDLIST keys, uint32_t index, TWFIELDLIST dest,
                   uint32_t* count) noexcept {
  return tw::guard([&]() -> uint32_t {
    Note(ctx, Format("Select count=%u", *count));
    State& st = *ctx->state;
    if (!st.exists) return MissingTable(ctx);
    std::vector<Row> rows;
    for (const Row& row : st.rows)
      if (keys == TWNULLHANDLE || Matches(st, row, keys, index)) rows.push_back(row);
    return OpenResult(ctx, st.columns, std::move(rows), dest, count);
  });
}

uint32_t TWXCatalog(TWXContext* ctx, uint32_t kind, TWFIELDLIST dest, uint32_t* count) noexcept {
  return tw::guard([&]() -> uint32_t {
    Note(ctx, Format("Catalog count=%u kind=%u", *count, kind));
    if (kind != TWOBJECT_METADATA) return TWActivityLog(TWFAIL_UNAVAILABLE);
    std::vector<Row> rows;
    if (ctx->state->exists) rows.push_back({ctx->state->metadata});
    return OpenResult(ctx, {"Name"}, std::move(rows), dest, count);
  });
}

uint32_t TWXFetch(TWXContext* ctx, TWFIELDLIST dest, uint32_t index, uint32_t recordCount,
                  uint32_t* count) noexcept {
  return tw::guard([&]() -> uint32_t {
    Note(ctx, Format("Fetch count=%u index=%u records=%u", *count, index, recordCount));
    State& st = *ctx->state;
    if (Fails(ctx, "Fetch")) return Refuse("Fetch");
    if (!st.open) return TWActivityLog(TWFAIL_NO_RESULTSET);
    const uint32_t fields = TWFieldlistGetCount(dest);
    for (uint32_t r = 0; r < recordCount; ++r) {
      if (st.next >= st.result.size()) return TWFAIL_END_OF_DATA;
      const Row& row = st.result[st.next];
      for (uint32_t i = 1; i <= fields; ++i) {
        TWFIELD field = TWNULLHANDLE;
        if (uint32_t status = TWFieldlistGetField(dest, i, 0, &field, nullptr)) return status;
        int column = ColumnFor(st, dest, i);
        if (column < 0 || static_cast<size_t>(column) >= row.size()) {
          TWFieldSetNull(field, index + r, 1);
          continue;
        }
        OwnStream value;
        value.Set(row[column]);
        if (uint32_t status = TWFieldSetStream(field, index + r, value.get())) return status;
      }
      ++st.next;
      ++*count;
    }
    return 0;
  });
}

uint32_t TWXInsert(TWXContext* ctx, TWFIELDLIST src, uint32_t index, uint32_t recordCount,
                   uint32_t* count) noexcept {
  return tw::guard([&]() -> uint32_t {
    Note(ctx, Format("Insert count=%u index=%u records=%u", *count, index, recordCount));
    State& st = *ctx->state;
    if (Fails(ctx, "Insert")) return Refuse("Insert");
    if (!st.exists) return MissingTable(ctx);
    const uint32_t fields = TWFieldlistGetCount(src);
    for (uint32_t r = 0; r < recordCount; ++r) {
      Row row(st.columns.size());
      for (uint32_t i = 1; i <= fields; ++i) {
        TWFIELD field = TWNULLHANDLE;
        if (uint32_t status = TWFieldlistGetField(src, i, 0, &field, nullptr)) return status;
        int column = ColumnFor(st, src, i);
        if (column >= 0) row[column] = FieldText(field, index + r);
      }
      st.rows.push_back(std::move(row));
      ++*count;
    }
    return 0;
  });
}

#ifndef TESTLINK_OMIT_UPDATE
uint32_t TWXUpdate(TWXContext* ctx, TWFIELDLIST src, uint32_t index, uint32_t recordCount,
                   uint32_t* count) noexcept {
  return tw::guard([&]() -> uint32_t {
    Note(ctx, Format("Update count=%u index=%u records=%u", *count, index, recordCount));
    State& st = *ctx->state;
    if (!st.exists) return MissingTable(ctx);
    const uint32_t fields = TWFieldlistGetCount(src);
    for (uint32_t r = 0; r < recordCount; ++r) {
      for (Row& row : st.rows) {
        if (!Matches(st, row, src, index + r)) continue;
        for (uint32_t i = 1; i <= fields; ++i) {
          TWFIELD field = TWNULLHANDLE;
          OwnStream name;
          if (TWFieldlistGetField(src, i, TWSTREAMFMT_NATIVE, &field, name.get()) != 0) continue;
          int column = ColumnOf(st, name.Text());
          if (column >= 0 && !(TWFieldGetFlags(field) & TWFIELDF_KEY))
            row[column] = FieldText(field, index + r);
        }
        ++*count;
      }
    }
    return 0;
  });
}
#endif

uint32_t TWXRemove(TWXContext* ctx, TWFIELDLIST keys, uint32_t index, uint32_t recordCount,
                   uint32_t* count) noexcept {
  return tw::guard([&]() -> uint32_t {
    Note(ctx, Format("Remove count=%u index=%u records=%u", *count, index, recordCount));
    State& st = *ctx->state;
    if (!st.exists) return MissingTable(ctx);
    for (uint32_t r = 0; r < recordCount; ++r) {
      std::vector<Row> kept;
      for (Row& row : st.rows) {
        if (Matches(st, row, keys, index + r))
          ++*count;
        else
          kept.push_back(std::move(row));
      }
      st.rows = std::move(kept);
    }
    return 0;
  });
}

uint32_t TWXAction(TWXContext* ctx, uint32_t action) noexcept {
  return tw::guard([&]() -> uint32_t {
    Note(ctx, Format("Action type=%u", action));
    State& st = *ctx->state;
    switch (action) {
      case TWACTION_RESET:
        st.open = false;
        return 0;
      case TWACTION_TRUNCATE:
        if (!st.exists) return MissingTable(ctx);
        st.rows.clear();
        return 0;
      case TWACTION_COMMIT:
      case TWACTION_ROLLBACK:
        return 0;
      default:
        return TWActivityLog(TWFAIL_UNAVAILABLE);
    }
  });
}

uint32_t TWXCreate(TWXContext* ctx, uint32_t kind, TWFIELDLIST src) noexcept {
  return tw::guard([&]() -> uint32_t {
    Note(ctx, Format("Create kind=%u", kind));
    State& st = *ctx->state;
    if (kind == TWOBJECT_INDEX) return 0;
    if (kind != TWOBJECT_METADATA) return TWActivityLog(TWFAIL_UNAVAILABLE);
    if (st.metadata.empty()) return MissingTable(ctx);
    std::vector<std::string> columns;
    const uint32_t fields = TWFieldlistGetCount(src);
    for (uint32_t i = 1; i <= fields; ++i) {
      OwnStream name;
      if (uint32_t status = TWFieldlistGetName(src, i, TWSTREAMFMT_NATIVE, name.get()))
        return status;
      columns.push_back(name.Text());
    }
    st.columns = std::move(columns);
    st.rows.clear();
    st.exists = true;
    return 0;
  });
}

uint32_t TWXDrop(TWXContext* ctx, uint32_t kind) noexcept {
  return tw::guard([&]() -> uint32_t {
    Note(ctx, Format("Drop kind=%u", kind));
    State& st = *ctx->state;
    if (kind == TWOBJECT_INDEX) return 0;
    if (kind != TWOBJECT_METADATA) return TWActivityLog(TWFAIL_UNAVAILABLE);
    if (!st.exists) return MissingTable(ctx);
    st.exists = false;
    st.rows.clear();
    return 0;
  });
}

}  // extern "C"

#endif  // TW_TESTS_FLOWCORE_TESTLINK_CONNECTOR_H_
