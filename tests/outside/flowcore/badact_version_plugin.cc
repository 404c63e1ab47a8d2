// badact_version.twx: the test activity of another interface version.
#define TESTACT_VERSION 0x00030000u
#include "testact_activity.h"
