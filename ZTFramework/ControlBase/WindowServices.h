#pragma once
// What a control may ask of the platform window that shows its tree: the cursor, an immediate
// repaint before a step that blocks the user-interface thread, the caption, message boxes and the
// desktop's file chooser. The window host implements it and hands it to its LRootWindow; a tree without a
// platform window (tests, windowless runs) has none, and controls then skip these effects.
//
// Threads: the user-interface thread's.

#include "ZTFramework/Dialogs/FileChooser.h"
#include "ZTFramework/ObjectBase/RCPtr.h"
#include "ZTFramework/Utilities/Storage/StringT.h"

#include <cstdint>
#include <functional>
#include <optional>

namespace ZT {

class IWindowServices {
public:
    enum class MessageBoxIcon { Information, Warning, Error, Question };
    enum class MessageBoxButtons { Ok, YesNo };

    // Sets the window's cursor by its application name ("UI_CURSOR_WAIT", "UI_CURSOR_ARROW");
    // an unknown name shows the arrow. Returns the name of the cursor it replaced.
    virtual WString SetCursor(const WString& cursorName) = 0;
    // Paints the areas waiting to be repainted now, before the caller blocks the loop.
    virtual void RepaintNow() = 0;
    virtual void SetCaption(const WString& caption) = 0;
    // Shows a modal message box; true when the user answered Ok or Yes.
    virtual bool ShowMessageBox(const WString& text, const WString& caption, MessageBoxIcon icon,
                                MessageBoxButtons buttons) = 0;
    // The desktop's file chooser for this window; null when there is none.
    [[nodiscard]] virtual RCPtr<IFileChooser> CreateFileChooser() = 0;
    // A nested loop for a step that runs elsewhere (the engine's worker): handles the window's
    // input, paints and delivers the posted notifications until done returns true, then returns
    // true. done is asked after every round, at least every few tens of milliseconds, since the
    // step's end need not post anything. The caller must keep every command that could start
    // another such step from starting meanwhile; an approved exit request ends the outer loop
    // only after this one has returned. A window without such a loop returns false at once,
    // without asking done, and the caller waits for the step itself.
    virtual bool RunModalUntil(const std::function<bool()>& done)
    {
        (void)done; // unused without a loop
        return false;
    }

    // Calls onDue once on the user-interface thread from the window's loop, after ms of real
    // time; the loop sleeps until then or until an event, whichever comes first. Any number of
    // timers may wait at once. A window without a loop of its own returns false at once and
    // never calls onDue; the caller then waits itself.
    virtual bool StartTimer(std::uint32_t ms, std::function<void()> onDue)
    {
        (void)ms; // unused without a loop
        (void)onDue; // unused without a loop
        return false;
    }

protected:
    ~IWindowServices() = default;
};

} // namespace ZT
