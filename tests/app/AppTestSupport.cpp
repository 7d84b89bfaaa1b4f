#include "AppTestSupport.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPointer>
#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <unistd.h>

namespace pelo::test {

namespace {

// One application for the whole test program, on the offscreen platform, with
// its settings under a private folder.
class QtEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
        char pattern[] = "/tmp/pelo-app-test-XDG-XXXXXX";
        if (const char* dir = mkdtemp(pattern)) {
            configHome_ = dir;
            setenv("XDG_CONFIG_HOME", dir, 1);
        }
        static int argc = 1;
        static char name[] = "app_tests";
        static char* argv[] = {name, nullptr};
        app_ = std::make_unique<QApplication>(argc, argv);
    }
    void TearDown() override {
        app_.reset();
        if (!configHome_.empty()) {
            const std::string command = "rm -rf '" + configHome_ + "'";
            (void)std::system(command.c_str());
        }
    }

private:
    std::unique_ptr<QApplication> app_;
    std::string configHome_;
};

[[maybe_unused]] ::testing::Environment* const gQtEnvironment =
    ::testing::AddGlobalTestEnvironment(new QtEnvironment);

} // namespace

ModalWatcher::ModalWatcher() {
    timer_.setInterval(10);
    QObject::connect(&timer_, &QTimer::timeout, [this] { Poll(); });
    timer_.start();
}

ModalWatcher::~ModalWatcher() {
    timer_.stop();
}

void ModalWatcher::Poll() {
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal || !modal->isVisible()) return;
    if (auto* box = qobject_cast<QMessageBox*>(modal)) {
        messages_.append(box->text());
        if (messageHandler_) messageHandler_(box->text());
        box->accept();
        return;
    }
    auto* dialog = qobject_cast<QDialog*>(modal);
    if (!dialog) return;
    for (const QPointer<QDialog>& seen : handled_)
        if (seen == dialog) return;
    handled_.append(QPointer<QDialog>(dialog));
    // Run the handler from the event loop, not from this timer, so that the
    // boxes it may open are still answered.
    auto handler = handler_;
    QTimer::singleShot(0, dialog, [dialog, handler] {
        if (handler)
            handler(dialog);
        else
            dialog->reject();
    });
}

bool ProcessEventsUntil(const std::function<bool()>& done) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > 60000) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

void WriteFormatProfile(const std::string& profile, const std::string& input,
                        const std::string& output, const char* inPattern, const char* outPattern) {
    const FormatLists lists = BuildFormatLists(UsualCodec());
    auto index = [](const std::vector<std::string>& l, const char* p) {
        return std::find(l.begin(), l.end(), p) - l.begin();
    };
    std::ofstream(profile) << "[INPUT]\nTYPE=" << index(lists.input, inPattern)
                           << "\nFOLDER=" << input
                           << "\n[OUTPUT]\nTYPE=" << index(lists.output, outPattern)
                           << "\nFOLDER=" << output << "\n";
}

CodecFormats UsualCodec() {
    CodecFormats codec;
    codec.started = true;
    codec.decoders = {"*.BMP;*.DIB;*.RLE",
                      "*.JPG;*.JPEG;*.JPE;*.JFIF",
                      "*.GIF",
                      "*.EMF",
                      "*.WMF",
                      "*.TIF;*.TIFF",
                      "*.PNG",
                      "*.ICO"};
    codec.encoders = {"*.BMP;*.DIB;*.RLE", "*.JPG;*.JPEG;*.JPE;*.JFIF", "*.GIF", "*.TIF;*.TIFF",
                      "*.PNG"};
    return codec;
}

CodecFormats FailedCodec() {
    return CodecFormats{};
}

} // namespace pelo::test
