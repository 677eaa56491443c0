#pragma once
// The notifications a control sends through itself, and the idle notification it may ask for.

namespace ZT::ControlNotificationIDs {

inline constexpr const wchar_t* kLeftClick = L"NID_LEFT_CLICK";
inline constexpr const wchar_t* kMiddleClick = L"NID_MIDDLE_CLICK";
inline constexpr const wchar_t* kRightClick = L"NID_RIGHT_CLICK";
inline constexpr const wchar_t* kMouseDown = L"NID_MOUSE_DOWN";
inline constexpr const wchar_t* kMouseUp = L"NID_MOUSE_UP";
inline constexpr const wchar_t* kMouseMove = L"NID_MOUSE_MOVE";
inline constexpr const wchar_t* kConditionChange = L"NID_CONDITION_CHANGE";
inline constexpr const wchar_t* kHasFocusConditionChange = L"NID_HAS_FOCUS_CONDITION_CHANGE";
inline constexpr const wchar_t* kContainsFocusConditionChange = L"NID_CONTAINS_FOCUS_CONDITION_CHANGE";
inline constexpr const wchar_t* kHoverConditionChange = L"NID_HOVER_CONDITION_CHANGE";
inline constexpr const wchar_t* kCaptureConditionChange = L"NID_CAPTURE_CONDITION_CHANGE";
inline constexpr const wchar_t* kLeftDragConditionChange = L"NID_LEFT_DRAG_CONDITION_CHANGE";
inline constexpr const wchar_t* kMiddleDragConditionChange = L"NID_MIDDLE_DRAG_CONDITION_CHANGE";
inline constexpr const wchar_t* kRightDragConditionChange = L"NID_RIGHT_DRAG_CONDITION_CHANGE";
inline constexpr const wchar_t* kEnabledConditionChange = L"NID_ENABLED_CONDITION_CHANGE";
// The spelling is the notification's own.
inline constexpr const wchar_t* kVisibilityConditionChange = L"NID_VISIBLITY_CONDITION_CHANGE";
inline constexpr const wchar_t* kIdle = L"NID_IDLE";
// Sent by the root window when a file is dropped on it (payload LDroppedFile).
inline constexpr const wchar_t* kDropFile = L"NID_DROP_FILE";

} // namespace ZT::ControlNotificationIDs
