// The version of the foundation library, for diagnostics.
#ifndef TW_TWCL_BASE_VERSION_H_
#define TW_TWCL_BASE_VERSION_H_

// A constant text such as "twcl base 1.0".
const char* CL_BaseVersion();

#endif  // TW_TWCL_BASE_VERSION_H_
