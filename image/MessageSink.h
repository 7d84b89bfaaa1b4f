// Where the per-file operations report what the desktop program shows in a
// message box: the dialog shows a box, the command line prints to stderr.
#pragma once

#include <string>

namespace pelo {

class MessageSink {
public:
    virtual ~MessageSink() = default;
    virtual void ShowMessage(const std::string& text) = 0;
};

} // namespace pelo
