// A plug-in for the library tests: two exports by name and a table that reaches them by
// ordinal (the third entry names nothing the module exports).
#define EXPORT __attribute__((visibility("default")))

extern "C" {
EXPORT int TWXFirst() {
  return 101;
}
EXPORT int TWXSecond() {
  return 102;
}
EXPORT const char* TWOrdinalNames[] = {"TWXFirst", "TWXSecond", "TWXNotExported", nullptr};
}
