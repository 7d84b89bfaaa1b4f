// The progress of a run on stderr: a bar redrawn in place on a terminal,
// fed by the runner's reports.
#pragma once

#include "pipeline/BatchRunner.h"

#include <chrono>
#include <cstddef>
#include <mutex>
#include <string>

namespace pelo::cli {

class Console : public BatchObserver {
public:
    // bar: draw the bar (stderr is a terminal and the run is not quiet).
    Console(bool bar, std::size_t total);

    void FileStarted(std::size_t, const BatchEntry& entry) override;
    void FileFinished(std::size_t, const BatchEntry&, const Status&) override;
    // Clears the bar for the lines that follow the run.
    void End();

private:
    using Clock = std::chrono::steady_clock;

    void ClearLocked();
    void DrawLocked(bool force);

    std::mutex mutex_;
    bool bar_;
    bool drawn_ = false;
    std::size_t total_;
    std::size_t done_ = 0;
    std::string current_;
    Clock::time_point start_;
    Clock::time_point lastDraw_{};
};

} // namespace pelo::cli
