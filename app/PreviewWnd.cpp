#include "app/PreviewWnd.h"

#include "pipeline/FileKinds.h"

#include <QColorDialog>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

namespace pelo {

namespace {

enum BackgroundChoice { kChecker, kWhite, kBlack, kOtherColour };

} // namespace

CPreviewWnd::CPreviewWnd(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName(QStringLiteral("preview"));
    setWindowTitle(tr("プレビュー"));
    resize(720, 560);

    view_ = new QComboBox(this);
    view_->addItems({tr("分割"), tr("切り替え")});
    view_->setToolTip(tr("左右に並べて比べるか、Space キーで前後を切り替えるか"));
    zoom_ = new QSpinBox(this);
    zoom_->setRange(PreviewCanvas::kMinZoom, PreviewCanvas::kMaxZoom);
    zoom_->setSuffix(QStringLiteral("x"));
    background_ = new QComboBox(this);
    background_->addItems({tr("市松模様"), tr("白"), tr("黒"), tr("その他の色...")});
    threshold_ = new QSpinBox(this);
    threshold_->setObjectName(QStringLiteral("threshold"));
    threshold_->setRange(1, 255);
    auto* detail = new QPushButton(tr("詳細設定"), this);

    auto* bar = new QHBoxLayout;
    bar->addWidget(new QLabel(tr("表示"), this));
    bar->addWidget(view_);
    bar->addWidget(new QLabel(tr("倍率"), this));
    bar->addWidget(zoom_);
    bar->addWidget(new QLabel(tr("背景"), this));
    bar->addWidget(background_);
    bar->addStretch();
    bar->addWidget(new QLabel(tr("検出(1-255)"), this));
    bar->addWidget(threshold_);
    bar->addWidget(detail);

    canvas_ = new PreviewCanvas(this);
    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("status"));

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(bar);
    layout->addWidget(canvas_, 1);
    layout->addWidget(status_);

    connect(view_, &QComboBox::currentIndexChanged, this, [this](int index) {
        canvas_->SetView(index == 0 ? PreviewCanvas::View::Split : PreviewCanvas::View::Toggle);
        canvas_->setFocus();
    });
    connect(zoom_, &QSpinBox::valueChanged, canvas_, &PreviewCanvas::SetZoom);
    connect(canvas_, &PreviewCanvas::zoomChanged, zoom_, &QSpinBox::setValue);
    connect(background_, &QComboBox::activated, this, &CPreviewWnd::ChooseBackground);
    connect(threshold_, &QSpinBox::valueChanged, this,
            [this](int value) { emit thresholdEdited(static_cast<unsigned>(value)); });
    connect(detail, &QPushButton::clicked, this, &CPreviewWnd::detailRequested);
    connect(&renderer_, &PreviewRenderer::rendered, this, &CPreviewWnd::Rendered);
    canvas_->setFocus();
}

void CPreviewWnd::ShowFile(const std::string& inputPath, PictureRoles roles,
                           const ConversionSettings& settings) {
    settings_ = settings;
    roles_ = roles;
    {
        const QSignalBlocker quiet(threshold_);
        threshold_->setValue(static_cast<int>(settings.detectThreshold));
    }
    if (inputPath != path_) {
        path_ = inputPath;
        picture_.reset();
        renderer_.SetPicture(nullptr);
        sizeText_.clear();
        const QString name = QString::fromLocal8Bit(std::string(FileName(inputPath)));
        setWindowTitle(name.isEmpty() ? tr("プレビュー") : tr("プレビュー - ") + name);
        if (!inputPath.empty()) {
            loader_.settings = settings;
            ImagePtr loaded = loader_.LoadImageFile(inputPath);
            if (loaded) {
                picture_ = std::shared_ptr<const ImageBuffer>(std::move(loaded));
                renderer_.SetPicture(picture_);
                canvas_->SetPictures(ToQImage(*picture_), QImage());
                sizeText_ = QStringLiteral("%1 x %2").arg(picture_->width).arg(picture_->height);
            } else {
                canvas_->SetPictures(QImage(), QImage());
                status_->setText(
                    tr("読み込めません: %1").arg(QString::fromStdString(loader_.failure.reason)));
            }
        } else {
            canvas_->SetPictures(QImage(), QImage());
            status_->setText(tr("ファイルがありません"));
        }
    }
    Recompute();
}

void CPreviewWnd::Recompute() {
    if (!picture_) return;
    renderer_.Request(settings_, roles_);
    status_->setText(sizeText_ + QStringLiteral("  ") + tr("計算中..."));
}

void CPreviewWnd::Rendered(const PreviewResult& result) {
    if (result.status != 0) {
        canvas_->SetAfter(QImage());
        status_->setText(sizeText_ + QStringLiteral("  ") + tr("作業領域が足りません"));
        return;
    }
    canvas_->SetAfter(result.after);
    const double share =
        100.0 * static_cast<double>(result.changedPixels) /
        static_cast<double>(std::max<std::size_t>(1, picture_ ? picture_->pixelCount() : 1));
    status_->setText(
        sizeText_ + QStringLiteral("  ") +
        tr("変化した画素 %1% (%2)").arg(QString::number(share, 'f', 1)).arg(result.changedPixels));
}

QString CPreviewWnd::statusText() const {
    return status_->text();
}

void CPreviewWnd::ChooseBackground(int index) {
    switch (index) {
    case kChecker:
        canvas_->SetBackground(QColor());
        break;
    case kWhite:
        canvas_->SetBackground(Qt::white);
        break;
    case kBlack:
        canvas_->SetBackground(Qt::black);
        break;
    case kOtherColour:
        if (const QColor colour = QColorDialog::getColor(chosenColour_, this); colour.isValid())
            chosenColour_ = colour;
        canvas_->SetBackground(chosenColour_);
        break;
    }
}

} // namespace pelo
