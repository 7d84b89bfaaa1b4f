// Shows the main dialog with a small sample folder, then the detail dialog,
// and saves a picture of each window for the README. Run it under an X
// server: app/tools/make-screenshots.sh.
#include "app/AboutDlg.h"
#include "app/DetailSetDlg.h"
#include "app/PeloApp.h"
#include "app/PeloDlg.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QImage>
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

} // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s SAMPLE_FOLDER OUTPUT_FOLDER\n", argv[0]);
        return 2;
    }
    const QString samples = QString::fromLocal8Bit(argv[1]);
    const QString out = QString::fromLocal8Bit(argv[2]);
    QDir().mkpath(out);

    const QString profile = QDir::temp().filePath(QStringLiteral("pelo-screenshot.INI"));
    {
        // PNG input, TGA output.
        const pelo::FormatLists lists = pelo::BuildFormatLists(pelo::QueryCodecFormats());
        auto position = [](const std::vector<std::string>& list, const char* pattern) {
            return std::find(list.begin(), list.end(), pattern) - list.begin();
        };
        std::ofstream ini(profile.toStdString());
        ini << "[INPUT]\nTYPE=" << position(lists.input, "*.PNG")
            << "\nFOLDER=" << samples.toStdString()
            << "\n[OUTPUT]\nTYPE=" << position(lists.output, "*.TGA")
            << "\nFOLDER=" << QDir(samples).filePath(QStringLiteral("out")).toStdString() << "\n";
    }
    pelo::CPeloApp app(profile.toStdString());
    pelo::CPeloDlg dialog(app);
    dialog.OnInitDialog();
    bool ok = true;
    QTimer::singleShot(1500, &dialog, [&] {
        ok = Grab(&dialog, out + QStringLiteral("/main-dialog.png")) && ok;
        QTimer::singleShot(1500, &dialog, [&] {
            for (QWidget* w : QApplication::topLevelWidgets())
                if (auto* detail = qobject_cast<pelo::CDetailSetDlg*>(w);
                    detail && detail->isVisible()) {
                    ok = Grab(detail, out + QStringLiteral("/detail-dialog.png")) && ok;
                    detail->reject();
                }
            QTimer::singleShot(1500, &dialog, [&] {
                for (QWidget* w : QApplication::topLevelWidgets())
                    if (auto* about = qobject_cast<pelo::CAboutDlg*>(w);
                        about && about->isVisible()) {
                        ok = Grab(about, out + QStringLiteral("/about-box.png")) && ok;
                        about->reject();
                    }
                dialog.done(0);
            });
            dialog.findChild<QAction*>(QStringLiteral("16"))->trigger();
        });
        dialog.findChild<QPushButton*>(QStringLiteral("4"))->click();
    });
    dialog.exec();
    QFile::remove(profile);
    return ok ? 0 : 1;
}
