// The batch run shared by the desktop program and the command line: plans
// the run (no input replaced unless asked, no two entries on one output),
// then converts the entries on one or more workers and reports each file.
// The bytes written do not depend on the number of workers.
#pragma once

#include "image/ConversionSettings.h"
#include "image/MessageSink.h"
#include "image/Status.h"

#include <atomic>
#include <cstddef>
#include <exception>
#include <functional>
#include <string>
#include <vector>

namespace pelo {

class ConversionSession;

struct BatchEntry {
    std::string input;
    std::string output;
};

// What the plan found for each entry: ok to run, or refused before any
// file is touched (WouldReplace, Collision).
struct BatchPlan {
    std::vector<Status> verdicts;
    std::size_t wouldReplace = 0; // entries whose output is an input of the run

    bool refused(std::size_t i) const { return !verdicts[i].ok(); }
};

// An entry whose output is its own input or another entry's input is
// refused unless inPlace; of two entries with one output, the later one is
// refused and names the earlier.
BatchPlan PlanBatch(const std::vector<BatchEntry>& entries, bool inPlace);

// The runnable entries (indices, in list order) grouped so that entries
// sharing an input or output path are in one unit, in list order; units in
// the order of their first entry. A unit is done by one worker, so that any
// number of workers writes the same bytes as one.
std::vector<std::vector<std::size_t>> GroupEntries(const std::vector<BatchEntry>& entries,
                                                   const std::vector<std::size_t>& runnable);

class BatchObserver {
public:
    virtual ~BatchObserver() = default;
    virtual void FileStarted(std::size_t, const BatchEntry&) {}
    // Called once per entry, refused and unprocessed ones included.
    virtual void FileFinished(std::size_t, const BatchEntry&, const Status&) {}
    // An exception ended the run early (what the desktop shows in a box).
    virtual void RunAborted(std::exception_ptr) {}
};

// Converts one entry on a worker's session; the default runs the layered
// PSD path or the pipeline.
using EntryProcessor = std::function<Status(ConversionSession& session, bool layered,
                                            const std::string& input, const std::string& output)>;

inline constexpr std::size_t kDefaultRunMemory = std::size_t{4} << 30;

struct BatchOptions {
    ConversionSettings settings;
    unsigned jobs = 1;
    bool inPlace = false;
    std::size_t memoryBudget = kDefaultRunMemory; // picture memory of all workers together
    MessageSink* sink = nullptr;                  // the per-file message boxes; may be null
    const std::atomic<bool>* stop = nullptr;      // set: no new file is started
    ConversionSession* session = nullptr;         // used instead of a fresh one with one worker
    EntryProcessor process;                       // empty: the default
    // The verdicts for entries that are a part of a larger run, planned over
    // all of it (a shard); null: the entries are planned here.
    const BatchPlan* plan = nullptr;
};

struct BatchSummary {
    std::vector<Status> results; // one per entry
    std::size_t converted = 0;
    std::size_t failed = 0;       // refused or failed
    std::size_t notProcessed = 0; // left out because the run was stopped
};

BatchSummary RunBatch(const std::vector<BatchEntry>& entries, const BatchOptions& options,
                      BatchObserver& observer);

// Threads for one picture when `remaining` units (the one starting
// included) are left to start: files are split across the jobs first, and
// only the last ones, fewer than the jobs, share the jobs between them.
unsigned PictureThreads(unsigned jobs, std::size_t remaining);

} // namespace pelo
