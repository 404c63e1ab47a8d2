// testlink.twx: the working test connector.
#include "testlink_connector.h"
