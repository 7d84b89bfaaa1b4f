// The preview window: one file of the list before and after smoothing with
// the settings as they stand, recomputed off the UI thread as they change.
// It never writes a file.
#pragma once

#include "app/PreviewCanvas.h"
#include "app/PreviewRenderer.h"
#include "image/ConversionSettings.h"
#include "pipeline/ConversionSession.h"
#include "pipeline/SmoothPicture.h"

#include <QWidget>
#include <memory>
#include <string>

class QComboBox;
class QLabel;
class QSpinBox;

namespace pelo {

class CPreviewWnd : public QWidget {
    Q_OBJECT
public:
    explicit CPreviewWnd(QWidget* parent = nullptr);

    // The file to show (empty: none) and how a run would treat it. A file
    // already shown is not read again.
    void ShowFile(const std::string& inputPath, PictureRoles roles,
                  const ConversionSettings& settings);

    PreviewCanvas& canvas() { return *canvas_; }
    QString statusText() const;
    // True while a requested picture is still being computed.
    bool computing() const { return renderer_.busy(); }

signals:
    void thresholdEdited(unsigned threshold);
    void detailRequested();

private:
    void Recompute();
    void Rendered(const PreviewResult& result);
    void ChooseBackground(int index);

    PreviewCanvas* canvas_ = nullptr;
    QSpinBox* threshold_ = nullptr;
    QSpinBox* zoom_ = nullptr;
    QComboBox* view_ = nullptr;
    QComboBox* background_ = nullptr;
    QLabel* status_ = nullptr;

    ConversionSession loader_;
    PreviewRenderer renderer_;
    std::string path_;
    std::shared_ptr<const ImageBuffer> picture_;
    ConversionSettings settings_;
    PictureRoles roles_;
    QString sizeText_;
    QColor chosenColour_ = Qt::white;
};

} // namespace pelo
