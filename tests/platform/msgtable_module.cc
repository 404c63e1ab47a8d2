// A module with a plug-in's own message table, exporting one lookup under a common name:
// each module must answer from its own table.
#include <cstdint>

extern "C" int plugin_load_string(uint32_t id, char* buffer, int size);

extern "C" __attribute__((visibility("default"))) int test_module_text(uint32_t id, char* buffer,
                                                                       int size) {
  return plugin_load_string(id, buffer, size);
}
