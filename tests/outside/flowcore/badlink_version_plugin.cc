// badlink_version.twx: a connector of another interface version.
#define TESTLINK_VERSION 0x00030000u
#include "testlink_connector.h"
