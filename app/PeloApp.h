// The application object: loads the PSD library, runs the main dialog and
// writes the settings when the user quits.
#pragma once

#include "app/settings/SettingsProfile.h"

namespace pelo {

class CPeloApp {
public:
    CPeloApp();
    explicit CPeloApp(std::string profilePath) : profile_(std::move(profilePath)) {}

    // The whole life of the program; returns the process's exit status.
    int InitInstance();

    ProfileFile& profile() { return profile_; }

private:
    ProfileFile profile_;
};

} // namespace pelo
