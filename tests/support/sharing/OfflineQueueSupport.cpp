#include "support/sharing/OfflineQueueSupport.h"

#include <atomic>

#include "sharing/core/SX.h"
#include "sharing/core/SXRequest.h"

namespace zv::testing {

namespace {

std::mutex& settingsMutex() {
  static std::mutex mutex;
  return mutex;
}
std::string& serviceURL() {
  static std::string url;
  return url;
}
std::atomic<QueueProbeSharer::Script>& probeScript() {
  static std::atomic<QueueProbeSharer::Script> script{QueueProbeSharer::Script::Finish};
  return script;
}
std::atomic<bool>& probeAuthorized() {
  static std::atomic<bool> authorized{true};
  return authorized;
}
std::vector<QueueProbeSharer::Sent>& sentItems() {
  static std::vector<QueueProbeSharer::Sent> items;
  return items;
}
// Probes that were told never to report; reset() lets them end.
std::vector<Ref<QueueProbeSharer>>& silentProbes() {
  static std::vector<Ref<QueueProbeSharer>> probes;
  return probes;
}

}  // namespace

void QueueReplaySharer::setServiceURL(std::string url) {
  std::lock_guard lock(settingsMutex());
  serviceURL() = std::move(url);
}

bool QueueReplaySharer::send() {
  if (!validateItem()) return false;
  std::string base;
  {
    std::lock_guard lock(settingsMutex());
    base = serviceURL();
  }
  auto self = selfAs<QueueReplaySharer>();
  auto request = SXRequest::make(
      URL::make(base + "/share"), "text=" + SXFormEscape(item()->text), self,
      [self](const Ref<SXRequest>& request) {
        if (request->success()) {
          self->sendDidFinish();
        } else {
          self->sendDidFailWithError(SX::error("the service answered " + request->description()));
        }
      },
      "POST", false);
  setRequest(request);
  sendDidStart();
  request->start();
  return true;
}

void QueueProbeSharer::setScript(Script script) { probeScript().store(script); }
void QueueProbeSharer::setAuthorized(bool authorized) { probeAuthorized().store(authorized); }

std::vector<QueueProbeSharer::Sent> QueueProbeSharer::sent() {
  std::lock_guard lock(settingsMutex());
  return sentItems();
}

void QueueProbeSharer::reportLate(bool finished) {
  std::vector<Ref<QueueProbeSharer>> silent;
  {
    std::lock_guard lock(settingsMutex());
    silent.swap(silentProbes());
  }
  for (const auto& probe : silent) {
    if (finished)
      probe->sendDidFinish();
    else
      probe->sendDidFailWithError(SX::error("the probe failed late"));
  }
}

void QueueProbeSharer::reset() {
  std::vector<Ref<QueueProbeSharer>> silent;
  {
    std::lock_guard lock(settingsMutex());
    silent.swap(silentProbes());
  }
  // A sharer keeps itself alive until it reports: end the silent ones (main thread).
  for (const auto& probe : silent) probe->sendDidCancel();
  std::lock_guard lock(settingsMutex());
  sentItems().clear();
  probeScript().store(Script::Finish);
  probeAuthorized().store(true);
}

bool QueueProbeSharer::requiresAuthentication() const { return !probeAuthorized().load(); }
bool QueueProbeSharer::isAuthorized() { return probeAuthorized().load(); }

bool QueueProbeSharer::send() {
  if (!validateItem()) return false;
  {
    std::lock_guard lock(settingsMutex());
    Sent sent;
    sent.text = item()->text.value_or("");
    sent.shareType = item()->shareType;
    sent.imageWidth = item()->image ? item()->image->pixelWidth() : 0;
    if (item()->image) sent.imagePixels = item()->image->bitmap().rgba;
    if (item()->data) sent.data = std::string(item()->data->view());
    sentItems().push_back(sent);
  }
  switch (probeScript().load()) {
    case Script::Finish:
      sendDidFinish();
      break;
    case Script::Fail:
      sendDidFailWithError(SX::error("the probe failed"));
      break;
    case Script::Never:
      remember();
      break;
    case Script::QueueAgain:
      // What a sharer does when the connection went away again meanwhile.
      SX::addToOfflineQueue(item(), sharerId());
      remember();
      break;
  }
  return true;
}

void QueueProbeSharer::remember() {
  std::lock_guard lock(settingsMutex());
  silentProbes().push_back(selfAs<QueueProbeSharer>());
}

void registerOfflineQueueTestSharers() {
  SXSharer::registerSharerClass<QueueReplaySharer>();
  SXSharer::registerSharerClass<QueueProbeSharer>();
}

}  // namespace zv::testing
