// The state of the current activity shared by the activity layer's sources (the activity's
// life, its properties and its log), and the text helpers they have in common.
#ifndef TW_FLOWCORE_ACTIVITY_STATE_H_
#define TW_FLOWCORE_ACTIVITY_STATE_H_

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "activity.h"
#include "csmgr_records.h"
#include "flowcore.h"

namespace tw::engine::act {

// A property the program added by name.
struct Added {
  std::string name;
  uint32_t store = 0;
  uint32_t token = 0;
  FieldPtr value;  // DYNAMIC and STATIC; a SYSTEM value lives in the system store
};

struct LogEntry {
  uint32_t status = 0;
  std::string text;
  uint32_t externalCode = 0;
  std::string externalText;
};

struct Activity {
  MsgTblEntry* entry = nullptr;  // the runner's run-table entry; null for a program's
  int32_t handle = 0;            // the control-store handle; 0 for an unnamed activity
  bool named = false;            // made by TWActivityAlloc with a name
  bool hasDocument = false;      // its description could be read
  Description description;
  // Values given this run, by token; a null pointer hides the description's value.
  std::map<uint32_t, FieldPtr> set;
  std::vector<Added> added;
  // The index in added of each added name, folded: a name is found without a walk over all
  // those added before it (a web request may add many thousands).
  std::unordered_map<std::string, size_t> addedByName;
  const Plugin* plugin = nullptr;
  bool busy = false;  // TWXLaunch is running, or the activity is ending
  bool launched = false;
  uint32_t status = 0;
  std::string statusText;
  LogEntry last;
  int32_t failures = 0;
  std::vector<uint32_t> walk;  // the tokens of a ListProperty walk
  size_t walkNext = 0;
  bool walking = false;
};

// Guards Current() and the system store. Recursive: a plug-in called back by the engine may
// reach the activity calls again on the same thread.
std::recursive_mutex& Mutex();
std::unique_ptr<Activity>& Current();
// Values of TWPROPSTORE_SYSTEM properties, by name folded to lower case.
std::map<std::string, FieldPtr>& SystemStore();

// Lower-case ASCII copy (property names compare without regard to case).
std::string Folded(std::string_view text);
// The text of stream as native text (UTF-8); null or empty: "". A stream that does not
// convert gives its status.
[[nodiscard]] uint32_t StreamText(const TWStream* stream, std::string* out);
// Replaces dest's data by text in the native format (maxLength and flags kept).
[[nodiscard]] uint32_t PutText(TWStream* dest, std::string_view text);

// The activity's own value of token (exact token, then the link-1 alias); null when none.
// Caller holds Mutex().
const TWFieldImpl* OwnValue(const Activity& a, uint32_t token);
// The added property of token, or null.
Added* FindAdded(Activity& a, uint32_t token);

// Names token for [[TWPn]]: the table of the plug-in whose entry point runs on this
// thread, else the activity plug-in's; the engine's names; an added property's name.
std::string NameToken(uint32_t token);

}  // namespace tw::engine::act

#endif  // TW_FLOWCORE_ACTIVITY_STATE_H_
