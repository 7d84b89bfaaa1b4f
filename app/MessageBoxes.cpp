#include "app/MessageBoxes.h"

namespace pelo {

void ShowMessageBox(QWidget* parent, const QString& text, QMessageBox::Icon icon) {
    QMessageBox box(icon, QString::fromLatin1(kAppName), text, QMessageBox::Ok, parent);
    box.setWindowModality(Qt::ApplicationModal);
    box.exec();
}

bool AskYesNo(QWidget* parent, const QString& text) {
    QMessageBox box(QMessageBox::Question, QString::fromLatin1(kAppName), text,
                    QMessageBox::Yes | QMessageBox::No, parent);
    box.setDefaultButton(QMessageBox::No);
    box.setWindowModality(Qt::ApplicationModal);
    box.exec();
    return box.clickedButton() == box.button(QMessageBox::Yes);
}

void DialogMessageSink::ShowMessage(const std::string& text) {
    ShowMessageBox(parent_, QString::fromStdString(text), QMessageBox::NoIcon);
}

} // namespace pelo
