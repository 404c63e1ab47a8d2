// badlink_missing.twx: a connector that lacks the TWXUpdate entry point.
#define TESTLINK_OMIT_UPDATE 1
#include "testlink_connector.h"
