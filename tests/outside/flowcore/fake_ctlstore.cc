// The test control-store manager: serves one request per connection on its own thread, in
// the order and with the reply layouts of the real manager, over an in-memory model.
#include "fake_ctlstore.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <utility>

#include "tw/coding.h"

namespace twtest {
namespace {

namespace wire = tw::csmgr;
namespace hdr = tw::csmgr::header;
namespace rec = tw::csmgr::record;

constexpr uint32_t kBadRequest = TWFAIL_CSMGR_ARGUMENT;
constexpr uint32_t kNoAdministrator = 787;
constexpr uint32_t kConversion = 790;
constexpr uint32_t kNoServer = 795;
constexpr uint32_t kNoActivity = TWFAIL_NO_ACTIVITY_DOC;
constexpr uint32_t kActivityItem = TWFAIL_ACTIVITY_ITEM;
constexpr uint32_t kNoLink = TWFAIL_NO_LINK_DOC;
constexpr uint32_t kLogItem = TWFAIL_LOG_ITEM;

uint32_t NotFoundStatus(uint32_t kind) {
  static constexpr uint32_t kByKind[] = {0,           kNoAdministrator, kNoServer,
                                         kNoActivity, kNoLink,          TWFAIL_NO_OPTIONS_DOC};
  return kByKind[kind];
}

// The NUL-terminated text at offset within max bytes of the block; false without its NUL.
bool TextAt(const std::string& block, uint32_t offset, size_t max, std::string* out) {
  if (offset >= block.size()) return false;
  std::string_view rest(block.data() + offset, std::min(max, block.size() - offset));
  size_t end = rest.find('\0');
  if (end == std::string_view::npos) return false;
  *out = std::string(rest.substr(0, end));
  return true;
}

void PutText(std::string* block, uint32_t offset, const std::string& text, size_t max) {
  size_t n = std::min(text.size(), max - 1);
  std::memcpy(block->data() + offset, text.data(), n);
  (*block)[offset + n] = '\0';
}

void PutDatetime(std::string* block, uint32_t offset, TWDatetime d) {
  tw::put_u32(block->data() + offset, d.ticks);
  tw::put_u32(block->data() + offset + 4, d.date);
}

void PutIntl(std::string* block, uint32_t offset, const TWIntlFormat& f) {
  char* p = block->data() + offset;
  tw::put_i32(p, f.flags);
  tw::put_i32(p + 4, f.format1);
  tw::put_i32(p + 8, f.format2);
  tw::put_i32(p + 12, f.zone);
  p += 16;
  for (const TWIntlText* t :
       {&f.am, &f.pm, &f.currency, &f.thousands, &f.decimal, &f.date, &f.time}) {
    std::memcpy(p, t->text, sizeof t->text);
    tw::put_i32(p + sizeof t->text, t->length);
    p += sizeof t->text + 4;
  }
}

bool ParseTextList(std::string_view bytes, std::vector<std::string>* out) {
  tw::Reader r(bytes.data(), bytes.size());
  uint16_t count = 0;
  if (!r.u16(&count)) return false;
  std::vector<uint16_t> lengths(count);
  for (auto& len : lengths)
    if (!r.u16(&len)) return false;
  out->clear();
  for (uint16_t len : lengths) {
    std::string_view entry;
    if (!r.bytes(len, &entry)) return false;
    out->emplace_back(entry);
  }
  return true;
}

void AppendRecord(std::string* records, uint32_t kind, uint32_t format, uint32_t token,
                  std::string_view data) {
  char head[rec::kHeadSize];
  tw::put_u32(head + rec::kKind, kind);
  tw::put_u32(head + rec::kFormat, format);
  tw::put_u32(head + rec::kToken, token);
  tw::put_u32(head + rec::kDataLength, static_cast<uint32_t>(data.size()));
  records->append(head, sizeof head);
  records->append(data);
}

std::string Int32Bytes(int32_t v) {
  std::string s(4, '\0');
  tw::put_i32(s.data(), v);
  return s;
}

std::string Ini(const std::string& dir) {
  return "[Configuration]\r\nDirectory=" + dir + "\r\n";
}

}  // namespace

// ---------------------------------------------------------------- installation ---------

Installation::Installation() {
  TWPlatTerm();
  WriteFile(dir_ / "prog", "");
  WriteFile(dir_ / "twmain.ini", Ini(dir_.path()));
  EXPECT_EQ(TWPlatInit((dir_ / "prog").c_str()), TWSUCCESS);
  EXPECT_EQ(std::string(TWFileExeDir()), dir_.path());
}

Installation::~Installation() {
  TWPlatTerm();
}

// ---------------------------------------------------------------- values ---------------

FakeValue FakeValue::Number(int32_t n) {
  FakeValue v;
  v.kind = Kind::kNumber;
  v.number = n;
  return v;
}
FakeValue FakeValue::Datetime(TWDatetime d) {
  FakeValue v;
  v.kind = Kind::kDatetime;
  v.datetime = d;
  return v;
}
FakeValue FakeValue::Text(std::string t) {
  FakeValue v;
  v.kind = Kind::kText;
  v.text = std::move(t);
  return v;
}
FakeValue FakeValue::TextList(std::vector<std::string> entries) {
  FakeValue v;
  v.kind = Kind::kTextList;
  v.list = std::move(entries);
  return v;
}
FakeValue FakeValue::RichText(std::string bytes) {
  FakeValue v;
  v.kind = Kind::kRichText;
  v.text = std::move(bytes);
  return v;
}
bool FakeValue::operator==(const FakeValue& o) const {
  return kind == o.kind && number == o.number && datetime.ticks == o.datetime.ticks &&
         datetime.date == o.datetime.date && text == o.text && list == o.list;
}

// ---------------------------------------------------------------- life -----------------

FakeCtlstore::FakeCtlstore() {
  if (const TWIntlFormat* intl = TWPlatGetIntlFormat()) settings_.intl = *intl;
  TWDatetimeParts parts{2026, 3, 1, 0, 10, 0, 0, 0, 0, 0};
  TWDatetimeSetParts(&now_, &parts, TWPARTSF_GMT);
  pipe_ = TWIPCCreate(wire::kPipeName);
  serving_ = pipe_ != nullptr;
  if (serving_) thread_ = std::thread([this] { Serve(); });
}

FakeCtlstore::~FakeCtlstore() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    // Wakes the thread waiting for a connection; it then ends.
    if (pipe_ != nullptr) TWIPCShutdown(pipe_, wire::kPipeName);
    pipe_ = nullptr;
  }
  if (thread_.joinable()) thread_.join();
}

bool FakeCtlstore::shutDown() {
  std::lock_guard<std::mutex> lock(mu_);
  return shutDown_;
}

// Writes the block (nothing when it is empty) and ends the connection.
void FakeCtlstore::Send(TWIPC* conn, const std::string& block) {
  if (!block.empty()) {
    uint32_t written = 0;
    TWIPCWrite(conn, block.data(), static_cast<uint32_t>(block.size()), &written);
    TWIPCFlush(conn);
  }
  TWIPCDisconnect(conn);
}

bool FakeCtlstore::WaitForShutdown(int timeoutMs) {
  std::unique_lock<std::mutex> lock(mu_);
  return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return shutDown_; });
}

void FakeCtlstore::Serve() {
  TWIPC* pipe = pipe_;
  for (;;) {
    TWIPC* conn = TWIPCWaitForConnection(pipe);
    if (conn == nullptr) return;
    std::string block(wire::kServerBufferStep, '\0');
    uint32_t got = 0;
    bool ok = true;
    for (;;) {
      uint32_t n = 0;
      int more = 0;
      if (!TWIPCRead(conn, block.data() + got, static_cast<uint32_t>(block.size()) - got, &n,
                     &more)) {
        ok = false;
        break;
      }
      got += n;
      if (!more) break;
      if (got == block.size()) block.resize(block.size() + wire::kServerBufferStep);
    }
    block.resize(got);
    if (!ok || got < hdr::kSize || tw::get_u32(block.data() + hdr::kLength) != got) {
      TWIPCDisconnect(conn);
      continue;
    }
    FakeExchange x;
    x.code = tw::get_u32(block.data() + hdr::kCode);
    x.request = block;
    x.async = (tw::get_u32(block.data() + hdr::kFlags) & wire::CSMGR_ASYNC) != 0;
    const bool end = x.code == wire::code::kShutdown;
    const bool async = x.async;
    std::string reply;
    if (async) {
      reply.assign(hdr::kSize, '\0');
      tw::put_u32(reply.data() + hdr::kLength, hdr::kSize);
      Send(conn, reply);
      Dispatch(std::move(block));
    } else {
      reply = Dispatch(std::move(block));
      std::function<void(std::string&)> tamper;
      {
        std::lock_guard<std::mutex> lock(mu_);
        auto it = tamper_.find(x.code);
        if (it != tamper_.end()) tamper = it->second;
      }
      if (tamper) tamper(reply);
    }
    x.reply = reply;
    // Entered before a synchronous reply goes out, so that a client that has its reply finds
    // the request in the journal.
    {
      std::lock_guard<std::mutex> lock(mu_);
      journal_.push_back(std::move(x));
      if (end) {
        shutDown_ = true;
        if (pipe_ != nullptr) TWIPCShutdown(pipe_, wire::kPipeName);
        pipe_ = nullptr;
      }
    }
    changed_.notify_all();
    if (!async) Send(conn, reply);
    if (end) return;
  }
}

std::string FakeCtlstore::Dispatch(std::string block) {
  std::lock_guard<std::mutex> lock(mu_);
  uint32_t code = tw::get_u32(block.data() + hdr::kCode);
  uint32_t status = 0;
  auto forced = failCodes_.find(code);
  if (startupStatus_ != 0) {
    status = startupStatus_;
  } else if (!initialised_) {
    status = TWFAIL_CSMGR_NOT_INIT;
  } else if (forced != failCodes_.end()) {
    status = forced->second;
  } else {
    Handle(block);
    return block;
  }
  tw::put_u32(block.data() + hdr::kStatus, status);
  return block;
}

// ---------------------------------------------------------------- handlers -------------

void FakeCtlstore::Handle(std::string& block) {
  const uint32_t code = tw::get_u32(block.data() + hdr::kCode);
  auto i32 = [&](uint32_t offset) { return tw::get_i32(block.data() + offset); };
  auto answer = [&](uint32_t status) { tw::put_u32(block.data() + hdr::kStatus, status); };
  if (code == wire::code::kValidMsg || code >= wire::code::kCount) return;
  if (block.size() < wire::MinLength(code)) return answer(kBadRequest);

  switch (code) {
    case wire::code::kShutdown:
    case wire::code::kInit:
    case wire::code::kTerm:
      return answer(0);

    case wire::code::kServerInit: {
      namespace si = wire::server_init;
      tw::put_i32(block.data() + si::kServerId, settings_.serverId);
      tw::put_i32(block.data() + si::kStatusInterval, settings_.statusInterval);
      tw::put_i32(block.data() + si::kPollInterval, settings_.pollInterval);
      tw::put_i32(block.data() + si::kMaxDuration, settings_.maxDuration);
      tw::put_i32(block.data() + si::kMaxActivities, settings_.maxActivities);
      tw::put_i32(block.data() + si::kCloseTimeout, settings_.closeTimeout);
      tw::put_i32(block.data() + si::kTranslate, settings_.translate);
      PutDatetime(&block, si::kTime, now_);
      PutText(&block, si::kServerName, settings_.serverName, wire::kTextField);
      PutIntl(&block, si::kIntl, settings_.intl);
      return answer(0);
    }

    case wire::code::kServerState: {
      int32_t state = i32(wire::server_state::kState);
      if (settings_.serverId == 0) return answer(kNoServer);
      if (state == CSMGR_STATE_DOWN) {
        settings_.serverId = 0;
        return answer(0);
      }
      return answer(state == CSMGR_STATE_ALIVE || state == CSMGR_STATE_STARTING ? 0 : kBadRequest);
    }

    case wire::code::kNextActivity: {
      namespace na = wire::next_activity;
      FakeSlot* slot = TakeSlot();
      if (slot == nullptr) return answer(kBadRequest);
      if (due_.empty()) {
        FreeSlot(slot);
        tw::put_i32(block.data() + na::kHandle, 0);
        return answer(0);
      }
      slot->name = due_.front();
      due_.erase(due_.begin());
      FakeDocument* doc = FindByName(CSMGR_ID_ACTIVITY, slot->name);
      slot->documentId = doc != nullptr ? doc->id : 0;
      int32_t maxDuration = -1, priority = 0;
      if (doc != nullptr) {
        auto md = doc->items.find("MaxDuration");
        if (md != doc->items.end() && md->second.kind == FakeValue::Kind::kNumber)
          maxDuration = md->second.number;
        auto pr = doc->items.find("Priority");
        if (pr != doc->items.end() && pr->second.kind == FakeValue::Kind::kNumber)
          priority = pr->second.number;
      }
      tw::put_i32(block.data() + na::kHandle, slot->handle);
      tw::put_i32(block.data() + na::kMaxDuration, maxDuration);
      tw::put_i32(block.data() + na::kPriority, priority);
      PutDatetime(&block, na::kTime, now_);
      PutText(&block, na::kName, slot->name, wire::kTextField);
      return answer(0);
    }

    case wire::code::kDoneActivity: {
      FakeSlot* slot = SlotOf(i32(wire::done_activity::kHandle));
      if (slot == nullptr) return answer(kNoActivity);
      done_.push_back(
          {slot->handle, slot->name, tw::get_u32(block.data() + wire::done_activity::kCompletion)});
      if (slot->documentId != 0) ReleaseLocked(slot->documentId);
      FreeSlot(slot);
      return answer(0);
    }

    case wire::code::kRunActivity: {
      namespace ra = wire::run_activity;
      std::vector<std::string> names;
      std::string_view list(block.data() + ra::kNames, block.size() - ra::kNames);
      if (tw::get_u16(list.data()) == 0) return answer(kBadRequest);
      if (!ParseTextList(list, &names)) return answer(kConversion);
      int32_t waiter = i32(ra::kWaiter);
      if (wire::IsSlotHandle(waiter)) {
        FakeSlot* slot = SlotOf(waiter);
        waiter = slot != nullptr ? slot->documentId : 0;
      }
      uint32_t status = 0;
      std::vector<int32_t> ids;
      for (const std::string& name : names) {
        FakeDocument* doc = FindByName(CSMGR_ID_ACTIVITY, name);
        if (doc == nullptr) {
          status = kNoActivity;
          continue;
        }
        started_.push_back(name);
        due_.push_back(name);
        ids.push_back(doc->id);
      }
      if (waiter != 0 && status == 0 && !ids.empty()) {
        std::erase_if(waits_, [&](const Wait& w) { return w.waiterId == waiter; });
        waits_.push_back({waiter, ids});
      }
      return answer(status);
    }

    case wire::code::kDoneRun: {
      int32_t handle = i32(wire::done_run::kHandle);
      int32_t id = 0;
      if (wire::IsSlotHandle(handle)) {
        FakeSlot* slot = SlotOf(handle);
        id = slot != nullptr ? slot->documentId : 0;
      } else if (handle > 0 && (handle & 1) == 0 && Find(handle) != nullptr) {
        id = handle;
      }
      if (id == 0) return answer(kNoActivity);
      bool waiting = std::any_of(waits_.begin(), waits_.end(),
                                 [&](const Wait& w) { return w.waiterId == id; });
      if (!waiting) tw::put_i32(block.data() + wire::done_run::kHandle, 0);
      return answer(0);
    }

    case wire::code::kGetDescription: {
      namespace gd = wire::get_description;
      int32_t handle = i32(gd::kHandle);
      std::string records;
      uint32_t status = 0;
      const FakeDocument* doc = nullptr;
      if (wire::IsSlotHandle(handle)) {
        FakeSlot* slot = SlotOf(handle);
        doc = slot != nullptr && slot->documentId != 0 ? Find(slot->documentId) : nullptr;
        if (doc == nullptr) status = kActivityItem;
      } else if (handle > 0 && (handle & 1) == 0) {
        doc = Find(handle);
        if (doc == nullptr) status = kNoActivity;
      } else {
        status = kNoActivity;
      }
      if (status == 0) status = Gather(*doc, &records);
      records.append(rec::kEndSize, '\0');
      size_t need = gd::kList + records.size();
      if (need > block.size()) {
        size_t steps = (need - block.size() + gd::kStep - 1) / gd::kStep;
        block.resize(block.size() + steps * gd::kStep, '\0');
        tw::put_u32(block.data() + hdr::kLength, static_cast<uint32_t>(block.size()));
      }
      std::memcpy(block.data() + gd::kList, records.data(), records.size());
      return answer(status);
    }

    case wire::code::kPutDescription: {
      namespace pd = wire::put_description;
      int32_t handle = i32(pd::kHandle);
      FakeDocument* doc = nullptr;
      if (wire::IsSlotHandle(handle)) {
        FakeSlot* slot = SlotOf(handle);
        if (slot == nullptr) return answer(kNoActivity);
        if (slot->documentId == 0) return answer(slot->mayBeMissing ? 0 : kActivityItem);
        doc = Find(slot->documentId);
      } else if (handle > 0 && (handle & 1) == 0) {
        doc = Find(handle);
      }
      if (doc == nullptr) return answer(kNoActivity);
      return answer(Store(*doc, block, pd::kList));
    }

    case wire::code::kGetID: {
      namespace gi = wire::get_id;
      uint32_t kind = tw::get_u32(block.data() + gi::kKind);
      std::string name;
      if (kind < CSMGR_ID_ADMINISTRATOR || kind > CSMGR_ID_OPTIONS ||
          !TextAt(block, gi::kName, block.size(), &name))
        return answer(kBadRequest);
      FakeDocument* doc = FindByName(kind, name);
      if (doc == nullptr) return answer(NotFoundStatus(kind));
      tw::put_i32(block.data() + gi::kDocumentId, doc->id);
      return answer(0);
    }

    case wire::code::kLog: {
      namespace lg = wire::log_request;
      uint32_t mode = tw::get_u32(block.data() + lg::kMode);
      int32_t handle = i32(lg::kHandle);
      FakeSlot* slot = nullptr;
      uint32_t status = 0;
      if (handle != 0) {
        slot = SlotOf(handle);
        if (slot == nullptr) status = kNoActivity;
      }
      if (mode == lg::kModeText) {
        uint32_t id = tw::get_u32(block.data() + lg::kMessageId);
        std::string text;
        if (!TextAt(block, lg::kText, block.size(), &text)) return answer(kBadRequest);
        bool own = ((id >> 8) & 0xFF) == 3;
        if (slot != nullptr && own && id == slot->lastMessage) return answer(status);
        if (slot != nullptr && own) slot->lastMessage = id;
        log_.push_back(
            {slot != nullptr ? slot->handle : 0, slot != nullptr ? slot->name : "", id, text});
        return answer(status);
      }
      if (mode == lg::kModeCounts) {
        if (slot == nullptr) return answer(status);
        if (logWithoutCounts_) return answer(kLogItem);
        FakeCounts c;
        c.handle = slot->handle;
        c.activity = slot->name;
        for (uint32_t k = 0; k < CSMGR_LOG_COUNTS; ++k) c.counts[k] = i32(lg::kCounts + 4 * k);
        counts_.push_back(c);
        return answer(status);
      }
      return answer(kBadRequest);
    }

    case wire::code::kTime:
      PutDatetime(&block, wire::time_request::kTime, now_);
      return answer(0);

    case wire::code::kAdjustClock: {
      namespace ac = wire::adjust_clock;
      TWDatetimeParts parts{};
      parts.year = i32(ac::kAdjustment);
      parts.month = i32(ac::kAdjustment + 4);
      parts.day = i32(ac::kAdjustment + 8);
      parts.hour = i32(ac::kAdjustment + 16);
      parts.minute = i32(ac::kAdjustment + 20);
      parts.second = i32(ac::kAdjustment + 24);
      parts.hundredth = i32(ac::kAdjustment + 28);
      TWDatetimeAdjust(&now_, &parts);
      return answer(0);
    }

    case wire::code::kGetField: {
      namespace gf = wire::get_field;
      int32_t handle = i32(gf::kHandle);
      std::string item;
      if (!TextAt(block, gf::kItemName, wire::kTextField, &item)) return answer(kBadRequest);
      const FakeDocument* doc = nullptr;
      if (wire::IsSlotHandle(handle)) {
        FakeSlot* slot = SlotOf(handle);
        if (slot != nullptr && slot->documentId == 0 && slot->mayBeMissing) return answer(0);
        if (slot != nullptr && slot->documentId != 0) doc = Find(slot->documentId);
      } else if (handle > 0 && (handle & 1) == 0) {
        doc = Find(handle);
      }
      if (doc == nullptr) return answer(kNoActivity);
      auto it = doc->items.find(item);
      std::string text;
      if (it == doc->items.end() || !ItemText(it->second, &text)) return answer(kActivityItem);
      if (gf::kValue + text.size() + 1 > block.size()) {
        block.resize(gf::GrownLength(static_cast<uint32_t>(text.size())), '\0');
        tw::put_u32(block.data() + hdr::kLength, static_cast<uint32_t>(block.size()));
      }
      std::memcpy(block.data() + gf::kValue, text.data(), text.size());
      block[gf::kValue + text.size()] = '\0';
      return answer(0);
    }

    case wire::code::kPutField: {
      namespace pf = wire::put_field;
      int32_t handle = i32(pf::kHandle);
      std::string item, value;
      if (!TextAt(block, pf::kItemName, wire::kTextField, &item) ||
          !TextAt(block, pf::kValue, block.size(), &value))
        return answer(kBadRequest);
      FakeDocument* doc = nullptr;
      if (wire::IsSlotHandle(handle)) {
        FakeSlot* slot = SlotOf(handle);
        if (slot == nullptr) return answer(kNoActivity);
        if (slot->documentId == 0) return answer(slot->mayBeMissing ? 0 : kActivityItem);
        doc = Find(slot->documentId);
      } else if (handle > 0 && (handle & 1) == 0) {
        doc = Find(handle);
      }
      if (doc == nullptr) return answer(kNoActivity);
      doc->items[item] = FakeValue::Text(value);
      return answer(0);
    }

    case wire::code::kOpenActivity: {
      namespace oa = wire::open_activity;
      std::string name;
      if (!TextAt(block, oa::kName, block.size(), &name)) return answer(kBadRequest);
      uint32_t flags = tw::get_u32(block.data() + oa::kFlags);
      FakeSlot* slot = TakeSlot();
      if (slot == nullptr) return answer(kBadRequest);
      slot->name = name;
      slot->openedByName = true;
      FakeDocument* doc = FindByName(CSMGR_ID_ACTIVITY, name);
      if (doc == nullptr && (flags & CSMGR_OPENF_MAY_BE_MISSING) == 0) {
        FreeSlot(slot);
        return answer(kNoActivity);
      }
      slot->documentId = doc != nullptr ? doc->id : 0;
      slot->mayBeMissing = doc == nullptr;
      tw::put_i32(block.data() + oa::kHandle, slot->handle);
      return answer(0);
    }

    case wire::code::kFileField:
      return answer(TWFAIL_PROGRAM);
  }
}

uint32_t FakeCtlstore::Gather(const FakeDocument& doc, std::string* records) {
  if (doc.propNames.size() != doc.propTokens.size()) return kActivityItem;
  bool library = false;
  for (size_t i = 0; i < doc.propNames.size(); ++i) {
    auto it = doc.items.find(doc.propNames[i]);
    if (it == doc.items.end()) continue;
    const uint32_t token = doc.propTokens[i];
    const FakeValue& v = it->second;
    if (token == TWTOKEN_LIBRARY) library = true;
    const uint32_t low = token & 0xFFFFFFu;
    if ((low == TWTOKEN_LINK || low == TWTOKEN_OPTION) && v.kind == FakeValue::Kind::kText) {
      int32_t id = 0;
      if (!v.text.empty()) {
        const FakeDocument* named =
            FindByName(low == TWTOKEN_LINK ? CSMGR_ID_LINK : CSMGR_ID_OPTIONS, v.text);
        if (named == nullptr && low == TWTOKEN_LINK) return kNoLink;
        id = named != nullptr ? named->id : 0;
      }
      AppendRecord(records, rec::kNumber, 0, token, Int32Bytes(id));
      continue;
    }
    switch (v.kind) {
      case FakeValue::Kind::kNumber:
        AppendRecord(records, rec::kNumber, 0, token, Int32Bytes(v.number));
        break;
      case FakeValue::Kind::kDatetime: {
        std::string d(8, '\0');
        tw::put_u32(d.data(), v.datetime.ticks);
        tw::put_u32(d.data() + 4, v.datetime.date);
        AppendRecord(records, rec::kDatetime, 0, token, d);
        break;
      }
      case FakeValue::Kind::kText: {
        size_t start = v.text.find_first_not_of(" \t\r\n");
        if (start == std::string::npos) break;
        AppendRecord(records, rec::kText, rec::kTextFormat, token,
                     std::string_view(v.text.c_str() + start, v.text.size() - start + 1));
        break;
      }
      case FakeValue::Kind::kTextList:
        if (v.list.empty()) break;
        AppendRecord(records, rec::kList, rec::kTextListFormat, token,
                     twtest::TextList(v.list) + std::string(1, '\0'));
        break;
      case FakeValue::Kind::kRichText:
        if (v.text.empty()) break;
        AppendRecord(records, rec::kList, rec::kRichTextFormat, token,
                     v.text + std::string(1, '\0'));
        break;
    }
  }
  if (!library) {
    auto it = doc.items.find("Library");
    if (it == doc.items.end() || it->second.kind != FakeValue::Kind::kText) return kActivityItem;
    AppendRecord(records, rec::kText, rec::kTextFormat, TWTOKEN_LIBRARY,
                 std::string_view(it->second.text.c_str(), it->second.text.size() + 1));
  }
  return 0;
}

uint32_t FakeCtlstore::Store(FakeDocument& doc, const std::string& block, size_t offset) {
  if (doc.propNames.size() != doc.propTokens.size()) return kActivityItem;
  tw::Reader r(block.data() + offset, block.size() - offset);
  for (;;) {
    uint32_t kind = 0, format = 0, token = 0, length = 0;
    if (!r.u32(&kind) || !r.u32(&format) || !r.u32(&token) || !r.u32(&length)) return kBadRequest;
    if (token == 0) return 0;
    std::string_view data;
    if (!r.bytes(length, &data)) return kBadRequest;
    auto at = std::find(doc.propTokens.begin(), doc.propTokens.end(), token);
    if (at == doc.propTokens.end()) return kActivityItem;
    const std::string& item = doc.propNames[at - doc.propTokens.begin()];
    if (kind == rec::kNumber && data.size() == 4) {
      doc.items[item] = FakeValue::Number(tw::get_i32(data.data()));
    } else if (kind == rec::kDatetime && data.size() == 8) {
      doc.items[item] =
          FakeValue::Datetime({tw::get_u32(data.data()), tw::get_u32(data.data() + 4)});
    } else if (kind == rec::kText && !data.empty()) {
      doc.items[item] = FakeValue::Text(std::string(data.substr(0, data.find('\0'))));
    } else if (kind == rec::kList && format == rec::kRichTextFormat && !data.empty()) {
      doc.items[item] = FakeValue::RichText(std::string(data.substr(0, data.size() - 1)));
    }
  }
}

bool FakeCtlstore::ItemText(const FakeValue& v, std::string* text) {
  switch (v.kind) {
    case FakeValue::Kind::kNumber:
      *text = std::to_string(v.number);
      return true;
    case FakeValue::Kind::kText:
      *text = v.text;
      return true;
    case FakeValue::Kind::kTextList: {
      text->clear();
      for (size_t i = 0; i < v.list.size(); ++i) *text += (i ? ";" : "") + v.list[i];
      return true;
    }
    case FakeValue::Kind::kDatetime: {
      TWStream s{};
      bool ok = TWStreamFromDatetime(&s, &v.datetime, TWSTREAMFMT_QMBCS) == 0;
      if (ok) *text = std::string(static_cast<const char*>(s.data), s.length);
      TWStreamDataFree(&s);
      return ok;
    }
    case FakeValue::Kind::kRichText:
      return false;
  }
  return false;
}

// ---------------------------------------------------------------- slots and waits ------

FakeDocument* FakeCtlstore::Find(int32_t id) {
  auto it = docs_.find(id);
  return it == docs_.end() ? nullptr : &it->second;
}

FakeDocument* FakeCtlstore::FindByName(uint32_t kind, const std::string& name) {
  for (auto& [id, doc] : docs_)
    if (doc.kind == kind && doc.name == name) return &doc;
  return nullptr;
}

FakeSlot* FakeCtlstore::SlotOf(int32_t handle) {
  if (!wire::IsSlotHandle(handle)) return nullptr;
  FakeSlot& slot = slots_[wire::SlotIndex(handle)];
  return slot.handle != 0 ? &slot : nullptr;
}

FakeSlot* FakeCtlstore::TakeSlot() {
  for (uint32_t i = 0; i < slots_.size(); ++i) {
    if (slots_[i].handle == 0) {
      slots_[i] = FakeSlot{};
      slots_[i].handle = wire::SlotHandle(i);
      return &slots_[i];
    }
  }
  return nullptr;
}

void FakeCtlstore::FreeSlot(FakeSlot* slot) {
  *slot = FakeSlot{};
}

void FakeCtlstore::ReleaseLocked(int32_t finishedId) {
  for (Wait& w : waits_) {
    auto it = std::find(w.pending.begin(), w.pending.end(), finishedId);
    if (it != w.pending.end()) w.pending.erase(it);
  }
  std::erase_if(waits_, [](const Wait& w) { return w.pending.empty(); });
}

// ---------------------------------------------------------------- model access ---------

int32_t FakeCtlstore::AddDocument(uint32_t kind, const std::string& name) {
  std::lock_guard<std::mutex> lock(mu_);
  int32_t id = nextId_;
  nextId_ += 2;
  FakeDocument& doc = docs_[id];
  doc.id = id;
  doc.kind = kind;
  doc.name = name;
  doc.items["Name"] = FakeValue::Text(name);
  return id;
}

void FakeCtlstore::SetItem(int32_t id, const std::string& item, const FakeValue& value) {
  std::lock_guard<std::mutex> lock(mu_);
  if (FakeDocument* doc = Find(id)) doc->items[item] = value;
}

void FakeCtlstore::RemoveItem(int32_t id, const std::string& item) {
  std::lock_guard<std::mutex> lock(mu_);
  if (FakeDocument* doc = Find(id)) doc->items.erase(item);
}

void FakeCtlstore::AddProperty(int32_t id, const std::string& item, uint32_t token,
                               const FakeValue& value) {
  std::lock_guard<std::mutex> lock(mu_);
  if (FakeDocument* doc = Find(id)) {
    doc->propNames.push_back(item);
    doc->propTokens.push_back(token);
    doc->items[item] = value;
  }
}

void FakeCtlstore::ListProperty(int32_t id, const std::string& item, uint32_t token) {
  std::lock_guard<std::mutex> lock(mu_);
  if (FakeDocument* doc = Find(id)) {
    doc->propNames.push_back(item);
    doc->propTokens.push_back(token);
  }
}

void FakeCtlstore::EditDocument(int32_t id, const std::function<void(FakeDocument&)>& edit) {
  std::lock_guard<std::mutex> lock(mu_);
  if (FakeDocument* doc = Find(id)) edit(*doc);
}

std::optional<FakeDocument> FakeCtlstore::Document(int32_t id) {
  std::lock_guard<std::mutex> lock(mu_);
  FakeDocument* doc = Find(id);
  return doc != nullptr ? std::optional<FakeDocument>(*doc) : std::nullopt;
}

std::optional<FakeValue> FakeCtlstore::Item(int32_t id, const std::string& item) {
  std::lock_guard<std::mutex> lock(mu_);
  FakeDocument* doc = Find(id);
  if (doc == nullptr) return std::nullopt;
  auto it = doc->items.find(item);
  return it != doc->items.end() ? std::optional<FakeValue>(it->second) : std::nullopt;
}

void FakeCtlstore::SetSettings(const FakeSettings& settings) {
  std::lock_guard<std::mutex> lock(mu_);
  settings_ = settings;
}

void FakeCtlstore::QueueDue(const std::string& activityName) {
  std::lock_guard<std::mutex> lock(mu_);
  due_.push_back(activityName);
}

std::vector<std::string> FakeCtlstore::Started() {
  std::lock_guard<std::mutex> lock(mu_);
  return started_;
}

void FakeCtlstore::ReleaseWaits(int32_t finishedId) {
  std::lock_guard<std::mutex> lock(mu_);
  ReleaseLocked(finishedId);
}

bool FakeCtlstore::Waiting(int32_t waiterId) {
  std::lock_guard<std::mutex> lock(mu_);
  return std::any_of(waits_.begin(), waits_.end(),
                     [&](const Wait& w) { return w.waiterId == waiterId; });
}

std::optional<FakeSlot> FakeCtlstore::Slot(int32_t handle) {
  std::lock_guard<std::mutex> lock(mu_);
  FakeSlot* slot = SlotOf(handle);
  return slot != nullptr ? std::optional<FakeSlot>(*slot) : std::nullopt;
}

int FakeCtlstore::OpenSlots() {
  std::lock_guard<std::mutex> lock(mu_);
  return static_cast<int>(
      std::count_if(slots_.begin(), slots_.end(), [](const FakeSlot& s) { return s.handle != 0; }));
}

std::vector<FakeLogLine> FakeCtlstore::Log() {
  std::lock_guard<std::mutex> lock(mu_);
  return log_;
}

std::vector<FakeCounts> FakeCtlstore::Counts() {
  std::lock_guard<std::mutex> lock(mu_);
  return counts_;
}

std::vector<FakeDone> FakeCtlstore::Done() {
  std::lock_guard<std::mutex> lock(mu_);
  return done_;
}

void FakeCtlstore::SetNow(TWDatetime now) {
  std::lock_guard<std::mutex> lock(mu_);
  now_ = now;
}

TWDatetime FakeCtlstore::Now() {
  std::lock_guard<std::mutex> lock(mu_);
  return now_;
}

void FakeCtlstore::SetStartupStatus(uint32_t status) {
  std::lock_guard<std::mutex> lock(mu_);
  startupStatus_ = status;
}

void FakeCtlstore::SetInitialised(bool initialised) {
  std::lock_guard<std::mutex> lock(mu_);
  initialised_ = initialised;
}

void FakeCtlstore::FailCode(uint32_t code, uint32_t status) {
  std::lock_guard<std::mutex> lock(mu_);
  failCodes_[code] = status;
}

void FakeCtlstore::TamperReply(uint32_t code, std::function<void(std::string& block)> tamper) {
  std::lock_guard<std::mutex> lock(mu_);
  tamper_[code] = std::move(tamper);
}

void FakeCtlstore::SetLogWithoutCounts(bool without) {
  std::lock_guard<std::mutex> lock(mu_);
  logWithoutCounts_ = without;
}

std::vector<FakeExchange> FakeCtlstore::Journal() {
  std::lock_guard<std::mutex> lock(mu_);
  return journal_;
}

bool FakeCtlstore::WaitForJournal(size_t n, int timeoutMs) {
  std::unique_lock<std::mutex> lock(mu_);
  return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                           [&] { return journal_.size() >= n; });
}

}  // namespace twtest
