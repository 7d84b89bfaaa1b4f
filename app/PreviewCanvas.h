// The picture before and after smoothing: side by side across a draggable
// divider, or one at a time (Space flips). Whole-number zoom with
// nearest-neighbour sampling, panning by dragging, and a checkerboard or a
// plain colour behind transparency.
#pragma once

#include <QColor>
#include <QImage>
#include <QPointF>
#include <QWidget>

namespace pelo {

class PreviewCanvas : public QWidget {
    Q_OBJECT
public:
    enum class View { Split, Toggle };
    static constexpr int kMinZoom = 1;
    static constexpr int kMaxZoom = 16;

    explicit PreviewCanvas(QWidget* parent = nullptr);

    void SetPictures(const QImage& before, const QImage& after);
    void SetAfter(const QImage& after);
    const QImage& before() const { return before_; }
    const QImage& after() const { return after_; }

    void SetView(View view);
    View view() const { return view_; }
    // Toggle view: before <-> after; split view: the sides swap.
    void FlipShown();
    bool showsAfter() const { return showAfter_; }

    void SetZoom(int zoom);
    int zoom() const { return zoom_; }

    // An invalid colour draws the checkerboard.
    void SetBackground(const QColor& colour);

    // Divider position as a share of the width, 0..1.
    double divider() const { return divider_; }

signals:
    void zoomChanged(int zoom);
    void shownChanged(bool after);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    QRectF PictureRect() const;
    int DividerX() const;
    void DrawPicture(QPainter& painter, const QImage& image, const QRectF& target) const;

    QImage before_;
    QImage after_;
    View view_ = View::Split;
    bool showAfter_ = true;
    int zoom_ = 1;
    QPointF pan_;
    double divider_ = 0.5;
    QColor background_;

    enum class Drag { None, Divider, Pan };
    Drag drag_ = Drag::None;
    QPointF dragStart_;
    QPointF panAtStart_;
};

} // namespace pelo
