// The trace of the text-file connector: dump lines, where trace lines go by the Trace bits,
// and the allocation registry's reports.
#include "trace.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_ctlstore.h"
#include "memreg.h"
#include "plat_test_util.h"

namespace flatrec {
namespace {

TEST(FlatrecDump, LinesWithAsciiAndEbcdicAndRepeatsFolded) {
  std::string data;
  for (int i = 0; i < 16; ++i) data.push_back(static_cast<char>(0x41 + i));
  data += data;  // bytes 16-31 repeat bytes 0-15
  data += std::string("\xC1\xC2\x81\x00\x7F xyz", 8);
  std::vector<std::string> lines = FormatDump(data, reinterpret_cast<void*>(0x1234));
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0],
            "     0 1 2 3  4 5 6 7  8 9 A B  C D E F   -----ASCII------  -----EBCDIC----- "
            "0x1234(40)");
  EXPECT_EQ(lines[1],
            "0000:41424344 45464748 494A4B4C 4D4E4F50  ABCDEFGHIJKLMNOP  "
            ".........[.<(+]&");
  EXPECT_EQ(lines[2], "0010:< Same as above, until next line  >");
  EXPECT_EQ(lines[3], "0020:C1C28100 7F207879" + std::string(20, ' ') + "..... xy" +
                          std::string(10, ' ') + "ABa.\"..`");
}

TEST(FlatrecDump, ARunAtTheEndIsNotAnnounced) {
  const std::string data(48, 'q');
  std::vector<std::string> lines = FormatDump(data, nullptr);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[1].substr(0, 5), "0000:");
  EXPECT_TRUE(FormatDump("", nullptr).empty());
}

// Trace lines reach the Log file with the prefix the bits ask for.
TEST(FlatrecTraceLines, GoToTheLogFileWithTheirPrefix) {
  twtest::Installation inst;
  Tracer tracer;
  tracer.set_log_file(inst / "trace.log");
  tracer.set_bits(Tracer::kNoStdout | Tracer::kEntryExit | Tracer::kDetail);
  {
    Routine routine(tracer, "TWXFetch: ");
    tracer.Printf("Getting field=%s, @ dsp=%ld", "A", 3L);
    routine.Exit(TWFAIL_END_OF_DATA);
  }
  tracer.set_bits(Tracer::kNoStdout);
  tracer.Printf("plain");
  std::vector<std::string> lines;
  std::string log = twtest::ReadFile(inst / "trace.log");
  for (size_t at = 0, nl; (nl = log.find('\n', at)) != std::string::npos; at = nl + 1)
    lines.push_back(log.substr(at, nl - at));
  ASSERT_EQ(lines.size(), 4u);
  const std::string pid = [] {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%lx.0 ", static_cast<unsigned long>(::getpid()));
    return std::string(buf);
  }();
  // "%lx.%lx " then "yy.mm.dd hh:mm:ss AM " (21 characters).
  EXPECT_EQ(lines[0].substr(0, pid.size()), pid);
  EXPECT_EQ(lines[0].substr(pid.size() + 21), "TWXFetch: function entry");
  EXPECT_EQ(lines[1].substr(pid.size() + 21), "TWXFetch: Getting field=A, @ dsp=3");
  EXPECT_EQ(lines[2].substr(pid.size() + 21), "TWXFetch: function exit, rc=0x00003002(12290)");
  // Without bit 0x80 neither the process prefix nor the label.
  ASSERT_EQ(lines[3].size(), 21u + 5u);
  EXPECT_EQ(lines[3].substr(21), "plain");
  EXPECT_EQ(lines[3][2], '.');
  EXPECT_TRUE(lines[3].find(" AM ") == 17 || lines[3].find(" PM ") == 17) << lines[3];
}

struct Sink {
  std::vector<std::string> messages;
  static void Write(void* user, std::string_view m) {
    static_cast<Sink*>(user)->messages.emplace_back(m);
  }
};

TEST(FlatrecRegistry, TwoSlotsRecordTwoOfThreeBuffers) {
  Sink sink;
  MemRegistry registry;
  registry.set_sink(&Sink::Write, &sink);
  ASSERT_EQ(registry.InitSlots(2), 0u);
  void* a = nullptr;
  void* b = nullptr;
  void* c = nullptr;
  ASSERT_EQ(registry.Alloc(10, "TWXConnect: ", &a), 0u);
  ASSERT_EQ(registry.Alloc(20, "TWXFetch: ", &b), 0u);
  ASSERT_EQ(registry.Alloc(30, "TWXInsert: ", &c), 0u);  // no slot: not recorded, not counted
  EXPECT_EQ(registry.live(), 2u);
  registry.Audit();
  ASSERT_EQ(sink.messages.size(), 3u);
  EXPECT_EQ(sink.messages[0].rfind(
                "ZMLNK:  Allocated: 10 bytes from TWXConnect:  - trace_test.cc, line ", 0),
            0u)
      << sink.messages[0];
  EXPECT_EQ(
      sink.messages[1].rfind("ZMLNK:  Allocated: 20 bytes from TWXFetch:  - trace_test.cc", 0), 0u);
  EXPECT_EQ(sink.messages[2], "ZMLNK:  Allocated count=2, actual count=2\n");
  EXPECT_EQ(registry.Free(c, true, "TWXTerminate: "), 0u);  // in no slot: only released
  EXPECT_EQ(registry.live(), 2u);
  EXPECT_EQ(registry.Free(a, true, "TWXTerminate: "), 0u);
  sink.messages.clear();
  // b is left: reported as a leak and released.
  EXPECT_EQ(registry.Term(), TWFAIL_EXTERNAL);
  ASSERT_EQ(sink.messages.size(), 1u);
  EXPECT_EQ(sink.messages[0].rfind("ZMLNK: Leak, 20 bytes from TWXFetch:  - trace_test.cc", 0), 0u);
}

// A block is recorded with the line of the call that asked for it, also when the call went
// through a registered buffer.
TEST(FlatrecRegistry, RecordsTheCallersLine) {
  Sink sink;
  MemRegistry registry;
  registry.set_sink(&Sink::Write, &sink);
  ASSERT_EQ(registry.InitSlots(2), 0u);
  void* block = nullptr;
  const int allocLine = __LINE__ + 1;
  ASSERT_EQ(registry.Alloc(10, "TWXConnect: ", &block), 0u);
  RegBuffer buffer;
  const int bufferLine = __LINE__ + 1;
  ASSERT_EQ(buffer.Allocate(registry, 20, "ZPWrite: "), 0u);
  registry.Audit();
  ASSERT_EQ(sink.messages.size(), 3u);
  EXPECT_EQ(sink.messages[0],
            "ZMLNK:  Allocated: 10 bytes from TWXConnect:  - trace_test.cc, line " +
                std::to_string(allocLine) + "\n");
  EXPECT_EQ(sink.messages[1], "ZMLNK:  Allocated: 20 bytes from ZPWrite:  - trace_test.cc, line " +
                                  std::to_string(bufferLine) + "\n");
  EXPECT_EQ(registry.Free(block, true, "TWXTerminate: "), 0u);
  buffer.Reset();
  EXPECT_EQ(registry.Term(), 0u);
}

TEST(FlatrecRegistry, OffItReportsOnlyALiveCountLeftAboveZero) {
  Sink sink;
  MemRegistry registry;
  registry.set_sink(&Sink::Write, &sink);
  ASSERT_EQ(registry.InitSlots(0), 0u);
  void* a = nullptr;
  ASSERT_EQ(registry.Alloc(8, "X: ", &a), 0u);
  registry.Audit();
  EXPECT_TRUE(sink.messages.empty());
  EXPECT_EQ(registry.Term(), TWFAIL_EXTERNAL);
  EXPECT_EQ(sink.messages, std::vector<std::string>{"ZMLNK: 1 memory objects remain allocated\n"});
  std::free(a);
  sink.messages.clear();
  MemRegistry clean;
  clean.set_sink(&Sink::Write, &sink);
  ASSERT_EQ(clean.InitSlots(0), 0u);
  EXPECT_EQ(clean.Term(), 0u);
  EXPECT_TRUE(sink.messages.empty());
}

TEST(FlatrecRegistry, BadFreesAndRegistrationsAreReported) {
  Sink sink;
  MemRegistry registry;
  registry.set_sink(&Sink::Write, &sink);
  ASSERT_EQ(registry.InitSlots(4), 0u);
  EXPECT_EQ(registry.Register(nullptr, 4, "ZPReadZIDFile: "), TWFAIL_MEMORY);
  EXPECT_EQ(sink.messages.back().rfind(
                "ZMLNK: Memory registration error (NULLHANDLE): from ZPReadZIDFile: line ", 0),
            0u);
  int local = 0;
  EXPECT_EQ(registry.Register(&local, sizeof local, "ZPReadZIDFile: "), 0u);
  EXPECT_EQ(registry.Free(nullptr, true, "ZP_MemFree: "), TWFAIL_EXTERNAL);
  EXPECT_EQ(sink.messages.back().rfind("ZMLNK: Memory free error: from ZP_MemFree: line ", 0), 0u);
  EXPECT_EQ(registry.Free(&local, false, "ZP_MemFree: "), 0u);
  EXPECT_EQ(registry.live(), 0u);
  EXPECT_EQ(registry.Free(&local, false, "ZP_MemFree: "), 0u);
  EXPECT_EQ(sink.messages.back().rfind(
                "ZMLNK: Memory free error, element count is 0: from ZP_MemFree: line ", 0),
            0u);
  EXPECT_EQ(registry.Term(), 0u);
}

TEST(FlatrecRegistry, TheEnvironmentVariableSwitchesItOn) {
  twtest::Installation inst;
  {
    twtest::ScopedEnv env("ZM.ELEMENTS", "3");
    MemRegistry registry;
    ASSERT_EQ(registry.Init(), 0u);
    EXPECT_TRUE(registry.on());
  }
  {
    twtest::ScopedEnv env("ZM.ELEMENTS", nullptr);
    MemRegistry registry;
    ASSERT_EQ(registry.Init(), 0u);
    EXPECT_FALSE(registry.on());
  }
  {
    twtest::ScopedEnv env("ZM.ELEMENTS", "99999999999");
    Sink sink;
    MemRegistry registry;
    registry.set_sink(&Sink::Write, &sink);
    EXPECT_EQ(registry.Init(), TWFAIL_EXTERNAL);
    EXPECT_FALSE(registry.on());
  }
}

}  // namespace
}  // namespace flatrec
