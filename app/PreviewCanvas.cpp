#include "app/PreviewCanvas.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

namespace pelo {

namespace {

constexpr int kCheckerSquare = 8;
constexpr int kDividerGrip = 5;

} // namespace

PreviewCanvas::PreviewCanvas(QWidget* parent) : QWidget(parent) {
    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(true);
    setMinimumSize(160, 120);
}

void PreviewCanvas::SetPictures(const QImage& before, const QImage& after) {
    const bool newSize = before.size() != before_.size();
    before_ = before;
    after_ = after;
    if (newSize) pan_ = {};
    update();
}

void PreviewCanvas::SetAfter(const QImage& after) {
    after_ = after;
    update();
}

void PreviewCanvas::SetView(View view) {
    view_ = view;
    update();
}

void PreviewCanvas::FlipShown() {
    showAfter_ = !showAfter_;
    emit shownChanged(showAfter_);
    update();
}

void PreviewCanvas::SetZoom(int zoom) {
    zoom = std::clamp(zoom, kMinZoom, kMaxZoom);
    if (zoom == zoom_) return;
    // Keep the point under the widget's centre where it is.
    pan_ = pan_ * (static_cast<double>(zoom) / zoom_);
    zoom_ = zoom;
    emit zoomChanged(zoom_);
    update();
}

void PreviewCanvas::SetBackground(const QColor& colour) {
    background_ = colour;
    update();
}

QRectF PreviewCanvas::PictureRect() const {
    const QSizeF size(before_.width() * zoom_, before_.height() * zoom_);
    const QPointF centre = QPointF(width(), height()) / 2.0 + pan_;
    // Whole pixels, so every picture pixel covers exactly zoom x zoom.
    const QPointF topLeft(std::round(centre.x() - size.width() / 2),
                          std::round(centre.y() - size.height() / 2));
    return QRectF(topLeft, size);
}

int PreviewCanvas::DividerX() const {
    return static_cast<int>(std::lround(divider_ * width()));
}

void PreviewCanvas::DrawPicture(QPainter& painter, const QImage& image,
                                const QRectF& target) const {
    if (image.isNull()) return;
    painter.drawImage(target, image);
}

void PreviewCanvas::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), palette().dark());
    if (before_.isNull()) return;
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    const QRectF target = PictureRect();
    const QRect visible = target.toAlignedRect().intersected(rect());
    if (background_.isValid()) {
        painter.fillRect(visible, background_);
    } else {
        for (int y = visible.top(); y <= visible.bottom(); y += kCheckerSquare)
            for (int x = visible.left(); x <= visible.right(); x += kCheckerSquare) {
                const bool dark = ((x - static_cast<int>(target.left())) / kCheckerSquare +
                                   (y - static_cast<int>(target.top())) / kCheckerSquare) %
                                  2;
                painter.fillRect(QRect(x, y, kCheckerSquare, kCheckerSquare).intersected(visible),
                                 dark ? QColor(0xc0, 0xc0, 0xc0) : QColor(0xff, 0xff, 0xff));
            }
    }
    if (view_ == View::Toggle) {
        DrawPicture(painter, showAfter_ ? after_ : before_, target);
        return;
    }
    // Before on the left, after on the right; Space swaps the sides.
    const int split = DividerX();
    painter.save();
    painter.setClipRect(QRect(0, 0, split, height()));
    DrawPicture(painter, showAfter_ ? before_ : after_, target);
    painter.setClipRect(QRect(split, 0, width() - split, height()));
    DrawPicture(painter, showAfter_ ? after_ : before_, target);
    painter.restore();
    painter.setPen(QPen(palette().highlight(), 2));
    painter.drawLine(split, 0, split, height());
}

void PreviewCanvas::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    const QPointF at = event->position();
    const bool onDivider = view_ == View::Split && std::abs(at.x() - DividerX()) <= kDividerGrip;
    drag_ = onDivider ? Drag::Divider : Drag::Pan;
    dragStart_ = at;
    panAtStart_ = pan_;
}

void PreviewCanvas::mouseMoveEvent(QMouseEvent* event) {
    const QPointF at = event->position();
    if (drag_ == Drag::Divider) {
        divider_ = std::clamp(at.x() / std::max(1, width()), 0.0, 1.0);
        update();
    } else if (drag_ == Drag::Pan) {
        pan_ = panAtStart_ + (at - dragStart_);
        update();
    } else {
        const bool onDivider =
            view_ == View::Split && std::abs(at.x() - DividerX()) <= kDividerGrip;
        setCursor(onDivider ? Qt::SplitHCursor : Qt::OpenHandCursor);
    }
}

void PreviewCanvas::mouseReleaseEvent(QMouseEvent*) {
    drag_ = Drag::None;
}

void PreviewCanvas::wheelEvent(QWheelEvent* event) {
    const int steps = event->angleDelta().y() / 120;
    if (steps != 0) SetZoom(zoom_ + steps);
    event->accept();
}

void PreviewCanvas::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Space:
        FlipShown();
        break;
    case Qt::Key_Plus:
    case Qt::Key_Equal:
        SetZoom(zoom_ + 1);
        break;
    case Qt::Key_Minus:
        SetZoom(zoom_ - 1);
        break;
    default:
        QWidget::keyPressEvent(event);
    }
}

} // namespace pelo
