// Test-only seams of app/app_events. The shipped programs never call these.
#pragma once

#include <chrono>

namespace app {

// While set, start_worker fails as it does when the system cannot make a thread.
void set_worker_start_failure_for_testing(bool fail);

// Waits until every worker has finished. False on time-out.
[[nodiscard]] bool wait_for_workers_for_testing(std::chrono::milliseconds deadline);

}  // namespace app
