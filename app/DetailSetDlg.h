// Edits the seven colour-correction values on its own copy; the caller takes
// the copy back only when the dialog ends with OK (1).
#pragma once

#include "image/ConversionSettings.h"

#include <QDialog>
#include <cstdint>

class QLineEdit;

namespace pelo {

class CDetailSetDlg : public QDialog {
    Q_OBJECT
public:
    explicit CDetailSetDlg(QWidget* parent = nullptr);

    // Copies the seven detail values in and out of a settings record.
    void CopyFrom(const ColourCorrection& s) { values = s; }
    void CopyTo(ColourCorrection& s) const { s = values; }

    // Fields to controls, then the modal run; 1 for OK, 2 for Cancel.
    int DoModal();
    bool UpdateData(bool saveAndValidate);

    void OnInitDialog();
    void OnRestoreDefaults();

    // Fields, in the order the dialog exchanges them with its controls.
    ColourCorrection values{0.0, 0.0, 0, 0.0, 0, 0.0, 0};

public slots:
    void accept() override; // OK: ends with 1 only when every field parses
    void reject() override; // Cancel, Escape, close box: ends with 2

private:
    QLineEdit* AddEdit(int id, int left, int top);

    QLineEdit* gammaEdit_ = nullptr;
    QLineEdit* redLiftEdit_ = nullptr;
    QLineEdit* redThresholdEdit_ = nullptr;
    QLineEdit* purpleLiftEdit_ = nullptr;
    QLineEdit* purpleThresholdEdit_ = nullptr;
    QLineEdit* hueInfluenceEdit_ = nullptr;
    QLineEdit* hueThresholdEdit_ = nullptr;
};

} // namespace pelo
