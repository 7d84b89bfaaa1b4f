#include "cli/Console.h"

#include <algorithm>
#include <cstdio>
#include <sys/ioctl.h>
#include <unistd.h>

namespace pelo::cli {

Console::Console(bool bar, std::size_t total) : bar_(bar), total_(total), start_(Clock::now()) {}

void Console::FileStarted(std::size_t, const BatchEntry& entry) {
    std::lock_guard lock(mutex_);
    current_ = entry.input;
    DrawLocked(false);
}

void Console::FileFinished(std::size_t, const BatchEntry&, const Status&) {
    std::lock_guard lock(mutex_);
    ++done_;
    DrawLocked(done_ == total_);
}

void Console::End() {
    std::lock_guard lock(mutex_);
    ClearLocked();
    bar_ = false;
}

void Console::ClearLocked() {
    if (bar_ && drawn_) std::fputs("\r\033[K", stderr);
    drawn_ = false;
}

void Console::DrawLocked(bool force) {
    if (!bar_) return;
    const auto now = Clock::now();
    if (!force && drawn_ && now - lastDraw_ < std::chrono::milliseconds(100)) return;
    lastDraw_ = now;
    winsize ws{};
    const int columns =
        (::ioctl(STDERR_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0) ? ws.ws_col : 80;
    constexpr int kBar = 24;
    const int filled = total_ ? static_cast<int>(kBar * done_ / total_) : kBar;
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(now - start_).count();
    char head[128];
    std::snprintf(head, sizeof head, "[%s%s] %zu/%zu %02lld:%02lld ",
                  std::string(static_cast<std::size_t>(filled), '#').c_str(),
                  std::string(static_cast<std::size_t>(kBar - filled), '-').c_str(), done_, total_,
                  static_cast<long long>(seconds / 60), static_cast<long long>(seconds % 60));
    std::string line = head;
    const std::size_t room = static_cast<std::size_t>(std::max(columns - 1, 0));
    if (line.size() < room) {
        std::string name = current_;
        if (name.size() > room - line.size())
            name = "..." + name.substr(name.size() - (room - line.size() - 3));
        line += name;
    }
    if (line.size() > room) line.resize(room);
    std::fprintf(stderr, "\r%s\033[K", line.c_str());
    std::fflush(stderr);
    drawn_ = true;
}

} // namespace pelo::cli
