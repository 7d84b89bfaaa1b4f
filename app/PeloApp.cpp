#include "app/PeloApp.h"

#include "app/PeloDlg.h"

namespace pelo {

CPeloApp::CPeloApp() : profile_(DefaultProfilePath()) {}

int CPeloApp::InitInstance() {
    // The start-up load of the PSD library belongs here, before any window:
    // when it fails, "Error: InitialLoadDll()" is shown and the program ends
    // without its dialog and without touching the profile.
    CPeloDlg dialog(*this);
    const int result = dialog.DoModal();
    if (result == 2) SaveSettings(profile_, dialog.state());
    return 0;
}

} // namespace pelo
