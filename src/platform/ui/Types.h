#pragma once
// Enumerations of the headless user interface, with the platform's numeric values where stored
// settings or configuration strings map onto them.

#include <cstddef>
#include <cstdint>

namespace zv::ui {

// A run of UTF-16 units in a text.
struct TextRange {
  std::size_t location = 0;
  std::size_t length = 0;
  bool operator==(const TextRange&) const = default;
};

enum AutoresizingMask : unsigned {
  ViewAutoresizingNone = 0,
  ViewAutoresizingFlexibleLeftMargin = 1 << 0,
  ViewAutoresizingFlexibleWidth = 1 << 1,
  ViewAutoresizingFlexibleRightMargin = 1 << 2,
  ViewAutoresizingFlexibleTopMargin = 1 << 3,
  ViewAutoresizingFlexibleHeight = 1 << 4,
  ViewAutoresizingFlexibleBottomMargin = 1 << 5,
};

enum class ViewContentMode { ScaleToFill = 0, ScaleAspectFit = 1, ScaleAspectFill = 2, Redraw = 3, Center = 4 };

enum class InterfaceOrientation {
  Portrait = 1,
  PortraitUpsideDown = 2,
  LandscapeLeft = 4,  // home button on the left
  LandscapeRight = 3,  // home button on the right
};
inline bool isPortrait(InterfaceOrientation o) {
  return o == InterfaceOrientation::Portrait || o == InterfaceOrientation::PortraitUpsideDown;
}
inline bool isLandscape(InterfaceOrientation o) { return !isPortrait(o); }

enum class DeviceOrientation {
  Unknown = 0,
  Portrait = 1,
  PortraitUpsideDown = 2,
  LandscapeLeft = 3,
  LandscapeRight = 4,
  FaceUp = 5,
  FaceDown = 6,
};

enum class StatusBarStyle { Default = 0, BlackTranslucent = 1, BlackOpaque = 2 };
enum class BarStyle { Default = 0, Black = 1, BlackTranslucent = 2 };

enum class ModalTransitionStyle { CoverVertical = 0, FlipHorizontal = 1, CrossDissolve = 2, PartialCurl = 3 };
enum class ModalPresentationStyle { FullScreen = 0, PageSheet = 1, FormSheet = 2, CurrentContext = 3 };

enum class TextAlignment { Left = 0, Center = 1, Right = 2 };
enum class LineBreakMode { WordWrap = 0, CharacterWrap, Clip, TruncateHead, TruncateTail, TruncateMiddle };

enum class KeyboardType { Default = 0, ASCIICapable, NumbersAndPunctuation, URL, NumberPad, PhonePad, NamePhonePad, EmailAddress, DecimalPad };
enum class TextAutocapitalizationType { None = 0, Words, Sentences, AllCharacters };
enum class TextAutocorrectionType { Default = 0, No, Yes };
enum class ReturnKeyType { Default = 0, Go, Google, Join, Next, Route, Search, Send, Yahoo, Done, EmergencyCall };
enum class TextBorderStyle { None = 0, Line, Bezel, RoundedRect };

enum ControlEvents : unsigned {
  ControlEventTouchDown = 1 << 0,
  ControlEventTouchUpInside = 1 << 6,
  ControlEventTouchUpOutside = 1 << 7,
  ControlEventValueChanged = 1 << 12,
  ControlEventEditingDidBegin = 1 << 16,
  ControlEventEditingChanged = 1 << 17,
  ControlEventEditingDidEnd = 1 << 18,
  ControlEventEditingDidEndOnExit = 1 << 19,
  ControlEventAllEvents = 0xFFFFFFFF,
};

enum ControlState : unsigned { ControlStateNormal = 0, ControlStateHighlighted = 1, ControlStateDisabled = 2, ControlStateSelected = 4 };

enum class ButtonType { Custom = 0, RoundedRect, DetailDisclosure, InfoLight, InfoDark, ContactAdd };

enum class ActivityIndicatorViewStyle { WhiteLarge = 0, White = 1, Gray = 2 };
enum class ProgressViewStyle { Default = 0, Bar = 1 };

enum class TableViewStyle { Plain = 0, Grouped = 1 };
enum class TableViewCellStyle { Default = 0, Value1 = 1, Value2 = 2, Subtitle = 3 };
enum class TableViewCellAccessoryType { None = 0, DisclosureIndicator, DetailDisclosureButton, Checkmark };
enum class TableViewCellSelectionStyle { None = 0, Blue, Gray };
enum class TableViewCellEditingStyle { None = 0, Delete, Insert };
enum class TableViewCellSeparatorStyle { None = 0, SingleLine, SingleLineEtched };
enum class TableViewRowAnimation { Fade = 0, Right, Left, Top, Bottom, None, Middle, Automatic = 100 };
enum class TableViewScrollPosition { None = 0, Top, Middle, Bottom };

enum class BarButtonItemStyle { Plain = 0, Bordered = 1, Done = 2 };
enum class BarButtonSystemItem {
  Done = 0, Cancel, Edit, Save, Add, FlexibleSpace, FixedSpace, Compose, Reply, Action, Organize,
  Bookmarks, Search, Refresh, Stop, Camera, Trash, Play, Pause, Rewind, FastForward, Undo, Redo, PageCurl,
};

enum class ActionSheetStyle { Automatic = -1, Default = 0, BlackTranslucent = 1, BlackOpaque = 2 };
enum class AlertViewStyle { Default = 0, SecureTextInput, PlainTextInput, LoginAndPasswordInput };

enum class GestureRecognizerState { Possible = 0, Began, Changed, Ended, Cancelled, Failed, Recognized = Ended };

enum class ApplicationState { Active = 0, Inactive = 1, Background = 2 };

enum RemoteNotificationType : unsigned {
  RemoteNotificationTypeNone = 0,
  RemoteNotificationTypeBadge = 1 << 0,
  RemoteNotificationTypeSound = 1 << 1,
  RemoteNotificationTypeAlert = 1 << 2,
};

}  // namespace zv::ui
