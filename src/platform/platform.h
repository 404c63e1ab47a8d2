/* The platform library flowsys: start-up, memory, files, plug-in file lists, libraries,
 * environment, INI files, registry, date and time, international formats, and the system
 * services (named pipes, in-process pipes, threads, processes, shared memory, signals).
 *
 * Every function is callable from C and never throws. Functions that answer a status return
 * 0 or a message-catalogue id (twstatus.h); a failing call leaves its outputs unset unless
 * its description says otherwise. Functions that copy text into a caller's buffer take the
 * buffer's capacity and never write past it.
 *
 * Thread rules: TWPlatInit and TWPlatSetIntlFormat set process-wide state and are called
 * during start-up, before other threads exist; everything else may be called from any
 * thread. */
#ifndef TW_PLATFORM_PLATFORM_H_
#define TW_PLATFORM_PLATFORM_H_

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#include "twstatus.h"

#ifdef __cplusplus
extern "C" {
#endif

#define TW_API __attribute__((visibility("default")))

/* ---------------------------------------------------------------- start-up ---------- */

/* Settles the installation directory (from twmain.ini's Configuration/Directory, or the
 * program's own directory) and installs the default international format. A second call
 * returns 0 and changes nothing. */
TW_API uint32_t TWPlatInit(const char* programPath);
/* Frees the international-format record and forgets the installation directory. */
TW_API uint32_t TWPlatTerm(void);
/* The installation directory, always ending in "/"; "" before TWPlatInit succeeded. */
TW_API const char* TWFileExeDir(void);
/* Searches the ";"- or ":"-separated directory list held in environment variable envName
 * for fileName. On a hit copies the directory with a trailing "/" into outDir (cut to
 * outSize - 1 characters; a directory that does not fit is not a hit) and returns 1; else 0.
 * With readOnly set the file must be readable but not writable. */
TW_API int TWFindPath(const char* envName, char* outDir, size_t outSize, const char* fileName,
                      int readOnly);

/* ---------------------------------------------------------------- memory ------------ */

/* A size of 0 counts as 1. Blocks are aligned for any type. */
TW_API void* TWMemAlloc(uint32_t size);
TW_API void* TWMemCalloc(uint32_t size);
/* Resizes in place when possible, else moves the first min(old, new) bytes to a new block
 * and frees the old one. Null for a null block or no memory; the old block then stays. */
TW_API void* TWMemRealloc(void* block, uint32_t oldSize, uint32_t newSize);
TW_API void TWMemFree(void* block);

/* ---------------------------------------------------------------- files ------------- */

/* Access modes: the low four bits select the access, TWFILE_BINARY adds binary mode. */
enum {
  TWFILE_READ = 1,           /* read an existing file */
  TWFILE_UPDATE = 3,         /* read and write an existing file (also 10, 11) */
  TWFILE_WRITE = 6,          /* write: create or truncate */
  TWFILE_READ_WRITE_NEW = 7, /* read and write: create or truncate */
  TWFILE_APPEND = 14,        /* append: create if missing */
  TWFILE_READ_APPEND = 15,   /* read and append: create if missing */
  TWFILE_BINARY = 0x10
};
enum { TWSEEK_START = 1, TWSEEK_CURRENT = 2, TWSEEK_END = 3 };

/* Null when the file cannot be opened in mode; a directory is not opened in any mode. */
TW_API FILE* TWFileOpen(const char* path, int mode);
TW_API int TWFileClose(FILE* file);
TW_API uint32_t TWFileRead(FILE* file, uint32_t count, void* buffer);
TW_API uint32_t TWFileWrite(FILE* file, uint32_t count, const void* buffer);
/* The new position; any other origin answers 0 and does not move. */
TW_API long TWFileSeek(FILE* file, int origin, long offset);
/* Cuts the file (its buffered output flushed first) to length bytes; 0, or -1 with errno
 * set. */
TW_API int TWFileTruncate(FILE* file, long length);
TW_API int TWFileExist(const char* path);
TW_API int TWFileDelete(const char* path);
/* Copies the current directory (no trailing "/"); 0 for a null buffer, a length of 0, or a
 * directory that does not fit; else 1. */
TW_API int TWFileGetDir(char* buffer, uint32_t length);
TW_API int TWFileSetDir(const char* path);
/* Creates every missing directory along the path; 1 when all exist afterwards. */
TW_API int TWMkDir(const char* path);

/* ---------------------------------------------------------------- plug-in file lists  */

typedef struct TWFileListContext TWFileListContext;
/* Only the pattern "*.twx" is supported (12289 otherwise); lists the installation
 * directory. Names are copied into name, cut to nameSize - 1 characters. */
TW_API uint32_t TWFileListFirst(const char* pattern, char* name, size_t nameSize,
                                TWFileListContext** context);
TW_API uint32_t TWFileListNext(char* name, size_t nameSize, TWFileListContext* context);
TW_API uint32_t TWFileListClose(TWFileListContext* context);

/* ---------------------------------------------------------------- libraries --------- */

enum { TWLIB_NO_ERROR_BOX = 1, TWLIB_PLUGIN = 2 };
/* With TWLIB_PLUGIN loads installation directory + name + ".twx"; a name holding "/" or
 * ".." is refused (null). */
TW_API void* TWLibraryLoad(const char* name, int flags);
TW_API int TWLibraryFree(void* library);
/* An export by name, or, with a null name, by ordinal through the module's exported table
 * "TWOrdinalNames" (null-terminated array of export names; ordinal 1 is its first entry). */
TW_API void* TWLibraryLoadProc(void* library, const char* name, uint32_t ordinal);

/* ---------------------------------------------------------------- environment ------- */

/* Copies at most *length characters and a NUL (buffer holds *length + 1 bytes), then sets
 * *length to the number copied. 12301 for a null buffer or length; 530 when not set. */
TW_API uint32_t TWPlatGetEnv(const char* name, char* buffer, uint32_t* length);
/* Sets NAME to the value wrapped in double quotes (the quotes are part of the value). */
TW_API uint32_t TWPlatPutEnv(const char* name, const char* value);

/* ---------------------------------------------------------------- INI files --------- */

/* A file name holding "/" is used unchanged; any other lies in the installation directory.
 * Reads fill buffer (capacity bufferSize) and never write past it; with a null or empty key
 * the section's lines are listed, each ended by a NUL, and one more NUL ends the list. */
TW_API uint32_t TWINIGetString(const char* section, const char* key, char* buffer,
                               size_t bufferSize, const char* file);
/* A null value removes the key. The file is replaced atomically; a key or value holding
 * CR or LF is refused. */
TW_API uint32_t TWINISetString(const char* section, const char* key, const char* value,
                               const char* file);
/* Sets count keys of one section (a null value removes its key) in one replacement of the
 * file: afterwards it holds every change or, on failure, none; other keys are kept. */
TW_API uint32_t TWINISetStrings(const char* section, const char* const* keys,
                                const char* const* values, size_t count, const char* file);
TW_API uint32_t TWINIRemoveString(const char* section, const char* key, const char* file);
TW_API int TWINIDelete(const char* file);

/* ---------------------------------------------------------------- registry ---------- */

/* A file-backed store under the installation directory in place of the system registry:
 * subkeys lie under "Software\Quendal\Components\"; for reading, a subkey beginning with
 * "\" is taken from the root instead. */
TW_API uint32_t TWRegistrySetString(const char* subkey, const char* valueName, const char* text);
TW_API uint32_t TWRegistryGetString(const char* subkey, const char* valueName, char* buffer,
                                    uint32_t bufferSize);
TW_API uint32_t TWRegistryRemoveString(const char* subkey, const char* valueName);

/* ---------------------------------------------------------------- date, time, locale  */

/* Local date and time: every word is set (unused is 0). */
typedef struct TWPlatDatetime {
  int32_t year, month, day, unused, hour, minute, second, hundredths, zone, daylight;
} TWPlatDatetime;

/* The 86-byte international-format record; its byte layout crosses processes. */
#pragma pack(push, 1)
typedef struct TWIntlText {
  char text[6];
  int32_t length;
} TWIntlText;
typedef struct TWIntlFormat {
  int32_t flags; /* TWINTL_DAYLIGHT: daylight saving time in force */
  int32_t format1;
  int32_t format2;
  int32_t zone; /* whole hours from UTC, west negative */
  TWIntlText am, pm, currency, thousands, decimal, date, time;
} TWIntlFormat;
#pragma pack(pop)
enum { TWINTL_DAYLIGHT = 0x10, TWINTL_RECORD_SIZE = 86 };

TW_API void TWPlatGetDatetime(TWPlatDatetime* out);
TW_API uint32_t TWPlatGetTimeZone(int32_t* zone, int32_t* daylight);
TW_API const TWIntlFormat* TWPlatGetIntlFormat(void);
TW_API uint32_t TWPlatSetIntlFormat(const TWIntlFormat* record);
TW_API uint32_t TWCharInfo(int32_t* codePage, int32_t* country, char language[8]);
TW_API int TWCmpVerStr(const char* a, const char* b);

/* ---------------------------------------------------------------- named pipes ------- */

/* Named pipes are Unix-domain stream sockets in a private run directory derived from the
 * installation directory. A message starts with two little-endian words {code, length};
 * the length frames it, and a length below 8 or above the pipe's maximum drops the
 * connection. Names are 1 to 32 letters, digits, "_", "-" or "." (not starting with ".").
 * Handles are opaque; 0 (null) means failure. A handle is used by one thread at a time,
 * except that Disconnect, Close or Shutdown from another thread wakes a call waiting on it. */
typedef struct TWIPC TWIPC;
enum { TWIPC_MAX_MESSAGE = 16 * 1024 * 1024 };

/* Non-zero when a server holds the pipe's name (decided by its lock, not by connecting).
 * Answers at once: timeoutSeconds is not needed, since a serving pipe always accepts. */
TW_API int TWIPCExists(const char* name, uint32_t timeoutSeconds);
/* Null when another server (in any process) holds the name. */
TW_API TWIPC* TWIPCCreate(const char* name);
TW_API TWIPC* TWIPCWaitForConnection(TWIPC* pipe);
TW_API int TWIPCSetNoWait(TWIPC* pipe);
TW_API int TWIPCAllowClientConnections(TWIPC* pipe);
/* A client connection when one waits, else null at once. */
TW_API TWIPC* TWIPCCheckForConnection(TWIPC* pipe);
TW_API TWIPC* TWIPCOpen(const char* name, uint32_t flags);
/* Reads up to room bytes of the current message; *more is non-zero while the message holds
 * bytes that did not fit. Non-zero on success. A bad length, an end inside a message or, on
 * a server's connection, a client silent for longer than a few seconds fails the call and
 * every later call on the connection. The NW variants wait the same way. */
TW_API int TWIPCRead(TWIPC* conn, void* buffer, uint32_t room, uint32_t* bytesRead, int* more);
TW_API int TWIPCReadNW(TWIPC* conn, void* buffer, uint32_t room, uint32_t* bytesRead, int* more);
/* Sends the whole block; a server's connection gives up on a client that stops reading. */
TW_API int TWIPCWrite(TWIPC* conn, const void* block, uint32_t length, uint32_t* written);
TW_API int TWIPCWriteNW(TWIPC* conn, const void* block, uint32_t length, uint32_t* written);
/* Non-zero when data waits to be read. */
TW_API int TWIPCPeek(TWIPC* conn);
TW_API int TWIPCFlush(TWIPC* conn);
/* Ends a server-side connection and frees its handle. */
TW_API int TWIPCDisconnect(TWIPC* conn);
/* Ends a client connection and frees its handle. */
TW_API int TWIPCClose(TWIPC* conn);
/* Stops serving the pipe: removes the socket, releases the lock, frees the handle. A null
 * pipe removes nothing. */
TW_API int TWIPCShutdown(TWIPC* pipe, const char* name);

/* ---------------------------------------------------------------- in-process pipes -- */

/* Bounded queues of bytes between threads; a record is written and read whole. */
typedef struct TWProcPipe TWProcPipe;
TW_API uint32_t TWProcPipeCreate(uint32_t sizeInBytes, TWProcPipe** pipe);
/* Threads still waiting in Fill or Empty are woken with 521 or 522 before the pipe goes. */
TW_API uint32_t TWProcPipeDestroy(TWProcPipe* pipe);
/* Appends one record, waiting for room; 521 when it can never fit. */
TW_API uint32_t TWProcPipeFill(uint32_t recordSize, const void* record, TWProcPipe* pipe);
TW_API int TWProcPipePeek(TWProcPipe* pipe);
/* Takes the oldest recordSize bytes, waiting until they are there; 522 when recordSize is
 * larger than the pipe. */
TW_API uint32_t TWProcPipeEmpty(uint32_t recordSize, void* buffer, TWProcPipe* pipe);

/* ---------------------------------------------------------------- threads ----------- */

typedef struct TWProcThread TWProcThread;
typedef uint32_t (*TWProcThreadProc)(void* argument);
TW_API uint32_t TWProcThreadCreate(TWProcThreadProc procedure, void* argument,
                                   TWProcThread** thread);
/* Waits for the thread's end and frees the handle; the procedure's result goes to *result
 * when result is not null. 514 when the thread cannot be waited for. */
TW_API uint32_t TWProcThreadWait(TWProcThread* thread, uint32_t* result);
/* Abandons the thread: it runs on detached and is never waited for again (a thread cannot
 * be ended safely from outside). Used only on the way out of a process. */
TW_API uint32_t TWProcThreadKill(TWProcThread* thread);
TW_API uint32_t TWProcThreadSleep(uint32_t seconds);
/* A short idle wait of the polling loops (about 100 ms). */
TW_API void TWKeyboardSleep(void);

/* ---------------------------------------------------------------- processes --------- */

typedef struct TWProcProcess TWProcProcess;
/* Starts a program from a command line (split at blanks, double quotes group); a program
 * name without "/" is taken from the installation directory, and a line that begins with
 * the installation directory keeps it whole even when it holds blanks. The program gets its
 * full path as argv[0]. Never through a shell. Priority and flags are not applied. */
TW_API uint32_t TWProcShellExec(const char* commandLine, TWProcProcess** process, int32_t priority,
                                uint32_t flags);
/* Starts the program at path with exactly the argument vector argv (null-terminated; argv[0]
 * included), never through a shell. */
TW_API uint32_t TWProcSpawn(const char* path, const char* const* argv, TWProcProcess** process);
/* Waits for the process's end and keeps its exit code in the handle. */
TW_API uint32_t TWProcProcessWait(TWProcProcess* process);
/* The exit code of an ended process (-1 when it ended by a signal or is still running). */
TW_API int32_t TWProcProcessExitCode(TWProcProcess* process);
/* Kills the process; a process that has already ended, or been waited for, is never
 * signalled and answers 0. */
TW_API uint32_t TWProcProcessKill(TWProcProcess* process);
/* A process that was not waited for is reaped in the background when it ends. */
TW_API void TWProcProcessFree(TWProcProcess* process);
/* Runs an operating-system command through /bin/sh -c and waits; 516 when it cannot run or
 * does not end with exit code 0. As TWProcCommandRun without a check or exit code. */
TW_API uint32_t TWProcCommandExec(const char* text);
/* Asked about once a second while a command runs: 0 to go on, else the status that ends it. */
typedef uint32_t (*TWProcCommandCheck)(void* user);
/* Runs text through /bin/sh -c in a process group of its own and waits for it in slices of
 * one second, calling check(user) (optional) after each: a non-zero answer kills the whole
 * group and is answered. The group is killed too when the calling process dies, so that a
 * killed runner leaves no command behind. Answers 0 when the shell ends with exit code 0,
 * 516 when it cannot run or ends otherwise, or check's answer. *exitCode (optional) receives
 * the shell's exit code when it ran and ended by itself (128 + the signal's number when a
 * signal ended it; 127 also when the shell could not be started), else -1. The calling
 * thread must not end while it waits (it cannot: it is the one waiting). */
TW_API uint32_t TWProcCommandRun(const char* text, TWProcCommandCheck check, void* user,
                                 int32_t* exitCode);

/* Watches the process that started this one (the parent at the time of the call), so that a
 * program can tell when whoever supervised it is gone. 518 when no watch can be set up. A
 * process already orphaned to init counts as having lost its parent. */
typedef struct TWProcParentWatch TWProcParentWatch;
TW_API uint32_t TWProcParentWatchOpen(TWProcParentWatch** watch);
/* Waits until the parent has ended (1), or until timeoutMs passed or the watch was
 * cancelled (0); timeoutMs -1 waits without limit. Once the parent has ended every call
 * answers 1 at once. */
TW_API int TWProcParentWatchWait(TWProcParentWatch* watch, int32_t timeoutMs);
/* Wakes every call waiting on the watch, now and later, with 0; safe from any thread. */
TW_API void TWProcParentWatchCancel(TWProcParentWatch* watch);
/* Frees the watch; no call may be waiting on it. */
TW_API void TWProcParentWatchClose(TWProcParentWatch* watch);

/* ---------------------------------------------------------------- shared memory ----- */

typedef struct TWProcShmem {
  intptr_t handle; /* internal; 0 when not open */
  uint32_t size;
  char name[256];
  void* address; /* internal: the mapping */
  int lockFd;    /* internal: the owner's lock, -1 when not the owner */
} TWProcShmem;

/* Creates named shared memory (zero-filled) owned by this process; 526 when a live owner
 * holds it already, 525 on failure. A table left behind by a dead owner is reclaimed. The
 * name follows the rule for pipe names and may be given bare or prefixed with the
 * installation directory. */
TW_API uint32_t TWProcShmemCreate(uint32_t size, const char* name, TWProcShmem* shmem);
/* Maps the named memory; null when it does not exist or is smaller than size. */
TW_API void* TWProcShmemMap(uint32_t size, const char* name, TWProcShmem* shmem);
TW_API uint32_t TWProcShmemUnmap(TWProcShmem* shmem);
/* Unmaps, removes the name and releases ownership; 527 on failure, when nothing is there,
 * or when a live process elsewhere owns it (then nothing is removed). Only the record's
 * name counts: a record made up with a zero handle works. */
TW_API uint32_t TWProcShmemDestroy(TWProcShmem* shmem);
TW_API uint32_t TWProcShmemGetSize(TWProcShmem* shmem);

/* ---------------------------------------------------------------- signals ----------- */

typedef void (*TWProcSignalHandler)(int signalNumber);
/* Installs a handler for SIGINT, SIGTERM, SIGHUP and SIGQUIT; a second call replaces it, a
 * null handler restores the default actions. It runs on a dedicated normal thread, never
 * inside the signal, so it may take locks, print and exit. The calling thread blocks the four
 * signals, so call it before starting other threads. */
TW_API uint32_t TWProcSigHndlrSet(TWProcSignalHandler handler);

#ifdef __cplusplus
}
#endif

#endif /* TW_PLATFORM_PLATFORM_H_ */
