// pelo-batch: the batch run from the command line, one file or a folder.
#include "app/settings/SettingsStore.h"
#include "formats/AtomicFile.h"
#include "formats/Codec.h"
#include "formats/PsdLibrary.h"
#include "image/Allocation.h"
#include "image/PathText.h"
#include "pipeline/BatchFiles.h"
#include "pipeline/BatchRunner.h"

#include <CLI/CLI.hpp>
#include <QGuiApplication>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <malloc.h>
#include <mutex>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

std::vector<std::string> SortedPatterns(std::vector<std::string> list) {
    pelo::SortFileList(list);
    list.erase(std::unique(list.begin(), list.end()), list.end());
    return list;
}

std::vector<std::string> InputPatterns() {
    std::vector<std::string> list = {"*.ERI", "*.PSD"};
    for (const auto& p : pelo::CodecDecoderPatterns())
        list.push_back(p);
    return SortedPatterns(list);
}

std::vector<std::string> OutputPatterns() {
    std::vector<std::string> list = {"*.TGA", "*.PSD"};
    for (const auto& p : pelo::CodecEncoderPatterns())
        list.push_back(p);
    return SortedPatterns(list);
}

bool Offers(const std::vector<std::string>& list, const std::string& pattern) {
    return std::find(list.begin(), list.end(), pattern) != list.end();
}

bool IsFolder(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool Exists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

// Progress on stderr, redrawn in place on a terminal; every other line that
// goes to stderr while it shows first clears it.
class Console {
public:
    Console(bool bar, std::size_t total) : bar_(bar), total_(total), start_(Clock::now()) {}

    void Message(const std::string& text) {
        std::lock_guard lock(mutex_);
        ClearLocked();
        std::fprintf(stderr, "pelo-batch: %s\n", text.c_str());
        DrawLocked(true);
    }

    void Started(const std::string& name) {
        std::lock_guard lock(mutex_);
        current_ = name;
        DrawLocked(false);
    }

    void Finished() {
        std::lock_guard lock(mutex_);
        ++done_;
        DrawLocked(done_ == total_);
    }

    void End() {
        std::lock_guard lock(mutex_);
        ClearLocked();
        bar_ = false;
    }

private:
    void ClearLocked() {
        if (bar_ && drawn_) std::fputs("\r\033[K", stderr);
        drawn_ = false;
    }

    void DrawLocked(bool force) {
        if (!bar_) return;
        const auto now = Clock::now();
        if (!force && drawn_ && now - lastDraw_ < std::chrono::milliseconds(100)) return;
        lastDraw_ = now;
        winsize ws{};
        const int columns =
            (::ioctl(STDERR_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0) ? ws.ws_col : 80;
        constexpr int kBar = 24;
        const int filled = total_ ? static_cast<int>(kBar * done_ / total_) : kBar;
        const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(now - start_).count();
        char head[128];
        std::snprintf(head, sizeof head, "[%s%s] %zu/%zu %02lld:%02lld ",
                      std::string(static_cast<std::size_t>(filled), '#').c_str(),
                      std::string(static_cast<std::size_t>(kBar - filled), '-').c_str(), done_,
                      total_, static_cast<long long>(seconds / 60),
                      static_cast<long long>(seconds % 60));
        std::string line = head;
        const std::size_t room = static_cast<std::size_t>(std::max(columns - 1, 0));
        if (line.size() < room) {
            std::string name = current_;
            if (name.size() > room - line.size())
                name = "..." + name.substr(name.size() - (room - line.size() - 3));
            line += name;
        }
        if (line.size() > room) line.resize(room);
        std::fprintf(stderr, "\r%s\033[K", line.c_str());
        std::fflush(stderr);
        drawn_ = true;
    }

    std::mutex mutex_;
    bool bar_;
    bool drawn_ = false;
    std::size_t total_;
    std::size_t done_ = 0;
    std::string current_;
    Clock::time_point start_;
    Clock::time_point lastDraw_{};
};

// The bar follows the runner's reports.
class ConsoleObserver : public pelo::BatchObserver {
public:
    explicit ConsoleObserver(Console& console) : console_(console) {}
    void FileStarted(std::size_t, const pelo::BatchEntry& entry) override {
        console_.Started(entry.input);
    }
    void FileFinished(std::size_t, const pelo::BatchEntry&, const pelo::Status&) override {
        console_.Finished();
    }

private:
    Console& console_;
};

// The first SIGINT or SIGTERM lets the files in progress finish and starts
// no new one; a second removes the temporaries still open and ends at once.
std::atomic<bool> gStop{false};
volatile std::sig_atomic_t gSignal = 0;

extern "C" void OnStopSignal(int signal) {
    if (gSignal != 0) {
        pelo::RemovePendingTemporaries();
        ::_exit(128 + signal);
    }
    gSignal = signal;
    gStop.store(true);
}

void CatchStopSignals() {
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
}

} // namespace

int main(int argc, char** argv) {
    // Every file allocates and frees picture-sized buffers. Keeping them in
    // the heap instead of fresh mappings spares each worker the page faults
    // of zeroed memory per file (worker threads would otherwise map anew).
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
    mallopt(M_TRIM_THRESHOLD, 128 << 20);
    // As the desktop program does: without the PSD library nothing starts.
    if (!pelo::InitialLoadDll()) {
        std::fprintf(stderr, "%s\n", pelo::kInitialLoadDllError);
        return kExitUsage;
    }
    // Decoding needs no window system; the offscreen platform gives the
    // vector renderer its fonts without a display.
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    // Qt's own warnings (decoder chatter, platform notes) would only repeat
    // what the per-file reasons below say.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    int qtArgc = 1;
    char* qtArgv[] = {argv[0], nullptr};
    QGuiApplication qtApp(qtArgc, qtArgv);

    CLI::App app{"Anti-aliases the stair-stepped edges of pictures.\n"
                 "  pelo-batch [OPTIONS] INPUT OUTPUT\n"
                 "  pelo-batch [OPTIONS] --from FMT --to FMT INPUT_DIR OUTPUT_DIR",
                 "pelo-batch"};
    pelo::ConversionSettings settings; // first-start values
    std::vector<std::string> paths;
    std::string from, to, settingsFile;
    unsigned jobs = std::max(1u, std::thread::hardware_concurrency());
    bool white = false, recursive = false, quiet = false, listFormats = false, version = false;
    bool inPlace = false;
    std::uint64_t maxPixels = pelo::kDefaultMaxPicturePixels;
    std::size_t maxMemoryMib = pelo::kDefaultRunMemory >> 20;

    app.add_option("paths", paths, "INPUT OUTPUT (files), or INPUT_DIR OUTPUT_DIR with --from/--to")
        ->expected(0, 2);
    app.add_option("--from", from, "input format of a folder run: png, PNG or *.PNG");
    app.add_option("--to", to, "output format of a folder run: tga, TGA or *.TGA");
    auto* optThreshold =
        app.add_option("-F,--threshold", settings.detectThreshold, "detection threshold (4)");
    auto* optGamma = app.add_option("--gamma", settings.gamma, "brightness correction (0.7)");
    auto* optRedLift = app.add_option("--red-lift", settings.redLift, "pure-red lift (1.2)");
    auto* optRedThreshold =
        app.add_option("--red-threshold", settings.redThreshold, "pure-red threshold (3)");
    auto* optPurpleLift =
        app.add_option("--purple-lift", settings.purpleLift, "pure-purple lift (1.1)");
    auto* optPurpleThreshold =
        app.add_option("--purple-threshold", settings.purpleThreshold, "pure-purple threshold (3)");
    auto* optHueInfluence =
        app.add_option("--hue-influence", settings.hueInfluence, "hue influence (1.5)");
    auto* optHueThreshold =
        app.add_option("--hue-threshold", settings.hueThreshold, "hue threshold (100)");
    auto* optWhite =
        app.add_flag("-w,--white-transparent", white, "treat pure white as transparent");
    auto* optRecursive = app.add_flag("-r,--recursive", recursive, "include sub-folders");
    app.add_option("-j,--jobs", jobs, "files in parallel (number of cores)")
        ->check(CLI::Range(1u, 1024u));
    auto* optSettings =
        app.add_option("--settings", settingsFile,
                       "start from a profile in the desktop program's INI format (FILE.ini; "
                       "alone: the desktop program's own)")
            ->expected(0, 1);
    app.add_flag("--in-place", inPlace,
                 "allow outputs to replace inputs (refused without it, nothing written)");
    auto* optMaxPixels =
        app.add_option("--max-pixels", maxPixels, "largest picture in pixels (268435456)")
            ->check(CLI::Range(std::uint64_t{1}, std::uint64_t{1} << 40));
    auto* optMaxMemory = app.add_option("--max-memory", maxMemoryMib,
                                        "picture memory of all parallel files together, MiB (4096)")
                             ->check(CLI::Range(std::size_t{64}, std::size_t{1} << 30));
    app.add_flag("-q,--quiet", quiet, "no progress bar and no summary");
    app.add_flag("--list-formats", listFormats, "list the input and output formats");
    app.add_flag("--version", version, "print the version");

    // "--settings [FILE]": an optional value would swallow INPUT, so the
    // next word counts as FILE only when it names a profile (*.ini).
    std::vector<std::string> words(argv + 1, argv + argc);
    for (std::size_t i = 0; i < words.size(); ++i) {
        if (words[i] == "--") break;
        if (words[i] != "--settings") continue;
        const bool named = i + 1 < words.size() && words[i + 1].size() > 4 &&
                           words[i + 1][0] != '-' &&
                           pelo::UpperPath(words[i + 1].substr(words[i + 1].size() - 4)) == ".INI";
        words[i] = "--settings=" + (named ? words[i + 1] : pelo::ProfilePathFor("pelo"));
        if (named) words.erase(words.begin() + static_cast<std::ptrdiff_t>(i) + 1);
    }
    std::reverse(words.begin(), words.end()); // CLI11 takes the arguments last first
    try {
        app.parse(words);
    } catch (const CLI::ParseError& e) {
        const int rc = app.exit(e);
        return rc == 0 ? kExitOk : kExitUsage;
    }
    auto usage = [](const std::string& text) {
        std::fprintf(stderr, "pelo-batch: %s\nRun with --help for more information.\n",
                     text.c_str());
        return kExitUsage;
    };

    if (version) {
        std::printf("pelo-batch %s\n", PELO_VERSION);
        return kExitOk;
    }
    const auto inputs = InputPatterns();
    const auto outputs = OutputPatterns();
    if (listFormats) {
        std::printf("input:");
        for (const auto& p : inputs)
            std::printf(" %s", p.c_str());
        std::printf("\noutput:");
        for (const auto& p : outputs)
            std::printf(" %s", p.c_str());
        std::printf("\n");
        return kExitOk;
    }
    if (paths.size() != 2) return usage("expected INPUT and OUTPUT");

    // Profile first, then what the command line names explicitly.
    if (optSettings->count() > 0) {
        pelo::UseUserDefaultLocale();
        // The desktop program's own profile may not exist yet (first start):
        // its defaults then. A profile named on the command line must exist.
        const std::string ownProfile = pelo::ProfilePathFor("pelo");
        const std::string file = settingsFile.empty() ? ownProfile : settingsFile;
        if (file != ownProfile && !Exists(file)) return usage("settings file not found: " + file);
        pelo::PersistedState state;
        pelo::LoadSettings(pelo::ProfileFile(file), state);
        const pelo::ConversionSettings given = settings;
        settings = state.settings;
        if (optThreshold->count()) settings.detectThreshold = given.detectThreshold;
        if (optGamma->count()) settings.gamma = given.gamma;
        if (optRedLift->count()) settings.redLift = given.redLift;
        if (optRedThreshold->count()) settings.redThreshold = given.redThreshold;
        if (optPurpleLift->count()) settings.purpleLift = given.purpleLift;
        if (optPurpleThreshold->count()) settings.purpleThreshold = given.purpleThreshold;
        if (optHueInfluence->count()) settings.hueInfluence = given.hueInfluence;
        if (optHueThreshold->count()) settings.hueThreshold = given.hueThreshold;
        if (!optRecursive->count()) recursive = state.recursiveSearch != 0;
        if (!optMaxPixels->count()) maxPixels = state.maxPicturePixels;
        if (!optMaxMemory->count()) maxMemoryMib = state.maxRunMemoryMib;
        if (!optWhite->count()) white = settings.whiteAsTransparent != 0;
    }
    settings.whiteAsTransparent = white ? 1 : 0;

    pelo::SetMaxPicturePixels(maxPixels);

    std::vector<pelo::BatchEntry> entries;
    bool listingFailed = false;
    if (from.empty() && to.empty()) {
        if (recursive) return usage("--recursive needs --from and --to");
        entries.push_back({paths[0], paths[1]});
    } else {
        if (from.empty() || to.empty()) return usage("a folder run needs both --from and --to");
        const std::string inPattern = pelo::NormalisePattern(from);
        const std::string outPattern = pelo::NormalisePattern(to);
        if (inPattern.empty() || !Offers(inputs, inPattern))
            return usage("unknown input format '" + from + "' (see --list-formats)");
        if (outPattern.empty() || !Offers(outputs, outPattern))
            return usage("unknown output format '" + to + "' (see --list-formats)");
        const std::string& inDir = paths[0];
        const std::string& outDir = paths[1];
        if (!IsFolder(inDir)) {
            std::fprintf(stderr, "pelo-batch: input folder not found: %s\n", inDir.c_str());
            return kExitFailed;
        }
        if (Exists(outDir) && !IsFolder(outDir)) {
            std::fprintf(stderr, "pelo-batch: output folder is not a folder: %s\n", outDir.c_str());
            return kExitFailed;
        }
        std::vector<std::string> list, unreadable;
        if (recursive) {
            // The output folder inside the input folder holds earlier outputs,
            // not inputs.
            pelo::CollectFilesRecursive(inDir, inPattern.substr(1), list, outDir, &unreadable);
        } else if (!pelo::ListFolder(inDir, inPattern, list, false)) {
            std::fprintf(stderr, "pelo-batch: cannot list the input folder: %s\n", inDir.c_str());
            return kExitFailed;
        }
        for (const auto& folder : unreadable) {
            std::fprintf(stderr, "pelo-batch: cannot open the folder %s\n",
                         pelo::FormInputPath(inDir, folder).c_str());
            listingFailed = true;
        }
        pelo::SortFileList(list);
        for (const auto& name : list)
            entries.push_back(
                {pelo::FormInputPath(inDir, name), pelo::FormOutputPath(outDir, name, outPattern)});
        if (entries.empty() && !quiet)
            std::fprintf(stderr, "pelo-batch: no %s files in %s\n", inPattern.c_str(),
                         inDir.c_str());
    }

    pelo::BatchOptions options;
    options.settings = settings;
    options.jobs = jobs;
    options.inPlace = inPlace;
    options.memoryBudget = maxMemoryMib << 20;
    options.stop = &gStop;
    Console console(!quiet && ::isatty(STDERR_FILENO), entries.size());
    ConsoleObserver observer(console);
    CatchStopSignals();
    const pelo::BatchSummary summary = pelo::RunBatch(entries, options, observer);
    console.End();

    bool replaced = false;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const pelo::Status& status = summary.results[i];
        if (status.ok() || status.code == pelo::StatusCode::Stopped) continue;
        replaced = replaced || status.code == pelo::StatusCode::WouldReplace;
        std::fprintf(stderr, "pelo-batch: %s: %s\n", entries[i].input.c_str(),
                     status.reason.c_str());
    }
    if (replaced)
        std::fprintf(stderr, "pelo-batch: nothing was replaced; --in-place allows outputs to "
                             "replace inputs\n");
    if (summary.notProcessed > 0)
        std::fprintf(stderr, "pelo-batch: %zu files not processed (run stopped)\n",
                     summary.notProcessed);
    if (!quiet) {
        if (summary.notProcessed > 0)
            std::printf("%zu converted, %zu failed, %zu not processed\n", summary.converted,
                        summary.failed, summary.notProcessed);
        else
            std::printf("%zu converted, %zu failed\n", summary.converted, summary.failed);
    }
    std::fflush(stdout);
    if (gSignal != 0) return 128 + gSignal;
    return summary.failed || summary.notProcessed || listingFailed ? kExitFailed : kExitOk;
}
