// The whole road with real processes: an installation with Administrator and Log databases
// made by plexadm, twmain starting ctlstore, a due direct transfer taken and run by taskrun,
// its run logged, and twmain ending in order on "D" or on a signal; a running transfer closed
// from the console or closed or killed when the server stops; and a server or a control
// store killed in the middle of a run, after which the activity runs again at its next due
// time.
#include <gtest/gtest.h>
#include <sys/mount.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ostream>
#include <string>
#include <tuple>

#include "road_fixture.h"

namespace {

namespace fs = std::filesystem;
using road::Count;
using road::Has;
using road::kServer;
using road::kWaitMs;
using road::Twmain;
using road::Within;
namespace wire = tw::csmgr;

// How the activity's two links are made: their documents' items, and what the destination
// holds once the transfer ran.
struct Road {
  const char* name;
  const char* plugin;  // the connector, from the build's installation or its tests
  std::function<void(class RoadTest&)> links;
  std::function<std::string(class RoadTest&)> moved;
};

// How often the road's activity runs: once, as the main job's sample is defined, or every
// minute.
enum class Schedule { kOnce, kEveryMinute };

// Long enough for a sanitizer build on a loaded machine to close a run; the waits for a
// server's end allow for it.
constexpr int kGenerousCloseTimeout = 120;
constexpr int kCloseWaitMs = (kGenerousCloseTimeout + 30) * 1000;
// StatusInterval counts minutes; 0 would turn the status reports off.
constexpr int kShortestStatusInterval = 1;
// A runner whose server is gone ends within the status interval, which the wait allows for
// with the same margin.
constexpr int kIntervalWaitMs = (kShortestStatusInterval * 60 + 30) * 1000;

class RoadTest : public road::RoadFixture {
 protected:
  void MakeDatabases(const Road& road, int closeTimeout = 5, Schedule schedule = Schedule::kOnce,
                     int statusInterval = 5) {
    RoadFixture::MakeDatabases(closeTimeout, statusInterval);
    ASSERT_NO_FATAL_FAILURE(InstallPlugin(road.plugin));
    road.links(*this);
    std::vector<std::string> args = {"new",
                                     "qtwadm.odx",
                                     "Activity\\Direct Transfer",
                                     "Name=Road",
                                     "SrcLink=RoadSource",
                                     "DestLink=RoadTarget",
                                     "Overwrite:number=1"};
    if (schedule == Schedule::kOnce) {
      args.push_back("OneTime:number=1");
    } else {
      args.push_back("RepeatScope:number=1");
      args.push_back("RepeatInterval:number=1");
    }
    activity_ = std::stoi(Adm(args));
  }
  // Waits until n runs have reached slowlink's fetching; the process of the last.
  pid_t AwaitFetching(size_t n, const Twmain& server) {
    pid_t pid = -1;
    bool reached = Within(kWaitMs, [&] {
      std::vector<pid_t> pids = Fetching();
      if (pids.size() < n) return false;
      pid = pids[n - 1];
      return true;
    });
    EXPECT_TRUE(reached) << "run " << n << " never fetched:\n" << server.Out() << server.Err();
    return pid;
  }
  int activity_ = 0;
};

// The test connector keeplink on both sides: the source has two rows, the destination one
// that the overwrite empties; each leaves its table in a file.
const Road kKeeplink = {
    "keeplink", "keeplink.twx",
    [](RoadTest& t) {
      t.Adm({"new", "qtwadm.odx", "Link\\Ordex", "Name=RoadSource", "Library=keeplink",
             "Rows=1,alpha;2,beta", "Metadata=SRC", "PropNameList:textlist=Rows,Metadata",
             "PropTokenList:numberlist=1,65541"});
      t.Adm({"new", "qtwadm.odx", "Link\\Ordex", "Name=RoadTarget", "Library=keeplink",
             "Rows=9,old", "Metadata=DEST", "PropNameList:textlist=Rows,Metadata",
             "PropTokenList:numberlist=1,65541"});
    },
    [](RoadTest& t) { return twtest::ReadFile(t.path("keeplink.DEST.rows")); }};

// The text-file connector over two small files described by one ZID file.
const Road kFlatrec = {
    "flatrec", "flatrec.twx",
    [](RoadTest& t) {
      twtest::WriteFile(t.path("in.txt"), "1,alpha\n2,beta\n");
      twtest::WriteFile(t.path("rows.zid"), "ID TYPE NUMBER DELIM ,\nWORD TYPE TEXT\n");
      for (auto [name, file, kind] : {std::tuple{"RoadSource", "in.txt", "SOURCE"},
                                      std::tuple{"RoadTarget", "out.txt", "DESTINATION"}})
        t.Adm({"new", "qtwadm.odx", "Link\\Flatrec", std::string("Name=") + name,
               "Database=" + t.path(file), "ZID=@" + t.path("rows.zid"),
               std::string("Linktype=") + kind, "PropNameList:textlist=Database,ZID,Linktype",
               "PropTokenList:numberlist=65538,15,16"});
    },
    [](RoadTest& t) { return twtest::ReadFile(t.path("out.txt")); }};

// slowlink on both sides, its source never running dry: the run lasts until it is closed or
// killed. With "Deaf" the source's fetch outlasts CloseTimeout, so the run cannot close.
Road SlowRoad(bool deaf) {
  return {"slowlink", "slowlink.twx",
          [deaf](RoadTest& t) {
            if (deaf)
              t.Adm({"new", "qtwadm.odx", "Link\\Ordex", "Name=RoadSource", "Library=slowlink",
                     "Rows=1,alpha;2,beta", "Fail=Deaf", "PropNameList:textlist=Rows,Fail",
                     "PropTokenList:numberlist=1,4"});
            else
              t.Adm({"new", "qtwadm.odx", "Link\\Ordex", "Name=RoadSource", "Library=slowlink",
                     "Rows=1,alpha;2,beta", "PropNameList:textlist=Rows",
                     "PropTokenList:numberlist=1"});
            t.Adm({"new", "qtwadm.odx", "Link\\Ordex", "Name=RoadTarget", "Library=slowlink",
                   "Rows=9,old", "PropNameList:textlist=Rows", "PropTokenList:numberlist=1"});
          },
          [](RoadTest&) { return std::string(); }};
}

class RoadCase : public RoadTest, public ::testing::WithParamInterface<const Road*> {};

TEST_P(RoadCase, ADueTransferRunsInTaskrunIsLoggedAndTheServerShutsDownOnD) {
  const Road& road = *GetParam();
  if (!fs::exists(PluginPath(road.plugin))) GTEST_SKIP() << road.plugin << " is not built";
  ASSERT_NO_FATAL_FAILURE(MakeDatabases(road));

  Twmain server(inst_.path());
  ASSERT_TRUE(Within(kWaitMs, [&] { return Logged(); }))
      << server.Out() << server.Err() << ActivityLog();
  server.Type("D\n");
  EXPECT_EQ(server.Wait(kWaitMs), 0) << server.Err();

  std::string moved = road.moved(*this);
  EXPECT_TRUE(Has(moved, "alpha") && Has(moved, "beta") && !Has(moved, "old")) << moved;
  // A one-time activity runs once.
  std::string log = ActivityLog();
  EXPECT_EQ(Count(log, "\"Activity\",\"type\":\"text\",\"value\":\"Road\""), 1u) << log;
  EXPECT_TRUE(Has(log, "Activity started") && Has(log, "Activity finished")) << log;
  EXPECT_FALSE(Has(log, "Error")) << log;
  std::string out = server.Out();
  EXPECT_EQ(Count(out, "Activity started 'Road'."), 1u) << out;
  EXPECT_TRUE(Has(out, "Activity 'Road' completed successfully.")) << out;
  EXPECT_TRUE(Has(out, "Starting Shutdown...\nNormal Termination.\n")) << out;
  // The run is over: the activity is unlocked and no longer due at once.
  std::string doc = Adm({"export", "qtwadm.odx", "--form", "Activity\\Direct Transfer"});
  EXPECT_TRUE(Has(doc, "{\"name\":\"Lock\",\"type\":\"number\",\"value\":0.0}")) << doc;
  EXPECT_TRUE(Has(doc, "\"RanTime\"")) << doc;
  // The server took its control store and its table with it, and the last of them the run
  // directory.
  EXPECT_FALSE(TWIPCExists(wire::kPipeName, 0));
  TWProcShmem probe{};
  EXPECT_EQ(TWProcShmemMap(TWMSGTBL_SIZE, TWMSGTBL_NAME, &probe), nullptr);
  EXPECT_TRUE(Within(kWaitMs, [&] { return RunDirectoriesGone(); }));
}

INSTANTIATE_TEST_SUITE_P(Links, RoadCase, ::testing::Values(&kKeeplink, &kFlatrec),
                         [](const auto& test) { return std::string(test.param->name); });

// A signal other than SIGTERM (which asks for the orderly stop) ends the server at once.
TEST_F(RoadTest, ASignalEndsTheServerWithSixAfterItsCleanup) {
  ASSERT_NO_FATAL_FAILURE(MakeDatabases(kKeeplink));
  Twmain server(inst_.path());
  ASSERT_TRUE(Within(kWaitMs, [&] { return Logged(); })) << server.Out() << server.Err();
  server.Signal(SIGHUP);
  EXPECT_EQ(server.Wait(kWaitMs), 6);
  std::string err = server.Err();
  EXPECT_TRUE(Has(err,
                  "TWMAIN terminating because of signal 1, cleaning up.\n"
                  "TWMAIN termination cleanup successfull.\n"))
      << err;
  TWProcShmem probe{};
  EXPECT_EQ(TWProcShmemMap(TWMSGTBL_SIZE, TWMSGTBL_NAME, &probe), nullptr);
}

// A run's time-out is not tried here: MaxDuration counts whole minutes, so the shortest the
// scheduler honours is one minute.

TEST_F(RoadTest, ACloseFromTheConsoleEndsTheRunAsClosedByUser) {
  ASSERT_NO_FATAL_FAILURE(MakeDatabases(SlowRoad(false)));
  Twmain server(inst_.path());
  ASSERT_GT(AwaitFetching(1, server), 0);
  server.Type("C 1\n");
  ASSERT_TRUE(Within(kWaitMs, [&] { return Logged(); }))
      << server.Out() << server.Err() << ActivityLog();
  server.Type("D\n");
  EXPECT_EQ(server.Wait(kWaitMs), 0) << server.Err();

  std::string log = ActivityLog();
  EXPECT_TRUE(Has(log, "Activity Closed By User")) << log;
  EXPECT_EQ(Fetching().size(), 1u);
  std::string out = server.Out();
  EXPECT_EQ(Count(out, "Activity started 'Road'."), 1u) << out;
  EXPECT_TRUE(Has(out, "Activity 'Road' closed successfully (user request).")) << out;
  EXPECT_TRUE(Has(out, "Normal Termination.\n")) << out;
  std::string doc = Adm({"export", "qtwadm.odx", "--form", "Activity\\Direct Transfer"});
  EXPECT_TRUE(Has(doc, "{\"name\":\"Lock\",\"type\":\"number\",\"value\":0.0}")) << doc;
}

// Stopping the server with a run going: the run is asked to close and, when it cannot, killed
// once CloseTimeout has passed; either way the server ends in order.
struct StopCase {
  const char* name;
  bool deaf;
  int closeTimeout;
  const char* completion;  // as logged
  const char* message;     // on the console
};
void PrintTo(const StopCase& c, std::ostream* os) {
  *os << c.name;
}

class RoadStop : public RoadTest, public ::testing::WithParamInterface<StopCase> {};

TEST_P(RoadStop, StoppingTheServerEndsTheRunningActivityAndTheServer) {
  const StopCase& c = GetParam();
  ASSERT_NO_FATAL_FAILURE(MakeDatabases(SlowRoad(c.deaf), c.closeTimeout));
  Twmain server(inst_.path());
  // The run is inside its (deaf) fetching when the close comes.
  ASSERT_GT(AwaitFetching(1, server), 0);
  server.Type("P\n");
  server.Type("Y\n");
  EXPECT_EQ(server.Wait(kCloseWaitMs), 0) << server.Err();

  std::string out = server.Out();
  EXPECT_TRUE(Has(out, c.message)) << out;
  EXPECT_TRUE(Has(out, "Normal Termination.\n")) << out;
  std::string log = ActivityLog();
  EXPECT_TRUE(Has(log, c.completion)) << log;
  EXPECT_FALSE(TWIPCExists(wire::kPipeName, 0));
  TWProcShmem probe{};
  EXPECT_EQ(TWProcShmemMap(TWMSGTBL_SIZE, TWMSGTBL_NAME, &probe), nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    Runs, RoadStop,
    ::testing::Values(
        StopCase{"Closes", false, kGenerousCloseTimeout, "Activity Closed During Stop",
                 "Activity 'Road' closed successfully (server is stopping)."},
        StopCase{"IgnoresTheClose", true, 1, "Activity Killed During Stop",
                 "Activity 'Road' was killed (server is stopping, and could not close)."}),
    [](const auto& test) { return std::string(test.param.name); });

// ---------------------------------------------------------------- crashes ----------------

// twmain killed in the middle of a run: its runner closes the run by itself, and the server
// started again (with the control store the first one left) registers anew, which logs the
// run as terminated abnormally and unlocks the activity: it runs at its next due time.
TEST_F(RoadTest, AfterTheServerIsKilledItsRunnerClosesAndARestartedServerRunsTheActivityAgain) {
  ASSERT_NO_FATAL_FAILURE(
      MakeDatabases(SlowRoad(false), kGenerousCloseTimeout, Schedule::kEveryMinute));
  Twmain first(inst_.path());
  const pid_t runner = AwaitFetching(1, first);
  ASSERT_GT(runner, 0);
  const std::vector<pid_t> store = first.Members("ctlstore");
  ASSERT_EQ(store.size(), 1u);
  first.Kill();
  EXPECT_TRUE(Within(kCloseWaitMs, [&] { return !road::Runs(runner); }))
      << "the runner of a killed server runs on";

  Twmain second(inst_.path());
  // The activity is due a minute after the run that was cut off.
  ASSERT_TRUE(Within(kWaitMs, [&] { return MoveStoreClock(2) == TWSUCCESS; }));
  ASSERT_GT(AwaitFetching(2, second), 0) << ActivityLog();
  // The control store of the first server served the second.
  EXPECT_EQ(first.Members("ctlstore"), store);
  EXPECT_TRUE(second.Members("ctlstore").empty());
  second.Type("P\nY\n");
  EXPECT_EQ(second.Wait(kCloseWaitMs), 0) << second.Err();

  std::string log = ActivityLog();
  EXPECT_EQ(Count(log, "Activity terminated abnormally"), 1u) << log;
  EXPECT_EQ(Count(log, "Activity Closed During Stop"), 1u) << log;
  // The server's log of the killed run is ended, as the start-up of a control store ends it.
  std::string servers = Adm({"export", "qtwlog.odx", "--form", "Server"});
  EXPECT_TRUE(Has(servers, "Tarnway terminated abnormally")) << servers;
  EXPECT_TRUE(Has(servers, std::string("cleanup performed by '") + kServer + "'")) << servers;
  EXPECT_EQ(Count(second.Out(), "Activity started 'Road'."), 1u) << second.Out();
}

// A runner that ignores its close outlives its killed server: with CloseTimeout 0, as an
// installed server has it, nobody kills it, and a server on another machine takes the killed
// server's runs over (and may start them again) once its last report is four status
// intervals old. The runner ends itself within one interval, whether the control store
// lives on or was killed with the server; meanwhile the server started again leaves the
// activity locked, though it is due, records the old run as terminated abnormally once it
// has ended and runs the activity again: the two runs never overlap.
struct OrphanCase {
  const char* name;
  bool storeKilled;
};
void PrintTo(const OrphanCase& c, std::ostream* os) {
  *os << c.name;
}

class RoadOrphan : public RoadTest, public ::testing::WithParamInterface<OrphanCase> {};

TEST_P(RoadOrphan, ADeafRunnerOfAKilledServerEndsWithinTheStatusIntervalAndRunsOnceAtATime) {
  ASSERT_NO_FATAL_FAILURE(
      MakeDatabases(SlowRoad(true), 0, Schedule::kEveryMinute, kShortestStatusInterval));
  Twmain first(inst_.path());
  const pid_t runner = AwaitFetching(1, first);
  ASSERT_GT(runner, 0);
  const std::vector<pid_t> store = first.Members("ctlstore");
  ASSERT_EQ(store.size(), 1u);
  first.Kill();
  if (GetParam().storeKilled) {
    ::kill(store[0], SIGKILL);
    ASSERT_TRUE(Within(kWaitMs, [&] { return !road::Runs(store[0]); }));
  }

  Twmain second(inst_.path());
  ASSERT_TRUE(Within(kWaitMs, [&] { return MoveStoreClock(2) == TWSUCCESS; }));
  // The deaf fetch lasts well beyond the interval: only the runner itself ends it so soon.
  bool overlapped = false;
  EXPECT_TRUE(Within(kIntervalWaitMs, [&] {
    const bool runs = road::Runs(runner);
    overlapped = overlapped || (runs && Fetching().size() > 1);
    return !runs;
  })) << "the deaf runner of the killed server outlived the status interval";
  EXPECT_FALSE(overlapped) << "a second run started while the first still ran";
  ASSERT_GT(AwaitFetching(2, second), 0) << second.Out() << ActivityLog();

  std::string log = ActivityLog();
  EXPECT_EQ(Count(log, "Activity terminated abnormally"), 1u) << log;
  // The runner may fetch before the console has shown its start.
  const auto started = [&] { return Count(second.Out(), "Activity started 'Road'."); };
  EXPECT_TRUE(Within(kWaitMs, [&] { return started() > 0; })) << second.Out();
  EXPECT_EQ(started(), 1u) << second.Out();
}

INSTANTIATE_TEST_SUITE_P(Crashes, RoadOrphan,
                         ::testing::Values(OrphanCase{"StoreLivesOn", false},
                                           OrphanCase{"StoreKilledToo", true}),
                         [](const auto& test) { return std::string(test.param.name); });

// The control store killed in the middle of a run: the server starts another at its next
// poll, registers with it, closes the run the lost one handed out, and runs the activity at
// its next due time.
TEST_F(RoadTest, AfterTheControlStoreIsKilledTheServerStartsAnotherAndRunsTheActivityAgain) {
  ASSERT_NO_FATAL_FAILURE(
      MakeDatabases(SlowRoad(false), kGenerousCloseTimeout, Schedule::kEveryMinute));
  Twmain server(inst_.path());
  const pid_t runner = AwaitFetching(1, server);
  ASSERT_GT(runner, 0);
  const std::vector<pid_t> store = server.Members("ctlstore");
  ASSERT_EQ(store.size(), 1u);
  ::kill(store[0], SIGKILL);
  ASSERT_TRUE(Within(kWaitMs,
                     [&] {
                       std::vector<pid_t> now = server.Members("ctlstore");
                       return now.size() == 1 && now != store && TWIPCExists(wire::kPipeName, 0);
                     }))
      << server.Out() << server.Err();
  EXPECT_TRUE(Within(kCloseWaitMs, [&] { return !road::Runs(runner); }))
      << "the run of the lost control store was not closed:\n"
      << server.Out();

  ASSERT_TRUE(Within(kWaitMs, [&] { return MoveStoreClock(2) == TWSUCCESS; }));
  ASSERT_GT(AwaitFetching(2, server), 0) << ActivityLog();
  server.Type("P\nY\n");
  EXPECT_EQ(server.Wait(kCloseWaitMs), 0) << server.Err();

  std::string out = server.Out();
  EXPECT_EQ(Count(out, "Activity started 'Road'."), 2u) << out;
  EXPECT_TRUE(Has(out, "Normal Termination.\n")) << out;
  std::string log = ActivityLog();
  EXPECT_EQ(Count(log, "Activity terminated abnormally"), 1u) << log;
  EXPECT_EQ(Count(log, "Activity Closed During Stop"), 1u) << log;
}

}  // namespace

// A small file system of its own (tmpfs, when this process may mount one), unmounted on
// every path.
class SmallFileSystem {
 public:
  SmallFileSystem(const std::string& dir, const char* size) : dir_(dir) {
    fs::create_directories(dir);
    mounted_ = ::mount("tmpfs", dir.c_str(), "tmpfs", MS_NOSUID | MS_NODEV,
                       (std::string("size=") + size).c_str()) == 0;
  }
  ~SmallFileSystem() {
    if (mounted_) {
      EXPECT_EQ(::umount2(dir_.c_str(), MNT_DETACH), 0) << std::strerror(errno);
    }
  }
  bool mounted() const { return mounted_; }
  SmallFileSystem(const SmallFileSystem&) = delete;
  SmallFileSystem& operator=(const SmallFileSystem&) = delete;

 private:
  std::string dir_;
  bool mounted_ = false;
};

class FullDiskRoad : public road::RoadFixture {};

// A text file filling its file system ends the run in error, and the file ends at the last
// record that was written whole, as a reader of it expects: never inside a record.
TEST_F(FullDiskRoad, ATextFileOnAFullFileSystemEndsAtItsLastWholeRecord) {
  if (!fs::exists(PluginPath("flatrec.twx"))) GTEST_SKIP() << "flatrec.twx is not built";
  SmallFileSystem full(path("full"), "64k");
  if (!full.mounted()) GTEST_SKIP() << "no small file system can be mounted here";
  MakeDatabases();
  ASSERT_NO_FATAL_FAILURE(InstallPlugin("flatrec.twx"));
  // Records of uneven length, far more than the file system holds.
  std::string records;
  for (int i = 1; i <= 20000; ++i)
    records += (i > 1 ? "\n" : "") + std::to_string(i * 7) + ",Name " + std::to_string(i);
  twtest::WriteFile(inst_ / "in.txt", records);
  twtest::WriteFile(inst_ / "rows.zid", "ID TYPE NUMBER DELIM ,\nNAME TYPE TEXT\n");
  TextLink("Rows", "in.txt", "rows.zid", "SOURCE");
  TextLink("Full", "full/out.txt", "rows.zid", "DESTINATION");

  const std::string console = RunLegs({{"Fill", "Rows", "Full"}}, {});
  EXPECT_FALSE(Has(console, "Activity 'Fill' completed successfully.")) << console;
  const std::string log = ActivityLog();
  EXPECT_TRUE(Has(log, "Unable to write file: " + path("full/out.txt") + " (No space left")) << log;
  EXPECT_FALSE(Has(log, "Unable to cut file")) << log;
  const std::string out = twtest::ReadFile(path("full/out.txt"));
  ASSERT_FALSE(out.empty());
  ASSERT_LT(out.size(), records.size());
  EXPECT_EQ(records.compare(0, out.size(), out), 0) << "the file holds what was sent";
  EXPECT_EQ(records[out.size()], '\n') << "the file ends inside a record: ..."
                                       << out.substr(out.size() - std::min<size_t>(out.size(), 20));
}
