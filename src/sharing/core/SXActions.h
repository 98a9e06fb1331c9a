#pragma once
// The on-device actions: sharers that work on the device instead of at a web service (copy,
// print, open in the browser, save to the photo album, log out of every service; mail and text
// message have headers of their own). None needs a login or a connection, all run quiet, and
// each but print answers shouldAutoShare with YES: with auto-share allowed they act at once,
// without a form.
//
// Outcomes: copy reports finished once the pasteboard holds the link, text, image (PNG) or file
// bytes (under the item's MIME type), and fails for an item without a payload; the photo album
// shows "Saved!" and finishes only after the album confirmed the write, and fails for anything but
// an image; printing reports when the print options close.
//
// Main thread only. A sharer waiting for the album or the printer keeps itself alive until then.
#include <string>
#include <vector>
#include "sharing/core/SXSharer.h"

namespace zv {

// What every action shares: no login, no connection, and sending without a form when auto-share
// is allowed.
class SXActionSharer : public SXSharer {
 public:
  bool shareRequiresInternetConnection() const override { return false; }
  bool requiresAuthentication() const override { return false; }
  bool shouldAutoShare() const override { return true; }
};

class SXCopy : public SXActionSharer {
 public:
  std::string sharerTitle() const override;
  bool canShareText() const override { return true; }
  bool canShareURL() const override { return true; }
  bool canShareImage() const override { return true; }
  bool send() override;
  void placeImageOnPasteboard();
};

class SXPrint : public SXActionSharer {
 public:
  std::string sharerTitle() const override;
  bool canShareImage() const override { return true; }
  bool canShare() const override;
  // Print never counts as auto-shared (the print options ask each time); the switch stays offered.
  bool shouldAutoShare() const override { return false; }
  bool send() override;
  bool print();

 private:
  Ref<SXPrint> keptUntilFinished_;
};

class SXSafari : public SXActionSharer {
 public:
  std::string sharerTitle() const override;
  bool canShareURL() const override { return true; }
  bool send() override;
};

class SXPhotoAlbum : public SXActionSharer {
 public:
  std::string sharerTitle() const override;
  bool canShareImage() const override { return true; }
  bool send() override;
  void writeImageToAlbum();
};

class SXLogout : public SXActionSharer {
 public:
  std::string sharerTitle() const override;
  bool canShareText() const override { return true; }
  bool canShareURL() const override { return true; }
  bool canShareImage() const override { return true; }
  bool canShareFile() const override { return true; }
  // Logs out of every service of the sharers list; when a service is still logged in afterwards
  // (its stored login could not be removed), the send fails naming those services.
  bool send() override;
  // The titles of the listed services still logged in.
  static std::vector<std::string> remainingLogins();
};

// Registers the seven action sharers by name.
void registerSXActionClasses();

}  // namespace zv
