#include "pipeline/BatchRunner.h"

#include "image/PictureBudget.h"
#include "pipeline/ConversionSession.h"
#include "pipeline/FileKinds.h"
#include "pipeline/FileSystem.h"

#include <algorithm>
#include <map>
#include <mutex>
#include <numeric>
#include <optional>
#include <thread>
#include <variant>

namespace pelo {

namespace {

// A path's identity for the plan: where it is on disk, or its text when
// that cannot be told.
using PathKey = std::variant<FilePlace, std::string>;

PathKey KeyOf(const std::string& path) {
    if (auto place = PlaceOf(path)) return *place;
    return path;
}

Status ProcessDefault(ConversionSession& session, bool layered, const std::string& input,
                      const std::string& output) {
    const bool ok =
        layered ? session.ProcessLayeredPsd(input, output) : session.ProcessFile(input, output);
    if (ok) return {};
    return session.failure.ok() ? Status::Fail(StatusCode::Damaged, "conversion failed")
                                : session.failure;
}

// Paths beyond PATH_MAX reach the readers and writers through their folders'
// descriptors; reasons name the paths as the user gave them.
Status ProcessEntry(ConversionSession& session, const BatchEntry& entry,
                    const EntryProcessor& process) {
    const ReachablePath input(entry.input, false);
    if (input.path().empty()) return Status::Fail(StatusCode::CannotRead, input.problem());
    const ReachablePath output(entry.output, true);
    if (output.path().empty()) return Status::Fail(StatusCode::CannotWrite, output.problem());
    const bool layered = IsLayeredPsdPair(entry.input, entry.output);
    Status status = process ? process(session, layered, input.path(), output.path())
                            : ProcessDefault(session, layered, input.path(), output.path());
    status.reason = output.Restore(input.Restore(std::move(status.reason)));
    return status;
}

} // namespace

std::vector<std::vector<std::size_t>> GroupEntries(const std::vector<BatchEntry>& entries,
                                                   const std::vector<std::size_t>& runnable) {
    std::vector<std::size_t> parent(entries.size());
    std::iota(parent.begin(), parent.end(), 0);
    auto root = [&parent](std::size_t i) {
        while (parent[i] != i)
            i = parent[i] = parent[parent[i]];
        return i;
    };
    std::map<std::string, std::size_t> owner;
    for (std::size_t i : runnable) {
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
    for (std::size_t i : runnable) {
        auto [it, fresh] = unitOf.emplace(root(i), units.size());
        if (fresh) units.emplace_back();
        units[it->second].push_back(i);
    }
    return units;
}

BatchPlan PlanBatch(const std::vector<BatchEntry>& entries, bool inPlace) {
    BatchPlan plan;
    plan.verdicts.resize(entries.size());
    std::map<PathKey, std::size_t> inputs, outputs;
    for (std::size_t i = 0; i < entries.size(); ++i)
        inputs.emplace(KeyOf(entries[i].input), i);
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const PathKey key = KeyOf(entries[i].output);
        if (const auto it = inputs.find(key); it != inputs.end()) {
            ++plan.wouldReplace;
            if (!inPlace) {
                plan.verdicts[i] = Status::Fail(
                    StatusCode::WouldReplace,
                    it->second == i
                        ? "the output would replace the input itself: " + entries[i].output
                        : "the output would replace the input " + entries[it->second].input);
                continue;
            }
        }
        const auto [it, fresh] = outputs.emplace(key, i);
        if (!fresh)
            plan.verdicts[i] = Status::Fail(
                StatusCode::Collision, "the output " + entries[i].output +
                                           " is already written for " + entries[it->second].input);
    }
    return plan;
}

unsigned PictureThreads(unsigned jobs, std::size_t remaining) {
    if (remaining == 0 || remaining >= jobs) return 1;
    return std::max(1u, jobs / static_cast<unsigned>(remaining));
}

BatchSummary RunBatch(const std::vector<BatchEntry>& entries, const BatchOptions& options,
                      BatchObserver& observer) {
    BatchSummary summary;
    summary.results.resize(entries.size());
    std::vector<char> done(entries.size(), 0);
    std::mutex report; // observer calls and results, one at a time
    auto finish = [&](std::size_t i, Status status) {
        std::lock_guard lock(report);
        summary.results[i] = std::move(status);
        done[i] = 1;
        observer.FileFinished(i, entries[i], summary.results[i]);
    };

    const BatchPlan plan = options.plan ? *options.plan : PlanBatch(entries, options.inPlace);
    std::vector<std::size_t> runnable;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (plan.refused(i))
            finish(i, plan.verdicts[i]);
        else
            runnable.push_back(i);
    }
    const auto units = GroupEntries(entries, runnable);

    PictureBudget budget(options.memoryBudget);
    std::atomic<std::size_t> next{0};
    std::atomic<bool> aborted{false};
    std::exception_ptr abortReason;
    auto stopped = [&] { return aborted || (options.stop && options.stop->load()); };
    const unsigned count =
        std::max(1u, std::min<unsigned>(options.jobs, static_cast<unsigned>(units.size())));

    auto worker = [&] {
        std::optional<ConversionSession> own;
        ConversionSession& session =
            (count == 1 && options.session) ? *options.session : own.emplace();
        session.settings = options.settings;
        session.sink = options.sink;
        session.BeginRun();
        for (std::size_t u; !stopped() && (u = next.fetch_add(1)) < units.size();) {
            session.pictureThreads = PictureThreads(options.jobs, units.size() - u);
            for (std::size_t i : units[u]) {
                if (stopped()) break;
                {
                    std::lock_guard lock(report);
                    observer.FileStarted(i, entries[i]);
                }
                Status status;
                try {
                    PictureBudgetScope scope(budget);
                    status = ProcessEntry(session, entries[i], options.process);
                } catch (...) {
                    // As the desktop run always did: report, then leave the rest.
                    std::string what = "unknown error";
                    try {
                        throw;
                    } catch (const std::exception& e) {
                        what = e.what();
                    } catch (...) {
                    }
                    std::lock_guard lock(report);
                    if (!abortReason) abortReason = std::current_exception();
                    aborted = true;
                    status = Status::Fail(StatusCode::Aborted, "run stopped: " + what);
                }
                finish(i, std::move(status));
            }
        }
        session.EndRun();
    };
    std::vector<std::thread> threads;
    for (unsigned t = 1; t < count; ++t)
        threads.emplace_back(worker);
    worker();
    for (auto& t : threads)
        t.join();

    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (!done[i]) {
            finish(i, Status::Fail(StatusCode::Stopped, "not processed (run stopped)"));
            ++summary.notProcessed;
        } else if (summary.results[i].ok()) {
            ++summary.converted;
        } else {
            ++summary.failed;
        }
    }
    if (abortReason) observer.RunAborted(abortReason);
    return summary;
}

} // namespace pelo
