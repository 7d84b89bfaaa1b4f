// Smooths a copy of the preview's picture off the UI thread, exactly as a
// run would before saving. At most one picture is computed at a time; a
// request made meanwhile waits, and only the newest one is delivered.
#pragma once

#include "image/ConversionSettings.h"
#include "image/ImageBuffer.h"
#include "pipeline/SmoothPicture.h"

#include <QFutureWatcher>
#include <QImage>
#include <QObject>
#include <cstddef>
#include <memory>
#include <optional>

namespace pelo {

// Pixels whose four bytes differ; the pictures have one size.
std::size_t CountChangedPixels(const ImageBuffer& a, const ImageBuffer& b);

// A picture in memory as a QImage of its own (straight alpha).
QImage ToQImage(const ImageBuffer& image);

struct PreviewResult {
    QImage after;
    std::size_t changedPixels = 0;
    int status = 0; // SmoothPicture's result
    unsigned generation = 0;
};

class PreviewRenderer : public QObject {
    Q_OBJECT
public:
    explicit PreviewRenderer(QObject* parent = nullptr);
    ~PreviewRenderer() override; // waits for a computation still going

    // The picture every later request smooths a copy of.
    void SetPicture(std::shared_ptr<const ImageBuffer> picture);
    void Request(const ConversionSettings& settings, PictureRoles roles);

    bool busy() const { return watcher_.isRunning() || pending_.has_value(); }

signals:
    void rendered(const pelo::PreviewResult& result);

private:
    struct Job {
        ConversionSettings settings;
        PictureRoles roles;
        unsigned generation;
    };
    void StartNext();
    void Delivered();

    std::shared_ptr<const ImageBuffer> picture_;
    QFutureWatcher<PreviewResult> watcher_;
    std::optional<Job> pending_;
    unsigned generation_ = 0;
};

} // namespace pelo
