#pragma once
// The note service's sharer: one share item becomes one new note in the user's default notebook,
// written in the service's note markup with the item's image or file attached as a resource,
// after a login through the shared session when needed. SXEvernoteItem brings a prepared note of
// its own whose fields set beforehand are kept.
//
// Threads: main thread. Images of a prepared note are fetched on a background queue (each at most
// kNoteImageMaximumLength; a larger one is left out) and the share goes on on the main thread. Ownership: the calls in flight (and a login in progress)
// keep the sharer alive until the share has been reported.

#include <cstddef>
#include <memory>
#include <string>

#include "notes_thrift/NoteService_types.h"
#include "sharing/core/SXItem.h"
#include "sharing/core/SXSharer.h"

namespace zv {

// The most of one prepared note's image fetched from its page.
inline constexpr std::size_t kNoteImageMaximumLength = std::size_t{16} << 20;

class SXEvernoteItem : public SXItem {
 public:
  std::shared_ptr<notes::Note> note;
};

class SXEvernote : public SXSharer {
 public:
  // The SYSTEM identifier written in the note markup's document type declaration.
  static constexpr const char* kNoteMarkupDTD = "enml2.dtd";

  std::string sharerTitle() const override { return "Evernote"; }
  bool canShareURL() const override { return true; }
  bool canShareImage() const override { return true; }
  bool canShareText() const override { return true; }
  bool canShareFile() const override { return true; }
  bool requiresAuthentication() const override { return true; }
  bool canShare() const override { return true; }
  void logout() override;
  static void fillNoteServiceSessionWithAppConfig();

  void init() override;
  bool isAuthorized() override;
  void promptAuthorization() override;
  std::vector<Ref<SXFormFieldSettings>> shareFormFieldsForType(std::int32_t type) override;
  void shareFormValidate(SXFormController& form) override;
  bool send() override;

  static std::string enMediaTagWithResource(const notes::Resource& resource, double width, double height);
  // Data whose hash is the MD5 digest of `bytes`.
  static notes::Data dataWithBytes(std::string bytes);

  static void registerClass();

 private:
  void addImageResources(std::shared_ptr<notes::Note> note);
  void deliver(std::shared_ptr<notes::Note> note);
  void createNote(std::shared_ptr<notes::Note> note);
  void reportFailure(const Ref<Error>& error);
  // Ends a login that failed: reports it and shows one alert with `message`.
  void failAuthorization(const std::string& message);
};

}  // namespace zv
