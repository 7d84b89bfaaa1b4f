#include "app/PreviewRenderer.h"

#include <QtConcurrent/QtConcurrentRun>
#include <cstring>

namespace pelo {

std::size_t CountChangedPixels(const ImageBuffer& a, const ImageBuffer& b) {
    std::size_t changed = 0;
    const std::size_t count = a.pixelCount();
    for (std::size_t i = 0; i < count; ++i)
        changed += std::memcmp(a.imageData + 4 * i, b.imageData + 4 * i, 4) != 0;
    return changed;
}

QImage ToQImage(const ImageBuffer& image) {
    // Blue, green, red, alpha in memory is ARGB32 on this byte order.
    const QImage view(image.imageData, image.width, image.height, 4 * image.width,
                      QImage::Format_ARGB32);
    return view.copy();
}

PreviewRenderer::PreviewRenderer(QObject* parent) : QObject(parent) {
    connect(&watcher_, &QFutureWatcher<PreviewResult>::finished, this, &PreviewRenderer::Delivered);
}

PreviewRenderer::~PreviewRenderer() {
    watcher_.waitForFinished();
}

void PreviewRenderer::SetPicture(std::shared_ptr<const ImageBuffer> picture) {
    picture_ = std::move(picture);
    ++generation_;
    pending_.reset();
}

void PreviewRenderer::Request(const ConversionSettings& settings, PictureRoles roles) {
    if (!picture_) return;
    pending_ = Job{settings, roles, ++generation_};
    if (!watcher_.isRunning()) StartNext();
}

void PreviewRenderer::StartNext() {
    if (!pending_) return;
    const Job job = *pending_;
    pending_.reset();
    watcher_.setFuture(QtConcurrent::run([picture = picture_, job] {
        PreviewResult result;
        result.generation = job.generation;
        ImagePtr copy = CloneIpl(*picture);
        if (!copy) {
            result.status = kImageNoWorkArea;
            return result;
        }
        result.status = SmoothPicture(*copy, job.settings, job.roles);
        if (result.status == 0) {
            result.changedPixels = CountChangedPixels(*picture, *copy);
            result.after = ToQImage(*copy);
        }
        return result;
    }));
}

void PreviewRenderer::Delivered() {
    const PreviewResult result = watcher_.result();
    // A result older than the newest request is dropped; that one follows.
    if (result.generation == generation_) emit rendered(result);
    StartNext();
}

} // namespace pelo
