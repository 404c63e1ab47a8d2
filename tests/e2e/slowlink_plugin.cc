// slowlink.twx: the test connector testlink as a source that never runs dry, so that a run
// lasts until it is closed or killed. Each fetch pauses briefly and moves one row, starting
// over at the end of the rows; with "Deaf" in its Fail property a fetch does not return for
// three minutes, as an activity that ignores close requests (longer than the shortest status
// interval, within which a runner that lost its server ends itself). The first fetch of a process
// appends the process's id as a line to slowlink.fetching in the installation directory:
// from then on the run is inside its fetching.
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <string>
#include <thread>

#include "twx.h"

#define TWXFetch TestlinkFetch
#include "testlink_connector.h"
#undef TWXFetch

extern "C" uint32_t TWXFetch(TWXContext* ctx, TWFIELDLIST dest, uint32_t index,
                             uint32_t recordCount, uint32_t* count) noexcept {
  return tw::guard([&]() -> uint32_t {
    static std::atomic<bool> fetched{false};
    if (!fetched.exchange(true)) {
      std::ofstream out(std::string(TWFileExeDir()) + "slowlink.fetching", std::ios::app);
      out << ::getpid() << std::endl;
    }
    // Keeps the run busy without spinning; the server's close or kill is what ends it. A deaf
    // fetch still gives up after a while, so that a run left by a failed test cannot linger.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (Fails(ctx, "Deaf")) {
      for (int i = 0; i < 9000; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(20));
      return Refuse("Fetch");
    }
    if (recordCount == 0 || ctx->state->result.empty())
      return TestlinkFetch(ctx, dest, index, 0, count);
    uint32_t status = TestlinkFetch(ctx, dest, index, 1, count);
    if (status != TWFAIL_END_OF_DATA) return status;
    ctx->state->next = 0;
    return TestlinkFetch(ctx, dest, index, 1, count);
  });
}
