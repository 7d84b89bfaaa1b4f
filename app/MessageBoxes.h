// The program's message boxes: modal, an OK button, the program's name as
// caption.
#pragma once

#include "image/MessageSink.h"

#include <QMessageBox>
#include <QString>

namespace pelo {

inline constexpr const char* kAppName = "Pelo";

void ShowMessageBox(QWidget* parent, const QString& text,
                    QMessageBox::Icon icon = QMessageBox::NoIcon);

// A question with Yes and No; true only when Yes was pressed (closing the
// box answers No).
bool AskYesNo(QWidget* parent, const QString& text);

// What the per-file operations report, shown in a box over the dialog.
class DialogMessageSink : public MessageSink {
public:
    explicit DialogMessageSink(QWidget* parent) : parent_(parent) {}
    void ShowMessage(const std::string& text) override;

private:
    QWidget* parent_;
};

} // namespace pelo
