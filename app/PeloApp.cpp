#include "app/PeloApp.h"

#include "app/PeloDlg.h"

namespace pelo {

CPeloApp::CPeloApp() : profile_(DefaultProfilePath()) {}

int CPeloApp::InitInstance() {
    // PSD START-UP
    CPeloDlg dialog(*this);
    const int result = dialog.DoModal();
    if (result == 2) SaveSettings(profile_, dialog.state());
    return 0;
}

} // namespace pelo
