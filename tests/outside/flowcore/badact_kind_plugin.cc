// badact_kind.twx: the test activity claiming to be a connector.
#define TESTACT_KIND TWX_KIND_CONNECTOR
#include "testact_activity.h"
