#pragma once
// The window's mouse and keyboard handling over its control tree, apart from the platform: the
// host turns its events into these calls, in logical window pixels.
//
// - Hover: the deepest visible control under the mouse has the hover condition while it is
//   enabled; while a button is held, only the pressed control can have it (so a button's pressed
//   look goes when the mouse leaves it and comes back when it returns).
// - Press and release: the control under the mouse takes the capture and the drag condition of
//   the button; the release ends both and, when it happens over the same control, is a click:
//   LeftClick, MiddleClick or RightClick with the position inside the control. Every down, up and
//   move also reaches the control as MouseDown, MouseUp, MouseMove.
// - Focus: Tab and Shift+Tab move the focus through the visible, enabled buttons in tree order
//   (the first Tab focuses the first one); the focused control has the has-focus condition and
//   its ancestors the contains-focus one, which the painter shows. Enter and Space click the
//   focused button. A focus that became hidden or disabled is dropped at the next key.
//
// Every condition change asks the root window to repaint the control.
//
// Threads: the user-interface thread's.

#include "ZTFramework/ControlBase/MouseEvent.h"
#include "ZTFramework/ObjectBase/RCPtr.h"

#include <cstdint>

namespace ZT {

class LControl;

class CWindowInput {
public:
    enum class Key { Tab, Enter, Space };

    // root: the window's top control; the object keeps a reference.
    explicit CWindowInput(RCPtr<LControl> root);
    ~CWindowInput();
    CWindowInput(const CWindowInput&) = delete;
    CWindowInput& operator=(const CWindowInput&) = delete;

    void MouseMove(int x, int y, std::uint32_t modifiers);
    void MouseDown(LMouseEvent::Button button, int x, int y, std::uint32_t modifiers);
    void MouseUp(LMouseEvent::Button button, int x, int y, std::uint32_t modifiers);
    // The mouse left the window: no control has the hover any more (a held capture stays).
    void MouseLeave();
    // True when the key was used (a focus move or a click); false leaves it to the key bindings.
    bool KeyDown(Key key, bool shift);
    // Drops hover, capture and focus, e.g. before the tree goes.
    void Reset();

    // The deepest visible control at (x, y), children searched from the last (drawn on top) to
    // the first; null outside the root.
    [[nodiscard]] LControl* HitTest(int x, int y) const;
    [[nodiscard]] LControl* GetHover() const noexcept { return mHover.Get(); }
    [[nodiscard]] LControl* GetCapture() const noexcept { return mCapture.Get(); }
    [[nodiscard]] LControl* GetFocus() const noexcept { return mFocus.Get(); }

private:
    // Closes the popup menus open at the top of the tree that do not hold hit; true when one was
    // closed.
    bool CloseMenusOutside(const LControl* hit);
    [[nodiscard]] bool IsInTree(const LControl* control) const noexcept;
    [[nodiscard]] static bool CanTakeFocus(const LControl& control);
    void SetHover(LControl* control);
    void SetFocus(LControl* control);
    static void SetCondition(LControl& control, std::uint32_t bits, bool on);
    RCPtr<LMouseEvent> EventFor(const LControl& control, LMouseEvent::Button button, int x, int y,
                                std::uint32_t modifiers) const;

    RCPtr<LControl> mRoot;
    RCPtr<LControl> mHover;
    RCPtr<LControl> mCapture;
    RCPtr<LControl> mFocus;
    LMouseEvent::Button mCaptureButton = LMouseEvent::Button::None;
    int mLastX = -1;
    int mLastY = -1;
};

} // namespace ZT
