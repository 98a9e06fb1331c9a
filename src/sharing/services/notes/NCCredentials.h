#pragma once
// One login to the note service: host, user id, note-store URL and web-API prefix (kept in the
// credential store's archive) and the authentication token (kept only in the keychain: generic
// password, service = host, account = user id; the getter reads it from there every time).
// NCCredentialStore gathers the entries by host and keeps them as one keyed archive in the user
// defaults under "NoteServiceCredentials".
//
// Threads: NCCredentials is immutable and may be read anywhere. NCCredentialStore guards its
// dictionary, so the call wrappers' queue may look entries up while the main thread logs in or out.
// Tokens are never logged.

#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "platform/foundation/Error.h"
#include "platform/foundation/Object.h"

namespace zv {

inline constexpr const char* kNoteServiceCredentialsDefaultsKey = "NoteServiceCredentials";

class NCCredentials : public Object {
 public:
  NCCredentials(std::string host, std::string edamUserId, std::string noteStoreUrl, std::string webApiUrlPrefix,
                std::optional<std::string> authenticationToken = std::nullopt);

  const std::string& host() const { return host_; }
  const std::string& edamUserId() const { return edamUserId_; }
  const std::string& noteStoreUrl() const { return noteStoreUrl_; }
  const std::string& webApiUrlPrefix() const { return webApiUrlPrefix_; }
  // From the keychain; nullopt (logged without the secret) when there is none.
  std::optional<std::string> authenticationToken() const;

  // Writes the token given at construction; false (with the keychain's error) on failure or
  // when there is no token to write.
  bool saveToKeychain(Ref<Error>* error = nullptr) const;
  void deleteFromKeychain() const;

  std::string description() const override;

 private:
  std::string host_;
  std::string edamUserId_;
  std::string noteStoreUrl_;
  std::string webApiUrlPrefix_;
  std::optional<std::string> tokenToSave_;
};

class NCCredentialStore : public Object {
 public:
  // The stored store, or nullptr when none is stored or the stored bytes are not a store.
  static Ref<NCCredentialStore> load();
  NCCredentialStore() = default;

  // Archives the store into the user defaults and synchronises them.
  void save() const;
  // Removes the stored archive.
  static void deleteStored();

  // Writes the token to the keychain first; a failure is logged and returned, and nothing is
  // stored.
  Ref<Error> addCredentials(const Ref<NCCredentials>& credentials);
  Ref<NCCredentials> credentialsForHost(const std::string& host) const;
  // Deletes the entry's keychain item, removes it and saves.
  void removeCredentials(const Ref<NCCredentials>& credentials);
  // Deletes every entry's keychain item, empties the store and saves it.
  void clearAllCredentials();
  std::size_t count() const;

 private:
  mutable std::mutex mutex_;
  std::map<std::string, Ref<NCCredentials>> store_;
};

}  // namespace zv
