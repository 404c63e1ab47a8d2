// The pipe records of twmain: exact byte layouts, round trips, short input and text bounds.
#include "records.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tw::server {
namespace {

TEST(SchedulerCommandRecord, IsFourLittleEndianWords) {
  unsigned char b[kSchedulerCommandSize];
  EncodeSchedulerCommand(SchedulerCommand{SchedKill, kSourceSnmp, 0x01020304, -2}, b);
  const unsigned char want[] = {13, 0, 0, 0, 2, 0, 0, 0, 4, 3, 2, 1, 0xFE, 0xFF, 0xFF, 0xFF};
  EXPECT_EQ(std::vector<unsigned char>(b, b + 16), std::vector<unsigned char>(want, want + 16));

  SchedulerCommand c;
  ASSERT_TRUE(DecodeSchedulerCommand(b, sizeof b, &c));
  EXPECT_EQ(c.code, SchedKill);
  EXPECT_EQ(c.source, kSourceSnmp);
  EXPECT_EQ(c.argument, 0x01020304);
  EXPECT_EQ(c.run, -2);
  for (size_t n = 0; n < kSchedulerCommandSize; ++n)
    EXPECT_FALSE(DecodeSchedulerCommand(b, n, &c)) << n;
}

TEST(TimerCommandRecord, CarriesPayloadIdAndSeconds) {
  TimerCommand t{TimerAddOnce, SchedulerCommand{SchedTimeout, 0, 7, 9}, 9, 3600};
  unsigned char b[kTimerCommandSize];
  EncodeTimerCommand(t, b);
  EXPECT_EQ(get_i32(b), 0);
  EXPECT_EQ(get_i32(b + 4), SchedTimeout);
  EXPECT_EQ(get_i32(b + 12), 7);
  EXPECT_EQ(get_i32(b + 20), 9);
  EXPECT_EQ(get_i32(b + 24), 3600);
  TimerCommand back;
  ASSERT_TRUE(DecodeTimerCommand(b, sizeof b, &back));
  EXPECT_EQ(back.payload.argument, 7);
  EXPECT_EQ(back.payload.run, 9);
  EXPECT_EQ(back.id, 9);
  EXPECT_EQ(back.seconds, 3600);
  EXPECT_FALSE(DecodeTimerCommand(b, kTimerCommandSize - 1, &back));
}

struct EventCase {
  int32_t code;
  size_t numberAt;  // offset of the number word in the record, 0 when none
  size_t textAt;    // offset of the text, 0 when none
  size_t timeAt;    // offset of the TIMEDATE, 0 when none
};

class ConsoleEventLayout : public ::testing::TestWithParam<EventCase> {};

TEST_P(ConsoleEventLayout, PutsEachFieldAtItsOffset) {
  const EventCase& k = GetParam();
  ConsoleEvent e;
  e.code = k.code;
  e.number = 77;
  e.time = TWDatetime{0x11223344, 0x00556677};
  e.SetText("Nightly copy");
  unsigned char b[kConsoleEventSize];
  EncodeConsoleEvent(e, b);
  EXPECT_EQ(get_i32(b), k.code);
  if (k.numberAt != 0) {
    EXPECT_EQ(get_i32(b + k.numberAt), 77);
  }
  if (k.textAt != 0) {
    EXPECT_EQ(std::string(reinterpret_cast<char*>(b + k.textAt)), "Nightly copy");
  }
  if (k.timeAt != 0) {
    EXPECT_EQ(get_u32(b + k.timeAt), 0x11223344u);
    EXPECT_EQ(get_u32(b + k.timeAt + 4), 0x00556677u);
  }
  ConsoleEvent back;
  ASSERT_TRUE(DecodeConsoleEvent(b, sizeof b, &back));
  EXPECT_EQ(back.code, k.code);
  EXPECT_EQ(back.number, k.numberAt != 0 ? 77 : 0);
  EXPECT_EQ(std::string(back.text), k.textAt != 0 ? "Nightly copy" : "");
  EXPECT_EQ(back.time.ticks, k.timeAt != 0 ? 0x11223344u : 0u);
  EXPECT_FALSE(DecodeConsoleEvent(b, kConsoleEventSize - 1, &back));
}

INSTANTIATE_TEST_SUITE_P(
    Codes, ConsoleEventLayout,
    ::testing::Values(EventCase{EventStarted, 0, 12, 4}, EventCase{EventListLine, 8, 20, 12},
                      EventCase{EventTrace, 4, 8, 0}, EventCase{EventClosing, 4, 8, 0},
                      EventCase{EventKilled, 4, 8, 0}, EventCase{EventConfirmKill, 4, 8, 0},
                      EventCase{EventNoRunToKill, 4, 0, 0}, EventCase{EventNoRunToClose, 4, 0, 0},
                      EventCase{EventListEmpty, 0, 0, 0}, EventCase{EventEnded, 0, 0, 0}));

TEST(ConsoleEventRecord, ListLineAndStatusFillTheirWords) {
  ConsoleEvent line;
  line.code = EventListLine;
  line.closeRequested = 1;
  line.number = 3;
  unsigned char b[kConsoleEventSize];
  EncodeConsoleEvent(line, b);
  EXPECT_EQ(get_i32(b + 4), 1);

  ConsoleEvent st;
  st.code = EventStatus;
  st.status = StatusValues{0x1F2, 15, 30, 60, 20, 4, kStateStopping};
  st.time = TWDatetime{5, 6};
  EncodeConsoleEvent(st, b);
  const int32_t want[] = {0x1F2, 15, 30, 60, 20, 4, kStateStopping};
  for (int i = 0; i < 7; ++i) EXPECT_EQ(get_i32(b + 4 + 4 * i), want[i]) << i;
  EXPECT_EQ(get_u32(b + 32), 5u);
  ConsoleEvent back;
  ASSERT_TRUE(DecodeConsoleEvent(b, sizeof b, &back));
  EXPECT_EQ(back.status.maxActivities, 4);
  EXPECT_EQ(back.status.state, kStateStopping);
  EXPECT_EQ(back.time.date, 6u);
}

TEST(ConsoleEventRecord, TextsAreCutTo255AndAlwaysEnded) {
  ConsoleEvent e;
  e.code = EventListLine;  // its text ends exactly at the record's end
  e.SetText(std::string(400, 'x'));
  EXPECT_EQ(std::string(e.text).size(), 255u);
  unsigned char b[kConsoleEventSize];
  EncodeConsoleEvent(e, b);
  EXPECT_EQ(b[kConsoleEventSize - 1], 0);

  // Received bytes without a NUL: the decoder still hands out an ended text.
  std::memset(b + 20, 'y', kConsoleEventSize - 20);
  ConsoleEvent back;
  ASSERT_TRUE(DecodeConsoleEvent(b, sizeof b, &back));
  EXPECT_EQ(std::string(back.text), std::string(255, 'y'));
}

TEST(PipeRecords, TravelWholeThroughInProcessPipes) {
  TWProcPipe* pipe = nullptr;
  ASSERT_EQ(TWProcPipeCreate(kConsoleEventPipeSize, &pipe), TWSUCCESS);
  ConsoleEvent e;
  e.code = EventKilled;
  e.number = kReasonTimedOut;
  e.SetText("Load orders");
  for (int i = 0; i < 32; ++i) ASSERT_EQ(PostConsoleEvent(pipe, e), TWSUCCESS);
  for (int i = 0; i < 32; ++i) {
    ConsoleEvent got;
    ASSERT_EQ(ReadConsoleEvent(pipe, &got), TWSUCCESS);
    EXPECT_EQ(got.number, kReasonTimedOut);
    EXPECT_STREQ(got.text, "Load orders");
  }
  EXPECT_FALSE(TWProcPipePeek(pipe));
  EXPECT_EQ(TWProcPipeDestroy(pipe), TWSUCCESS);
}

}  // namespace
}  // namespace tw::server
