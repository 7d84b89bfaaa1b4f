#include "app/MessageBoxes.h"

#include <QMetaObject>
#include <QThread>

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
    const QString message = QString::fromStdString(text);
    // A run's workers show their boxes on the UI thread and wait for them.
    if (parent_ && QThread::currentThread() != parent_->thread()) {
        QMetaObject::invokeMethod(
            parent_, [&] { ShowMessageBox(parent_, message, QMessageBox::NoIcon); },
            Qt::BlockingQueuedConnection);
        return;
    }
    ShowMessageBox(parent_, message, QMessageBox::NoIcon);
}

} // namespace pelo
