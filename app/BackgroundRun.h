// A batch run on a thread of its own, so the dialog keeps repainting, moving
// and answering its stop button. Each finished file is handed to the UI
// thread before its worker goes on, so a stop takes effect at once.
#pragma once

#include "pipeline/BatchRunner.h"

#include <QObject>
#include <QString>
#include <atomic>
#include <exception>
#include <thread>
#include <vector>

namespace pelo {

class BackgroundRun : public QObject {
    Q_OBJECT
public:
    explicit BackgroundRun(QObject* parent = nullptr);
    ~BackgroundRun() override; // stops a run still going and waits for it

    // Starts the run; options.stop is set to this run's flag.
    void Start(std::vector<BatchEntry> entries, BatchOptions options);
    // The files in progress are finished; no new one starts.
    void RequestStop() { stop_ = true; }

    bool running() const { return thread_.joinable(); }
    bool stopRequested() const { return stop_; }

    // Runs a local event loop until the run has ended.
    void WaitInEventLoop();

    const BatchSummary& summary() const { return summary_; }
    std::exception_ptr abortReason() const { return abortReason_; }

signals:
    // On the UI thread, once per entry; the worker waits for it.
    void fileFinished(const pelo::BatchEntry& entry, const pelo::Status& status);
    void finished();

private:
    void Join();

    std::thread thread_;
    std::atomic<bool> stop_{false};
    bool ended_ = true;
    BatchSummary summary_;
    std::exception_ptr abortReason_;
};

} // namespace pelo
