// The install library shared by the console installer and the windowed installer: the one
// record a front end fills, and the operations that copy the kit, create, join and remove a
// cluster, and register the installation with the user's session.
//
// Every operation returns 0 or a catalogue id and appends its outcome text to a buffer the
// caller owns, never clearing it (except where said). A failure text is two line feeds,
// "ERROR: ", the message and a line feed, then the Plexa error when the Plexa API reported
// one. Operations run on the installer's one thread.
#ifndef TW_INSTALL_SETUP_CONTEXT_H_
#define TW_INSTALL_SETUP_CONTEXT_H_

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "twstatus.h"

namespace tw::install {

// Results of the install library that have no catalogue text: the operation's own outcome
// text says what happened.
constexpr uint32_t TWFAIL_SETUP_REMOVE_PARTIAL = 5327;  // removed; some database stayed
constexpr uint32_t TWFAIL_SETUP_MIGRATION = 5328;       // errors were collected
constexpr uint32_t TWFAIL_SETUP_PROGRAM_ITEM = 5330;    // the program item was not written

// Text fields keep the widths that both front ends fill (NUL included); a value that does not
// fit is refused by the front end, never cut.
struct SetupContext {
  char workText[256];
  char setupDir[256];       // the kit: the running installer's directory, ending in "/"
  char installDir[256];     // DIRECTORY; ends in "/" before an install run
  char memberName[256];     // TARNWAY: this server or client in the cluster
  char adminServer[128];    // ADMINSERVER: empty for the local server
  char adminDatabase[256];  // ADMINDATABASE
  char snmpMode[256];       // "2" full, "1" query only, "0" none
  char translateMode[256];  // "2" enabled, "1" QMBCS, "0" disabled
  char kitType[256];        // "1" development client, "2" server
  int32_t deleteFiles;
  int32_t installDocDatabase;
  int32_t createVault;
  int32_t migrateRelease1;
  char release1Server[128];
  char release1Database[256];
  char logDatabase[256];    // ADMINLOGDATABASE
  char docDatabase[256];    // DOCDATABASE
  char vaultDatabase[256];  // VAULTDATABASE
  char templatePath[256];
  char plexaErrorText[256];
  char queryText[256];
  int32_t existingCluster;  // 1: join / remove this member; 0: create / remove the cluster
  int32_t wizardKind;
};

// Copies value into a field of the record; false (field unchanged) when it does not fit or
// holds a NUL.
template <size_t N>
[[nodiscard]] bool SetField(char (&field)[N], std::string_view value) {
  if (value.size() >= N || value.find('\0') != std::string_view::npos) return false;
  std::memcpy(field, value.data(), value.size());
  field[value.size()] = '\0';
  return true;
}

// ---------------------------------------------------------------- cluster --------------

// Opens the Plexa session once per process: 0 or TWFAIL_SETUP (text appended).
[[nodiscard]] uint32_t SetupPlexaInit(std::string& out);
uint32_t SetupPlexaTerm();
void SetupAppendPlexaError(uint32_t status, SetupContext& ctx, std::string& out);
// Appends the catalogue text id formatted with arg (null: none), after "\n" when asked.
void SetupAppendMessage(SetupContext& ctx, uint32_t id, const char* arg, bool newlineFirst,
                        std::string& out);
void SetupAppendError(SetupContext& ctx, uint32_t id, const char* arg, std::string& out);
// The search for documents whose item equals value without regard to case, value quoted as
// formula text so that no name can change the search.
[[nodiscard]] std::string NameSearch(std::string_view item, std::string_view value);

// Creates a cluster (existingCluster 0) or joins one (1), writes this member's configuration
// document and installDir's twmain.ini: 0 or TWFAIL_SETUP. A failure deletes only the
// databases this call created and leaves twmain.ini as it was.
[[nodiscard]] uint32_t SetupCreateCluster(SetupContext& ctx, std::string& out);
// Copies the documentation database beside the Administrator when installDocDatabase is set:
// 0 or TWFAIL_SETUP_DOC_DATABASE.
[[nodiscard]] uint32_t SetupInstallDocDatabase(SetupContext& ctx, std::string& out);
// Removes this member (existingCluster 1) or the whole cluster (0) named by installDir's
// twmain.ini: 0, TWFAIL_SETUP_REMOVE_PARTIAL (some database stayed) or TWFAIL_SETUP.
[[nodiscard]] uint32_t SetupRemove(SetupContext& ctx, std::string& out);

// What a database name names before anything is created: nothing yet, a Tarnway
// Administrator (its configuration form is there), another database, or one that cannot be
// opened. Front ends ask it to refuse an answer while the user can still change it.
enum class DatabaseKind { none, administrator, other, unusable };
// An unusable database leaves the status of its failed open in *status when one is given.
[[nodiscard]] DatabaseKind SetupDatabaseKind(const char* server, const char* file,
                                             uint32_t* status = nullptr);

// ---------------------------------------------------------------- files and session ---

// setupDir := the absolute directory of the program (ending in "/"): 0 or
// TWFAIL_SETUP_NO_SETUP_DIR.
[[nodiscard]] uint32_t SetupFindSetupDir(char (&setupDir)[256], const char* programPath);
// Copies the kit's files into installDir (created when missing): 0 or TWFAIL_SETUP_COPY_FILES
// with one line of detail in out. A row the build does not make is skipped with a line.
[[nodiscard]] uint32_t SetupCopyProgramFiles(SetupContext& ctx, std::string& out);
// Copies one file through a temporary beside destination, renamed over it: the copy keeps
// the source's mode plus owner write and its times. A destination that is the source itself
// is refused. 0 or TWFAIL_SETUP_COPY_FILES (text appended when out is given; the temporary
// removed).
[[nodiscard]] uint32_t SetupCopyFile(const std::string& source, const std::string& destination,
                                     std::string* out);
[[nodiscard]] uint32_t SetupDeleteProgramFiles(SetupContext& ctx, std::string& out);
uint32_t SetupUndoProgramFiles(SetupContext& ctx);
[[nodiscard]] uint32_t SetupInstallScriptLink(SetupContext& ctx, std::string& out);
[[nodiscard]] uint32_t SetupRemoveScriptLink(SetupContext& ctx, std::string& out);
// The script extension's path in the installation's registry store; on failure out holds the
// status's text.
[[nodiscard]] uint32_t SetupInstallScriptAlias(SetupContext& ctx, std::string& out);
[[nodiscard]] uint32_t SetupRemoveScriptAlias(SetupContext& ctx, std::string& out);
// Puts directory on the user's PATH through ~/.config/tarnway/path.sh and one guarded line
// in ~/.profile: 0, TWFAIL_REGISTRY_ACCESS (unusable) or TWFAIL_REGISTRY_MISSING_VALUE (no
// ~/.profile).
[[nodiscard]] uint32_t SetupUpdateUserPath(const char* directory);
// Appends directory to a ":"-separated list unless it is there (exactly, "/" optional): true
// when appended.
bool SetupPathAppend(std::string& list, std::string_view directory);
void SetupPathAdvice(const char* directory, std::string& out);
// The desktop entry of the program item: 0 or TWFAIL_SETUP_PROGRAM_ITEM.
[[nodiscard]] uint32_t SetupCreateProgramItem(SetupContext& ctx);
// Takes directory off the user's PATH snippet (the snippet goes with its last directory):
// 0, or TWFAIL_REGISTRY_ACCESS when the snippet cannot be read or written.
[[nodiscard]] uint32_t SetupRemoveUserPath(const char* directory);
// Deletes the program item when it starts installDir's twmain (another installation's
// stays): 0 or TWFAIL_SETUP_PROGRAM_ITEM.
[[nodiscard]] uint32_t SetupRemoveProgramItem(SetupContext& ctx);
// Deletes directory and everything in it, in this process, refusing "/", the home directory
// and a directory that is not the canonical one given: 0 or TWFAIL_SETUP_DELETE_FILES.
[[nodiscard]] uint32_t SetupDeleteDirOnExit(const char* directory);

// ---------------------------------------------------------------- design upgrade -------

// Brings the Administrator's design up to the template installDir + QTWADM.OTM, then sets
// Version 23 in installDir's twmain.ini: 0 or a status (out replaced by the reason).
[[nodiscard]] uint32_t SetupUpgradeAdministrator(SetupContext& ctx, std::string& out);
[[nodiscard]] uint32_t SetupUpgradeAdminDesign(SetupContext& ctx, std::string& out);
// Copies the servers, links and activities of a Release 1 Administrator into the new one:
// 0 or TWFAIL_SETUP_MIGRATION with the collected errors in out. Warnings (duplicates,
// overwritten orphans) go to notes.
[[nodiscard]] uint32_t SetupMigrateRelease1(SetupContext& ctx, std::string& out,
                                            std::string& notes);

}  // namespace tw::install

#endif  // TW_INSTALL_SETUP_CONTEXT_H_
