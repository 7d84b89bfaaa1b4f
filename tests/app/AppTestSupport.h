// A QApplication for the dialog tests, and a watcher that answers the modal
// windows the code under test opens, so no test ever waits for a user.
#pragma once

#include "app/FormatLists.h"

#include <QDialog>
#include <QList>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <functional>

namespace pelo::test {

// Polls for modal windows while alive. Message boxes are accepted and their
// texts recorded; any other modal dialog is handed to `onDialog` (or
// rejected when none is set).
class ModalWatcher {
public:
    ModalWatcher();
    ~ModalWatcher();

    void onDialog(std::function<void(QDialog*)> handler) { handler_ = std::move(handler); }
    // Called with each message box just before it is accepted.
    void onMessage(std::function<void(const QString&)> handler) {
        messageHandler_ = std::move(handler);
    }
    const QStringList& messages() const { return messages_; }

private:
    void Poll();

    QTimer timer_;
    QStringList messages_;
    std::function<void(QDialog*)> handler_;
    std::function<void(const QString&)> messageHandler_;
    QList<QPointer<QDialog>> handled_;
};

// A decoder and encoder list like the usual platform codec's.
CodecFormats UsualCodec();
CodecFormats FailedCodec();

} // namespace pelo::test
