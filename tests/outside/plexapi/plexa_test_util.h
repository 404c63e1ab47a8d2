// Helpers of the document-database tests: a session over a private data root, raw SQLite
// access to a database file, and a child process driven through pipes.
#ifndef TW_TESTS_OUTSIDE_PLEXAPI_PLEXA_TEST_UTIL_H_
#define TW_TESTS_OUTSIDE_PLEXAPI_PLEXA_TEST_UTIL_H_

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "plat_test_util.h"
#include "plexapi.h"
#include "session.h"
#include "store.h"

namespace plexatest {

// A session whose data root is a fresh directory; every _GVInit is ended afterwards.
class SessionTest : public ::testing::Test {
 protected:
  SessionTest() : env_("PLEXA_ROOT", root_.path().c_str()) {}
  void SetUp() override { ASSERT_EQ(_GVInit(GV_VERSION, 0, 0, 0), 0u); }
  void TearDown() override {
    while (plexa::SessionActive()) GVTerm(0);
  }
  const std::string& root() const { return root_.path(); }
  std::string Local(const std::string& file) const { return root_.path() + "local/" + file; }
  // Creates a database on the local server and opens it.
  GVDB CreateOpen(const std::string& file, const char* title = nullptr) {
    EXPECT_EQ(GVDatabaseCreate(nullptr, file.c_str(), title, 0, nullptr, nullptr, 0, 0), 0u);
    GVDB db = 0;
    EXPECT_EQ(GVDatabaseOpen(nullptr, file.c_str(), 0, &db), 0u);
    return db;
  }
  uint32_t LastStatus() const {
    uint32_t status = 0;
    GVErrorFetch(&status, nullptr, nullptr);
    return status;
  }
  std::string LastText() const {
    char text[GV_ERROR_TEXT_SIZE];
    GVErrorFetch(nullptr, nullptr, text);
    return text;
  }

 private:
  twtest::TempDir root_;
  twtest::ScopedEnv env_;
};

// A connection of its own to a database file, for looking under the API.
class RawDb {
 public:
  explicit RawDb(const std::string& path) {
    EXPECT_EQ(sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
    sqlite3_busy_timeout(db_, 5000);
  }
  ~RawDb() { sqlite3_close_v2(db_); }
  RawDb(const RawDb&) = delete;
  RawDb& operator=(const RawDb&) = delete;
  sqlite3* get() const { return db_; }
  int Exec(const std::string& sql) {
    char* msg = nullptr;
    int rc = sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &msg);
    if (rc != SQLITE_OK) ADD_FAILURE() << sql << ": " << (msg ? msg : "?");
    sqlite3_free(msg);
    return rc;
  }
  // The first column of every row, as bytes.
  std::vector<std::string> Column(const std::string& sql) {
    std::vector<std::string> out;
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) {
      ADD_FAILURE() << sql << ": " << sqlite3_errmsg(db_);
      return out;
    }
    while (sqlite3_step(st) == SQLITE_ROW) {
      const void* p = sqlite3_column_blob(st, 0);
      int n = sqlite3_column_bytes(st, 0);
      out.emplace_back(p ? static_cast<const char*>(p) : "", static_cast<size_t>(n));
    }
    sqlite3_finalize(st);
    return out;
  }
  int64_t Int(const std::string& sql) {
    sqlite3_stmt* st = nullptr;
    int64_t v = -1;
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &st, nullptr) == SQLITE_OK &&
        sqlite3_step(st) == SQLITE_ROW)
      v = sqlite3_column_int64(st, 0);
    else
      ADD_FAILURE() << sql << ": " << sqlite3_errmsg(db_);
    sqlite3_finalize(st);
    return v;
  }

 private:
  sqlite3* db_ = nullptr;
};

// The items a note's row holds (note.items, packed), in their stored order; every note's
// one after another for rows of several notes.
inline std::vector<plexa::StoredItem> PackedItems(const std::vector<std::string>& rows) {
  std::vector<plexa::StoredItem> all;
  for (const std::string& row : rows) {
    std::vector<plexa::StoredItem> items;
    EXPECT_EQ(plexa::UnpackItems(row, items), 0u);
    all.insert(all.end(), items.begin(), items.end());
  }
  return all;
}
// How many of them are named name (as spelled).
inline size_t CountNamed(const std::vector<plexa::StoredItem>& items, std::string_view name) {
  return static_cast<size_t>(std::count_if(
      items.begin(), items.end(), [&](const plexa::StoredItem& it) { return it.name == name; }));
}

// A child process running body; the parent and the child talk through two pipes of bytes.
// The child ends with _exit(body's result), never running the parent's destructors.
class Child {
 public:
  explicit Child(std::function<int(Child&)> body) {
    EXPECT_EQ(pipe(toChild_), 0);
    EXPECT_EQ(pipe(toParent_), 0);
    pid_ = fork();
    if (pid_ == 0) {
      close(toChild_[1]);
      close(toParent_[0]);
      int rc = 1;
      try {
        rc = body(*this);
      } catch (...) {
      }
      _exit(rc);
    }
    close(toChild_[0]);
    close(toParent_[1]);
  }
  ~Child() {
    if (pid_ > 0) Wait();
    close(toChild_[1]);
    close(toParent_[0]);
  }
  // Either side: send or receive one 32-bit word (false at the end of the pipe).
  bool Send(uint32_t v) {
    int fd = pid_ == 0 ? toParent_[1] : toChild_[1];
    return write(fd, &v, sizeof v) == static_cast<ssize_t>(sizeof v);
  }
  bool Receive(uint32_t& v) {
    int fd = pid_ == 0 ? toChild_[0] : toParent_[0];
    size_t got = 0;
    while (got < sizeof v) {
      ssize_t n = read(fd, reinterpret_cast<char*>(&v) + got, sizeof v - got);
      if (n <= 0) return false;
      got += static_cast<size_t>(n);
    }
    return true;
  }
  // Parent: the child's exit code (-1 when it ended otherwise).
  int Wait() {
    if (pid_ <= 0) return exit_;
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    exit_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return exit_;
  }

 private:
  pid_t pid_ = -1;
  int exit_ = -1;
  int toChild_[2] = {-1, -1};
  int toParent_[2] = {-1, -1};
};

inline std::string Hex(const std::string& bytes) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : bytes) {
    if (!out.empty()) out += ' ';
    out += kHex[c >> 4];
    out += kHex[c & 15];
  }
  return out;
}

}  // namespace plexatest

#endif  // TW_TESTS_OUTSIDE_PLEXAPI_PLEXA_TEST_UTIL_H_
