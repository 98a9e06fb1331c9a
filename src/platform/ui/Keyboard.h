#pragma once
// The on-screen keyboard: it shows while a text field or text view is first responder, and its
// showing and hiding are posted on the default notification centre with the keyboard's frame
// (in screen coordinates) as a RectValue. Moving from one text input to another keeps it up.
// Main thread only.

#include "platform/graphics/Geometry.h"

namespace zv::ui {

inline constexpr const char* kKeyboardWillShowNotification = "KeyboardWillShowNotification";
inline constexpr const char* kKeyboardDidShowNotification = "KeyboardDidShowNotification";
inline constexpr const char* kKeyboardWillHideNotification = "KeyboardWillHideNotification";
inline constexpr const char* kKeyboardDidHideNotification = "KeyboardDidHideNotification";
inline constexpr const char* kKeyboardFrameBeginUserInfoKey = "KeyboardFrameBeginUserInfoKey";
inline constexpr const char* kKeyboardFrameEndUserInfoKey = "KeyboardFrameEndUserInfoKey";
inline constexpr const char* kKeyboardAnimationDurationUserInfoKey = "KeyboardAnimationDurationUserInfoKey";

// 216 points high across the bottom in portrait; 162 points wide along the side in landscape.
graphics::Rect keyboardFrame();
bool isKeyboardVisible();

// Called by text inputs as they gain and lose first-responder status.
void textInputDidBeginEditing();
void textInputDidEndEditing();

}  // namespace zv::ui
