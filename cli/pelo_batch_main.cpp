// pelo-batch: the batch run from the command line, one file or a folder.
#include "app/settings/SettingsStore.h"
#include "cli/BatchFiles.h"
#include "formats/Codec.h"
#include "formats/PsdLibrary.h"
#include "image/ConversionSession.h"
#include "image/PathText.h"

#include <CLI/CLI.hpp>
#include <QGuiApplication>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <malloc.h>
#include <map>
#include <mutex>
#include <numeric>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

struct Entry {
    Entry(std::string in, std::string out) : input(std::move(in)), output(std::move(out)) {}
    std::string input;
    std::string output;
    bool done = false;
    bool ok = false;
    std::string reason;
};

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

class ConsoleSink : public pelo::MessageSink {
public:
    explicit ConsoleSink(Console& console) : console_(console) {}
    void ShowMessage(const std::string& text) override { console_.Message(text); }

private:
    Console& console_;
};

// Entries that share an input or output path go to one unit and are done in
// list order by one worker, so that any number of workers writes the same
// bytes as one.
std::vector<std::vector<std::size_t>> GroupEntries(const std::vector<Entry>& entries) {
    std::vector<std::size_t> parent(entries.size());
    std::iota(parent.begin(), parent.end(), 0);
    auto root = [&parent](std::size_t i) {
        while (parent[i] != i)
            i = parent[i] = parent[parent[i]];
        return i;
    };
    std::map<std::string, std::size_t> owner;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        for (const std::string* path : {&entries[i].input, &entries[i].output}) {
            auto [it, fresh] = owner.emplace(*path, i);
            if (!fresh) {
                const std::size_t a = root(it->second), b = root(i);
                parent[std::max(a, b)] = std::min(a, b);
            }
        }
    }
    std::vector<std::vector<std::size_t>> units;
    std::map<std::size_t, std::size_t> unitOf;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const std::size_t r = root(i);
        auto [it, fresh] = unitOf.emplace(r, units.size());
        if (fresh) units.emplace_back();
        units[it->second].push_back(i);
    }
    return units;
}

void ProcessEntry(pelo::ConversionSession& session, Entry& entry) {
    session.failure.clear();
    bool loaded;
    if (pelo::IsLayeredPsdPair(entry.input, entry.output))
        loaded = session.ProcessLayeredPsd(entry.input, entry.output);
    else
        loaded = session.ProcessFile(entry.input, entry.output);
    entry.ok = loaded && session.failure.empty();
    if (!entry.ok) entry.reason = session.failure.empty() ? "conversion failed" : session.failure;
}

void RunEntries(std::vector<Entry>& entries, const pelo::ConversionSettings& settings,
                unsigned jobs, Console& console) {
    const auto units = GroupEntries(entries);
    std::atomic<std::size_t> next{0};
    std::atomic<bool> stop{false};
    ConsoleSink sink(console);
    auto worker = [&] {
        pelo::ConversionSession session;
        session.settings = settings;
        session.sink = &sink;
        session.BeginRun();
        for (std::size_t u; !stop && (u = next.fetch_add(1)) < units.size();) {
            for (std::size_t i : units[u]) {
                if (stop) break;
                Entry& entry = entries[i];
                console.Started(entry.input);
                try {
                    ProcessEntry(session, entry);
                } catch (const std::exception& e) {
                    // As the desktop run does: report, then leave the rest.
                    entry.ok = false;
                    entry.reason = std::string("run stopped: ") + e.what();
                    stop = true;
                }
                entry.done = true;
                console.Finished();
            }
        }
        session.EndRun();
    };
    const unsigned count =
        std::max(1u, std::min<unsigned>(jobs, static_cast<unsigned>(units.size())));
    std::vector<std::thread> threads;
    for (unsigned t = 1; t < count; ++t)
        threads.emplace_back(worker);
    worker();
    for (auto& t : threads)
        t.join();
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
        if (!optWhite->count()) white = settings.whiteAsTransparent != 0;
    }
    settings.whiteAsTransparent = white ? 1 : 0;

    std::vector<Entry> entries;
    if (from.empty() && to.empty()) {
        if (recursive) return usage("--recursive needs --from and --to");
        entries.push_back(Entry{paths[0], paths[1]});
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
        std::vector<std::string> list;
        if (recursive)
            pelo::CollectFilesRecursive(inDir, inPattern.substr(1), list);
        else if (!pelo::ListFolder(inDir, inPattern, list)) {
            std::fprintf(stderr, "pelo-batch: cannot list the input folder: %s\n", inDir.c_str());
            return kExitFailed;
        }
        pelo::SortFileList(list);
        for (const auto& name : list)
            entries.push_back(Entry{pelo::FormInputPath(inDir, name),
                                    pelo::FormOutputPath(outDir, name, outPattern)});
        if (entries.empty() && !quiet)
            std::fprintf(stderr, "pelo-batch: no %s files in %s\n", inPattern.c_str(),
                         inDir.c_str());
    }

    Console console(!quiet && ::isatty(STDERR_FILENO), entries.size());
    RunEntries(entries, settings, jobs, console);
    console.End();

    std::size_t converted = 0, failed = 0;
    for (const Entry& entry : entries) {
        if (entry.ok) {
            ++converted;
            continue;
        }
        ++failed;
        std::fprintf(stderr, "pelo-batch: %s: %s\n", entry.input.c_str(),
                     entry.done ? entry.reason.c_str() : "not processed (run stopped)");
    }
    if (!quiet) std::printf("%zu converted, %zu failed\n", converted, failed);
    return failed ? kExitFailed : kExitOk;
}
