// echoact.twx: a test activity that writes every property added to its run, with its name and
// values, to the run's log as an event ("name=[value][value]"), then returns its Result.
#include <string>

#include "twx.h"
#include "twx_plugin.h"

namespace {

enum Token : uint32_t { kResult = 1 };

const TWXPropertyDef kTable[] = {
    TWX_PROPERTY(kResult, TWTYPE_INT, "Result"),
    TWX_PROPERTY_END,
};

constexpr TWXIdentity kIdentity = tw::twx::ActivityIdentity(kTable);

std::string Text(const TWStream& s) {
  return s.data ? std::string(static_cast<const char*>(s.data), s.length) : std::string();
}

// Every value of the property, read whole as a text list.
std::string Describe(uint32_t token, const std::string& name) {
  std::string line = name + "=";
  TWStream list{};
  if (TWActivityGetPropertyStream(token, TWSTREAMFMT_TEXT_LIST, &list) == TWSUCCESS) {
    uint32_t count = TWTextListGetCount(&list);
    for (uint32_t i = 1; i <= count; ++i) {
      TWStream entry{};
      TWTextListFetch(&list, i, TWSTREAMFMT_NATIVE, &entry, nullptr, nullptr);
      line += "[" + Text(entry) + "]";
      TWStreamDataFree(&entry);
    }
  } else {
    line += "?";
  }
  TWStreamDataFree(&list);
  return line;
}

uint32_t Launch() {
  uint32_t token = 0, type = 0, store = 0;
  TWStream name{};
  for (uint32_t list = TWLIST_FIRST;
       TWActivityListProperty(list, &token, &type, &store, &name) == TWSUCCESS;
       list = TWLIST_NEXT) {
    if (store != TWPROPSTORE_DYNAMIC) continue;
    std::string line = Describe(token, Text(name));
    TWStream text{};
    TWStreamDataSet(&text, TWSTREAMFMT_NATIVE, line.data(), static_cast<uint32_t>(line.size()));
    TWActivityLogStream(TWLOGSTREAMF_EVENT, &text, 0);
    TWStreamDataFree(&text);
  }
  TWStreamDataFree(&name);
  int32_t result = 0;
  TWActivityGetPropertyInt(kResult, &result);
  return static_cast<uint32_t>(result);
}

}  // namespace

TWX_ACTIVITY(kIdentity, Launch)
