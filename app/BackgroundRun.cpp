#include "app/BackgroundRun.h"

#include <QEventLoop>
#include <QMetaObject>

namespace pelo {

namespace {

class ForwardingObserver : public BatchObserver {
public:
    ForwardingObserver(BackgroundRun& run, std::exception_ptr& abortReason)
        : run_(run), abortReason_(abortReason) {}

    void FileFinished(std::size_t, const BatchEntry& entry, const Status& status) override {
        QMetaObject::invokeMethod(
            &run_, [&] { emit run_.fileFinished(entry, status); }, Qt::BlockingQueuedConnection);
    }

    void RunAborted(std::exception_ptr error) override { abortReason_ = error; }

private:
    BackgroundRun& run_;
    std::exception_ptr& abortReason_;
};

} // namespace

BackgroundRun::BackgroundRun(QObject* parent) : QObject(parent) {}

BackgroundRun::~BackgroundRun() {
    if (!running()) return;
    stop_ = true;
    // The worker may be waiting for the UI thread; serve it until it ends.
    WaitInEventLoop();
}

void BackgroundRun::Start(std::vector<BatchEntry> entries, BatchOptions options) {
    Join();
    stop_ = false;
    ended_ = false;
    summary_ = {};
    abortReason_ = nullptr;
    options.stop = &stop_;
    thread_ = std::thread([this, entries = std::move(entries), options = std::move(options)] {
        ForwardingObserver observer(*this, abortReason_);
        BatchSummary summary = RunBatch(entries, options, observer);
        QMetaObject::invokeMethod(
            this,
            [this, summary = std::move(summary)]() mutable {
                summary_ = std::move(summary);
                Join();
                emit finished();
            },
            Qt::QueuedConnection);
    });
}

void BackgroundRun::WaitInEventLoop() {
    if (ended_) return;
    QEventLoop loop;
    connect(this, &BackgroundRun::finished, &loop, &QEventLoop::quit);
    if (!ended_) loop.exec();
}

void BackgroundRun::Join() {
    if (thread_.joinable()) thread_.join();
    ended_ = true;
}

} // namespace pelo
