// pelo-batch: the batch run from the command line, one file or a folder.
#include "base/HeapReuse.h"
#include "cli/CommandLine.h"
#include "cli/Console.h"
#include "cli/RunEntries.h"
#include "cli/StopSignals.h"
#include "formats/PsdLibrary.h"
#include "image/Allocation.h"
#include "pipeline/BatchRunner.h"

#include <QGuiApplication>
#include <cstdio>
#include <cstdlib>
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

// Every failed file with its reason on stderr, then the count on stdout.
void PrintSummary(const std::vector<BatchEntry>& entries, const BatchSummary& summary, bool quiet) {
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
        std::printf("%zu converted, %zu failed, %zu not processed\n", summary.converted,
                    summary.failed, summary.notProcessed);
    else
        std::printf("%zu converted, %zu failed\n", summary.converted, summary.failed);
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

    BatchOptions options;
    options.settings = command->settings;
    options.jobs = command->jobs;
    options.inPlace = command->inPlace;
    options.memoryBudget = command->maxMemoryMib << 20;
    options.stop = &StopRequested();
    Console console(!command->quiet && ::isatty(STDERR_FILENO), run->entries.size());
    CatchStopSignals();
    const BatchSummary summary = RunBatch(run->entries, options, console);
    console.End();
    PrintSummary(run->entries, summary, command->quiet);
    std::fflush(stdout);

    if (StopSignal() != 0) return 128 + StopSignal();
    return summary.failed || summary.notProcessed || run->listingFailed ? kExitFailed : kExitOk;
}
