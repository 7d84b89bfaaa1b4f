#include "app/PeloApp.h"

#include "app/MessageBoxes.h"
#include "app/PeloDlg.h"
#include "app/WindowPlacement.h"
#include "formats/PsdLibrary.h"

namespace pelo {

CPeloApp::CPeloApp() : CPeloApp(DefaultProfilePath()) {}

CPeloApp::CPeloApp(std::string profilePath, PsdLoader loadPsd)
    : profile_(std::move(profilePath)), loadPsd_(std::move(loadPsd)) {}

CPeloApp::PsdLoader CPeloApp::DefaultPsdLoader() {
    return InitialLoadDll;
}

int CPeloApp::InitInstance() {
    // Without the PSD library the program ends before any window and
    // without touching the profile.
    if (!loadPsd_()) {
        ShowMessageBox(nullptr, QString::fromLatin1(kInitialLoadDllError));
        return 1;
    }
    CPeloDlg dialog(*this);
    const int result = dialog.DoModal();
    if (result == 2) {
        SaveSettings(profile_, dialog.state());
        SaveResultOptions(profile_, dialog.state().settings.result);
        SaveWindowPlacement(profile_, dialog);
    }
    return 0;
}

} // namespace pelo
