// The application object: loads the PSD library, runs the main dialog and
// writes the settings, result options and window placement when the user
// quits.
#pragma once

#include "pipeline/SettingsProfile.h"

#include <functional>

namespace pelo {

class CPeloApp {
public:
    // Loads the PSD library at start-up; false when it or an entry point is
    // missing.
    using PsdLoader = std::function<bool()>;

    CPeloApp();
    explicit CPeloApp(std::string profilePath, PsdLoader loadPsd = DefaultPsdLoader());

    // The whole life of the program; returns the process's exit status: 0,
    // or 1 when the PSD library could not be loaded.
    int InitInstance();

    ProfileFile& profile() { return profile_; }

private:
    static PsdLoader DefaultPsdLoader();

    ProfileFile profile_;
    PsdLoader loadPsd_;
};

} // namespace pelo
