/* The message catalogue of flowmsg: every status and every text shown to people is
 * looked up here by id. */
#ifndef TW_PLATFORM_CATALOGUE_CATALOGUE_H_
#define TW_PLATFORM_CATALOGUE_CATALOGUE_H_

#include <stdint.h>

#include "twstatus.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Empties the buffer, then copies the text of id (TWSTATUSF_EVENT ignored), cut to size - 1
 * characters and NUL-ended. Returns the number copied; 0 when there is no such id, or for a
 * null buffer or a size below 1 (nothing is written then). */
__attribute__((visibility("default"))) int TWLibraryLoadString(uint32_t id, char* buffer, int size);

/* Like TWLibraryLoadString, but a missing id reads "MSG#%d NOT FOUND": for texts that
 * people see. Returns the number of characters copied. */
__attribute__((visibility("default"))) int TWMessageText(uint32_t id, char* buffer, int size);

#ifdef __cplusplus
}
#include <string>
namespace tw {
/* The text of a status for people, "MSG#%d NOT FOUND" when missing. */
__attribute__((visibility("default"))) std::string message_text(uint32_t id);
}  // namespace tw
#endif

#endif
