#include "app/MessageBoxes.h"

namespace pelo {

void ShowMessageBox(QWidget* parent, const QString& text, QMessageBox::Icon icon) {
    QMessageBox box(icon, QString::fromLatin1(kAppName), text, QMessageBox::Ok, parent);
    box.setWindowModality(Qt::ApplicationModal);
    box.exec();
}

void DialogMessageSink::ShowMessage(const std::string& text) {
    ShowMessageBox(parent_, QString::fromStdString(text), QMessageBox::NoIcon);
}

} // namespace pelo
