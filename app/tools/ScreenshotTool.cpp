// Shows the main dialog with a small sample folder, the preview of its first
// file, the detail dialog and the about box, and saves a picture of each
// window for the README, in the language the environment picks (English
// pictures get the suffix "-en"). Run it under an X server:
// app/tools/make-screenshots.sh.
#include "app/AboutDlg.h"
#include "app/DetailSetDlg.h"
#include "app/PeloApp.h"
#include "app/PeloDlg.h"
#include "app/PreviewWnd.h"
#include "app/Translation.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <fstream>

namespace {

// The window as the screen shows it (with its frame when a window manager
// draws one).
bool Grab(QWidget* window, const QString& path) {
    QScreen* screen = window->screen();
    const QRect frame = window->frameGeometry();
    const QPixmap shot = screen->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height());
    return !shot.isNull() && shot.save(path);
}

template <class Dialog> Dialog* VisibleTopLevel() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* d = qobject_cast<Dialog*>(w); d && d->isVisible()) return d;
    return nullptr;
}

} // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s SAMPLE_FOLDER OUTPUT_FOLDER\n", argv[0]);
        return 2;
    }
    const pelo::UiLanguage language = pelo::LanguageFromEnvironment();
    pelo::UseLanguage(language);
    const QString suffix =
        language == pelo::UiLanguage::English ? QStringLiteral("-en") : QString();
    const QString samples = QString::fromLocal8Bit(argv[1]);
    const QString out = QString::fromLocal8Bit(argv[2]);
    QDir().mkpath(out);
    auto shot = [&](const char* name) { return out + "/" + name + suffix + ".png"; };

    const QString profile = QDir::temp().filePath(QStringLiteral("pelo-screenshot.INI"));
    {
        // PNG input, PNG output.
        const pelo::FormatLists lists = pelo::BuildFormatLists(pelo::QueryCodecFormats());
        auto position = [](const std::vector<std::string>& list, const char* pattern) {
            return std::find(list.begin(), list.end(), pattern) - list.begin();
        };
        std::ofstream ini(profile.toStdString());
        ini << "[INPUT]\nTYPE=" << position(lists.input, "*.PNG")
            << "\nFOLDER=" << samples.toStdString()
            << "\n[OUTPUT]\nTYPE=" << position(lists.output, "*.PNG")
            << "\nFOLDER=" << QDir(samples).filePath(QStringLiteral("out")).toStdString() << "\n";
    }
    pelo::CPeloApp app(profile.toStdString());
    pelo::CPeloDlg dialog(app);
    dialog.OnInitDialog();
    dialog.move(16, 16);
    bool ok = true;
    auto later = [&](auto step) { QTimer::singleShot(1500, &dialog, step); };
    later([&] {
        dialog.findChild<QListWidget*>(QStringLiteral("1001"))->setCurrentRow(0);
        ok = Grab(&dialog, shot("main-dialog")) && ok;
        dialog.OnPreview();
        pelo::CPreviewWnd* preview = dialog.preview();
        preview->resize(700, 460);
        preview->move(dialog.frameGeometry().right() + 8, 16);
        preview->canvas().SetZoom(6);
        later([&, preview] {
            ok = Grab(preview, shot("preview")) && ok;
            preview->close();
            later([&] {
                if (auto* detail = VisibleTopLevel<pelo::CDetailSetDlg>()) {
                    ok = Grab(detail, shot("detail-dialog")) && ok;
                    detail->reject();
                }
                later([&] {
                    if (auto* about = VisibleTopLevel<pelo::CAboutDlg>()) {
                        ok = Grab(about, shot("about-box")) && ok;
                        about->reject();
                    }
                    dialog.done(0);
                });
                dialog.findChild<QAction*>(QStringLiteral("16"))->trigger();
            });
            dialog.findChild<QPushButton*>(QStringLiteral("4"))->click();
        });
    });
    dialog.exec();
    QFile::remove(profile);
    return ok ? 0 : 1;
}
