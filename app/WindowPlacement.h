// Where the main window was and how large, kept in the profile's section
// "WINDOW" apart from the dialog's original keys.
#pragma once

#include "pipeline/SettingsProfile.h"

#include <QRect>
#include <optional>

class QWidget;

namespace pelo {

// The stored frame position and size, when the profile holds all four keys.
std::optional<QRect> LoadWindowPlacement(const ProfileFile& profile);
void SaveWindowPlacement(ProfileFile& profile, const QWidget& window);

// Gives the window the stored size (never below its minimum) and, when that
// place is on a screen, the stored position.
void RestoreWindowPlacement(QWidget& window, const QRect& placement);

} // namespace pelo
