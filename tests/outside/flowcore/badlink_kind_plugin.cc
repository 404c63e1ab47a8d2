// badlink_kind.twx: a connector whose identity says it is an activity.
#define TESTLINK_KIND TWX_KIND_ACTIVITY
#include "testlink_connector.h"
