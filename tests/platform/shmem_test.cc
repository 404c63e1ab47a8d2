// Shared memory: zero-filled creation, one owner at a time across processes, reclaiming a
// dead owner's table, mapping from another process, the installation-prefixed name, and
// records made up on the spot by a clean-up path.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "plat_test_util.h"
#include "platform.h"

namespace {

constexpr uint32_t kSize = 2000;
constexpr const char* kTable = "TWMSGTBL";

// A pipe between the test and a forked child, for "ready" and "go on" bytes.
struct Channel {
  int to_parent[2];
  int to_child[2];
  Channel() {
    EXPECT_EQ(::pipe(to_parent), 0);
    EXPECT_EQ(::pipe(to_child), 0);
  }
  ~Channel() {
    for (int fd : {to_parent[0], to_parent[1], to_child[0], to_child[1]}) ::close(fd);
  }
  void tell_parent(char c) { (void)!::write(to_parent[1], &c, 1); }
  void tell_child(char c) { (void)!::write(to_child[1], &c, 1); }
  char from_child() {
    char c = 0;
    return ::read(to_parent[0], &c, 1) == 1 ? c : '?';
  }
  char from_parent() {
    char c = 0;
    return ::read(to_child[0], &c, 1) == 1 ? c : '?';
  }
};

int exit_code_of(pid_t pid) {
  int status = 0;
  if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

bool all_zero(const void* p, size_t n) {
  const auto* b = static_cast<const unsigned char*>(p);
  for (size_t i = 0; i < n; ++i)
    if (b[i] != 0) return false;
  return true;
}

// The table mapped through s (size bytes asked for), or null.
unsigned char* map_table(TWProcShmem& s, uint32_t size = kSize) {
  return static_cast<unsigned char*>(TWProcShmemMap(size, kTable, &s));
}

// The test process creates the table through s and maps it.
void create_and_map(TWProcShmem& s, unsigned char*& table) {
  ASSERT_EQ(TWProcShmemCreate(kSize, kTable, &s), TWSUCCESS);
  table = map_table(s);
  ASSERT_NE(table, nullptr);
}

// A forked child creates the table through s and maps it; it exits 1 or 2 when it cannot.
unsigned char* child_create_and_map(TWProcShmem& s) {
  if (TWProcShmemCreate(kSize, kTable, &s) != TWSUCCESS) ::_exit(1);
  unsigned char* t = map_table(s);
  if (t == nullptr) ::_exit(2);
  return t;
}

class Shmem : public testing::Test {
 protected:
  void SetUp() override { twtest::InitAt(dir_.path()); }
  void TearDown() override {
    // A failed test must not leave an object behind for the next run.
    TWProcShmem any{};
    std::strcpy(any.name, kTable);
    TWProcShmemDestroy(&any);
    TWPlatTerm();
  }
  twtest::TempDir dir_;
  // The run directory (owner locks) lands inside dir_ and goes with it.
  twtest::ScopedEnv tmpdir_{"TMPDIR", dir_.path().c_str()};
};

TEST_F(Shmem, CreateMapWriteReadAndDestroy) {
  TWProcShmem owner;
  ASSERT_EQ(TWProcShmemCreate(kSize, kTable, &owner), TWSUCCESS);
  EXPECT_EQ(TWProcShmemGetSize(&owner), kSize);
  auto* table = map_table(owner);
  ASSERT_NE(table, nullptr);
  EXPECT_TRUE(all_zero(table, kSize));
  std::memset(table + 20, 0x5A, 20);

  TWProcShmem reader;
  auto* view = map_table(reader, 100);
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(TWProcShmemGetSize(&reader), kSize) << "the object's size, not the size asked for";
  EXPECT_EQ(view[20], 0x5A);
  EXPECT_EQ(view[39], 0x5A);
  EXPECT_EQ(view[40], 0);
  EXPECT_EQ(TWProcShmemUnmap(&reader), TWSUCCESS);
  EXPECT_EQ(TWProcShmemUnmap(&reader), TWSUCCESS) << "a second unmap does nothing";

  EXPECT_EQ(TWProcShmemUnmap(&owner), TWSUCCESS);
  EXPECT_EQ(TWProcShmemDestroy(&owner), TWSUCCESS);
  TWProcShmem gone;
  EXPECT_EQ(TWProcShmemMap(kSize, kTable, &gone), nullptr);
  EXPECT_EQ(TWProcShmemDestroy(&owner), TWFAIL_SHMEM_DESTROY) << "nothing left to destroy";
}

TEST_F(Shmem, RefusesBadArguments) {
  TWProcShmem s;
  for (const char* name : {"", "a/b", "../x", ".hidden", "with blank", "/etc/TWMSGTBL",
                           "0123456789012345678901234567890123"}) {
    EXPECT_EQ(TWProcShmemCreate(kSize, name, &s), TWFAIL_SHMEM_CREATE) << name;
    EXPECT_EQ(TWProcShmemMap(kSize, name, &s), nullptr) << name;
  }
  EXPECT_EQ(TWProcShmemCreate(kSize, nullptr, &s), TWFAIL_SHMEM_CREATE);
  EXPECT_EQ(TWProcShmemCreate(kSize, kTable, nullptr), TWFAIL_SHMEM_CREATE);
  EXPECT_EQ(TWProcShmemCreate(0, kTable, &s), TWFAIL_SHMEM_CREATE);
  EXPECT_EQ(TWProcShmemMap(kSize, kTable, &s), nullptr) << "missing";
  EXPECT_EQ(TWProcShmemMap(kSize, kTable, nullptr), nullptr);
  EXPECT_EQ(TWProcShmemUnmap(nullptr), TWFAIL_SHMEM_DESTROY);
  EXPECT_EQ(TWProcShmemDestroy(nullptr), TWFAIL_SHMEM_DESTROY);
  EXPECT_EQ(TWProcShmemGetSize(nullptr), 0u);

  ASSERT_EQ(TWProcShmemCreate(kSize, kTable, &s), TWSUCCESS);
  TWProcShmem big;
  EXPECT_EQ(TWProcShmemMap(kSize + 1, kTable, &big), nullptr) << "smaller than asked for";
  EXPECT_EQ(TWProcShmemCreate(kSize, kTable, &big), TWFAIL_SHMEM_EXISTS)
      << "this process owns it already";
  EXPECT_EQ(TWProcShmemDestroy(&s), TWSUCCESS);
}

// The server's signal path destroys the table through a zero-filled record named
// "<installation directory>TWMSGTBL": handle 0, lockFd 0.
TEST_F(Shmem, InstallationPrefixedNameAndMadeUpRecord) {
  TWProcShmem owner;
  unsigned char* table = nullptr;
  ASSERT_NO_FATAL_FAILURE(create_and_map(owner, table));
  table[0] = 7;

  std::string prefixed = std::string(TWFileExeDir()) + kTable;
  TWProcShmem other;
  auto* view = static_cast<unsigned char*>(TWProcShmemMap(kSize, prefixed.c_str(), &other));
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(view[0], 7);
  EXPECT_EQ(TWProcShmemUnmap(&other), TWSUCCESS);

  TWProcShmem made_up{};
  made_up.size = kSize;
  ASSERT_LT(prefixed.size(), sizeof made_up.name);
  std::strcpy(made_up.name, prefixed.c_str());
  EXPECT_EQ(TWProcShmemDestroy(&made_up), TWSUCCESS);
  EXPECT_NE(::fcntl(0, F_GETFD), -1) << "descriptor 0 was closed";
  EXPECT_EQ(TWProcShmemMap(kSize, kTable, &other), nullptr);
  EXPECT_EQ(table[0], 7) << "the owner's mapping stays until it unmaps";
  EXPECT_EQ(TWProcShmemUnmap(&owner), TWSUCCESS);

  // Ownership went with the destroy: the table can be made again.
  ASSERT_EQ(TWProcShmemCreate(kSize, kTable, &owner), TWSUCCESS);
  EXPECT_EQ(TWProcShmemDestroy(&owner), TWSUCCESS);
}

// A second server on the machine: the first one, alive, holds the table.
TEST_F(Shmem, ALiveOwnerInAnotherProcessKeepsItsTable) {
  Channel ch;
  pid_t child = ::fork();
  if (child == 0) {
    TWProcShmem s;
    unsigned char* t = child_create_and_map(s);
    t[5] = 0x33;
    ch.tell_parent('r');
    ch.from_parent();
    ::_exit(TWProcShmemDestroy(&s) == TWSUCCESS ? 0 : 3);
  }
  ASSERT_GT(child, 0);
  ASSERT_EQ(ch.from_child(), 'r');

  TWProcShmem mine;
  EXPECT_EQ(TWProcShmemCreate(kSize, kTable, &mine), TWFAIL_SHMEM_EXISTS);
  TWProcShmem made_up{};
  std::strcpy(made_up.name, kTable);
  EXPECT_EQ(TWProcShmemDestroy(&made_up), TWFAIL_SHMEM_DESTROY)
      << "a clean-up removed a live server's table";
  auto* view = map_table(mine);
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(view[5], 0x33);
  EXPECT_EQ(TWProcShmemUnmap(&mine), TWSUCCESS);

  ch.tell_child('g');
  EXPECT_EQ(exit_code_of(child), 0);
}

// A server that crashed left its table; the next one reclaims it, zero-filled.
TEST_F(Shmem, ATableLeftByADeadOwnerIsReclaimed) {
  pid_t child = ::fork();
  if (child == 0) {
    TWProcShmem s;
    unsigned char* t = child_create_and_map(s);
    std::memset(t, 0xEE, kSize);
    ::_exit(0);  // no destroy
  }
  ASSERT_GT(child, 0);
  ASSERT_EQ(exit_code_of(child), 0);

  TWProcShmem stale;
  auto* old = map_table(stale);
  ASSERT_NE(old, nullptr) << "the dead owner's table should still be there";
  EXPECT_EQ(old[0], 0xEE);

  TWProcShmem mine;
  unsigned char* fresh = nullptr;
  ASSERT_NO_FATAL_FAILURE(create_and_map(mine, fresh));
  EXPECT_TRUE(all_zero(fresh, kSize));
  EXPECT_EQ(TWProcShmemUnmap(&stale), TWSUCCESS);
  EXPECT_EQ(TWProcShmemUnmap(&mine), TWSUCCESS);
  EXPECT_EQ(TWProcShmemDestroy(&mine), TWSUCCESS);
}

// The runner maps the server's table and writes its result into its entry.
TEST_F(Shmem, AnotherProcessSeesAndChangesTheSameBytes) {
  TWProcShmem owner;
  unsigned char* table = nullptr;
  ASSERT_NO_FATAL_FAILURE(create_and_map(owner, table));
  table[40] = 42;

  pid_t child = ::fork();
  if (child == 0) {
    TWProcShmem s;
    auto* t = map_table(s);
    if (t == nullptr) ::_exit(1);
    if (t[40] != 42) ::_exit(2);
    t[48] = 99;
    TWProcShmemUnmap(&s);
    ::_exit(0);
  }
  ASSERT_GT(child, 0);
  EXPECT_EQ(exit_code_of(child), 0);
  EXPECT_EQ(table[48], 99);
  EXPECT_EQ(TWProcShmemDestroy(&owner), TWSUCCESS);
}

// Two installations on one machine each have their own table.
TEST_F(Shmem, InstallationsDoNotShareTables) {
  TWProcShmem first;
  unsigned char* a = nullptr;
  ASSERT_NO_FATAL_FAILURE(create_and_map(first, a));
  a[0] = 1;

  twtest::TempDir other_dir;
  TWPlatTerm();
  twtest::InitAt(other_dir.path());
  TWProcShmem second;
  unsigned char* b = nullptr;
  ASSERT_NO_FATAL_FAILURE(create_and_map(second, b));
  EXPECT_EQ(b[0], 0);
  EXPECT_EQ(TWProcShmemDestroy(&second), TWSUCCESS);

  TWPlatTerm();
  twtest::InitAt(dir_.path());
  EXPECT_EQ(a[0], 1);
  EXPECT_EQ(TWProcShmemDestroy(&first), TWSUCCESS);
}

}  // namespace
