// testact.twx: the test activity.
#include "testact_activity.h"
