#include "app/DetailSetDlg.h"

#include "app/DataExchange.h"
#include "app/DialogUnits.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace pelo {

namespace {

struct LabelSpec {
    const char* text;
    int left, top;
};

// The labels of the template, each 50 x 9 dialog units.
constexpr LabelSpec kLabels[] = {
    {"輝度補正(0-1)", 9, 9},   {"純赤持ち上げ", 10, 27},  {"純赤判定閾値", 108, 26},
    {"純紫持ち上げ", 9, 43},   {"純紫判定閾値", 107, 41}, {"色相影響度", 10, 61},
    {"色相影響閾値", 108, 59},
};

} // namespace

CDetailSetDlg::CDetailSetDlg(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("130"));
    setWindowTitle(QStringLiteral("Dialog"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    setFont(DetailDialogFont());
    const DialogBaseUnits du = BaseUnitsFor(font());
    setFixedSize(DialogSize(du, 202, 95));

    // Created in tab order: label, then its edit.
    auto addLabel = [&](const LabelSpec& entry) {
        auto* label = new QLabel(QString::fromUtf8(entry.text), this);
        label->setGeometry(DialogRect(du, entry.left, entry.top, 50, 9));
    };
    addLabel(kLabels[0]);
    gammaEdit_ = AddEdit(1000, 60, 7);
    addLabel(kLabels[1]);
    redLiftEdit_ = AddEdit(1001, 60, 24);
    addLabel(kLabels[2]);
    redThresholdEdit_ = AddEdit(1002, 160, 23);
    addLabel(kLabels[3]);
    purpleLiftEdit_ = AddEdit(1005, 59, 40);
    addLabel(kLabels[4]);
    purpleThresholdEdit_ = AddEdit(1006, 159, 38);
    addLabel(kLabels[5]);
    hueInfluenceEdit_ = AddEdit(1003, 60, 58);
    addLabel(kLabels[6]);
    hueThresholdEdit_ = AddEdit(1004, 160, 56);

    auto addButton = [&](int id, const char* text, int left) {
        auto* button = new QPushButton(QString::fromUtf8(text), this);
        button->setObjectName(QString::number(id));
        button->setGeometry(DialogRect(du, left, 74, 50, 14));
        return button;
    };
    QPushButton* ok = addButton(1, "OK", 7);
    QPushButton* restore = addButton(3, "初期値に戻す", 69);
    QPushButton* cancel = addButton(2, "キャンセル", 145);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &CDetailSetDlg::accept);
    connect(restore, &QPushButton::clicked, this, &CDetailSetDlg::OnRestoreDefaults);
    connect(cancel, &QPushButton::clicked, this, &CDetailSetDlg::reject);
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
    return dx.ok();
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
