// The operations behind the text-file connector's entry points: connect and disconnect,
// column description, the record loops of fetch and insert, and actions.
#include "connection.h"

#include <cerrno>
#include <cstring>

#include "platform.h"
#include "text_util.h"

namespace flatrec {

namespace {

TWStream View(std::string_view text) {
  return TWStream{0, 0, TWSTREAMFMT_NATIVE, static_cast<uint32_t>(text.size()),
                  const_cast<char*>(text.data())};
}

std::string Cut(std::string_view text) {
  return std::string(text.substr(0, kMaxPropertyText));
}

bool FirstLetterIs(std::string_view text, char letter) {
  return !text.empty() && AsciiUpper(text[0]) == letter;
}

// 0 unknown, else the direction the Linktype text names.
int DirectionOf(std::string_view linktype) {
  if (EqualsNoCase(linktype, "SOURCE")) return static_cast<int>(Direction::kSource);
  if (EqualsNoCase(linktype, "DESTINATION")) return static_cast<int>(Direction::kDestination);
  return 0;
}

// Checks the caller's field list and record slots before any record is consumed.
[[nodiscard]] uint32_t CheckList(TWFIELDLIST list, uint32_t index, uint32_t records) {
  if (list == TWNULLHANDLE) return TWFAIL_INVALID_FIELDLIST;
  if (TWFieldlistGetCount(list) == 0) return TWFAIL_EMPTY_FIELDLIST;
  const uint32_t slots = TWFieldlistGetRecordCount(list);
  if (slots == 0) return TWFAIL_NAME_FIELDLIST;
  if (index == 0) return TWFAIL_ZERO_INDEX;
  if (index > slots) return TWFAIL_RECORD_INDEX;
  if (records > slots - index + 1) return TWFAIL_RECORD_COUNT;
  return TWSUCCESS;
}

// A record count of 0 or less means one record.
uint32_t RecordsAsked(uint32_t records) {
  return static_cast<int32_t>(records) <= 0 ? 1 : records;
}

}  // namespace

Session::~Session() {
  if (file != nullptr) TWFileClose(file);
  TWStreamDataFree(&dateText);
  TWStreamDataFree(&convText);
  TWStreamDataFree(&numberText);
}

Connection::~Connection() = default;

std::string Connection::RecordLabel() const {
  const bool input = session == nullptr || session->settings.direction == Direction::kSource;
  return Format(input ? "[Input Record %lu]" : "[Output Record %lu]",
                static_cast<unsigned long>(recordCounter));
}

uint32_t Connection::WriteFailure(Session& s) {
  if (s.writeFailed) return TWFAIL_EXTERNAL;
  s.writeFailed = true;
  const int error = s.writer.error() != 0 ? s.writer.error() : (errno != 0 ? errno : EIO);
  std::string text =
      Format("ERROR: Unable to write file: %s (%s)", s.fileName.c_str(), std::strerror(error));
  TWStream stream = View(text);
  const uint32_t status = TWActivityLogStream(0, &stream, static_cast<uint32_t>(error));
  if (const int cut = s.writer.cutError()) {
    // The file may now end inside a record: a reader must hear of it as well.
    text = Format("ERROR: Unable to cut file %s back to its last whole record (%s)",
                  s.fileName.c_str(), std::strerror(cut));
    stream = View(text);
    const uint32_t cutStatus = TWActivityLogStream(0, &stream, static_cast<uint32_t>(cut));
    if (status == TWSUCCESS) return cutStatus;
  }
  return status;
}

// ---------------------------------------------------------------- life cycle

uint32_t Connection::Initialize(uint32_t code, uint32_t flags) {
  Routine routine(tracer, "TWXInitialize: ");
  if (tracer.On(Tracer::kDetail)) tracer.Printf("TWXInitialize...");
  registry.set_tracer(&tracer);
  {
    Routine memInit(tracer, "ZPMemInit: ");
    memInit.Exit(registry.Init());
  }
  if (uint32_t st = work1.Allocate(registry, kWorkBuffer, "TWXInitialize: "))
    return routine.Exit(st);
  if (uint32_t st = work2.Allocate(registry, kWorkBuffer, "TWXInitialize: "))
    return routine.Exit(st);
  std::memset(work1.data(), 0, work1.size());
  std::memset(work2.data(), 0, work2.size());
  connectCode = code;
  (void)flags;  // no process-wide set-up
  props = Props{};
  tw::twx::ApplyDefaults(kProperties, props);
  limit = kDefaultMaxRecSize;
  maxText = kDefaultMaxText;
  fixedSize = 0;
  minSize = 0;
  tracer.set_bits(static_cast<uint16_t>(props.trace));
  return routine.Exit(TWSUCCESS);
}

uint32_t Connection::Terminate(uint32_t flags) {
  Routine routine(tracer, "TWXTerminate: ");
  (void)flags;
  // A connection still open is closed properly: its buffered records must reach the file,
  // and when they cannot, the caller hears of it.
  const uint32_t status = session != nullptr ? Disconnect(0) : TWSUCCESS;
  session.reset();
  work1.Reset();
  work2.Reset();
  {
    Routine audit(tracer, "ZPMemAudit: ");
    registry.Audit();
    audit.ExitPlain();
  }
  Routine term(tracer, "ZPMemTerm: ");
  term.Exit(registry.Term());
  return routine.Exit(status);
}

// ---------------------------------------------------------------- connect

uint32_t Connection::ReadZidText(std::string* text, std::string* source) {
  const std::string& zid = props.zid;
  if (!zid.empty() && zid[0] == '@') {
    std::string_view name = std::string_view(zid).substr(1);
    if (name.size() > kMaxPropertyText) {
      tracer.Printf("ERROR: Unable to open ZID file: %s", zid.c_str() + 1);
      return tw::twx::InvalidValue(kZid);
    }
    source->assign(name);
    FILE* file = TWFileOpen(source->c_str(), TWFILE_READ | TWFILE_BINARY);
    if (file == nullptr) {
      tracer.Printf("ERROR: Unable to open ZID file: %s", source->c_str());
      return TWFAIL_EXTERNAL;
    }
    char block[16384];
    uint32_t got;
    text->clear();
    while ((got = TWFileRead(file, sizeof block, block)) > 0) text->append(block, got);
    const bool failed = std::ferror(file) != 0;
    TWFileClose(file);
    if (failed) {
      tracer.Printf("ERROR: Unable to open ZID file: %s", source->c_str());
      return TWFAIL_EXTERNAL;
    }
    return TWSUCCESS;
  }
  // The description is compiled from the property itself; it lies in work buffer 1.
  source->assign("(ZID property)");
  if (zid.size() > kWorkBuffer - 1) {
    tracer.Printf("ERROR: ZID text exceeds %d bytes", static_cast<int>(kWorkBuffer - 1));
    return TWFAIL_EXTERNAL;
  }
  std::memcpy(work1.data(), zid.data(), zid.size());
  work1.data()[zid.size()] = '\0';
  text->assign(work1.data(), zid.size());
  return TWSUCCESS;
}

uint32_t Connection::ConnectSteps(Session& s) {
  Settings& set = s.settings;
  // 1. Replacement pairs, from METADATA and RepStrings in work buffer 2.
  std::string pairs = props.metadata;
  if (!props.repStrings.empty() && !pairs.empty()) pairs += "\r\n";
  pairs += props.repStrings;
  if (pairs.size() > kWorkBuffer - 1) {
    // Pairs that do not fit are refused, never silently dropped.
    tracer.Printf("ERROR: Replacement strings exceed %d bytes", static_cast<int>(kWorkBuffer - 1));
    return TWActivityLogEx(TWFAIL_INVALID_METADATA, 0, 0, 0, nullptr, nullptr, nullptr);
  }
  std::memset(work2.data(), 0, work2.size());
  std::memcpy(work2.data(), pairs.data(), pairs.size());
  Replacer replacer;
  replacer.Parse(std::string_view(work2.data(), pairs.size()));

  // 2. The description's text.
  std::string zidText, zidSource;
  if (uint32_t st = ReadZidText(&zidText, &zidSource)) {
    if (st == TWFAIL_PROPERTY_VALUE) return st;
    return TWActivityLogEx(TWFAIL_INVALID_METADATA, 0, 0, 0, nullptr, nullptr, nullptr);
  }

  // 3. The data file.
  if (props.database.size() > kMaxPropertyText) {
    tracer.Printf("ERROR: Unable to open file: %s", props.database.c_str());
    return tw::twx::InvalidValue(TWTOKEN_DATABASE);
  }
  set.dataName = props.database;
  set.embedded = !set.dataName.empty() && set.dataName[0] == '*';

  // 4. The direction.
  const int direction = DirectionOf(Cut(props.linktype));
  if (direction == 0) {
    tracer.Printf("ERROR: Invalid Linktype: %s", Cut(props.linktype).c_str());
    return TWActivityLogEx(TWFAIL_INVALID_METADATA, 0, 0, 0, nullptr, nullptr, nullptr);
  }
  set.direction = static_cast<Direction>(direction);

  // 5. Limits, delimiter, file type, fill.
  if (props.maxRecSize < 0 || props.maxRecSize > kMaxRecordLimit)
    return tw::twx::InvalidValue(kMaxRecSize);
  if (props.maxRecSize != 0) limit = static_cast<uint32_t>(props.maxRecSize);
  if (props.fixedRecSize < 0 || static_cast<uint32_t>(props.fixedRecSize) > limit)
    return tw::twx::InvalidValue(kFixedRecSize);
  if (props.fixedRecSize != 0) fixedSize = static_cast<uint32_t>(props.fixedRecSize);
  if (fixedSize > limit) return tw::twx::InvalidValue(kFixedRecSize);
  if (props.maxText < 0) return tw::twx::InvalidValue(kMaxText);
  if (props.maxText != 0) maxText = static_cast<uint32_t>(props.maxText);
  if (props.minRecSize > 0) minSize = static_cast<uint32_t>(props.minRecSize);
  set.limit = limit;
  set.fixedSize = fixedSize;
  set.minSize = minSize;
  set.maxText = maxText;
  set.delimiter = ParseEscapes(Cut(props.recordDelim));
  const std::string filetype = Cut(props.filetype);
  set.textType = FirstLetterIs(filetype, 'T');
  set.binaryType = FirstLetterIs(filetype, 'B');
  set.fill = ParseEscapes(Cut(props.fillCharacter));

  // 6. Day and month names, AM and PM.
  DateNames::Split(Cut(props.dayNames), &set.names.days);
  DateNames::Split(Cut(props.monthNames), &set.names.months);
  set.names.am = Cut(props.amString);
  set.names.pm = Cut(props.pmString);

  // 7. Header and trailer.
  set.header = ParseEscapes(props.headerRec);
  set.trailer = ParseEscapes(props.trailerRec);

  // 8. Text defaults of a destination.
  if (set.direction == Direction::kDestination && set.textType) {
    if (set.fill.empty()) set.fill = " ";
    if (set.delimiter.empty()) set.delimiter = "\n";
  }

  // 9. The description.
  ZidOptions options;
  options.direction = set.direction;
  options.checkForQuotes = props.checkForQuotes != 0;
  options.maxText = maxText;
  options.fixedRecSize = static_cast<int32_t>(fixedSize);
  options.echo = props.echoZid != 0;
  options.embeddedData = set.embedded;
  options.sourceName = zidSource;
  if (CompileZid(zidText, options, replacer, tracer, &s.zid) != TWSUCCESS)
    return TWActivityLogEx(TWFAIL_INVALID_METADATA, 0, 0, 0, nullptr, nullptr, nullptr);
  if (set.embedded) set.fixedSize = 0;

  // 10. Record buffers.
  s.buckets.assign(s.zid.columns.size(), Bucket{});
  s.arena.reserve(4096);
  if (set.direction == Direction::kDestination) {
    if (uint32_t st = s.area.Allocate(registry, set.limit == 0 ? 1 : set.limit, "TWXConnect: "))
      return st;
    std::memset(s.area.data(), set.fill.empty() ? 0 : set.fill[0], s.area.size());
  }

  // 11. and 12. The data file, and the header of a destination.
  return OpenData(s);
}

uint32_t Connection::OpenData(Session& s) {
  Settings& set = s.settings;
  if (set.dataName.empty()) return TWSUCCESS;
  s.fileName = set.embedded ? "(embedded data)" : set.dataName;
  if (set.direction == Direction::kSource) {
    RecordReader::Options options;
    if (set.fixedSize > 0) {
      options.mode = RecordReader::Mode::kFixed;
      options.fixedSize = set.fixedSize;
    } else if (!set.delimiter.empty()) {
      options.mode = RecordReader::Mode::kDelimited;
      options.delimiter = set.delimiter;
    } else {
      options.mode = RecordReader::Mode::kLines;
    }
    options.limit = set.limit;
    if (options.mode == RecordReader::Mode::kLines) {
      // A line, its line feed and a NUL fit a buffer of min(limit - 1, 0x7FFF) bytes.
      const int64_t line = static_cast<int64_t>(set.limit < 0x8000 ? set.limit : 0x8000) - 3;
      options.limit = line > 0 ? static_cast<size_t>(line) : 1;
    }
    options.textMode = !set.binaryType;
    options.keepLineEnd = options.mode == RecordReader::Mode::kLines && !set.textType;
    if (set.embedded) return s.reader.OpenMemory(registry, options, s.zid.embedded);
    s.file = TWFileOpen(set.dataName.c_str(), TWFILE_READ | TWFILE_BINARY);
    if (s.file == nullptr) {
      tracer.Printf("ERROR: Unable to open file: %s", set.dataName.c_str());
      return TWActivityLogEx(TWFAIL_NOT_CONNECTED, 0, 0, 0, nullptr, nullptr, nullptr);
    }
    std::setvbuf(s.file, nullptr, _IONBF, 0);
    return s.reader.Open(registry, options, s.file);
  }
  if (set.embedded) return TWSUCCESS;
  bool existed = false;
  if (!set.delimiter.empty()) {
    if (FILE* probe = TWFileOpen(set.dataName.c_str(), TWFILE_READ | TWFILE_BINARY)) {
      existed = TWFileSeek(probe, TWSEEK_END, 0) > 0;
      TWFileClose(probe);
    }
  }
  s.file = TWFileOpen(set.dataName.c_str(), TWFILE_APPEND | TWFILE_BINARY);
  if (s.file == nullptr) {
    tracer.Printf("ERROR: Unable to open file: %s", set.dataName.c_str());
    return TWActivityLogEx(TWFAIL_NOT_CONNECTED, 0, 0, 0, nullptr, nullptr, nullptr);
  }
  // Unbuffered: the connector buffers itself, and a failing write shows at its flush.
  std::setvbuf(s.file, nullptr, _IONBF, 0);
  if (uint32_t st = s.writer.Open(registry, s.file)) return st;
  // The first new record of an existing file starts on a record of its own.
  if (existed) s.writer.Write(set.delimiter);
  if (!set.header.empty() && s.writer.Write(set.header)) s.writer.EndRecord();
  if (!s.writer.Flush()) return WriteFailure(s);
  return TWSUCCESS;
}

uint32_t Connection::Connect() {
  Routine routine(tracer, "TWXConnect: ");
  if (session != nullptr) return routine.Exit(TWFAIL_CONNECTED);
  auto s = std::make_unique<Session>();
  if (uint32_t st = ConnectSteps(*s)) return routine.Exit(st);
  session = std::move(s);
  return routine.Exit(TWSUCCESS);
}

uint32_t Connection::CloseData(Session& s, uint32_t errorFlag) {
  uint32_t status = TWSUCCESS;
  if (s.file == nullptr) return status;
  const bool destination = s.settings.direction == Direction::kDestination;
  if (destination) {
    // A trailer marks a complete file: not after a failed write or a failed transfer.
    if (errorFlag == 0 && !s.writeFailed && !s.writer.failed() && !s.settings.trailer.empty())
      if (s.writer.Write(s.settings.trailer)) s.writer.EndRecord();
    if (!s.writer.Flush()) status = WriteFailure(s);
  }
  errno = 0;
  const int closed = TWFileClose(s.file);
  s.file = nullptr;
  if (closed != 0 && destination && status == TWSUCCESS) status = WriteFailure(s);
  return status;
}

uint32_t Connection::Disconnect(uint32_t errorFlag) {
  Routine routine(tracer, "TWXDisconnect: ");
  if (session == nullptr) return routine.Exit(TWSUCCESS);
  const uint32_t status = CloseData(*session, errorFlag);
  {
    Routine free(tracer, "ZPFreeColArray: ");
    session.reset();
    free.ExitPlain();
  }
  return routine.Exit(status);
}

// ---------------------------------------------------------------- operations

uint32_t Connection::Unavailable(std::string_view entry) {
  // The routine's label names the entry point, as every traced routine's does.
  const std::string label = std::string(entry) + ": ";
  Routine routine(tracer, label.c_str());
  return routine.Exit(TWFAIL_UNAVAILABLE);
}

uint32_t Connection::Execute(const TWStream* statement, TWFIELDLIST dest, uint32_t* count) {
  Routine routine(tracer, "TWXExecute: ");
  if (tracer.On(Tracer::kDetail)) {
    if (statement == nullptr || statement->length == 0 || statement->data == nullptr) {
      tracer.Printf("No statement provided!");
    } else {
      tracer.Printf("Statement:");
      tracer.Dump(std::string_view(static_cast<const char*>(statement->data),
                                   statement->length < 255 ? statement->length : 255));
    }
  }
  *count = TWCOUNT_UNKNOWN;
  if (session == nullptr || dest == TWNULLHANDLE) return routine.Exit(TWSUCCESS);
  for (const Column& col : session->zid.columns) {
    if (col.name.empty() || col.placeholder) continue;
    const uint32_t type = col.sep.empty() ? col.engineType : static_cast<uint32_t>(TWTYPE_BINARY);
    TWStream name = View(col.name);
    TWFIELD field = TWNULLHANDLE;
    if (uint32_t st = TWFieldlistAppend(dest, &name, type, &field)) {
      if (tracer.On(Tracer::kDetail))
        tracer.Printf("From TWFieldlistAppend for %s code=%08lx(%ld)", col.name.c_str(),
                      static_cast<unsigned long>(st), static_cast<long>(st));
      return routine.Exit(st);
    }
    uint32_t format = 0, size = 0;
    if (col.sep.empty()) {
      if (type == TWTYPE_TEXT && col.letter == 'T') {
        format = TWSTREAMFMT_NATIVE;
        size = col.textSize;
      }
    } else if (col.letter == 'D') {
      format = TWSTREAMFMT_DATETIME_LIST;
    } else if (col.letter == 'N') {
      format = TWSTREAMFMT_NUMBER_LIST;
    } else if (col.letter == 'T') {
      format = TWSTREAMFMT_TEXT_LIST;
    }
    if (format == 0) continue;
    if (uint32_t st = TWFieldSetFormatStream(field, 0, size, format)) {
      if (tracer.On(Tracer::kDetail))
        tracer.Printf("From TWFieldSetFormatStream for %s code=%08lx(%ld)", col.name.c_str(),
                      static_cast<unsigned long>(st), static_cast<long>(st));
      return routine.Exit(st);
    }
  }
  return routine.Exit(TWSUCCESS);
}

uint32_t Connection::Fetch(TWFIELDLIST dest, uint32_t index, uint32_t records, uint32_t* count) {
  Routine routine(tracer, "TWXFetch: ");
  const int direction = session != nullptr ? static_cast<int>(session->settings.direction)
                                           : DirectionOf(props.linktype);
  if (direction != static_cast<int>(Direction::kSource)) return routine.Exit(TWFAIL_UNAVAILABLE);
  if (session == nullptr || (session->file == nullptr && !session->settings.embedded) ||
      session->settings.dataName.empty())
    return routine.Exit(TWFAIL_NOT_CONNECTED);
  records = RecordsAsked(records);
  if (uint32_t st = CheckList(dest, index, records)) return routine.Exit(st);
  session->zones.CheckRule();
  for (uint32_t r = 0; r < records; ++r) {
    if (props.maxRecCount > 0 && recordCounter >= static_cast<uint32_t>(props.maxRecCount))
      return routine.Exit(TWFAIL_END_OF_DATA);
    ++recordCounter;
    std::string_view record;
    if (uint32_t st = ReadRecord(*this, &record)) return routine.Exit(st);
    // The record is consumed whatever follows: a failing column must not make the next
    // fetch read the same bytes again.
    if (uint32_t st = LocateFields(*this, record)) return routine.Exit(st);
    if (r == 0) PrepareFields(*this, dest, index, records);
    if (uint32_t st = MoveFields(*this, dest, r)) return routine.Exit(st);
    ++*count;
  }
  return routine.Exit(TWSUCCESS);
}

uint32_t Connection::Insert(TWFIELDLIST src, uint32_t index, uint32_t records, uint32_t* count) {
  Routine routine(tracer, "TWXInsert: ");
  const int direction = session != nullptr ? static_cast<int>(session->settings.direction)
                                           : DirectionOf(props.linktype);
  if (direction != static_cast<int>(Direction::kDestination))
    return routine.Exit(TWFAIL_UNAVAILABLE);
  if (session == nullptr || session->file == nullptr) return routine.Exit(TWFAIL_NOT_CONNECTED);
  if (session->writeFailed) return routine.Exit(TWFAIL_EXTERNAL);
  records = RecordsAsked(records);
  if (uint32_t st = CheckList(src, index, records)) return routine.Exit(st);
  session->zones.CheckRule();
  uint32_t status = TWSUCCESS;
  for (uint32_t r = 0; r < records; ++r) {
    if (props.maxRecCount > 0 && recordCounter >= static_cast<uint32_t>(props.maxRecCount)) {
      status = TWFAIL_END_OF_DATA;
      break;
    }
    ++recordCounter;
    if (r == 0) PrepareFields(*this, src, index, records);
    status = WriteRecord(*this, src, r);
    if (status != TWSUCCESS) break;
    ++*count;
  }
  // Each call's records reach the file before it answers, so a full disk shows here.
  if (!session->writer.Flush() && status != TWFAIL_EXTERNAL) status = WriteFailure(*session);
  return routine.Exit(status);
}

uint32_t Connection::Update(TWFIELDLIST, uint32_t, uint32_t, uint32_t*) {
  Routine routine(tracer, "TWXUpdate: ");
  const int direction = session != nullptr ? static_cast<int>(session->settings.direction)
                                           : DirectionOf(props.linktype);
  return routine.Exit(direction == static_cast<int>(Direction::kDestination) ? TWSUCCESS
                                                                             : TWFAIL_UNAVAILABLE);
}

uint32_t Connection::Action(uint32_t code) {
  Routine routine(tracer, "TWXAction: ");
  if (tracer.On(Tracer::kDetail))
    tracer.Printf("Action code=%08lx(%ld)", static_cast<unsigned long>(code),
                  static_cast<long>(code));
  const int direction = session != nullptr ? static_cast<int>(session->settings.direction)
                                           : DirectionOf(props.linktype);
  const bool destination = direction == static_cast<int>(Direction::kDestination);
  switch (code) {
    case TWACTION_RESET: {
      uint32_t st = Disconnect(0);
      if (st == TWSUCCESS) st = Connect();
      return routine.Exit(st);
    }
    case TWACTION_TRUNCATE: {
      if (!destination) return routine.Exit(TWFAIL_UNAVAILABLE);
      if (session == nullptr || session->file == nullptr) return routine.Exit(TWFAIL_NOT_CONNECTED);
      Session& s = *session;
      s.writer.Discard();
      TWFileClose(s.file);
      s.file = TWFileOpen(s.settings.dataName.c_str(), TWFILE_WRITE | TWFILE_BINARY);
      if (s.file == nullptr) return routine.Exit(TWFAIL_NOT_CONNECTED);
      std::setvbuf(s.file, nullptr, _IONBF, 0);
      if (uint32_t st = s.writer.Open(registry, s.file)) return routine.Exit(st);
      s.writeFailed = false;
      s.needDelimiter = false;
      if (!s.settings.header.empty() && s.writer.Write(s.settings.header)) s.writer.EndRecord();
      if (!s.writer.Flush()) return routine.Exit(WriteFailure(s));
      return routine.Exit(TWSUCCESS);
    }
    case TWACTION_COMMIT:
      if (!destination) return routine.Exit(TWFAIL_UNAVAILABLE);
      if (session == nullptr || session->file == nullptr) return routine.Exit(TWFAIL_NOT_CONNECTED);
      if (!session->writer.Flush()) return routine.Exit(WriteFailure(*session));
      return routine.Exit(TWSUCCESS);
    default:
      return routine.Exit(TWFAIL_UNAVAILABLE);
  }
}

}  // namespace flatrec
