// The desktop program: one modal dialog; the process ends when it closes.
#include "app/PeloApp.h"
#include "app/Translation.h"
#include "base/HeapReuse.h"

#include <QApplication>

int main(int argc, char** argv) {
    pelo::KeepFreedMemoryForReuse();
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Pelo"));
    QApplication::setDesktopFileName(QStringLiteral("pelo"));
    pelo::UseLanguage(pelo::LanguageFromEnvironment());
    pelo::CPeloApp app;
    return app.InitInstance();
}
