// The rows of an activity's property table for the predefined properties of one of its links
// (server, database, user, password, metadata), named with the link's prefix: "Src", "Dest",
// "LinkA", "LinkB".
#ifndef TW_ACTIVITIES_COMMON_LINK_PROPERTIES_H_
#define TW_ACTIVITIES_COMMON_LINK_PROPERTIES_H_

#include "twx.h"

#define TW_ACTIVITY_LINK_ROWS(link, prefix)                                    \
  TWX_PROPERTY((link) | TWTOKEN_SERVER, TWTYPE_TEXT, prefix "Server"),         \
      TWX_PROPERTY((link) | TWTOKEN_DATABASE, TWTYPE_TEXT, prefix "Database"), \
      TWX_PROPERTY((link) | TWTOKEN_USERID, TWTYPE_TEXT, prefix "Userid"),     \
      TWX_PROPERTY((link) | TWTOKEN_PASSWORD, TWTYPE_TEXT, prefix "Password"), \
      TWX_PROPERTY((link) | TWTOKEN_METADATA, TWTYPE_TEXT, prefix "Metadata")

#endif  // TW_ACTIVITIES_COMMON_LINK_PROPERTIES_H_
