// The private run directory of an installation, where the named pipes' sockets and the
// owner locks of pipes and shared memory live, and the lock files themselves.
#ifndef TW_PLATFORM_RUNDIR_H_
#define TW_PLATFORM_RUNDIR_H_

#include <string>
#include <string_view>

namespace tw {

// The installation directory ending in "/": TWFileExeDir(), or the current directory
// before TWPlatInit.
std::string installation_dir();

// Sixteen hex digits naming this user's view of the installation directory (after symbolic
// links are resolved), so that installations and users never share pipes or memory.
std::string installation_key();

// ${TMPDIR:-/tmp}/tarnway-<uid>/<installation key>/, mode 0700 and owned by this user.
// With create, missing directories are made (again, when another process removed one while
// they were made); "" when the directory is missing (without create) or is not private to
// this user.
__attribute__((visibility("default"))) std::string run_dir(bool create);

// Removes the installation's run directory, then the user's directory above it, each only
// when it is empty: while any process of the installation (or another installation of the
// user) serves a pipe or owns a table, its files keep the directory. A directory in use
// stays. A process that makes a file there may find the directory gone between run_dir and
// its open (ENOENT): it tries again, at most kRunDirAttempts times.
__attribute__((visibility("default"))) void remove_run_dir();
inline constexpr int kRunDirAttempts = 8;

// A name of a pipe or a shared-memory table: 1 to 32 characters of letters, digits, "_",
// "-" and ".", not beginning with ".". Such a name is safe as part of a file name.
__attribute__((visibility("default"))) bool valid_object_name(std::string_view name);

// Takes the owner lock on path (created 0600 when missing) without waiting; the answer is
// the descriptor that holds it (close-on-exec), or -1 with errno EWOULDBLOCK when someone,
// in this process or another, holds it. Closing the descriptor releases the lock.
__attribute__((visibility("default"))) int lock_owner(const std::string& path);

// Adds the ready lock to the owner lock that fd (from lock_owner) holds: the owner has made
// what it owns usable. A new owner finds the files of a dead one in place until it has
// replaced them, so only this second lock, which dies with its owner too, tells a usable
// object from a dead one's leftovers. False when the lock cannot be taken.
__attribute__((visibility("default"))) bool mark_ready(int fd);

// Whether anyone holds the ready lock on path; never takes a lock, so it cannot make a
// concurrent lock_owner or mark_ready fail.
__attribute__((visibility("default"))) bool ready_lock_held(const std::string& path);

}  // namespace tw

#endif  // TW_PLATFORM_RUNDIR_H_
