// holdact.twx: a test activity that writes its destination and holds its run open. It
// appends "start" to the file its Target property names, waits until the file its Release
// property names exists (about a minute at most, so a test that never releases it cannot
// hang), appends "end" and returns its Result property.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "twx.h"
#include "twx_plugin.h"

namespace {

enum Token : uint32_t { kTarget = 1, kRelease = 2, kResult = 3 };

const TWXPropertyDef kTable[] = {
    TWX_PROPERTY(kTarget, TWTYPE_TEXT, "Target"),
    TWX_PROPERTY(kRelease, TWTYPE_TEXT, "Release"),
    TWX_PROPERTY(kResult, TWTYPE_INT, "Result"),
    TWX_PROPERTY_END,
};

constexpr TWXIdentity kIdentity = tw::twx::ActivityIdentity(kTable);

constexpr int kReleaseSteps = 6000;

std::string Property(uint32_t token) {
  TWStream s{};
  std::string text;
  if (TWActivityGetPropertyStream(token, TWSTREAMFMT_NATIVE, &s) == TWSUCCESS && s.data)
    text.assign(static_cast<const char*>(s.data), s.length);
  TWStreamDataFree(&s);
  return text;
}

bool AppendLine(const std::string& path, const char* line) {
  FILE* f = std::fopen(path.c_str(), "a");
  if (f == nullptr) return false;
  bool ok = std::fprintf(f, "%s\n", line) > 0;
  return std::fclose(f) == 0 && ok;
}

uint32_t Launch() {
  const std::string target = Property(kTarget), release = Property(kRelease);
  if (target.empty() || release.empty()) return TWFAIL_MISSING_PROPERTY;
  if (!AppendLine(target, "start")) return TWFAIL_EXTERNAL;
  for (int i = 0; i < kReleaseSteps && ::access(release.c_str(), F_OK) != 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  if (!AppendLine(target, "end")) return TWFAIL_EXTERNAL;
  int32_t result = 0;
  TWActivityGetPropertyInt(kResult, &result);
  return static_cast<uint32_t>(result);
}

}  // namespace

TWX_ACTIVITY(kIdentity, Launch)
