// ctprobe's dialogue over the FreeTDS ct-library.
#include "ctprobe.h"

#include <cstring>

namespace tw::ctprobe {
namespace {

using probe::Console;

// Keeps at most kMessageMax bytes of a message text of length bytes in a buffer of size bytes
// (a length outside the buffer, or a "null terminated" one, is taken up to its first NUL).
void Keep(CS_CONTEXT* context, const CS_CHAR* text, CS_INT length, size_t size) {
  KeptMessage* kept = nullptr;
  if (context == nullptr ||
      cs_config(context, CS_GET, CS_USERDATA, &kept, sizeof kept, nullptr) != CS_SUCCEED ||
      kept == nullptr)
    return;
  size_t n = length >= 0 && static_cast<size_t>(length) <= size ? static_cast<size_t>(length)
                                                                : ::strnlen(text, size);
  n = ::strnlen(text, n);
  kept->text.assign(text, n < kMessageMax ? n : kMessageMax);
}

// One connection attempt from a fresh context to its drop; true when connected and closed.
bool Attempt(Console& console, const std::string& server, const std::string& user,
             const std::string& password) {
  KeptMessage kept;
  KeptMessage* keptAt = &kept;
  CS_CONTEXT* context = nullptr;
  CS_CONNECTION* connection = nullptr;
  bool initialised = false;
  bool ok = cs_ctx_alloc(CS_VERSION_100, &context) == CS_SUCCEED;
  ok = ok && cs_config(context, CS_SET, CS_USERDATA, &keptAt, sizeof keptAt, nullptr) == CS_SUCCEED;
  ok = ok && (initialised = ct_init(context, CS_VERSION_100) == CS_SUCCEED);
  ok = ok && ct_callback(context, nullptr, CS_SET, CS_CLIENTMSG_CB,
                         reinterpret_cast<CS_VOID*>(&ClientMessage)) == CS_SUCCEED;
  ok = ok && ct_callback(context, nullptr, CS_SET, CS_SERVERMSG_CB,
                         reinterpret_cast<CS_VOID*>(&ServerMessage)) == CS_SUCCEED;
  ok = ok && ct_con_alloc(context, &connection) == CS_SUCCEED;
  ok = ok && ct_con_props(connection, CS_SET, CS_USERNAME, const_cast<char*>(user.c_str()),
                          CS_NULLTERM, nullptr) == CS_SUCCEED;
  ok = ok && ct_con_props(connection, CS_SET, CS_PASSWORD, const_cast<char*>(password.c_str()),
                          CS_NULLTERM, nullptr) == CS_SUCCEED;
  ok = ok && ct_connect(connection, const_cast<char*>(server.c_str()), CS_NULLTERM) == CS_SUCCEED;

  bool verified = false;
  if (ok) {
    console.Print("\nSuccessfully Connected\n");
    if (ct_close(connection, CS_FORCE_CLOSE) == CS_SUCCEED) {
      console.Print("Successfully Disconnected\n\nConnectivity to Corvex Verified.\n\n");
      verified = true;
    }
  } else {
    console.Print("\nError connecting to Corvex SQL Server.\n");
    if (!kept.text.empty()) console.Print("%s\n", kept.text.c_str());
    console.Print("Connectivity test Fails.\n\n");
  }

  if (connection != nullptr) ct_con_drop(connection);
  if (initialised) ct_exit(context, CS_FORCE_EXIT);
  if (context != nullptr) cs_ctx_drop(context);
  return verified;
}

}  // namespace

CS_RETCODE ClientMessage(CS_CONTEXT* context, CS_CONNECTION*, CS_CLIENTMSG* message) {
  if (message != nullptr && message->severity != CS_SV_INFORM)
    Keep(context, message->msgstring, message->msgstringlen, sizeof message->msgstring);
  return CS_SUCCEED;
}

CS_RETCODE ServerMessage(CS_CONTEXT* context, CS_CONNECTION*, CS_SERVERMSG* message) {
  if (message != nullptr && message->severity != 10)
    Keep(context, message->text, message->textlen, sizeof message->text);
  return CS_SUCCEED;
}

int Run(Console& console) {
  probe::PrintBanner(console, "Corvex Open Client Connection Verification",
                     "Tries a login to a Corvex server through the Open Client libraries.");
  std::string server, user, password;
  bool verified = false;
  do {
    probe::AskLabelled(console, "   Server Name", server, false);
    probe::AskLabelled(console, "      Username", user, false);
    probe::AskLabelled(console, "      Password", password, true);
    console.Print("Attempting to connect to Corvex server %s as %s", server.c_str(), user.c_str());
    verified = Attempt(console, server, user, password);
  } while (probe::AskYes(console, "Try Again? [N] "));
  return verified ? 0 : 1;
}

}  // namespace tw::ctprobe
