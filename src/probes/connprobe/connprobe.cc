// connprobe's command line, link tests and property list.
#include "connprobe.h"

#include "flowcore.h"
#include "platform.h"
#include "twengine.h"

namespace tw::connprobe {
namespace {

using probe::Console;

constexpr const char* kTypeNames[] = {"InvalidType", "INT",      "FLOAT", "CURRENCY",
                                      "NUMERIC",     "DATETIME", "TEXT",  "BINARY"};
constexpr size_t kNameWidth = 20;

void PrintUsage(Console& console) {
  console.Print(
      "Usage error:\n\n"
      "connprobe <link1> <link2>..<linkn>\n"
      "connprobe [Options] <link1> <link2>..<linkn>\n\n"
      "Options\n"
      "   -p Display link properties\n");
}

// A native-text stream holding text; its data is freed with the object.
class NativeText {
 public:
  explicit NativeText(std::string_view text) {
    TWStreamClear(&stream_);
    ok_ = TWStreamDataSet(&stream_, TWSTREAMFMT_NATIVE, text.data(),
                          static_cast<uint32_t>(text.size())) == TWSUCCESS;
  }
  NativeText() { TWStreamClear(&stream_); }
  ~NativeText() { TWStreamDataFree(&stream_); }
  NativeText(const NativeText&) = delete;
  NativeText& operator=(const NativeText&) = delete;
  bool ok() const { return ok_; }
  TWStream* get() { return &stream_; }
  std::string_view view() const {
    return stream_.data != nullptr
               ? std::string_view(static_cast<const char*>(stream_.data), stream_.length)
               : std::string_view();
  }

 private:
  TWStream stream_;
  bool ok_ = true;
};

void ListProperties(Console& console, TWCONNECT connect) {
  console.Print("Name                    Token\tDatatype\n");
  for (uint32_t list = TWLIST_FIRST;; list = TWLIST_NEXT) {
    uint32_t token = 0, type = 0, flags = 0;
    NativeText name;
    if (TWConnectListProperty(connect, list, &token, &type, &flags, name.get()) != TWSUCCESS) break;
    console.Print("%s", PropertyLine(name.view(), token, type).c_str());
  }
}

// Tests one link; true when it connected.
bool TestLink(Console& console, const std::string& link, bool properties) {
  console.Print("\nTesting %s\n", link.c_str());
  const std::string title = "Link Test (" + link + ")";
  if (TWActivityAlloc(0, title.c_str(), TWSTREAMFMT_NATIVE) != TWSUCCESS) {
    // Without an activity there is nothing to connect through: the link counts as failed.
    console.Error("A running Tarnway server could not be found.\n");
    console.Print("%s Connect Failed\n", link.c_str());
    return false;
  }
  bool connected = false;
  {
    NativeText name(link);
    TWCONNECT connect = TWNULLHANDLE;
    if (name.ok() && TWConnectAlloc(&connect, 0, name.get()) == TWSUCCESS) {
      const uint32_t st = TWConnectConnect(connect);
      connected = st == TWSUCCESS || st == TWFAIL_END_OF_DATA;
      if (properties) ListProperties(console, connect);
      (void)TWConnectDisconnect(connect);
      (void)TWConnectFree(connect);
    }
  }
  (void)TWActivityFree();
  console.Print(connected ? "%s Connect Successfull\n" : "%s Connect Failed\n", link.c_str());
  return connected;
}

}  // namespace

const char* TypeName(uint32_t type) {
  return type < std::size(kTypeNames) ? kTypeNames[type] : kTypeNames[0];
}

std::string PropertyLine(std::string_view name, uint32_t token, uint32_t type) {
  std::string line(name.substr(0, kNameWidth));
  line.append(kNameWidth - line.size(), ' ');
  return line + "\t" + std::to_string(static_cast<int32_t>(token)) + "\t" + TypeName(type) + "\n";
}

int Run(Console& console, const std::vector<std::string>& argv) {
  bool properties = false;
  size_t first = 1;
  for (; first < argv.size() && !argv[first].empty() && argv[first][0] == '-'; ++first)
    if (argv[first] == "-p") properties = true;  // other options are ignored
  if (first >= argv.size()) {
    PrintUsage(console);
    return 1;
  }
  // The installation is found from the program's place or the PATH; a probe run elsewhere
  // still finds no server and says so per link.
  (void)TWPlatInit(argv.empty() ? "" : argv[0].c_str());
  (void)TWSystemInit();
  bool all = true;
  for (size_t i = first; i < argv.size(); ++i)
    if (!TestLink(console, argv[i], properties)) all = false;
  (void)TWSystemTerm();
  (void)TWPlatTerm();
  return all ? 0 : 1;
}

}  // namespace tw::connprobe
