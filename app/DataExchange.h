// Moves values between dialog members and controls in both directions. When
// reading back, the first entry that does not parse shows a message box,
// gets the focus back and stops the transfer, so later members keep their
// values.
#pragma once

#include <QString>
#include <cstdint>
#include <string>

class QCheckBox;
class QLineEdit;
class QWidget;

namespace pelo {

// "%.*g" with 15 significant digits: 0.7 shows as 0.7.
QString FormatDialogDouble(double value);

// Floating-point text: optional blanks, a number, optional blanks.
bool ParseDialogDouble(const QString& text, double& value);

// Unsigned decimal text: optional blanks, digits that fit 32 bits, optional
// blanks; a minus sign is refused.
bool ParseDialogUnsigned(const QString& text, std::uint32_t& value);

class DataExchange {
public:
    // saveAndValidate: true reads the controls into the members.
    DataExchange(QWidget* dialog, bool saveAndValidate) : dialog_(dialog), save_(saveAndValidate) {}

    void Text(QLineEdit* edit, std::string& value);
    void Text(QLineEdit* edit, double& value);
    void Text(QLineEdit* edit, std::uint32_t& value);
    void Check(QCheckBox* box, std::uint32_t& value);

    bool ok() const { return !failed_; }

private:
    void Fail(QLineEdit* edit, const QString& message);

    QWidget* dialog_;
    bool save_;
    bool failed_ = false;
};

} // namespace pelo
