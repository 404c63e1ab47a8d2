// The control-store manager's request handling over any requests, served in-process by a
// manager started on a private installation (Administrator and log databases made from the
// installed templates, one server, one activity "Nightly"). The dispatcher must never read
// or write outside a request block (the sanitizer watches its exact size), its reply keeps a
// Length within the block, its status is 0 or a catalogue message, requests it does not know
// come back unchanged, and a successful GetDescription reply holds records a client decodes.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "catalogue.h"
#include "csmgr.h"
#include "csmgr_records.h"
#include "csmgr_wire.h"
#include "fuzz_util.h"
#include "log.h"
#include "platform.h"
#include "plexapi.h"
#include "tw/coding.h"

namespace {

namespace wire = tw::csmgr;

void WriteFile(const std::string& path, const std::string& contents) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << contents;
  FUZZ_CHECK(out.good());
}

GVNOTEID NewDoc(GVDB db, const char* form, const char* name) {
  GVNOTEID formId = GVFormLocateByName(db, form);
  FUZZ_CHECK(formId != 0);
  GVDOC doc = 0;
  FUZZ_CHECK(GVDocumentCreate(db, formId, &doc) == 0);
  FUZZ_CHECK(GVItemPut(doc, "Name", GVTYPE_TEXT, 0, GVTYPE_TEXT, name, 0) == 0);
  FUZZ_CHECK(GVDocumentSave(doc, 0) == 0);
  GVNOTEID id = 0;
  GVDocumentGetProperty(doc, GVDOCPROP_NOTE_ID, &id);
  FUZZ_CHECK(GVDocumentClose(doc, 0) == 0);
  return id;
}

// The installation and its databases, as an administrator sets them up; then the manager's
// start-up, as ctlstore runs it.
void Install(const std::string& dir) {
  WriteFile(dir + "ctlstore", "");
  WriteFile(dir + "twmain.ini", "[Configuration]\r\nDirectory=" + dir +
                                    "\r\nTarnway=ALPHA\r\nAdminServer=\r\nAdminDatabase=admin.odb"
                                    "\r\nKitType=2\r\nDiagnostics=0\r\n");
  ::setenv("PLEXA_ROOT", (dir + "plexa").c_str(), 1);
  std::filesystem::create_directories(dir + "plexa");
  FUZZ_CHECK(TWPlatInit((dir + "ctlstore").c_str()) == TWSUCCESS);

  const std::string inst = TW_FUZZ_INST_DIR "/";
  FUZZ_CHECK(_GVInit(GV_VERSION, 0, 0, 0) == 0);
  FUZZ_CHECK(GVDatabaseCreate("", "log.odb", nullptr, 0, "", (inst + "QTWLOG.OTM").c_str(), 2, 0) ==
             0);
  FUZZ_CHECK(
      GVDatabaseCreate("", "admin.odb", nullptr, 0, "", (inst + "QTWADM.OTM").c_str(), 2, 0) == 0);
  GVDB admin = 0;
  FUZZ_CHECK(GVDatabaseOpen("", "admin.odb", 0, &admin) == 0);
  GVNOTEID adm = NewDoc(admin, "Configuration\\Administrator", "Administrator");
  GVDOC doc = 0;
  FUZZ_CHECK(GVDocumentOpen(admin, adm, 0, &doc) == 0);
  FUZZ_CHECK(GVItemPut(doc, "LogDatabase", GVTYPE_TEXT, 0, GVTYPE_TEXT, "log.odb", 0) == 0);
  FUZZ_CHECK(GVDocumentClose(doc, 0) == 0);
  NewDoc(admin, "Configuration\\Server", "ALPHA");
  NewDoc(admin, "Activity\\Command", "Nightly");
  FUZZ_CHECK(GVDatabaseClose(admin, 0) == 0);
  FUZZ_CHECK(GVTerm(0) == 0);

  wire::ResetService();
  wire::Service().platformFailure = TWSUCCESS;
  FUZZ_CHECK(wire::CSMgrServerOpen() == 0);
  FUZZ_CHECK(wire::Service().initialised);
}

GVTIMEADJUST g_clockOffset{};

// What one request may leave behind that would make the next input's outcome depend on this
// one: taken slots, a moved clock, a growing operations log.
void Settle() {
  wire::ServiceState& s = wire::Service();
  for (wire::ActivitySlot& slot : s.slots)
    if (!slot.Free()) wire::CSMgrSlotFree(&slot);
  s.clockOffset = g_clockOffset;
  wire::CSMgrEndServiceLogs();
  wire::CSMgrClearDetail();
}

bool IsCatalogueId(uint32_t status) {
  char text[512];
  return TWLibraryLoadString(status, text, sizeof text) > 0;
}

// One request through the dispatcher, and what its reply must be.
void Serve(std::string_view message) {
  const size_t size = message.size();
  std::vector<uint8_t> block(message.begin(), message.end());
  const uint32_t code = tw::get_u32(block.data() + wire::header::kCode);
  const std::vector<uint8_t> request = block;

  wire::CSMgrDispatch(block);

  FUZZ_CHECK(block.size() >= size);
  const uint32_t length = tw::get_u32(block.data() + wire::header::kLength);
  FUZZ_CHECK(length >= size && length <= block.size() && length <= wire::kMaxMessage);
  if (code != wire::code::kGetDescription && code != wire::code::kGetField)
    FUZZ_CHECK(length == size);
  FUZZ_CHECK(tw::get_u32(block.data() + wire::header::kCode) == code);
  // A code without a handler comes back as it went; the others carry 0 or a catalogue id.
  if (code == wire::code::kValidMsg || code >= wire::code::kCount) {
    FUZZ_CHECK(block == request);
    return;
  }
  const uint32_t status = tw::get_u32(block.data() + wire::header::kStatus);
  FUZZ_CHECK(status == 0 || IsCatalogueId(status));

  if (status == 0 && code == wire::code::kGetDescription) {
    const std::string_view reply(reinterpret_cast<const char*>(block.data()), length);
    tw::engine::Description description;
    FUZZ_CHECK(tw::engine::DecodeDescription(reply.substr(wire::get_description::kList),
                                             &description) == TWSUCCESS);
  }
  if (status == 0 && code == wire::code::kGetField)
    FUZZ_CHECK(std::memchr(block.data() + wire::get_field::kValue, '\0',
                           length - wire::get_field::kValue) != nullptr);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  Install(twfuzz::ProcessTempDir());
  g_clockOffset = wire::Service().clockOffset;
  return 0;
}

// An input is a client's conversation: requests back to back, each as long as its Length
// says (the last one takes what is left), so that a handle one request opens can serve the
// next. The pipe delivers whole messages of at least a header whose Length is their size
// and drops negative codes; Shutdown would end the service every later input needs.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view rest(reinterpret_cast<const char*>(data), size);
  for (int n = 0; n < 8 && rest.size() >= wire::header::kSize; ++n) {
    size_t length = tw::get_u32(rest.data() + wire::header::kLength);
    if (length < wire::header::kSize || length > rest.size()) length = rest.size();
    std::string message(rest.substr(0, length));
    rest.remove_prefix(length);
    tw::put_u32(message.data() + wire::header::kLength, static_cast<uint32_t>(length));
    const uint32_t code = tw::get_u32(message.data() + wire::header::kCode);
    if (static_cast<int32_t>(code) < 0 || code == wire::code::kShutdown) continue;
    Serve(message);
  }
  Settle();
  return 0;
}
