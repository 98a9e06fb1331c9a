#include "sharing/services/notes/NCAPI.h"

#include <thrift/TApplicationException.h>
#include <thrift/Thrift.h>

#include "platform/foundation/Dictionary.h"
#include "platform/foundation/Exception.h"
#include "platform/foundation/String.h"

namespace zv {

namespace {

Ref<Error> makeError(std::int64_t code, const std::string& description, const std::optional<std::string>& parameter,
                     const Ref<Dictionary>& userInfo = nullptr) {
  auto info = userInfo ? std::dynamic_pointer_cast<MutableDictionary>(userInfo->mutableCopy()) : MutableDictionary::make();
  if (!info) info = MutableDictionary::make();
  if (!info->objectForKey(kLocalizedDescriptionKey)) info->setObject(String::make(description), kLocalizedDescriptionKey);
  if (parameter) info->setObject(String::make(*parameter), "parameter");
  return Error::make(kNoteServiceErrorDomain, code, info);
}

template <class DeclaredException>
std::optional<std::string> parameterOf(const DeclaredException& exception) {
  if (!exception.__isset.parameter) return std::nullopt;
  return exception.parameter;
}

}  // namespace

void NCAPI::invokeAsyncVoidBlock(std::function<void()> work, NCVoidSuccess success, NCFailure failure) const {
  std::function<bool()> wrapped;
  if (work) {
    wrapped = [work = std::move(work)] {
      work();
      return true;
    };
  }
  NCSuccess<bool> onSuccess;
  if (success) onSuccess = [success = std::move(success)](const bool&) { success(); };
  invokeAsync<bool>(std::move(wrapped), std::move(onSuccess), std::move(failure));
}

Ref<Error> NCAPI::errorFromException(std::exception_ptr exception) {
  if (!exception) return nullptr;
  try {
    std::rethrow_exception(exception);
  } catch (const notes::UserException& declared) {
    return makeError(declared.errorCode, "The service refused the call.", parameterOf(declared));
  } catch (const notes::SystemException& declared) {
    return makeError(declared.errorCode, declared.__isset.message ? declared.message : "The service failed.",
                     parameterOf(declared));
  } catch (const apache::thrift::TException& failure) {
    return makeError(kNoteServiceErrorTransport, std::string("The service could not be reached: ") + failure.what(),
                     std::nullopt);
  } catch (const Exception& platform) {
    return makeError(kNoteServiceErrorUnknown, platform.what(), std::nullopt, platform.userInfo());
  } catch (const std::exception& other) {
    return makeError(kNoteServiceErrorUnknown, other.what(), std::nullopt);
  } catch (...) {
    return makeError(kNoteServiceErrorUnknown, "An unknown failure.", std::nullopt);
  }
}

std::string NCAPI::tokenOf(const NoteServiceSession& session) { return session.authenticationToken().value_or(""); }

}  // namespace zv
