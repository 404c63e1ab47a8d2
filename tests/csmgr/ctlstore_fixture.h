// Test fixture that runs a real ctlstore process on a temporary installation: an
// Administrator and a Log database made from the templates, twmain.ini, raw request blocks
// sent over the pipe, and the process always stopped at the end.
#ifndef TW_TESTS_CSMGR_CTLSTORE_FIXTURE_H_
#define TW_TESTS_CSMGR_CTLSTORE_FIXTURE_H_

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "csmgr_wire.h"
#include "plat_test_util.h"
#include "platform.h"
#include "plexapi.h"
#include "tw/coding.h"

namespace twtest {

namespace wire = tw::csmgr;

// A request block of code with room for length bytes.
inline std::vector<uint8_t> Block(uint32_t code, uint32_t length) {
  std::vector<uint8_t> b(std::max<uint32_t>(length, 16), 0);
  tw::put_u32(b.data(), code);
  tw::put_u32(b.data() + 4, static_cast<uint32_t>(b.size()));
  return b;
}
inline uint32_t StatusOf(const std::vector<uint8_t>& b) {
  return b.size() >= 16 ? tw::get_u32(b.data() + 12) : 0xFFFFFFFFu;
}
inline int32_t WordAt(const std::vector<uint8_t>& b, uint32_t offset) {
  return tw::get_i32(b.data() + offset);
}
inline void PutText(std::vector<uint8_t>& b, uint32_t offset, const std::string& text) {
  std::memcpy(b.data() + offset, text.c_str(), text.size() + 1);
}
inline std::string TextAt(const std::vector<uint8_t>& b, uint32_t offset) {
  return std::string(reinterpret_cast<const char*>(b.data() + offset),
                     strnlen(reinterpret_cast<const char*>(b.data() + offset), b.size() - offset));
}

// The build's installation directory: TW_INST_DIR, else TW_BUILD_DIR's "inst", else the
// one beside the directory of the test programs.
inline std::string InstDir() {
  if (const char* dir = std::getenv("TW_INST_DIR")) return dir;
  if (const char* build = std::getenv("TW_BUILD_DIR")) return std::string(build) + "/inst";
  std::error_code ec;
  std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
  return (self.parent_path().parent_path() / "inst").string();
}

struct InstallOptions {
  bool writeIni = true;
  std::string tarnway = "ALPHA";
  bool adminDatabaseKey = true;
  std::string adminDatabase = "admin.odb";
  bool createAdmin = true;
  int32_t revision = 0x20000;
  std::vector<std::string> dropForms;  // forms of the template taken out of the Administrator
  bool serverDocument = true;
  int32_t statusInterval = 5;
  std::string diagnostics = "0";
};

class CtlstoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    inst_ = InstDir();
    ASSERT_TRUE(std::filesystem::exists(inst_ + "/ctlstore")) << inst_;
    ::setenv("PLEXA_ROOT", (dir_ / "plexa").c_str(), 1);
    std::filesystem::create_directories(dir_ / "plexa");
    std::filesystem::create_symlink(inst_ + "/ctlstore", dir_ / "ctlstore");
    TWPlatTerm();
    WriteFile(dir_ / "twmain.ini", "[Configuration]\r\nDirectory=" + dir_.path() + "\r\n");
    ASSERT_EQ(TWPlatInit((dir_ / "ctlstore").c_str()), 0u);
    ASSERT_EQ(_GVInit(GV_VERSION, 0, 0, 0), 0u);
  }

  void TearDown() override {
    Kill();
    if (admin_ != 0) GVDatabaseClose(admin_, 0);
    if (log_ != 0) GVDatabaseClose(log_, 0);
    GVTerm(0);
    TWPlatTerm();
  }

  // Writes twmain.ini and the databases as options say.
  void Install(const InstallOptions& o = {}) {
    std::string ini = "[Configuration]\r\nDirectory=" + dir_.path() + "\r\n";
    if (!o.tarnway.empty()) ini += "Tarnway=" + o.tarnway + "\r\n";
    ini += "AdminServer=\r\n";
    if (o.adminDatabaseKey) ini += "AdminDatabase=" + o.adminDatabase + "\r\n";
    ini += "KitType=2\r\nDiagnostics=" + o.diagnostics + "\r\n";
    if (o.writeIni) WriteFile(dir_ / "twmain.ini", ini);
    if (!o.createAdmin) return;
    ASSERT_EQ(
        GVDatabaseCreate("", "log.odb", nullptr, 0, "", (inst_ + "/QTWLOG.OTM").c_str(), 2, 0), 0u);
    ASSERT_EQ(
        GVDatabaseCreate("", "admin.odb", nullptr, 0, "", (inst_ + "/QTWADM.OTM").c_str(), 2, 0),
        0u);
    ASSERT_EQ(GVDatabaseOpen("", "admin.odb", 0, &admin_), 0u);
    ASSERT_EQ(GVDatabaseOpen("", "log.odb", 0, &log_), 0u);
    for (const std::string& form : o.dropForms)
      ASSERT_EQ(GVFormDelete(admin_, GVFormLocateByName(admin_, form.c_str())), 0u) << form;
    GVNOTEID adm = NewDoc("Configuration\\Administrator", {});
    GVDOC doc = 0;
    ASSERT_EQ(GVDocumentOpen(admin_, adm, 0, &doc), 0u);
    PutTextItem(doc, "LogDatabase", "log.odb");
    PutNumber(doc, "Revision", o.revision);
    PutNumber(doc, "StatusInterval", o.statusInterval);
    ASSERT_EQ(GVDocumentClose(doc, 0), 0u);
    if (o.serverDocument) serverId_ = NewDoc("Configuration\\Server", {{"Name", o.tarnway}});
  }

  // A new document of the form with text items; its note id.
  GVNOTEID NewDoc(const char* form, std::vector<std::pair<std::string, std::string>> texts) {
    GVNOTEID formId = GVFormLocateByName(admin_, form);
    EXPECT_NE(formId, 0u) << form;
    GVDOC doc = 0;
    EXPECT_EQ(GVDocumentCreate(admin_, formId, &doc), 0u);
    for (auto& [name, value] : texts) PutTextItem(doc, name.c_str(), value);
    EXPECT_EQ(GVDocumentSave(doc, 0), 0u);
    GVNOTEID id = 0;
    GVDocumentGetProperty(doc, GVDOCPROP_NOTE_ID, &id);
    GVDocumentClose(doc, 0);
    return id;
  }
  GVNOTEID NewActivity(const std::string& name) {
    return NewDoc("Activity\\Command", {{"Name", name}});
  }
  static void PutTextItem(GVDOC doc, const char* name, const std::string& value) {
    EXPECT_EQ(GVItemPut(doc, name, GVTYPE_TEXT, static_cast<uint32_t>(value.size()), GVTYPE_TEXT,
                        value.c_str(), 0),
              0u);
  }
  static void PutNumber(GVDOC doc, const char* name, double value) {
    EXPECT_EQ(GVItemPut(doc, name, GVTYPE_NUMBER, 0, GVTYPE_NUMBER, &value, 0), 0u);
  }
  // The current time an hour back.
  static GVTIMEDATE HourAgo() {
    GVTIMEDATE t{};
    EXPECT_EQ(GVDatetimeCurrent(&t), 0u);
    GVTIMEADJUST back{};
    back.hours = -1;
    EXPECT_EQ(GVDatetimeAdjust(&t, &back), 0u);
    return t;
  }
  // Queues activity id an hour ago: the next NextActivity takes it unless it is running.
  // With daily, a take moves it a day ahead, so that it is due once.
  void MakeDue(GVNOTEID id, bool daily = false) {
    const GVTIMEDATE due = HourAgo();
    GVDOC doc = 0;
    ASSERT_EQ(GVDocumentOpen(admin_, id, 0, &doc), 0u);
    EXPECT_EQ(GVItemPut(doc, "SchedTime", GVTYPE_TIME, 0, GVTYPE_TIME, &due, 0), 0u);
    PutNumber(doc, "ActivityID", id);
    if (daily) {
      PutNumber(doc, "RepeatInterval", 24 * 60);
      PutNumber(doc, "RepeatScope", 1);
    }
    ASSERT_EQ(GVDocumentClose(doc, 0), 0u);
  }
  // An item of an Administrator document as another process stored it.
  std::string ItemText(GVNOTEID id, const char* item) {
    GVDOC doc = 0;
    if (GVDocumentOpen(admin_, id, GVOPEN_READONLY, &doc) != 0) return "<no document>";
    std::string value(70000, '\0');
    uint32_t kind = GVTYPE_TEXT;
    uint32_t st =
        GVItemFetch(doc, item, &kind, 0, static_cast<uint32_t>(value.size()), value.data());
    GVDocumentClose(doc, GVCLOSE_DISCARD);
    if (st != 0) return "<no item>";
    value.resize(std::strlen(value.c_str()));
    return value;
  }
  double ItemNumber(GVNOTEID id, const char* item) {
    GVDOC doc = 0;
    if (GVDocumentOpen(admin_, id, GVOPEN_READONLY, &doc) != 0) return -12345;
    double value = -12345;
    uint32_t kind = GVTYPE_NUMBER;
    GVItemFetch(doc, item, &kind, 0, sizeof value, &value);
    GVDocumentClose(doc, GVCLOSE_DISCARD);
    return value;
  }

  // Starts ctlstore from the installation directory and waits (briefly) until it serves.
  void Start() {
    ASSERT_EQ(process_, nullptr);
    ASSERT_EQ(TWProcShellExec("ctlstore", &process_, 0, 0), 0u);
    for (int i = 0; i < 500 && !TWIPCExists(wire::kPipeName, 0); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_TRUE(TWIPCExists(wire::kPipeName, 0));
  }
  // Sends Shutdown and waits for the process; its exit code.
  int Stop() {
    std::vector<uint8_t> reply = Exchange(Block(wire::code::kShutdown, 16));
    lastShutdownStatus_ = StatusOf(reply);
    return WaitExit();
  }
  int WaitExit() {
    if (process_ == nullptr) return -1;
    TWProcProcessWait(process_);
    int code = TWProcProcessExitCode(process_);
    TWProcProcessFree(process_);
    process_ = nullptr;
    return code;
  }
  void Kill() {
    if (process_ == nullptr) return;
    TWProcProcessKill(process_);
    WaitExit();
  }

  // One request and its reply (empty when the exchange broke).
  static std::vector<uint8_t> Exchange(const std::vector<uint8_t>& request) {
    TWIPC* conn = TWIPCOpen(wire::kPipeName, 0);
    if (conn == nullptr) return {};
    uint32_t written = 0;
    std::vector<uint8_t> reply;
    if (TWIPCWrite(conn, request.data(), static_cast<uint32_t>(request.size()), &written)) {
      std::vector<uint8_t> piece(4096);
      for (;;) {
        uint32_t n = 0;
        int more = 0;
        if (!TWIPCRead(conn, piece.data(), static_cast<uint32_t>(piece.size()), &n, &more)) {
          reply.clear();
          break;
        }
        reply.insert(reply.end(), piece.begin(), piece.begin() + n);
        if (!more) break;
      }
    }
    TWIPCClose(conn);
    return reply;
  }
  // Sends raw bytes (any Length word) and closes without waiting for a reply.
  static void SendRaw(const std::vector<uint8_t>& bytes) {
    TWIPC* conn = TWIPCOpen(wire::kPipeName, 0);
    if (conn == nullptr) return;
    uint32_t written = 0;
    if (!bytes.empty())
      TWIPCWrite(conn, bytes.data(), static_cast<uint32_t>(bytes.size()), &written);
    TWIPCClose(conn);
  }
  static uint32_t Simple(uint32_t code, uint32_t length = 16) {
    return StatusOf(Exchange(Block(code, length)));
  }
  std::string ErrFile() { return ReadFile(dir_ / "twmain.err"); }

  TempDir dir_;
  std::string inst_;
  GVDB admin_ = 0;
  GVDB log_ = 0;
  GVNOTEID serverId_ = 0;
  TWProcProcess* process_ = nullptr;
  uint32_t lastShutdownStatus_ = 0;
};

}  // namespace twtest

#endif  // TW_TESTS_CSMGR_CTLSTORE_FIXTURE_H_
