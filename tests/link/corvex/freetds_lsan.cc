// Leak-checker suppression of the Corvex tests: FreeTDS's bulk library formats the message of a
// refused bulk copy with asprintf and does not free it. Allocations are traced with the slow
// unwinder, as the library is built without frame pointers and its frames must be seen to be
// named.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libct.so\n";
}
extern "C" const char* __asan_default_options() {
  return "fast_unwind_on_malloc=0";
}
