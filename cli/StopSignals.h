// SIGINT and SIGTERM during a run: the first lets the files in progress
// finish and starts no new one; a second removes the temporaries still open
// and ends the process at once.
#pragma once

#include <atomic>

namespace pelo::cli {

void CatchStopSignals();

// Set by the first signal; the runner's stop flag.
const std::atomic<bool>& StopRequested();

// The first signal caught, 0 when none.
int StopSignal();

} // namespace pelo::cli
