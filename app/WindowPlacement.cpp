#include "app/WindowPlacement.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <cstdint>

namespace pelo {

namespace {

constexpr const char* kWindow = "WINDOW";
constexpr int kMissing = INT32_MIN;

} // namespace

std::optional<QRect> LoadWindowPlacement(const ProfileFile& profile) {
    const int left = profile.GetInt(kWindow, "LEFT", kMissing);
    const int top = profile.GetInt(kWindow, "TOP", kMissing);
    const int width = profile.GetInt(kWindow, "WIDTH", kMissing);
    const int height = profile.GetInt(kWindow, "HEIGHT", kMissing);
    if (left == kMissing || top == kMissing || width <= 0 || height <= 0) return std::nullopt;
    return QRect(left, top, width, height);
}

void SaveWindowPlacement(ProfileFile& profile, const QWidget& window) {
    // Every key written rewrites the file; an unchanged placement is left.
    if (LoadWindowPlacement(profile) == QRect(window.pos(), window.size())) return;
    profile.WriteInt(kWindow, "LEFT", window.x());
    profile.WriteInt(kWindow, "TOP", window.y());
    profile.WriteInt(kWindow, "WIDTH", window.width());
    profile.WriteInt(kWindow, "HEIGHT", window.height());
}

void RestoreWindowPlacement(QWidget& window, const QRect& placement) {
    window.resize(placement.size().expandedTo(window.minimumSize()));
    const QPoint titleBar = placement.topLeft() + QPoint(placement.width() / 2, 8);
    if (QGuiApplication::screenAt(titleBar)) window.move(placement.topLeft());
}

} // namespace pelo
