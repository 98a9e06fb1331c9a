#include "sharing/services/notes/NCCredentials.h"

#include "platform/foundation/Data.h"
#include "platform/foundation/Dictionary.h"
#include "platform/foundation/Exception.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/String.h"
#include "platform/storage/KeyedArchive.h"
#include "platform/system/UserDefaults.h"
#include "sharing/core/KeychainWrapper.h"

namespace zv {

NCCredentials::NCCredentials(std::string host, std::string edamUserId, std::string noteStoreUrl,
                             std::string webApiUrlPrefix, std::optional<std::string> authenticationToken)
    : host_(std::move(host)),
      edamUserId_(std::move(edamUserId)),
      noteStoreUrl_(std::move(noteStoreUrl)),
      webApiUrlPrefix_(std::move(webApiUrlPrefix)),
      tokenToSave_(std::move(authenticationToken)) {}

std::optional<std::string> NCCredentials::authenticationToken() const {
  Ref<Error> error;
  auto token = KeychainWrapper::passwordForService(host_, edamUserId_, &error);
  if (!token) logError("Error getting password from keychain: " + (error ? error->description() : "none"));
  return token;
}

bool NCCredentials::saveToKeychain(Ref<Error>* error) const {
  return KeychainWrapper::setPassword(tokenToSave_, host_, edamUserId_, error);
}

void NCCredentials::deleteFromKeychain() const { KeychainWrapper::deletePasswordForService(host_, edamUserId_); }

std::string NCCredentials::description() const { return "<NCCredentials host=" + host_ + " user=" + edamUserId_ + ">"; }

namespace {

Ref<Dictionary> archiveEntry(const NCCredentials& credentials) {
  return Dictionary::make({{"host", String::make(credentials.host())},
                           {"edamUserId", String::make(credentials.edamUserId())},
                           {"noteStoreUrl", String::make(credentials.noteStoreUrl())},
                           {"webApiUrlPrefix", String::make(credentials.webApiUrlPrefix())}});
}

}  // namespace

Ref<NCCredentialStore> NCCredentialStore::load() {
  auto data = UserDefaults::standardUserDefaults()->dataForKey(kNoteServiceCredentialsDefaultsKey);
  if (!data) return nullptr;
  ObjectPtr root;
  try {
    root = storage::unarchiveObjectWithData(data->view());
  } catch (const Exception& exception) {
    logError(std::string("Stored note-service credentials are unreadable: ") + exception.what());
    return nullptr;
  }
  auto top = std::dynamic_pointer_cast<Dictionary>(root);
  auto entries = top ? top->objectForKeyAs<Dictionary>("store") : nullptr;
  if (!entries) return nullptr;
  auto store = std::make_shared<NCCredentialStore>();
  entries->enumerate([&](const ObjectPtr& key, const ObjectPtr& value) {
    auto hostKey = std::dynamic_pointer_cast<String>(key);
    auto entry = std::dynamic_pointer_cast<Dictionary>(value);
    if (!hostKey || !entry) return true;
    auto field = [&](std::string_view name) { return entry->stringForKey(name).value_or(""); };
    store->store_[hostKey->utf8()] = std::make_shared<NCCredentials>(field("host"), field("edamUserId"),
                                                                     field("noteStoreUrl"), field("webApiUrlPrefix"));
    return true;
  });
  return store;
}

void NCCredentialStore::save() const {
  auto entries = MutableDictionary::make();
  {
    std::lock_guard lock(mutex_);
    for (const auto& [host, credentials] : store_) entries->setObject(archiveEntry(*credentials), host);
  }
  auto root = Dictionary::make({{"store", entries}});
  auto defaults = UserDefaults::standardUserDefaults();
  defaults->setObject(Data::make(storage::archivedDataWithRootObject(*root)), kNoteServiceCredentialsDefaultsKey);
  defaults->synchronize();
}

void NCCredentialStore::deleteStored() {
  auto defaults = UserDefaults::standardUserDefaults();
  defaults->removeObjectForKey(kNoteServiceCredentialsDefaultsKey);
  defaults->synchronize();
}

Ref<Error> NCCredentialStore::addCredentials(const Ref<NCCredentials>& credentials) {
  Ref<Error> error;
  if (!credentials->saveToKeychain(&error)) {
    logError("Error saving to keychain: " + (error ? error->description() : "unknown") + " " +
             std::to_string(error ? error->code() : 0));
    // Nothing is stored on a failure: an entry without its token would read as a login.
    if (!error) error = Error::make("NCCredentialStore", -1, "The keychain did not keep the token.");
    return error;
  }
  {
    std::lock_guard lock(mutex_);
    store_[credentials->host()] = credentials;
  }
  save();
  return error;
}

Ref<NCCredentials> NCCredentialStore::credentialsForHost(const std::string& host) const {
  std::lock_guard lock(mutex_);
  auto found = store_.find(host);
  return found == store_.end() ? nullptr : found->second;
}

void NCCredentialStore::removeCredentials(const Ref<NCCredentials>& credentials) {
  if (!credentials) return;
  credentials->deleteFromKeychain();
  {
    std::lock_guard lock(mutex_);
    store_.erase(credentials->host());
  }
  save();
}

void NCCredentialStore::clearAllCredentials() {
  std::map<std::string, Ref<NCCredentials>> removed;
  {
    std::lock_guard lock(mutex_);
    removed.swap(store_);
  }
  for (const auto& [host, credentials] : removed) credentials->deleteFromKeychain();
  // The archive goes too, or a reload would bring the entries back.
  save();
}

std::size_t NCCredentialStore::count() const {
  std::lock_guard lock(mutex_);
  return store_.size();
}

}  // namespace zv
