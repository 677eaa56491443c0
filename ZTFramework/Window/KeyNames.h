#pragma once
// The key names of the key bindings for SDL's key events: modifiers in the order "Ctrl+",
// "Shift+", "Alt+", then "VKEY_" and the key: "VKEY_F4", "VKEY_A", "VKEY_7", "VKEY_ESCAPE",
// "VKEY_RETURN", "VKEY_TAB", "VKEY_SPACE", "VKEY_BACK", "VKEY_DELETE", the arrows "VKEY_LEFT"...
// Keys without a name (the modifiers themselves among them) give an empty text: they are never
// bound.
//
// Threads: any; pure.

#include "ZTFramework/Utilities/Storage/StringT.h"

#include <cstdint>

namespace ZT {

// keycode: an SDL_Keycode; modifiers: SDL_Keymod bits.
[[nodiscard]] WString KeyNameForSdlKey(std::int32_t keycode, std::uint32_t modifiers);

} // namespace ZT
