// pelo-batch: the batch run from the command line: one file, a folder or a
// list, whole or one shard of it, run or only planned.
#include "base/HeapReuse.h"
#include "cli/CommandLine.h"
#include "cli/Console.h"
#include "cli/DryRun.h"
#include "cli/Report.h"
#include "cli/RunEntries.h"
#include "cli/Shard.h"
#include "cli/StopSignals.h"
#include "formats/PsdLibrary.h"
#include "image/Allocation.h"
#include "pipeline/BatchRunner.h"

#include <QGuiApplication>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <unistd.h>

namespace {

using namespace pelo;
using namespace pelo::cli;

void PrintFormats() {
    std::printf("input:");
    for (const auto& p : InputPatterns())
        std::printf(" %s", p.c_str());
    std::printf("\noutput:");
    for (const auto& p : OutputPatterns())
        std::printf(" %s", p.c_str());
    std::printf("\n");
}

// The console and the report, when there is one.
class BothObservers : public BatchObserver {
public:
    BothObservers(BatchObserver& first, BatchObserver* second) : first_(first), second_(second) {}
    void FileStarted(std::size_t i, const BatchEntry& entry) override {
        first_.FileStarted(i, entry);
        if (second_) second_->FileStarted(i, entry);
    }
    void FileFinished(std::size_t i, const BatchEntry& entry, const Status& status) override {
        first_.FileFinished(i, entry, status);
        if (second_) second_->FileFinished(i, entry, status);
    }

private:
    BatchObserver& first_;
    BatchObserver* second_;
};

// The entries of this machine's shard with their verdicts from the plan of
// the whole run, so that every shard refuses alike.
void KeepShard(const BatchCommand& command, const RunEntries& run, const BatchPlan& whole,
               std::vector<BatchEntry>& entries, BatchPlan& plan) {
    const std::vector<unsigned> shards = ShardsOf(run.entries, run.names, command.shardCount);
    for (std::size_t i = 0; i < run.entries.size(); ++i) {
        if (shards[i] != command.shardIndex - 1) continue;
        entries.push_back(run.entries[i]);
        plan.verdicts.push_back(whole.verdicts[i]);
    }
}

// Every failed file with its reason on stderr, then the count on counts.
void PrintSummary(const std::vector<BatchEntry>& entries, const BatchSummary& summary,
                  std::FILE* counts, bool quiet) {
    bool replaced = false;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const Status& status = summary.results[i];
        if (status.ok() || status.code == StatusCode::Stopped) continue;
        replaced = replaced || status.code == StatusCode::WouldReplace;
        std::fprintf(stderr, "pelo-batch: %s: %s\n", entries[i].input.c_str(),
                     status.reason.c_str());
    }
    if (replaced)
        std::fprintf(stderr, "pelo-batch: nothing was replaced; --in-place allows outputs to "
                             "replace inputs\n");
    if (summary.notProcessed > 0)
        std::fprintf(stderr, "pelo-batch: %zu files not processed (run stopped)\n",
                     summary.notProcessed);
    if (quiet) return;
    if (summary.notProcessed > 0)
        std::fprintf(counts, "%zu converted, %zu failed, %zu not processed\n", summary.converted,
                     summary.failed, summary.notProcessed);
    else
        std::fprintf(counts, "%zu converted, %zu failed\n", summary.converted, summary.failed);
}

} // namespace

int main(int argc, char** argv) {
    KeepFreedMemoryForReuse();
    // As the desktop program does: without the PSD library nothing starts.
    if (!InitialLoadDll()) {
        std::fprintf(stderr, "%s\n", kInitialLoadDllError);
        return kExitUsage;
    }
    // Decoding needs no window system; the offscreen platform gives the
    // vector renderer its fonts without a display.
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    // Qt's own warnings (decoder chatter, platform notes) would only repeat
    // what the per-file reasons say.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    int qtArgc = 1;
    char* qtArgv[] = {argv[0], nullptr};
    QGuiApplication qtApp(qtArgc, qtArgv);

    int exitCode = kExitOk;
    const auto command = ParseCommandLine(argc, argv, exitCode);
    if (!command) return exitCode;
    if (command->version) {
        std::printf("pelo-batch %s\n", PELO_VERSION);
        return kExitOk;
    }
    if (command->listFormats) {
        PrintFormats();
        return kExitOk;
    }
    SetMaxPicturePixels(command->maxPixels);
    const auto run = CollectRunEntries(*command, exitCode);
    if (!run) return exitCode;

    const BatchPlan whole = PlanBatch(run->entries, command->inPlace);
    std::vector<BatchEntry> entries;
    BatchPlan plan;
    KeepShard(*command, *run, whole, entries, plan);

    // With the report on standard output, every other line goes to stderr.
    std::FILE* counts = command->report == "-" ? stderr : stdout;
    std::optional<Report> report;
    if (!command->report.empty()) {
        std::string reason;
        if (!report.emplace().Open(command->report, entries.size(), reason)) {
            std::fprintf(stderr, "pelo-batch: %s\n", reason.c_str());
            return kExitFailed;
        }
    }
    if (command->dryRun) {
        const int planned =
            PrintPlan(entries, plan, report ? &*report : nullptr, counts, command->quiet);
        std::string reason;
        BatchSummary refusals;
        refusals.results = plan.verdicts;
        for (const Status& verdict : plan.verdicts)
            refusals.failed += !verdict.ok();
        if (report && !report->Close(refusals, reason)) {
            std::fprintf(stderr, "pelo-batch: %s\n", reason.c_str());
            return kExitFailed;
        }
        return planned;
    }

    BatchOptions options;
    options.settings = command->settings;
    options.jobs = command->jobs;
    options.inPlace = command->inPlace;
    options.memoryBudget = command->maxMemoryMib << 20;
    options.stop = &StopRequested();
    options.plan = &plan;
    Console console(!command->quiet && ::isatty(STDERR_FILENO), entries.size());
    BothObservers observers(console, report ? &*report : nullptr);
    CatchStopSignals();
    const BatchSummary summary = RunBatch(entries, options, observers);
    console.End();
    PrintSummary(entries, summary, counts, command->quiet);
    std::fflush(stdout);
    std::string reason;
    const bool reported = !report || report->Close(summary, reason);
    if (!reported) std::fprintf(stderr, "pelo-batch: %s\n", reason.c_str());

    if (StopSignal() != 0) return 128 + StopSignal();
    return summary.failed || summary.notProcessed || run->listingFailed || !reported ? kExitFailed
                                                                                     : kExitOk;
}
