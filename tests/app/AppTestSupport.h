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
#include <string>

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

// Serves events until `done` holds (false when it never did within a
// minute, so a broken wait fails instead of hanging).
bool ProcessEventsUntil(const std::function<bool()>& done);

// A profile selecting the input and output formats of UsualCodec() by
// pattern ("*.PNG") with the two folders.
void WriteFormatProfile(const std::string& profile, const std::string& input,
                        const std::string& output, const char* inPattern, const char* outPattern);

// A decoder and encoder list like the usual platform codec's.
CodecFormats UsualCodec();
CodecFormats FailedCodec();

} // namespace pelo::test
