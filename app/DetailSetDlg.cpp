#include "app/DetailSetDlg.h"

#include "app/DataExchange.h"
#include "app/DialogUnits.h"
#include "pipeline/ResultChoices.h"

#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>

namespace pelo {

namespace {

struct LabelSpec {
    const char* text;
    int left, top;
    const char* tip; // what the value does and its range
};

// The labels of the template, each 50 x 9 dialog units, in tab order.
constexpr LabelSpec kLabels[] = {
    {QT_TRANSLATE_NOOP("pelo::CDetailSetDlg", "輝度補正(0-1)"), 9, 9,
     QT_TRANSLATE_NOOP(
         "pelo::CDetailSetDlg",
         "境界の色を混ぜるときの輝度の指数。小さいほど中間色が明るい。0〜1 (初期値 0.7)")},
    {QT_TRANSLATE_NOOP("pelo::CDetailSetDlg", "純赤持ち上げ"), 10, 27,
     QT_TRANSLATE_NOOP("pelo::CDetailSetDlg",
                       "鮮やかな赤の輝度に掛ける倍率。1 で変化なし。0 以上 (初期値 1.2)")},
    {QT_TRANSLATE_NOOP("pelo::CDetailSetDlg", "純赤判定閾値"), 108, 26,
     QT_TRANSLATE_NOOP("pelo::CDetailSetDlg",
                       "赤とみなす色相の幅 (色相 0〜255 の 0 から)。0〜255 (初期値 3)")},
    {QT_TRANSLATE_NOOP("pelo::CDetailSetDlg", "純紫持ち上げ"), 9, 43,
     QT_TRANSLATE_NOOP("pelo::CDetailSetDlg",
                       "鮮やかな紫の輝度に掛ける倍率。1 で変化なし。0 以上 (初期値 1.1)")},
    {QT_TRANSLATE_NOOP("pelo::CDetailSetDlg", "純紫判定閾値"), 107, 41,
     QT_TRANSLATE_NOOP("pelo::CDetailSetDlg",
                       "紫とみなす色相の幅 (色相 213 から)。0〜255 (初期値 3)")},
    {QT_TRANSLATE_NOOP("pelo::CDetailSetDlg", "色相影響度"), 10, 61,
     QT_TRANSLATE_NOOP("pelo::CDetailSetDlg",
                       "設定として保存される値。今の処理では使われない。(初期値 1.5)")},
    {QT_TRANSLATE_NOOP("pelo::CDetailSetDlg", "色相影響閾値"), 108, 59,
     QT_TRANSLATE_NOOP("pelo::CDetailSetDlg",
                       "設定として保存される値。今の処理では使われない。0〜255 (初期値 100)")},
};

constexpr Preset kPresets[] = {Preset::Seed, Preset::PixelArt, Preset::Painted};
constexpr AlphaPassMode kAlphaModes[] = {AlphaPassMode::Auto, AlphaPassMode::On,
                                         AlphaPassMode::Off};
constexpr HiddenColour kHiddenColours[] = {HiddenColour::Keep, HiddenColour::Clear};
constexpr PngType kPngTypes[] = {PngType::Smallest, PngType::Rgba};

// The result section below the template's buttons, in dialog units.
constexpr int kResultSectionHeight = 80;

template <class T, std::size_t N> int IndexOf(const T (&list)[N], T value) {
    for (std::size_t i = 0; i < N; ++i)
        if (list[i] == value) return static_cast<int>(i);
    return 0;
}

} // namespace

CDetailSetDlg::CDetailSetDlg(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("130"));
    setWindowTitle(QStringLiteral("Dialog"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    setFont(DetailDialogFont());
    const DialogBaseUnits du = BaseUnitsFor(font());
    setFixedSize(DialogSize(du, 202, 95 + kResultSectionHeight));

    // Created in tab order: label, then its edit; both carry the tip.
    auto addLabel = [&](const LabelSpec& entry) {
        auto* label = new QLabel(tr(entry.text), this);
        label->setGeometry(DialogRect(du, entry.left, entry.top, 50, 9));
        label->setToolTip(tr(entry.tip));
    };
    auto withTip = [](QLineEdit* edit, const LabelSpec& entry) {
        edit->setToolTip(tr(entry.tip));
        return edit;
    };
    addLabel(kLabels[0]);
    gammaEdit_ = withTip(AddEdit(1000, 60, 7), kLabels[0]);
    addLabel(kLabels[1]);
    redLiftEdit_ = withTip(AddEdit(1001, 60, 24), kLabels[1]);
    addLabel(kLabels[2]);
    redThresholdEdit_ = withTip(AddEdit(1002, 160, 23), kLabels[2]);
    addLabel(kLabels[3]);
    purpleLiftEdit_ = withTip(AddEdit(1005, 59, 40), kLabels[3]);
    addLabel(kLabels[4]);
    purpleThresholdEdit_ = withTip(AddEdit(1006, 159, 38), kLabels[4]);
    addLabel(kLabels[5]);
    hueInfluenceEdit_ = withTip(AddEdit(1003, 60, 58), kLabels[5]);
    addLabel(kLabels[6]);
    hueThresholdEdit_ = withTip(AddEdit(1004, 160, 56), kLabels[6]);

    BuildResultSection();

    auto addButton = [&](int id, const QString& text, int left) {
        auto* button = new QPushButton(text, this);
        button->setObjectName(QString::number(id));
        button->setGeometry(DialogRect(du, left, 74, 50, 14));
        return button;
    };
    QPushButton* ok = addButton(1, QStringLiteral("OK"), 7);
    QPushButton* restore = addButton(3, tr("初期値に戻す"), 69);
    QPushButton* cancel = addButton(2, tr("キャンセル"), 145);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &CDetailSetDlg::accept);
    connect(restore, &QPushButton::clicked, this, &CDetailSetDlg::OnRestoreDefaults);
    connect(cancel, &QPushButton::clicked, this, &CDetailSetDlg::reject);
}

void CDetailSetDlg::BuildResultSection() {
    const DialogBaseUnits du = BaseUnitsFor(font());
    auto place = [&](QWidget* w, int l, int t, int wd, int ht, const QString& tip) {
        w->setGeometry(DialogRect(du, l, t, wd, ht));
        w->setToolTip(tip);
    };
    auto label = [&](const QString& text, int l, int t, int wd, const QString& tip) {
        place(new QLabel(text, this), l, t, wd, 9, tip);
    };
    auto list = [&](const char* name, const QStringList& items, int l, int t, int wd,
                    const QString& tip) {
        auto* w = new QComboBox(this);
        w->setObjectName(QLatin1String(name));
        w->addItems(items);
        place(w, l, t, wd, 12, tip);
        return w;
    };
    auto* group = new QGroupBox(tr("結果"), this);
    group->setGeometry(DialogRect(du, 5, 94, 192, 75));
    group->lower();

    const QString presetTip = tr("検出の閾値・持ち上げ・透明部の色・処理の有無をまとめて設定する");
    label(tr("プリセット"), 12, 108, 45, presetTip);
    presetList_ =
        list("preset", {tr("標準"), tr("ドット絵"), tr("イラスト")}, 60, 106, 70, presetTip);
    auto* apply = new QPushButton(tr("適用"), this);
    apply->setObjectName(QStringLiteral("applyPreset"));
    place(apply, 135, 105, 40, 14, presetTip);
    connect(apply, &QPushButton::clicked, this, &CDetailSetDlg::OnApplyPreset);

    const QString alphaTip =
        tr("透明度の境界をなめらかにするか。自動: 透明度を持てる入力形式のときだけ");
    label(tr("アルファ処理"), 12, 123, 45, alphaTip);
    alphaPassList_ =
        list("alphaPass", {tr("自動"), tr("する"), tr("しない")}, 60, 121, 50, alphaTip);
    colourPassBox_ = new QCheckBox(tr("色の処理"), this);
    colourPassBox_->setObjectName(QStringLiteral("colourPass"));
    place(colourPassBox_, 120, 121, 70, 12, tr("色の境界をなめらかにするか (オン/オフ)"));

    const QString hiddenTip =
        tr("完全に透明な画素の色: そのまま残すか、0 に消して結果に影響させないか");
    label(tr("透明部の色"), 12, 138, 45, hiddenTip);
    hiddenColourList_ = list("hiddenColour", {tr("残す"), tr("消す")}, 60, 136, 50, hiddenTip);
    const QString backgroundTip = tr("透明度を持てない出力形式のとき下に敷く色 (RRGGBB)");
    label(tr("背景色"), 120, 138, 42, backgroundTip);
    backgroundButton_ = new QPushButton(this);
    backgroundButton_->setObjectName(QStringLiteral("background"));
    place(backgroundButton_, 162, 136, 32, 12, backgroundTip);
    connect(backgroundButton_, &QPushButton::clicked, this, &CDetailSetDlg::ChooseBackground);

    const QString pngTip = tr("PNG の色の形式: 画素をそのまま保てる最小の形式か、常に RGBA か");
    label(tr("PNG 形式"), 12, 153, 45, pngTip);
    pngTypeList_ = list("pngType", {tr("最小"), QStringLiteral("RGBA")}, 60, 151, 50, pngTip);
    const QString qualityTip = tr("JPEG と WebP の画質。-1 で既定 (75)、0〜100");
    label(tr("画質"), 120, 153, 30, qualityTip);
    qualitySpin_ = new QSpinBox(this);
    qualitySpin_->setObjectName(QStringLiteral("quality"));
    qualitySpin_->setRange(-1, 100);
    qualitySpin_->setSpecialValueText(tr("既定"));
    place(qualitySpin_, 152, 151, 42, 12, qualityTip);
}

void CDetailSetDlg::ShowBackground() {
    const QColor colour = QColor::fromRgb(static_cast<QRgb>(result.background));
    backgroundButton_->setText(QString::fromStdString(BackgroundText(result.background)));
    backgroundButton_->setStyleSheet(QStringLiteral("QPushButton { background: %1; color: %2; }")
                                         .arg(colour.name(), colour.lightness() < 128
                                                                 ? QStringLiteral("white")
                                                                 : QStringLiteral("black")));
}

void CDetailSetDlg::ChooseBackground() {
    const QColor picked = QColorDialog::getColor(
        QColor::fromRgb(static_cast<QRgb>(result.background)), this, tr("背景色"));
    if (!picked.isValid()) return;
    result.background = picked.rgb() & 0xffffffu;
    ShowBackground();
}

void CDetailSetDlg::OnApplyPreset() {
    if (!UpdateData(true)) return;
    ConversionSettings settings;
    static_cast<ColourCorrection&>(settings) = values;
    settings.detectThreshold = threshold;
    settings.result = result;
    ApplyPreset(kPresets[std::max(0, presetList_->currentIndex())], settings);
    values = settings;
    threshold = settings.detectThreshold;
    result = settings.result;
    UpdateData(false);
}

QLineEdit* CDetailSetDlg::AddEdit(int id, int left, int top) {
    auto* edit = new QLineEdit(this);
    edit->setObjectName(QString::number(id));
    edit->setGeometry(DialogRect(BaseUnitsFor(font()), left, top, 35, 12));
    return edit;
}

bool CDetailSetDlg::UpdateData(bool saveAndValidate) {
    DataExchange dx(this, saveAndValidate);
    dx.Text(gammaEdit_, values.gamma);
    dx.Text(redLiftEdit_, values.redLift);
    dx.Text(redThresholdEdit_, values.redThreshold);
    dx.Text(purpleLiftEdit_, values.purpleLift);
    dx.Text(purpleThresholdEdit_, values.purpleThreshold);
    dx.Text(hueInfluenceEdit_, values.hueInfluence);
    dx.Text(hueThresholdEdit_, values.hueThreshold);
    if (!dx.ok()) return false;
    if (saveAndValidate) {
        result.alphaPass = kAlphaModes[std::max(0, alphaPassList_->currentIndex())];
        result.colourPass = colourPassBox_->isChecked();
        result.hiddenColour = kHiddenColours[std::max(0, hiddenColourList_->currentIndex())];
        result.encode.quality = qualitySpin_->value();
        result.encode.pngType = kPngTypes[std::max(0, pngTypeList_->currentIndex())];
    } else {
        alphaPassList_->setCurrentIndex(IndexOf(kAlphaModes, result.alphaPass));
        colourPassBox_->setChecked(result.colourPass);
        hiddenColourList_->setCurrentIndex(IndexOf(kHiddenColours, result.hiddenColour));
        qualitySpin_->setValue(result.encode.quality);
        pngTypeList_->setCurrentIndex(IndexOf(kPngTypes, result.encode.pngType));
        ShowBackground();
    }
    return true;
}

void CDetailSetDlg::OnInitDialog() {
    UpdateData(false);
}

int CDetailSetDlg::DoModal() {
    OnInitDialog();
    return exec();
}

void CDetailSetDlg::OnRestoreDefaults() {
    ColourCorrection defaults;
    RestoreDetailDefaults(defaults);
    CopyFrom(defaults);
    UpdateData(false);
}

void CDetailSetDlg::accept() {
    if (UpdateData(true)) done(1);
}

void CDetailSetDlg::reject() {
    done(2);
}

} // namespace pelo
