// Edits the seven colour-correction values and, in a section below them,
// the result options, on its own copies; the caller takes the copies back
// only when the dialog ends with OK (1).
#pragma once

#include "image/ConversionSettings.h"

#include <QDialog>
#include <cstdint>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;
class QSpinBox;

namespace pelo {

class CDetailSetDlg : public QDialog {
    Q_OBJECT
public:
    explicit CDetailSetDlg(QWidget* parent = nullptr);

    // Copies the seven detail values in and out of a settings record.
    void CopyFrom(const ColourCorrection& s) { values = s; }
    void CopyTo(ColourCorrection& s) const { s = values; }
    // The result options and the threshold (which a preset may set).
    void CopyResultFrom(const ConversionSettings& s) {
        result = s.result;
        threshold = s.detectThreshold;
    }
    void CopyResultTo(ConversionSettings& s) const {
        s.result = result;
        s.detectThreshold = threshold;
    }

    // Fields to controls, then the modal run; 1 for OK, 2 for Cancel.
    int DoModal();
    bool UpdateData(bool saveAndValidate);

    void OnInitDialog();
    void OnRestoreDefaults();
    // Sets the fields the chosen preset names.
    void OnApplyPreset();

    // Fields, in the order the dialog exchanges them with its controls.
    ColourCorrection values{0.0, 0.0, 0, 0.0, 0, 0.0, 0};
    ResultOptions result;
    std::uint32_t threshold = 4;

public slots:
    void accept() override; // OK: ends with 1 only when every field parses
    void reject() override; // Cancel, Escape, close box: ends with 2

private:
    QLineEdit* AddEdit(int id, int left, int top);
    void BuildResultSection();
    void ShowBackground();
    void ChooseBackground();

    QLineEdit* gammaEdit_ = nullptr;
    QLineEdit* redLiftEdit_ = nullptr;
    QLineEdit* redThresholdEdit_ = nullptr;
    QLineEdit* purpleLiftEdit_ = nullptr;
    QLineEdit* purpleThresholdEdit_ = nullptr;
    QLineEdit* hueInfluenceEdit_ = nullptr;
    QLineEdit* hueThresholdEdit_ = nullptr;

    QComboBox* presetList_ = nullptr;
    QComboBox* alphaPassList_ = nullptr;
    QCheckBox* colourPassBox_ = nullptr;
    QComboBox* hiddenColourList_ = nullptr;
    QPushButton* backgroundButton_ = nullptr;
    QSpinBox* qualitySpin_ = nullptr;
    QComboBox* pngTypeList_ = nullptr;
};

} // namespace pelo
