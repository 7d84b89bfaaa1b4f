// --report: one JSON object a line for every file as it finishes (input,
// output, status, reason, milliseconds, pixels) and a summary object at the
// end. Standard output is written as it goes; a file through a temporary
// renamed into place at the end, so no half-written report is left.
#pragma once

#include "base/AtomicFile.h"
#include "pipeline/BatchRunner.h"

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace pelo::cli {

// The status word of a report line: converted, refused, failed,
// not-processed.
std::string_view ReportStatus(const Status& status);

class Report : public BatchObserver {
public:
    // target "-": standard output. False with reason when the file cannot
    // be opened.
    bool Open(const std::string& target, std::size_t entries, std::string& reason);

    void FileStarted(std::size_t i, const BatchEntry& entry) override;
    void FileFinished(std::size_t i, const BatchEntry& entry, const Status& status) override;
    // A dry run's line: status "planned", or "refused" with the reason.
    void Planned(const BatchEntry& entry, const Status& verdict);
    // Writes the summary; a file is then renamed into place. False with
    // reason when the report could not be written.
    bool Close(const BatchSummary& summary, std::string& reason);

private:
    using Clock = std::chrono::steady_clock;

    void Line(const BatchEntry& entry, std::string_view status, const std::string& reason,
              long long milliseconds, std::uint64_t pixels);
    void Write(const std::string& line);

    bool toStdout_ = false;
    AtomicFile file_;
    std::vector<Clock::time_point> started_;
    Clock::time_point start_ = Clock::now();
};

} // namespace pelo::cli
