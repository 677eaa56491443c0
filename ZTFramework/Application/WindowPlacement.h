#pragma once
// Where the main window was: kept in the user settings file between runs and fitted to the
// desktop when it comes back.
//
// The placement is a dictionary under the window class name in the user settings file:
//
//     <key>Halvard_..._FirmwareUpdater</key><dict>
//         <key>Left</key><integer>..</integer>   <key>Top</key> ..
//         <key>Width</key> ..   <key>Height</key> ..   <key>ShowState</key><string>Normal</string>
//     </dict>
//
// Positions and sizes are the window's normal (not minimised, not maximised) frame in desktop
// pixels; "ShowState" is "Normal", "Minimized" or "Maximized". Writing goes through the
// settings layer, which replaces the file atomically and keeps a damaged one aside.
//
// Not guarded: the user-interface thread uses it, like the settings manager it works through.

#include "ZTFramework/ControlBase/RectT.h"
#include "ZTFramework/Errors/Result.h"
#include "ZTFramework/Settings/IniFileManagerInterface.h"
#include "ZTFramework/Utilities/Storage/StringT.h"

#include <optional>

namespace ZT {

struct WindowPlacement {
    enum class ShowState { Normal, Minimized, Maximized };

    // Values read from a file beyond these are taken as damage, not as a place on any desktop.
    static constexpr int kMaxCoordinate = 1 << 16;

    Rect mNormal;
    ShowState mShowState = ShowState::Normal;

    bool operator==(const WindowPlacement&) const noexcept = default;

    // The placement a window starts with: a minimised one is shown restored.
    [[nodiscard]] WindowPlacement Restored() const noexcept;

    // Reads the placement stored under windowClassName; nothing when it is missing or any of
    // its values is not a sane one (then the window keeps the skin's place).
    [[nodiscard]] static std::optional<WindowPlacement> Read(IIniFileManager& manager, IniFileHandle file,
                                                             const WString& windowClassName);
    // Stores the placement under windowClassName and saves the file. kFailed when a value cannot
    // be set or the save fails (the file on disk is then the earlier one, whole).
    [[nodiscard]] ZTRESULT Write(IIniFileManager& manager, IniFileHandle file, const WString& windowClassName) const;

    // The settings key of the class name: "." and square brackets, which key paths use, become "_".
    [[nodiscard]] static WString KeyOf(const WString& windowClassName);
};

[[nodiscard]] const char* ToString(WindowPlacement::ShowState state) noexcept;

// Fits a window frame into the desktop's work area: a window larger than the desktop is shrunk
// to it, one that starts left of or above it is moved to its left or top edge, and one that
// reaches past its right or bottom edge is moved back inside. An empty desktop changes nothing.
[[nodiscard]] Rect FitToDesktop(const Rect& window, const Rect& desktop) noexcept;

} // namespace ZT
