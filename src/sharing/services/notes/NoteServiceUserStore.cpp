#include "sharing/services/notes/NoteServiceUserStore.h"

namespace zv {

using namespace notes;

Ref<NoteServiceUserStore> NoteServiceUserStore::userStore() {
  return std::make_shared<NoteServiceUserStore>(NoteServiceSession::sharedSession());
}

void NoteServiceUserStore::checkVersionWithClientName(const std::string& clientName, std::int16_t edamVersionMajor,
                                                      std::int16_t edamVersionMinor, NCSuccess<bool> success,
                                                      NCFailure failure) const {
  invokeAsyncBoolBlock(
      [=, s = session()] { return s->userStore()->checkVersion(clientName, edamVersionMajor, edamVersionMinor); },
      std::move(success), std::move(failure));
}

void NoteServiceUserStore::getBootstrapInfoWithLocale(const std::string& locale, NCSuccess<BootstrapInfo> success,
                                                      NCFailure failure) const {
  invokeAsyncIdBlock<BootstrapInfo>(
      [=, s = session()] {
        BootstrapInfo result;
        s->userStore()->getBootstrapInfo(result, locale);
        return result;
      },
      std::move(success), std::move(failure));
}

void NoteServiceUserStore::getUserWithSuccess(NCSuccess<User> success, NCFailure failure) const {
  invokeAsyncIdBlock<User>(
      [s = session()] {
        User result;
        s->userStore()->getUser(result, tokenOf(*s));
        return result;
      },
      std::move(success), std::move(failure));
}

void NoteServiceUserStore::getPublicUserInfoWithUsername(const std::string& username,
                                                         NCSuccess<PublicUserInfo> success, NCFailure failure) const {
  invokeAsyncIdBlock<PublicUserInfo>(
      [=, s = session()] {
        PublicUserInfo result;
        s->userStore()->getPublicUserInfo(result, username);
        return result;
      },
      std::move(success), std::move(failure));
}

void NoteServiceUserStore::getPremiumInfoWithSuccess(NCSuccess<PremiumInfo> success, NCFailure failure) const {
  invokeAsyncIdBlock<PremiumInfo>(
      [s = session()] {
        PremiumInfo result;
        s->userStore()->getPremiumInfo(result, tokenOf(*s));
        return result;
      },
      std::move(success), std::move(failure));
}

void NoteServiceUserStore::getNoteStoreUrlWithSuccess(NCSuccess<std::string> success, NCFailure failure) const {
  invokeAsyncIdBlock<std::string>(
      [s = session()] {
        std::string result;
        s->userStore()->getNoteStoreUrl(result, tokenOf(*s));
        return result;
      },
      std::move(success), std::move(failure));
}

}  // namespace zv
