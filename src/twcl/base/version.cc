// The version text of the foundation library.
#include "twcl/base/version.h"

const char* CL_BaseVersion() {
  return "twcl base 1.0";
}
