// INI files: reading, listing, capacity, rewriting, atomic replacement under
// failures, and concurrent writers in threads and processes.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "env.h"
#include "platform.h"

namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

std::string read_all(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void write_all(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

std::string crlf(std::string text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

// The value read by TWINIGetString with a roomy buffer.
struct Got {
  uint32_t status;
  std::string value;
};
Got get(const std::string& section, const char* key, const std::string& file) {
  char buf[1024];
  std::memset(buf, 'x', sizeof buf);
  uint32_t st = TWINIGetString(section.c_str(), key, buf, sizeof buf, file.c_str());
  return {st, std::string(buf)};
}

class IniTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string tmpl = ::testing::TempDir() + "ini_test.XXXXXX";
    std::vector<char> name(tmpl.begin(), tmpl.end());
    name.push_back('\0');
    ASSERT_NE(::mkdtemp(name.data()), nullptr);
    dir_ = name.data();
    file_ = dir_ + "/twmain.ini";
  }
  void TearDown() override {
    tw::Env::Set(nullptr);
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  // Names in the directory other than the INI file and its lock file.
  std::vector<std::string> strays() const {
    std::vector<std::string> out;
    for (const auto& e : fs::directory_iterator(dir_)) {
      std::string n = e.path().filename().string();
      if (n != "twmain.ini" && n != "twmain.ini.lock") out.push_back(n);
    }
    return out;
  }
  ino_t inode() const {
    struct stat st {};
    return ::stat(file_.c_str(), &st) == 0 ? st.st_ino : 0;
  }

  std::string dir_;
  std::string file_;
};

// ------------------------------------------------------------------ reading ---------

const std::string kLong(300, 'x');

std::string sample() {
  return "; comment\n"
         "[Configuration]\n"
         "Version=23\n"
         "SNMP=1\n"
         "SNMPX=7\n"
         "Empty=\n"
         "NoEq\n"
         "Long=" +
         kLong +
         "\n"
         "\n"
         "[Other]\n"
         "Version=99\n"
         "[X]\n"
         "SNMPX=5\n"
         "[Trail] ; text after the bracket\n"
         "A=b\n"
         "[cased]\n"
         "Key=v\n"
         "[Last]\n"
         "Final=end";  // no line end
}

TEST_F(IniTest, GetFindsValuesInCrlfAndLfFiles) {
  struct Case {
    const char* section;
    const char* key;
    uint32_t status;
    std::string value;
  } cases[] = {
      {"Configuration", "Version", 0, "23"},
      {"configuration", "VERSION", 0, "23"},
      {"Configuration", "snmp", 0, "1"},  // "snmp" finds "SNMP"
      {"Configuration", "SNMPX", 0, "7"},
      {"Configuration", "SNM", TWFAIL_INI_MISSING_KEY, ""},  // "SNMP" is a longer key
      {"X", "SNMP", TWFAIL_INI_MISSING_KEY, ""},             // "SNMPX" is not "SNMP"
      {"X", "snmpx", 0, "5"},
      {"Configuration", "Empty", TWFAIL_INI_MISSING_KEY, ""},  // empty value
      {"Configuration", "NoEq", TWFAIL_INI_MISSING_KEY, ""},   // entry without "="
      {"Configuration", "Long", 0, kLong},                     // longer than 255
      {"Configuration", "Missing", TWFAIL_INI_MISSING_KEY, ""},
      {"Other", "Version", 0, "99"},
      {"Other", "SNMP", TWFAIL_INI_MISSING_KEY, ""},  // the section ends at the next "["
      {"Nowhere", "Version", TWFAIL_INI_MISSING_KEY, ""},
      {"Trail", "A", 0, "b"},  // text after "]" is ignored
      {"CASED", "key", 0, "v"},
      {"Last", "Final", 0, "end"},  // last line without a line end
  };
  for (bool windows : {false, true}) {
    write_all(file_, windows ? crlf(sample()) : sample());
    for (const Case& c : cases) {
      Got g = get(c.section, c.key, file_);
      EXPECT_EQ(g.status, c.status) << c.section << "/" << c.key << " crlf=" << windows;
      EXPECT_EQ(g.value, c.value) << c.section << "/" << c.key << " crlf=" << windows;
    }
  }
}

TEST_F(IniTest, GetOfMissingFileIs535AndEmptiesTheBuffer) {
  char buf[8] = "garbage";
  EXPECT_EQ(TWINIGetString("S", "K", buf, sizeof buf, file_.c_str()), TWFAIL_INI_ACCESS);
  EXPECT_EQ(buf[0], '\0');
  std::memcpy(buf, "garbage", 8);
  EXPECT_EQ(TWINIGetString("S", nullptr, buf, sizeof buf, file_.c_str()), TWFAIL_INI_ACCESS);
  EXPECT_EQ(buf[0], '\0');
  EXPECT_EQ(buf[1], '\0');
}

TEST_F(IniTest, GetOfMissingSectionIs534) {
  write_all(file_, "[A]\r\nK=V\r\n");
  EXPECT_EQ(get("B", "K", file_).status, TWFAIL_INI_MISSING_KEY);
}

TEST_F(IniTest, NullBufferOnlyTellsWhetherTheKeyIsThere) {
  write_all(file_, "[A]\r\nK=V\r\nE=\r\n");
  EXPECT_EQ(TWINIGetString("A", "K", nullptr, 0, file_.c_str()), 0u);
  EXPECT_EQ(TWINIGetString("A", "K", nullptr, 100, file_.c_str()), 0u);
  EXPECT_EQ(TWINIGetString("A", "E", nullptr, 100, file_.c_str()), TWFAIL_INI_MISSING_KEY);
  EXPECT_EQ(TWINIGetString("A", "Z", nullptr, 100, file_.c_str()), TWFAIL_INI_MISSING_KEY);
  EXPECT_EQ(TWINIGetString("A", nullptr, nullptr, 100, file_.c_str()), 0u);
  EXPECT_EQ(TWINIGetString("B", nullptr, nullptr, 100, file_.c_str()), TWFAIL_INI_MISSING_KEY);
}

// ------------------------------------------------------------------ listing ---------

std::string listing(const char* section, const char* key, const std::string& file,
                    uint32_t* status) {
  char buf[256];
  std::memset(buf, 'x', sizeof buf);
  *status = TWINIGetString(section, key, buf, sizeof buf, file.c_str());
  // Up to and including the double NUL.
  size_t n = 0;
  while (n + 1 < sizeof buf && !(buf[n] == '\0' && (n == 0 || buf[n - 1] == '\0'))) ++n;
  if (n == 0) return std::string(buf, 2);
  return std::string(buf, n + 1);
}

TEST_F(IniTest, ListingGivesTheSectionsLinesEachEndedByNulAndAFinalNul) {
  struct Case {
    const char* section;
    const char* key;
    uint32_t status;
    std::string list;
  } cases[] = {
      {"S", nullptr, 0, "A=1\0B=2\0Bare\0\0"s},
      {"S", "", 0, "A=1\0B=2\0Bare\0\0"s},
      {"s", nullptr, 0, "A=1\0B=2\0Bare\0\0"s},
      {"Empty", nullptr, TWFAIL_INI_MISSING_KEY, "\0\0"s},
      {"Comments", nullptr, TWFAIL_INI_MISSING_KEY, "\0\0"s},
      {"Missing", nullptr, TWFAIL_INI_MISSING_KEY, "\0\0"s},
      {"Tail", nullptr, 0, "Z=26\0\0"s},  // last line without a line end
  };
  std::string text =
      "[S]\n; a comment\nA=1\n\nB=2\nBare\n\n[Empty]\n\n[Comments]\n;x=1\n[Tail]\nZ=26";
  for (bool windows : {false, true}) {
    write_all(file_, windows ? crlf(text) : text);
    for (const Case& c : cases) {
      uint32_t st;
      std::string got = listing(c.section, c.key, file_, &st);
      EXPECT_EQ(st, c.status) << c.section << " crlf=" << windows;
      EXPECT_EQ(got, c.list) << c.section << " crlf=" << windows;
    }
  }
}

// ------------------------------------------------------------------ capacity --------

TEST_F(IniTest, ValueIsCutToTheCapacityAndNothingPastItIsWritten) {
  write_all(file_, "[S]\r\nK=abcdef\r\n");
  for (size_t size = 0; size <= 9; ++size) {
    char buf[32];
    std::memset(buf, 0x7F, sizeof buf);
    EXPECT_EQ(TWINIGetString("S", "K", buf, size, file_.c_str()), 0u) << size;
    for (size_t i = size; i < sizeof buf; ++i) ASSERT_EQ(buf[i], 0x7F) << size << " at " << i;
    if (size == 0) continue;
    std::string expect = std::string("abcdef").substr(0, size - 1);
    EXPECT_EQ(std::string(buf), expect) << size;
  }
}

TEST_F(IniTest, ListingIsCutAtAWholeEntryAndStillEndsWithTheDoubleNul) {
  write_all(file_, "[S]\r\nA=1\r\nBB=22\r\nCCC=333\r\n");
  const std::vector<std::string> entries = {"A=1", "BB=22", "CCC=333"};
  for (size_t size = 0; size <= 24; ++size) {
    char buf[40];
    std::memset(buf, 0x7F, sizeof buf);
    EXPECT_EQ(TWINIGetString("S", nullptr, buf, size, file_.c_str()), 0u) << size;
    for (size_t i = size; i < sizeof buf; ++i) ASSERT_EQ(buf[i], 0x7F) << size << " at " << i;
    if (size == 0) continue;
    if (size == 1) {
      EXPECT_EQ(buf[0], '\0');
      continue;
    }
    std::string expect;
    for (const std::string& e : entries) {
      if (expect.size() + e.size() + 2 > size) break;
      expect += e;
      expect += '\0';
    }
    expect += '\0';
    if (expect.size() == 1) expect += '\0';  // an empty list is two NULs
    EXPECT_EQ(std::string(buf, expect.size()), expect) << size;
  }
}

// ------------------------------------------------------------------ writing ---------

TEST_F(IniTest, SetAndRemoveRewriteTheFileAsDescribed) {
  const std::string longLine = "L=" + std::string(400, 'q');
  struct Case {
    const char* what;
    std::optional<std::string> before;  // nullopt: no file
    const char* section;
    const char* key;
    const char* value;  // null removes
    std::string after;
  } cases[] = {
      {"insert after the last non-empty line, before two empty lines and the next section",
       "[A]\r\nX=1\r\n\r\n\r\n[B]\r\nY=2\r\n", "A", "K", "V",
       "[A]\r\nX=1\r\nK=V\r\n\r\n\r\n[B]\r\nY=2\r\n"},
      {"empty lines inside the section stay", "[A]\r\nX=1\r\n\r\nZ=3\r\n\r\n[B]\r\n", "A", "K", "V",
       "[A]\r\nX=1\r\n\r\nZ=3\r\nK=V\r\n\r\n[B]\r\n"},
      {"insert at the end of the file before held empty lines", "[A]\r\nX=1\r\n\r\n", "A", "K", "V",
       "[A]\r\nX=1\r\nK=V\r\n\r\n"},
      {"replace with the caller's spelling", "[A]\r\nk=old\r\nZ=1\r\n", "A", "K", "new",
       "[A]\r\nK=new\r\nZ=1\r\n"},
      {"replace only in the named section", "[B]\r\nK=b\r\n[A]\r\nK=a\r\n", "a", "K", "z",
       "[B]\r\nK=b\r\n[A]\r\nK=z\r\n"},
      {"remove", "[A]\r\nX=1\r\n\r\nK=V\r\n[B]\r\n", "A", "K", nullptr,
       "[A]\r\nX=1\r\n\r\n[B]\r\n"},
      {"section missing: empty line, section, key", "[A]\r\nX=1\r\n", "S", "K", "V",
       "[A]\r\nX=1\r\n\r\n[S]\r\nK=V\r\n"},
      {"missing file", std::nullopt, "S", "K", "V", "[S]\r\nK=V\r\n"},
      {"empty file", "", "S", "K", "V", "[S]\r\nK=V\r\n"},
      {"LF file is written with CRLF", "[A]\nX=1\n[B]\nY=2\n", "B", "K", "V",
       "[A]\r\nX=1\r\n[B]\r\nY=2\r\nK=V\r\n"},
      {"last line without line end, same section", "[A]\r\nX=1", "A", "K", "V",
       "[A]\r\nX=1\r\nK=V\r\n"},
      {"last line without line end, other section", "[A]\r\nX=1\r\n[B]\r\nY=2", "A", "K", "V",
       "[A]\r\nX=1\r\nK=V\r\n[B]\r\nY=2\r\n"},
      {"last line without line end, new section", "[A]\r\nX=1", "S", "K", "V",
       "[A]\r\nX=1\r\n\r\n[S]\r\nK=V\r\n"},
      {"long lines are kept", "[A]\r\n" + longLine + "\r\n[B]\r\n", "B", "K", "V",
       "[A]\r\n" + longLine + "\r\n[B]\r\nK=V\r\n"},
      {"replace a long line", "[A]\r\nK=" + std::string(300, 'w') + "\r\nZ=1\r\n", "A", "K", "s",
       "[A]\r\nK=s\r\nZ=1\r\n"},
      {"SNMP does not replace SNMPX", "[A]\r\nSNMPX=1\r\n", "A", "SNMP", "2",
       "[A]\r\nSNMPX=1\r\nSNMP=2\r\n"},
      {"empty value", "[A]\r\n", "A", "K", "", "[A]\r\nK=\r\n"},
      {"entry without =", "[A]\r\nK\r\n", "A", "K", "1", "[A]\r\nK=1\r\n"},
      {"text after ] is ignored", "[A] ; c\r\nX=1\r\n", "A", "K", "V", "[A] ; c\r\nX=1\r\nK=V\r\n"},
      {"section matched without regard to case", "[a]\r\n", "A", "K", "V", "[a]\r\nK=V\r\n"},
      {"value holding = and blanks", "[A]\r\n", "A", "K", "x = y", "[A]\r\nK=x = y\r\n"},
  };
  for (const Case& c : cases) {
    std::error_code ec;
    fs::remove(file_, ec);
    if (c.before) write_all(file_, *c.before);
    EXPECT_EQ(TWINISetString(c.section, c.key, c.value, file_.c_str()), 0u) << c.what;
    EXPECT_EQ(read_all(file_), c.after) << c.what;
    Got g = get(c.section, c.key, file_);
    if (c.value == nullptr || *c.value == '\0') {
      EXPECT_EQ(g.status, TWFAIL_INI_MISSING_KEY) << c.what;
      EXPECT_EQ(g.value, "") << c.what;
    } else {
      EXPECT_EQ(g.status, 0u) << c.what;
      EXPECT_EQ(g.value, c.value) << c.what;
    }
    EXPECT_TRUE(strays().empty()) << c.what;
  }
}

TEST_F(IniTest, CallsThatChangeNothingLeaveTheFileByteIdentical) {
  struct Case {
    const char* what;
    std::string before;
    const char* section;
    const char* key;
    const char* value;
  } cases[] = {
      {"remove of a missing key", "[A]\nX=1\n\n[B]\nY=2", "A", "K", nullptr},
      {"remove of a key of another section", "[A]\r\nX=1\r\n[B]\r\nK=2\r\n", "A", "K", nullptr},
      {"remove in the last section", "[A]\r\nX=1\r\n", "A", "K", nullptr},
      {"remove in a missing section", "[A]\r\nK=1\r\n", "S", "K", nullptr},
      {"set of the value already there", "[A]\r\nK=V\r\n", "A", "K", "V"},
  };
  for (const Case& c : cases) {
    write_all(file_, c.before);
    ino_t before = inode();
    EXPECT_EQ(TWINISetString(c.section, c.key, c.value, file_.c_str()), 0u) << c.what;
    EXPECT_EQ(read_all(file_), c.before) << c.what;
    EXPECT_EQ(inode(), before) << c.what << ": the file was rewritten";
  }
}

TEST_F(IniTest, RemoveOnAMissingFileCreatesNothing) {
  EXPECT_EQ(TWINIRemoveString("S", "K", file_.c_str()), 0u);
  EXPECT_FALSE(fs::exists(file_));
  EXPECT_TRUE(strays().empty());
}

TEST_F(IniTest, RemoveStringIsSetWithANullValue) {
  write_all(file_, "[S]\r\nA=1\r\nK=2\r\nB=3\r\n");
  EXPECT_EQ(TWINIRemoveString("S", "k", file_.c_str()), 0u);
  EXPECT_EQ(read_all(file_), "[S]\r\nA=1\r\nB=3\r\n");
}

TEST_F(IniTest, LineBreaksAndUnreadableNamesAreRefusedAndTheFileIsUntouched) {
  struct Case {
    const char* section;
    const char* key;
    const char* value;
  } cases[] = {
      {"S\r", "K", "V"},  {"S\n", "K", "V"},  {"S", "K\r", "V"},    {"S", "\nK", "V"},
      {"S", "K", "a\nb"}, {"S", "K", "a\rb"}, {"S", "K", "ab\r\n"}, {"S", "K\n", nullptr},
      {"S", "a=b", "V"},  {"S", "[K", "V"},   {"a]b", "K", "V"},
  };
  const std::string before = "[S]\r\nK=1\r\n";
  for (const Case& c : cases) {
    write_all(file_, before);
    EXPECT_EQ(TWINISetString(c.section, c.key, c.value, file_.c_str()), TWFAIL_INI_ACCESS)
        << c.section << "/" << c.key;
    EXPECT_EQ(read_all(file_), before);
    fs::remove(file_);
    EXPECT_EQ(TWINISetString(c.section, c.key, c.value, file_.c_str()), TWFAIL_INI_ACCESS);
    EXPECT_FALSE(fs::exists(file_));
  }
}

TEST_F(IniTest, MissingArguments) {
  EXPECT_EQ(TWINISetString("S", nullptr, "V", file_.c_str()), TWFAIL_INI_MISSING_KEY);
  EXPECT_EQ(TWINISetString("S", "", "V", file_.c_str()), TWFAIL_INI_MISSING_KEY);
  EXPECT_EQ(TWINISetString(nullptr, "K", "V", file_.c_str()), TWFAIL_INI_ACCESS);
  EXPECT_EQ(TWINISetString("S", "K", "V", nullptr), TWFAIL_INI_ACCESS);
  EXPECT_EQ(TWINIGetString(nullptr, "K", nullptr, 0, file_.c_str()), TWFAIL_INI_ACCESS);
  EXPECT_EQ(TWINIGetString("S", "K", nullptr, 0, nullptr), TWFAIL_INI_ACCESS);
  EXPECT_EQ(TWINIDelete(nullptr), 0);
  EXPECT_FALSE(fs::exists(file_));
}

TEST_F(IniTest, SetInAMissingDirectoryIs536) {
  std::string file = dir_ + "/no/such/dir/x.ini";
  EXPECT_EQ(TWINISetString("S", "K", "V", file.c_str()), TWFAIL_INI_OPEN);
}

// A write leaves nothing but the file, with the modes it had; a delete leaves nothing.
TEST_F(IniTest, WriteKeepsModesAndLeavesNoLockFile) {
  write_all(file_, "[S]\r\nK=V\r\n");
  ASSERT_EQ(::chmod(file_.c_str(), 0600), 0);
  EXPECT_EQ(TWINISetString("S", "K", "W", file_.c_str()), 0u);
  EXPECT_FALSE(fs::exists(file_ + ".lock"));
  EXPECT_EQ(fs::status(file_).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(TWINIDelete(file_.c_str()), 1);
  EXPECT_TRUE(fs::is_empty(dir_));
  EXPECT_EQ(TWINIDelete(file_.c_str()), 0);
  EXPECT_TRUE(fs::is_empty(dir_));
}

TEST_F(IniTest, RelativeNamesLieInTheInstallationDirectory) {
  // Before TWPlatInit the installation directory is "", so the name is taken as it is.
  std::string base = TWFileExeDir();
  std::string where = base.empty() ? dir_ + "/" : base;
  std::string cwd = fs::current_path();
  fs::current_path(dir_);
  std::string name = "rel" + std::to_string(::getpid()) + ".ini";
  EXPECT_EQ(TWINISetString("S", "K", "V", name.c_str()), 0u);
  EXPECT_EQ(read_all(where + name), "[S]\r\nK=V\r\n");
  EXPECT_EQ(get("S", "K", name).value, "V");
  EXPECT_EQ(TWINIDelete(name.c_str()), 1);
  EXPECT_FALSE(fs::exists(where + name));
  fs::current_path(cwd);
}

// A holder that removes the lock file before unlocking (as TWINIDelete does) must not let
// a waiter on the removed file and a newcomer on a new file hold the lock together.
TEST_F(IniTest, LockSurvivesTheRemovalOfItsFile) {
  tw::Env* env = tw::Env::Default();
  const std::string lock = file_ + ".lock";
  std::atomic<int> inside{0}, most{0};
  auto hold = [&] {
    int fd = env->Lock(lock);
    ASSERT_GE(fd, 0);
    int now = ++inside;
    int seen = most.load();
    while (now > seen && !most.compare_exchange_weak(seen, now)) {
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    --inside;
    env->Unlock(fd);
  };
  int first = env->Lock(lock);
  ASSERT_GE(first, 0);
  std::thread waiter(hold);  // blocks on the file that is about to be removed
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  ASSERT_TRUE(env->Remove(lock));
  env->Unlock(first);
  std::thread newcomer(hold);  // finds no file and creates a new one
  waiter.join();
  newcomer.join();
  EXPECT_EQ(most.load(), 1);
}

// ------------------------------------------------------------------ failures --------

// Fails the Nth of the file operations of a replacement (counted from 1), once.
class FailNth : public tw::EnvWrapper {
 public:
  FailNth(tw::Env* target, int n) : EnvWrapper(target), n_(n) {}
  int CreateExclusive(const std::string& p) override {
    if (hit("CreateExclusive")) return fail(-1);
    return target_->CreateExclusive(p);
  }
  bool Write(int fd, std::string_view d) override {
    if (hit("Write")) return fail(false);
    return target_->Write(fd, d);
  }
  bool Sync(int fd) override {
    if (hit("Sync")) return fail(false);
    return target_->Sync(fd);
  }
  bool Close(int fd) override {
    bool ok = target_->Close(fd);  // the descriptor is released either way
    if (hit("Close")) return fail(false);
    return ok;
  }
  bool Rename(const std::string& f, const std::string& t) override {
    if (hit("Rename")) return fail(false);
    return target_->Rename(f, t);
  }
  const std::string& failed() const { return failed_; }

 private:
  bool hit(const char* op) {
    if (++count_ != n_) return false;
    failed_ = op;
    return true;
  }
  template <class T>
  T fail(T v) {
    errno = EIO;
    return v;
  }
  int n_;
  int count_ = 0;
  std::string failed_;
};

TEST_F(IniTest, AFailedReplacementLeavesTheFileAndNoTemporary) {
  struct Case {
    const char* what;
    std::optional<std::string> before;
    const char* key;
    const char* value;
    std::string after;
  } cases[] = {
      {"update", "[S]\r\nA=1\r\n\r\n[T]\r\nB=2\r\n", "K", "V",
       "[S]\r\nA=1\r\nK=V\r\n\r\n[T]\r\nB=2\r\n"},
      {"remove", "[S]\r\nA=1\r\nK=2\r\n", "K", nullptr, "[S]\r\nA=1\r\n"},
      {"create", std::nullopt, "K", "V", "[S]\r\nK=V\r\n"},
  };
  for (const Case& c : cases) {
    std::set<std::string> failedOps;
    bool done = false;
    for (int n = 1; n <= 50 && !done; ++n) {
      std::error_code ec;
      fs::remove(file_, ec);
      if (c.before) write_all(file_, *c.before);
      FailNth env(tw::Env::Default(), n);
      tw::Env::Set(&env);
      uint32_t st = TWINISetString("S", c.key, c.value, file_.c_str());
      tw::Env::Set(nullptr);
      if (env.failed().empty()) {
        EXPECT_EQ(st, 0u) << c.what << " n=" << n;
        EXPECT_EQ(read_all(file_), c.after) << c.what;
        done = true;
      } else {
        failedOps.insert(env.failed());
        EXPECT_EQ(st, env.failed() == "CreateExclusive" ? TWFAIL_INI_TEMP : TWFAIL_INI_ACCESS)
            << c.what << " failing " << env.failed();
        if (c.before)
          EXPECT_EQ(read_all(file_), *c.before) << c.what << " failing " << env.failed();
        else
          EXPECT_FALSE(fs::exists(file_)) << c.what << " failing " << env.failed();
      }
      EXPECT_TRUE(strays().empty()) << c.what << " n=" << n << " failing " << env.failed();
    }
    EXPECT_TRUE(done) << c.what;
    EXPECT_EQ(failedOps,
              (std::set<std::string>{"CreateExclusive", "Write", "Sync", "Close", "Rename"}))
        << c.what;
  }
}

// Fails ReadFile or Lock.
class FailRead : public tw::EnvWrapper {
 public:
  FailRead(tw::Env* target, bool lock) : EnvWrapper(target), lock_(lock) {}
  Read ReadFile(const std::string& p, std::string* c) override {
    if (!lock_) return Read::failed;
    return target_->ReadFile(p, c);
  }
  int Lock(const std::string& p) override { return lock_ ? -1 : target_->Lock(p); }

 private:
  bool lock_;
};

// Several keys in one replacement: each failing step of it leaves the file as it was, and a
// success brings every key in, other keys kept.
TEST_F(IniTest, SetStringsReplacesTheFileOnceWithEveryKey) {
  const std::string before = "[Configuration]\r\nDiagnostics=0\r\nVersion=22\r\n";
  const char* keys[] = {"Version", "Tarnway", "Gone", "Directory"};
  const char* values[] = {"23", "tw server 1", nullptr, "/opt/tw/"};
  bool done = false;
  for (int n = 1; n <= 50 && !done; ++n) {
    write_all(file_, before + "Gone=x\r\n");
    FailNth env(tw::Env::Default(), n);
    tw::Env::Set(&env);
    uint32_t st = TWINISetStrings("Configuration", keys, values, 4, file_.c_str());
    tw::Env::Set(nullptr);
    if (env.failed().empty()) {
      EXPECT_EQ(st, 0u);
      EXPECT_EQ(read_all(file_),
                "[Configuration]\r\nDiagnostics=0\r\nVersion=23\r\n"
                "Tarnway=tw server 1\r\nDirectory=/opt/tw/\r\n");
      done = true;
    } else {
      EXPECT_NE(st, 0u);
      EXPECT_EQ(read_all(file_), before + "Gone=x\r\n") << "failing " << env.failed();
    }
    EXPECT_TRUE(strays().empty());
  }
  EXPECT_TRUE(done);
  // One unwritable value refuses them all.
  const char* bad[] = {"23", "two\nlines", nullptr, "/opt/tw/"};
  write_all(file_, before);
  EXPECT_EQ(TWINISetStrings("Configuration", keys, bad, 4, file_.c_str()), TWFAIL_INI_ACCESS);
  EXPECT_EQ(read_all(file_), before);
}

TEST_F(IniTest, UnreadableFileOrLockIs536AndTheFileIsUntouched) {
  const std::string before = "[S]\r\nK=1\r\n";
  for (bool lock : {false, true}) {
    write_all(file_, before);
    FailRead env(tw::Env::Default(), lock);
    tw::Env::Set(&env);
    EXPECT_EQ(TWINISetString("S", "K", "2", file_.c_str()), TWFAIL_INI_OPEN) << lock;
    tw::Env::Set(nullptr);
    EXPECT_EQ(read_all(file_), before);
    EXPECT_TRUE(strays().empty());
  }
}

// ------------------------------------------------------------------ concurrency -----

constexpr int kWriters = 6;
constexpr int kKeysEach = 25;

std::string key_of(int writer, int k) {
  return "W" + std::to_string(writer) + "K" + std::to_string(k);
}
std::string value_of(int writer, int k) {
  return std::to_string(writer * 1000 + k);
}

bool write_keys(const std::string& file, int writer) {
  bool ok = true;
  for (int k = 0; k < kKeysEach; ++k) {
    // Two sections so writers also create and extend sections concurrently.
    const char* section = (k % 2) ? "Odd" : "Even";
    ok = TWINISetString(section, key_of(writer, k).c_str(), value_of(writer, k).c_str(),
                        file.c_str()) == 0 &&
         ok;
  }
  return ok;
}

void expect_all_keys(const std::string& file) {
  for (int w = 0; w < kWriters; ++w)
    for (int k = 0; k < kKeysEach; ++k) {
      Got g = get((k % 2) ? "Odd" : "Even", key_of(w, k).c_str(), file);
      EXPECT_EQ(g.status, 0u) << key_of(w, k);
      EXPECT_EQ(g.value, value_of(w, k)) << key_of(w, k);
    }
}

TEST_F(IniTest, ConcurrentThreadsLoseNoUpdate) {
  write_all(file_, "[Configuration]\r\nVersion=23\r\n");
  std::vector<std::thread> threads;
  std::vector<int> ok(kWriters, 0);
  for (int w = 0; w < kWriters; ++w) threads.emplace_back([&, w] { ok[w] = write_keys(file_, w); });
  for (auto& t : threads) t.join();
  for (int w = 0; w < kWriters; ++w) EXPECT_TRUE(ok[w]) << w;
  expect_all_keys(file_);
  EXPECT_EQ(get("Configuration", "Version", file_).value, "23");
  EXPECT_TRUE(strays().empty());
}

TEST_F(IniTest, ConcurrentProcessesLoseNoUpdate) {
  // No file at first: the processes also race to create it.
  std::vector<pid_t> children;
  for (int w = 0; w < kWriters; ++w) {
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) _exit(write_keys(file_, w) ? 0 : 1);
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  expect_all_keys(file_);
  EXPECT_TRUE(strays().empty());
}

}  // namespace
