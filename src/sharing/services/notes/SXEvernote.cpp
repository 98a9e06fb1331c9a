#include "sharing/services/notes/SXEvernote.h"

#include <cmath>
#include <cstdio>

#include "platform/crypto/Digest.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Exception.h"
#include "platform/foundation/Log.h"
#include "platform/graphics/Image.h"
#include "platform/net/URLConnection.h"
#include "platform/runloop/DispatchQueue.h"
#include "platform/ui/AlertView.h"
#include "sharing/core/SX.h"
#include "sharing/core/SXConfiguration.h"
#include "sharing/core/SXFormController.h"
#include "sharing/core/SXFormFieldSettings.h"
#include "sharing/core/SXText.h"
#include "sharing/services/html/HTMLAdditions.h"
#include "sharing/services/notes/NoteServiceNoteStore.h"
#include "sharing/services/notes/NoteServiceSession.h"

namespace zv {

namespace {

// The service's login-lost codes: the token has expired or is invalid.
bool isLostLogin(const Ref<Error>& error) { return error && (error->code() == 8 || error->code() == 9); }

std::vector<std::string> tagNamesFrom(const std::string& tags) {
  std::vector<std::string> names;
  std::size_t start = 0;
  while (start <= tags.size()) {
    std::size_t end = tags.find(' ', start);
    if (end == std::string::npos) end = tags.size();
    // Two blanks in a row name no tag: the service refuses empty names.
    if (end > start) names.push_back(tags.substr(start, end - start));
    start = end + 1;
  }
  return names;
}

// Replaces each placeholder `<img src="..." />` whose address is `address`, read as the markup
// holds it (with its references, "&amp;" for "&") or as written.
void replacePlaceholders(std::string& content, const std::string& address, const std::string& replacement) {
  static constexpr std::string_view kOpen = "<img src=\"";
  static constexpr std::string_view kClose = "\" />";
  for (std::size_t at = content.find(kOpen); at != std::string::npos; at = content.find(kOpen, at)) {
    const std::size_t from = at + kOpen.size();
    const std::size_t quote = content.find('"', from);
    if (quote == std::string::npos) return;
    const std::string_view written = std::string_view(content).substr(from, quote - from);
    if (content.compare(quote, kClose.size(), kClose) == 0 &&
        (written == address || html::html_stringByUnescapingFromHTML(written) == address)) {
      content.replace(at, quote + kClose.size() - at, replacement);
      at += replacement.size();
    } else {
      at = from;
    }
  }
}

std::string escapeXML(std::string_view text) { return html::html_stringByEscapingForHTML(text); }

bool isTokenCharacter(char c) {
  return c > ' ' && c < 0x7F && std::string_view("()<>@,;:\\\"/[]?=").find(c) == std::string_view::npos;
}

std::size_t tokenEnd(std::string_view text, std::size_t at) {
  while (at < text.size() && isTokenCharacter(text[at])) ++at;
  return at;
}

// Whether `text` is a media type: "type/subtype" and any number of "; name=value" parameters, each
// value a token or a quoted string (blanks allowed around ";" and "=").
bool isMediaType(std::string_view text) {
  auto blanks = [&](std::size_t at) {
    while (at < text.size() && (text[at] == ' ' || text[at] == '\t')) ++at;
    return at;
  };
  std::size_t at = tokenEnd(text, 0);
  if (at == 0 || at >= text.size() || text[at] != '/') return false;
  std::size_t end = tokenEnd(text, at + 1);
  if (end == at + 1) return false;
  at = end;
  while (true) {
    at = blanks(at);
    if (at == text.size()) return true;
    if (text[at] != ';') return false;
    at = blanks(at + 1);
    end = tokenEnd(text, at);
    if (end == at) return false;
    at = blanks(end);
    if (at >= text.size() || text[at] != '=') return false;
    at = blanks(at + 1);
    if (at < text.size() && text[at] == '"') {
      for (++at; at < text.size() && text[at] != '"'; ++at) {
        const auto c = static_cast<unsigned char>(text[at]);
        if (c < ' ' && c != '\t') return false;
        if (c == 0x7F) return false;
        if (c == '\\' && ++at == text.size()) return false;
      }
      if (at == text.size()) return false;
      ++at;
    } else {
      end = tokenEnd(text, at);
      if (end == at) return false;
      at = end;
    }
  }
}

struct FetchedImage {
  std::size_t index;
  std::string bytes;
  double width;
  double height;
};

}  // namespace

void SXEvernote::registerClass() { SXSharer::registerSharerClass<SXEvernote>(); }

void SXEvernote::fillNoteServiceSessionWithAppConfig() {
  NoteServiceSession::setSharedSessionHost(SXConfigString("evernoteHost").value_or(""),
                                           SXConfigString("evernoteConsumerKey").value_or(""),
                                           SXConfigString("evernoteSecret").value_or(""));
}

void SXEvernote::logout() {
  fillNoteServiceSessionWithAppConfig();
  NoteServiceSession::sharedSession()->logout();
}

void SXEvernote::init() {
  SXSharer::init();
  fillNoteServiceSessionWithAppConfig();
}

bool SXEvernote::isAuthorized() { return NoteServiceSession::sharedSession()->isAuthenticated(); }

void SXEvernote::promptAuthorization() {
  auto self = selfAs<SXEvernote>();
  auto helper = SX::currentHelper();
  auto root = helper ? helper->rootViewForCustomUIDisplay() : nullptr;
  try {
    NoteServiceSession::sharedSession()->authenticateWithViewController(root, [self](const Ref<Error>& error) {
      if (error) {
        self->failAuthorization(SXLocalizedText("There was an error while authorizing"));
        return;
      }
      bool authenticated = NoteServiceSession::sharedSession()->isAuthenticated();
      self->authDidFinish(authenticated);
      if (authenticated && self->item()) self->tryPendingAction();
    });
  } catch (const Exception& e) {
    // The application's consumer key or secret is unusable: no login can start, and the raise
    // must not reach the run loop that delivered the tap.
    if (e.name() != kInvalidNoteServiceSessionException) throw;
    logError("SXEvernote: " + e.reason());
    failAuthorization(e.reason());
  }
}

void SXEvernote::failAuthorization(const std::string& message) {
  authDidFinish(false);
  ui::AlertView::make(SXLocalizedText("Authorize Error"), message, {}, SXLocalizedText("Close"))->show();
}

std::vector<Ref<SXFormFieldSettings>> SXEvernote::shareFormFieldsForType(std::int32_t) {
  return {SXFormFieldSettings::make(SXLocalizedText("Title"), "title", SXFormFieldTypeText, item()->title),
          SXFormFieldSettings::make(SXLocalizedText("Tags"), "tags", SXFormFieldTypeText, item()->tags)};
}

void SXEvernote::shareFormValidate(SXFormController& form) { form.saveForm(); }

notes::Data SXEvernote::dataWithBytes(std::string bytes) {
  notes::Data data;
  auto digest = crypto::md5(crypto::bytesOf(bytes));
  data.__set_bodyHash(std::string(reinterpret_cast<const char*>(digest.data()), digest.size()));
  data.__set_size(static_cast<std::int32_t>(bytes.size()));
  data.__set_body(std::move(bytes));
  return data;
}

std::string SXEvernote::enMediaTagWithResource(const notes::Resource& resource, double width, double height) {
  std::string size;
  if (width > 0 && height > 0) {
    char buffer[96];
    std::snprintf(buffer, sizeof buffer, "height=\"%.0f\" width=\"%.0f\" ", height, width);
    size = buffer;
  }
  return "<en-media type=\"" + escapeXML(resource.mime) + "\" " + size + "hash=\"" +
         crypto::hex(crypto::md5(crypto::bytesOf(resource.data.body))) + "\"/>";
}

bool SXEvernote::send() {
  if (!validateItem()) return false;
  sendDidStart();
  auto item = this->item();
  auto prepared = std::dynamic_pointer_cast<SXEvernoteItem>(item);
  auto note = std::make_shared<notes::Note>(prepared && prepared->note ? *prepared->note : notes::Note());
  std::vector<notes::Resource> resources = note->__isset.resources ? note->resources : std::vector<notes::Resource>();
  notes::NoteAttributes attributes = note->__isset.attributes ? note->attributes : notes::NoteAttributes();

  if (!attributes.__isset.sourceURL && prepared && prepared->url) {
    attributes.__set_sourceURL(prepared->url->absoluteString());
  }
  if (item->title && !item->title->empty()) {
    note->__set_title(*item->title);
  } else if (!note->__isset.title) {
    note->__set_title(SXLocalizedText("Untitled"));
  }
  if (!note->__isset.tagNames && item->tags && !item->tags->empty()) {
    auto names = tagNamesFrom(*item->tags);
    if (!names.empty()) note->__set_tagNames(names);
  }

  if (!note->__isset.content) {
    std::string content =
        std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?><!DOCTYPE en-note SYSTEM \"") + kNoteMarkupDTD +
        "\"><en-note style=\"word-wrap: break-word; -webkit-nbsp-mode: space; -webkit-line-break: after-white-space;\">";
    // The link goes into an attribute and a text node: XML-escaped there, kept as given elsewhere.
    std::string link = item->url ? item->url->absoluteString() : std::string();
    std::string heading = escapeXML(item->title.value_or(""));
    bool hasTitle = item->title && !item->title->empty();
    if (link.empty()) {
      if (hasTitle) content += "<h1>" + heading + "</h1>";
    } else {
      std::string escapedLink = escapeXML(link);
      if (hasTitle) content += "<h1><a href=\"" + escapedLink + "\">" + heading + "</a></h1>";
      content += "<p><a href=\"" + escapedLink + "\">" + escapedLink + "</a></p>";
      attributes.__set_sourceURL(link);
    }
    if (item->text && !item->text->empty()) {
      content += "<p>" + escapeXML(SXStripHTML(*item->text, true)) + "</p>";
    }
    if (item->image) {
      auto jpeg = graphics::imageJPEGRepresentation(item->image, 0.6);
      if (jpeg) {
        notes::Resource resource;
        resource.__set_mime("image/jpeg");
        resource.__set_data(dataWithBytes(std::string(jpeg->view())));
        auto size = item->image->size();
        content += "<p>" + enMediaTagWithResource(resource, size.width, size.height) + "</p>";
        resources.push_back(std::move(resource));
      }
    }
    if (item->data) {
      notes::Resource resource;
      // A type that is not a media type says nothing true about the file: it goes as plain bytes.
      std::string type = item->mimeType.value_or("application/octet-stream");
      if (!isMediaType(type)) {
        logError("Note attachment sent as bytes: its type is not a media type");
        type = "application/octet-stream";
      }
      resource.__set_mime(type);
      resource.__set_data(dataWithBytes(std::string(item->data->view())));
      content += "<p>" + enMediaTagWithResource(resource, 0, 0) + "</p>";
      resources.push_back(std::move(resource));
    }
    content += "</en-note>";
    note->__set_content(std::move(content));
  }

  note->__set_resources(std::move(resources));
  note->__set_attributes(std::move(attributes));
  // The service counts milliseconds from 1970; the clock counts seconds from 2001.
  note->__set_created(static_cast<std::int64_t>(std::floor(Clock::current()->now() + kReferenceDateOffset)) * 1000);
  addImageResources(note);
  return true;
}

void SXEvernote::addImageResources(std::shared_ptr<notes::Note> note) {
  std::vector<std::pair<std::size_t, std::string>> wanted;
  for (std::size_t index = 0; index < note->resources.size(); ++index) {
    const auto& resource = note->resources[index];
    if (resource.__isset.data || resource.mime != "image/jpeg") continue;
    if (!resource.__isset.attributes || !resource.attributes.__isset.sourceURL) continue;
    if (resource.attributes.sourceURL.empty()) continue;
    wanted.emplace_back(index, resource.attributes.sourceURL);
  }
  if (wanted.empty()) {
    deliver(std::move(note));
    return;
  }
  // Fetched off the main thread; the share goes on there once every image is in.
  auto self = selfAs<SXEvernote>();
  DispatchQueue::globalQueue()->async([self, note, wanted] {
    auto fetched = std::make_shared<std::vector<FetchedImage>>();
    for (const auto& [index, address] : wanted) {
      try {
        auto url = URL::make(address);
        if (!url) continue;
        auto body = net::URLConnection::sendSynchronousRequest(net::URLRequest::requestWithURL(url), nullptr, nullptr,
                                                               nullptr, kNoteImageMaximumLength);
        if (!body) continue;
        auto image = graphics::Image::imageWithData(*body);
        if (!image) continue;
        auto size = image->size();
        fetched->push_back({index, std::string(body->view()), size.width, size.height});
      } catch (const std::exception& exception) {
        logError(std::string("Note image left out: ") + exception.what());
      }
    }
    DispatchQueue::mainQueue()->async([self, note, fetched] {
      for (auto& image : *fetched) {
        auto& resource = note->resources[image.index];
        std::string address = resource.attributes.sourceURL;
        resource.__set_data(dataWithBytes(std::move(image.bytes)));
        if (note->__isset.content) {
          replacePlaceholders(note->content, address, enMediaTagWithResource(resource, image.width, image.height));
        }
      }
      self->deliver(note);
    });
  });
}

void SXEvernote::deliver(std::shared_ptr<notes::Note> note) {
  if (note->__isset.notebookGuid) {
    createNote(std::move(note));
    return;
  }
  auto self = selfAs<SXEvernote>();
  NoteServiceNoteStore::noteStore()->getDefaultNotebookWithSuccess(
      [self, note](const notes::Notebook& notebook) {
        note->__set_notebookGuid(notebook.guid);
        self->createNote(note);
      },
      // Without the notebook the note is not sent: the share ends with the failure.
      [self](const Ref<Error>& error) { self->reportFailure(error); });
}

void SXEvernote::createNote(std::shared_ptr<notes::Note> note) {
  auto self = selfAs<SXEvernote>();
  NoteServiceNoteStore::noteStore()->createNote(
      *note,
      [self](const notes::Note&) {
        self->shareEnded();
        self->sendDidFinish();
      },
      [self](const Ref<Error>& error) { self->reportFailure(error); });
}

void SXEvernote::reportFailure(const Ref<Error>& error) {
  if (isLostLogin(error)) {
    // The stored token is spent: forget it, so the next login asks the user instead of handing
    // the same token back. One new login per share; a token refused after it ends the share.
    auto session = NoteServiceSession::sharedSession();
    session->credentialStore()->removeCredentials(session->credentials());
    reloginOnceOrFail(SX::error(SXLocalizedText("Could not authenticate you. Please relogin.")));
    return;
  }
  if (error) logError("Note service call failed: code " + std::to_string(error->code()));
  sendDidFailWithError(SX::error(SXLocalizedText("There was a problem sharing with Evernote")));
}

}  // namespace zv
