#pragma once
// The faults the painter finds in a skin while drawing (a missing image, a look list naming a look
// that is not there): each is written once to the debug output and kept, so a skin author sees
// it without a flood of repeats on every repaint, and tests can read it.
//
// Threads: the user-interface thread's. Not guarded.

#include <set>
#include <string>
#include <vector>

namespace ZT {

class CSkinMessages {
public:
    // Writes "Skin: <message>" to the debug output the first time this message is reported.
    void Report(const std::string& message);
    [[nodiscard]] const std::vector<std::string>& GetMessages() const noexcept { return mMessages; }

private:
    std::set<std::string> mSeen;
    std::vector<std::string> mMessages;
};

} // namespace ZT
