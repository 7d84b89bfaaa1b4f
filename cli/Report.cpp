#include "cli/Report.h"

#include "cli/JsonText.h"
#include "cli/OutputPixels.h"

#include <cstdio>

namespace pelo::cli {

namespace {

long long MillisecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 start)
        .count();
}

} // namespace

std::string_view ReportStatus(const Status& status) {
    switch (status.code) {
    case StatusCode::Ok:
        return "converted";
    case StatusCode::WouldReplace:
    case StatusCode::Collision:
        return "refused";
    case StatusCode::Stopped:
        return "not-processed";
    default:
        return "failed";
    }
}

bool Report::Open(const std::string& target, std::size_t entries, std::string& reason) {
    started_.assign(entries, Clock::time_point{});
    toStdout_ = target == "-";
    if (toStdout_ || file_.Open(target)) return true;
    reason = "cannot write the report " + target + ": " + file_.reason();
    return false;
}

void Report::FileStarted(std::size_t i, const BatchEntry&) {
    started_[i] = Clock::now();
}

void Report::FileFinished(std::size_t i, const BatchEntry& entry, const Status& status) {
    const bool ran = started_[i] != Clock::time_point{};
    Line(entry, ReportStatus(status), status.reason, ran ? MillisecondsSince(started_[i]) : 0,
         status.ok() ? OutputPixels(entry.output) : 0);
}

void Report::Planned(const BatchEntry& entry, const Status& verdict) {
    Line(entry, verdict.ok() ? "planned" : ReportStatus(verdict), verdict.reason, 0, 0);
}

void Report::Line(const BatchEntry& entry, std::string_view status, const std::string& reason,
                  long long milliseconds, std::uint64_t pixels) {
    std::string line = "{\"input\":";
    AppendJsonString(line, entry.input);
    line += ",\"output\":";
    AppendJsonString(line, entry.output);
    line += ",\"status\":";
    AppendJsonString(line, status);
    line += ",\"reason\":";
    AppendJsonString(line, reason);
    line += ",\"milliseconds\":" + std::to_string(milliseconds);
    line += ",\"pixels\":" + std::to_string(pixels) + "}\n";
    Write(line);
}

void Report::Write(const std::string& line) {
    if (!toStdout_) {
        file_.Write(line.data(), line.size());
        return;
    }
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fflush(stdout);
}

bool Report::Close(const BatchSummary& summary, std::string& reason) {
    std::size_t refused = 0;
    for (const Status& status : summary.results)
        refused += ReportStatus(status) == "refused";
    Write("{\"summary\":{\"entries\":" + std::to_string(summary.results.size()) +
          ",\"converted\":" + std::to_string(summary.converted) + ",\"failed\":" +
          std::to_string(summary.failed - refused) + ",\"refused\":" + std::to_string(refused) +
          ",\"not_processed\":" + std::to_string(summary.notProcessed) +
          ",\"milliseconds\":" + std::to_string(MillisecondsSince(start_)) + "}}\n");
    if (toStdout_ || file_.Commit()) return true;
    reason = "cannot write the report: " + file_.reason();
    return false;
}

} // namespace pelo::cli
