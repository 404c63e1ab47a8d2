// ociprobe's dialogue over the ORA72 client library.
#include "ociprobe.h"

#include <dlfcn.h>

#include <cstdint>

namespace tw::ociprobe {
namespace {

using probe::Console;

constexpr uint32_t kLogon = 97;
constexpr uint32_t kErrorText = 275;
constexpr uint32_t kLogoff = 279;
constexpr int kErrorTextSize = 512;

template <class Fn>
bool Resolve(void* library, uint32_t ordinal, Fn& fn, std::string& error) {
  using NameOf = const char* (*)(uint32_t);
  auto nameOf = reinterpret_cast<NameOf>(::dlsym(library, "OraOrdinalName"));
  const char* name = nameOf != nullptr ? nameOf(ordinal) : nullptr;
  void* address = name != nullptr ? ::dlsym(library, name) : nullptr;
  if (address == nullptr) {
    error = "The Oracle client has no call of ordinal " + std::to_string(ordinal) + ".";
    return false;
  }
  fn = reinterpret_cast<Fn>(address);
  return true;
}

}  // namespace

bool LoadClient(const char* library, OraCalls& calls, std::string& error) {
  void* handle = ::dlopen(library, RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* why = ::dlerror();
    error = why != nullptr ? why : library;
    return false;
  }
  return Resolve(handle, kLogon, calls.logon, error) &&
         Resolve(handle, kErrorText, calls.errorText, error) &&
         Resolve(handle, kLogoff, calls.logoff, error);
}

int Run(Console& console, const OraCalls& ora) {
  probe::PrintBanner(console, "Oracle SQL*NET Connection Verification",
                     "Tries a log-on to an Oracle database through the Oracle client.");
  std::string user, password, connect;
  bool verified = false;
  do {
    probe::AskLabelled(console, "      Username", user, false);
    probe::AskLabelled(console, "      Password", password, true);
    probe::AskLabelled(console, "Connect String", connect, false);
    const std::string logon = user + "/" + password + "@" + connect;
    console.Print("Attempting to connect using %s/%s@%s\n", user.c_str(),
                  password.empty() ? "" : probe::kMasked, connect.c_str());
    verified = false;
    OraLda lda{};
    OraHda hda{};
    const int rc = ora.logon(&lda, &hda, logon.c_str(), -1, nullptr, 0, 0);
    if (rc != 0) {
      char text[kErrorTextSize] = {};
      ora.errorText(&lda, rc, text, sizeof text);
      text[kErrorTextSize - 1] = '\0';
      console.Print("\nError connecting to Oracle Database.\n%sConnectivity test Fails.\n\n", text);
    } else {
      console.Print("\nSuccessfully Connected\n");
      if (ora.logoff(&lda) != 0) {
        console.Error("Error on disconnect.\n");
      } else {
        console.Print("Successfully Disconnected\n\nConnectivity to Oracle Verified.\n\n");
        verified = true;
      }
    }
  } while (probe::AskYes(console, "Try Again? [N] "));
  return verified ? 0 : 1;
}

}  // namespace tw::ociprobe
