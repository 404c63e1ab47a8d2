// The current activity's log and status: entries with their markup filled, decorated and
// written to the run's log in the control store or to standard error; the texts of statuses.
#include <cstdio>
#include <string>
#include <utility>

#include "activity.h"
#include "activity_state.h"
#include "markup.h"
#include "plugin.h"
#include "tw/guard.h"

namespace tw::engine::act {
namespace {

bool IsFailure(uint32_t status) {
  return status != 0 && (status & TWSTATUSF_EVENT) == 0;
}

// The template with each "%s" replaced by the next argument (the templates are catalogue
// rows, never handed to printf).
std::string Fill(std::string_view format, std::initializer_list<std::string_view> args) {
  std::string out;
  auto next = args.begin();
  for (size_t i = 0; i < format.size(); ++i) {
    if (format[i] == '%' && i + 1 < format.size() && format[i + 1] == 's') {
      if (next != args.end()) out.append(*next++);
      ++i;
    } else {
      out.push_back(format[i]);
    }
  }
  return out;
}

// "|  -- Link 'x'    (Function -Insert-)" for an entry made inside a connector's entry
// point; "" elsewhere.
std::string WhereSuffix() {
  const Scope* scope = CurrentScope();
  if (scope == nullptr || scope->plugin == nullptr || scope->entryRow == 0 ||
      IdentityOf(*scope->plugin).kind != TWX_KIND_CONNECTOR)
    return {};
  std::string entry = CatalogueText(scope->entryRow);
  std::string function = scope->wordRow != 0 ? Fill(CatalogueText(TWMSG_LOG_FUNCTION_WORD),
                                                    {entry, CatalogueText(scope->wordRow)})
                                             : Fill(CatalogueText(TWMSG_LOG_FUNCTION), {entry});
  return CatalogueText(TWMSG_LOG_BREAK) +
         Fill(CatalogueText(TWMSG_LOG_WHERE),
              {Fill(CatalogueText(TWMSG_LOG_LINK), {scope->linkName}), function});
}

void WriteStandardError(std::string line) {
  std::string breakMark = CatalogueText(TWMSG_LOG_BREAK);
  for (size_t at = 0; !breakMark.empty() && (at = line.find(breakMark, at)) != std::string::npos;)
    line.replace(at, breakMark.size(), "\n");
  line.push_back('\n');
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
}

// Writes the entry and makes it the last one; a failure becomes the activity's status.
void Record(LogEntry entry) {
  std::string line = (IsFailure(entry.status) ? CatalogueText(TWMSG_LOG_ERROR) : std::string()) +
                     entry.text + WhereSuffix();
  // Held while writing, so that entries from several threads keep their order.
  std::lock_guard lock(Mutex());
  Activity* a = Current().get();
  int32_t handle = a ? a->handle : 0;
  TWStream text{0, 0, TWSTREAMFMT_NATIVE, static_cast<uint32_t>(line.size()), line.data()};
  if (handle == 0 || CSMgrLog(handle, entry.status, &text) != TWSUCCESS)
    WriteStandardError(std::move(line));
  if (a == nullptr) return;
  if (IsFailure(entry.status)) {
    a->status = entry.status;
    a->statusText = entry.text;
    ++a->failures;
  }
  a->last = std::move(entry);
}

MarkupArgs Arguments(uint32_t int1, uint32_t int2, uint32_t int3, const TWStream* stream1,
                     const TWStream* stream2, const TWStream* stream3) {
  MarkupArgs args;
  args.ints = {int1, int2, int3};
  const TWStream* streams[] = {stream1, stream2, stream3};
  for (size_t i = 0; i < 3; ++i) {
    std::string text;
    // A stream that does not convert counts as absent.
    if (streams[i] != nullptr && StreamText(streams[i], &text) == TWSUCCESS)
      args.streams[i] = std::move(text);
  }
  return args;
}

[[nodiscard]] uint32_t LogExternal(uint32_t flags, const TWStream* text, uint32_t externalCode,
                                   const MarkupArgs* args) {
  if ((flags & ~static_cast<uint32_t>(TWLOGSTREAMF_EVENT)) != 0) return TWFAIL_INVALID_FLAGS;
  bool event = (flags & TWLOGSTREAMF_EVENT) != 0;
  std::string given;
  if (StreamText(text, &given) != TWSUCCESS) given.clear();
  if (args != nullptr) given = ExpandMarkup(given, *args, NameToken);
  LogEntry entry;
  entry.status = event ? TWEVENT_EXTERNAL : TWFAIL_EXTERNAL;
  entry.text = given.empty() ? CatalogueText(TWFAIL_EXTERNAL) : given;
  if (externalCode != 0)
    entry.text +=
        Fill(CatalogueText(TWMSG_LOG_CODE), {std::to_string(static_cast<int32_t>(externalCode))});
  entry.externalCode = externalCode;
  entry.externalText = std::move(given);
  Record(std::move(entry));
  return event ? TWSUCCESS : TWFAIL_EXTERNAL;
}

}  // namespace

std::string NameToken(uint32_t token) {
  const Scope* scope = CurrentScope();
  const Plugin* plugin =
      scope != nullptr && scope->plugin != nullptr ? scope->plugin : ActivityPlugin();
  std::string name = PropertyName(plugin, token);
  return name.empty() ? AddedPropertyName(token) : name;
}

}  // namespace tw::engine::act

using namespace tw::engine;
using namespace tw::engine::act;

extern "C" {

TW_API uint32_t TWActivityGetStatus(void) {
  return tw::guard([&]() -> uint32_t {
    std::lock_guard lock(Mutex());
    return Current() ? Current()->status : 0u;
  });
}

TW_API uint32_t TWActivityGetStatusStream(uint32_t status, TWStream* text) {
  return tw::guard([&]() -> uint32_t {
    if (text == nullptr) return TWFAIL_NULL_RESULT;
    uint32_t id = status & ~static_cast<uint32_t>(TWSTATUSF_EVENT);
    std::string body;
    {
      std::lock_guard lock(Mutex());
      const Activity* a = Current().get();
      if (a != nullptr && a->status != 0 && a->status == id) body = a->statusText;
    }
    if (body.empty()) body = ExpandMarkup(CatalogueText(id), MarkupArgs{}, nullptr);
    return PutText(text, body);
  });
}

TW_API uint32_t TWActivityClearStatus(void) {
  return tw::guard([&]() -> uint32_t {
    if (!SystemStarted()) return TWFAIL_TWXINIT;
    std::lock_guard lock(Mutex());
    if (!Current()) return TWFAIL_ACTIVITY_NOT_INIT;
    Current()->status = 0;
    Current()->statusText.clear();
    return TWSUCCESS;
  });
}

TW_API uint32_t TWActivityGetLogLast(TWStream* text, uint32_t* externalCode,
                                     TWStream* externalText) {
  return tw::guard([&]() -> uint32_t {
    LogEntry last;
    {
      std::lock_guard lock(Mutex());
      if (Current()) last = Current()->last;
    }
    // The answer is the entry's status, not the call's: a text the caller's stream cannot
    // take (its capacity, memory) leaves that stream as it was.
    if (text != nullptr) (void)PutText(text, last.text);
    if (externalCode != nullptr) *externalCode = last.externalCode;
    if (externalText != nullptr) (void)PutText(externalText, last.externalText);
    return last.status;
  });
}

TW_API uint32_t TWActivityLog(uint32_t status) {
  return tw::guard([&]() -> uint32_t {
    if (status == 0) return TWSUCCESS;
    {
      std::lock_guard lock(Mutex());
      // Already logged, usually with its details by the connector that failed.
      if (Current() && Current()->status == status) return status;
    }
    LogEntry entry;
    entry.status = status;
    entry.text = ExpandMarkup(CatalogueText(status), MarkupArgs{}, NameToken);
    Record(std::move(entry));
    return status;
  });
}

TW_API uint32_t TWActivityLogEx(uint32_t status, uint32_t int1, uint32_t int2, uint32_t int3,
                                const TWStream* stream1, const TWStream* stream2,
                                const TWStream* stream3) {
  return tw::guard([&]() -> uint32_t {
    if (status == 0) return TWSUCCESS;
    MarkupArgs args = Arguments(int1, int2, int3, stream1, stream2, stream3);
    LogEntry entry;
    entry.status = status;
    entry.text = ExpandMarkup(CatalogueText(status), args, NameToken);
    Record(std::move(entry));
    return status;
  });
}

TW_API uint32_t TWActivityLogStream(uint32_t flags, const TWStream* text, uint32_t externalCode) {
  return tw::guard([&] { return LogExternal(flags, text, externalCode, nullptr); });
}

TW_API uint32_t TWActivityLogStreamEx(uint32_t flags, const TWStream* text, uint32_t externalCode,
                                      uint32_t int1, uint32_t int2, uint32_t int3,
                                      const TWStream* stream1, const TWStream* stream2,
                                      const TWStream* stream3) {
  return tw::guard([&] {
    MarkupArgs args = Arguments(int1, int2, int3, stream1, stream2, stream3);
    return LogExternal(flags, text, externalCode, &args);
  });
}

TW_API uint32_t TWActivityPrint(const TWStream* message) {
  return tw::guard([&]() -> uint32_t {
    if (message == nullptr) return TWSUCCESS;
    std::string text;
    if (uint32_t st = StreamText(message, &text)) return st;
    text.push_back('\n');
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
    return TWSUCCESS;
  });
}

}  // extern "C"
