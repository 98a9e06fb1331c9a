#pragma once
// The user-store calls as asynchronous wrappers (see NCAPI). The version check, the bootstrap
// information and the public user information need no token.
//
// Threads and ownership: as NCAPI.

#include "notes_thrift/UserStore.h"
#include "sharing/services/notes/NCAPI.h"

namespace zv {

class NoteServiceUserStore : public NCAPI {
 public:
  // A wrapper on the shared session.
  static Ref<NoteServiceUserStore> userStore();
  using NCAPI::NCAPI;

  void checkVersionWithClientName(const std::string& clientName, std::int16_t edamVersionMajor,
                                  std::int16_t edamVersionMinor, NCSuccess<bool> success, NCFailure failure) const;
  void getBootstrapInfoWithLocale(const std::string& locale, NCSuccess<notes::BootstrapInfo> success,
                                  NCFailure failure) const;
  void getUserWithSuccess(NCSuccess<notes::User> success, NCFailure failure) const;
  void getPublicUserInfoWithUsername(const std::string& username, NCSuccess<notes::PublicUserInfo> success,
                                     NCFailure failure) const;
  void getPremiumInfoWithSuccess(NCSuccess<notes::PremiumInfo> success, NCFailure failure) const;
  void getNoteStoreUrlWithSuccess(NCSuccess<std::string> success, NCFailure failure) const;
};

}  // namespace zv
