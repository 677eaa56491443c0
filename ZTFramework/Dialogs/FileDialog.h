#pragma once
// Choosing a file to open with the desktop's own file chooser.
//
// LFileDialog tries, in this order:
//   1. the XDG desktop portal (org.freedesktop.portal.FileChooser.OpenFile on the session bus,
//      then the Response signal on the request's object path), which every desktop that runs
//      sandboxed applications provides;
//   2. "zenity --file-selection", found on PATH;
//   3. neither is there: the result is Unavailable, with one debug line that says why; the caller
//      then tells the user how else to give a file.
// A chooser that is there and that the user closes is Cancelled too: the next one is not tried.
//
// Filters are written as the updater's string tables write them: description and pattern pairs
// separated by "|" ("Firmware Files (*.dfu)|*.dfu|All files (*.*)|*.*"); one pair may hold several
// patterns separated by ";". "*.*" means every file.
//
// Blocking: ChooseFileToOpen blocks its caller until the user has answered (the chooser is modal
// for the window). Threads: one caller at a time; the user-interface thread in the updater.

#include "ZTFramework/Dialogs/FileChooser.h"
#include "ZTFramework/Utilities/Storage/StringT.h"

#include <string>
#include <vector>

namespace ZT {

class LFileDialog : public IFileChooser {
public:
    // Which chooser answered the last request.
    enum class Backend { None, Portal, Zenity };

    struct Filter {
        std::string mDescription;
        std::vector<std::string> mPatterns; // "*.dfu"; "*" for every file
    };
    // The pairs of a filter text. A description without a pattern is dropped; empty patterns are
    // skipped; "*.*" becomes "*".
    [[nodiscard]] static std::vector<Filter> ParseFilter(const WString& filter);

    [[nodiscard]] Outcome ChooseFileToOpen(const Request& request, WString& path) override;
    [[nodiscard]] Backend GetLastBackend() const noexcept { return mLastBackend; }

    // Whether the portal is asked at all (it is unless turned off); a test that checks the
    // fallback on a machine with a session bus turns it off.
    void SetPortalEnabled(bool enabled) noexcept { mPortalEnabled = enabled; }

private:
    enum class Attempt { Chosen, Cancelled, Unavailable };
    [[nodiscard]] Attempt TryPortal(const Request& request, const std::vector<Filter>& filters, std::string& path);
    [[nodiscard]] Attempt TryZenity(const Request& request, const std::vector<Filter>& filters, std::string& path);

    Backend mLastBackend = Backend::None;
    bool mPortalEnabled = true;
};

[[nodiscard]] const char* ToString(LFileDialog::Backend backend) noexcept;
[[nodiscard]] const char* ToString(IFileChooser::Outcome outcome) noexcept;

} // namespace ZT
