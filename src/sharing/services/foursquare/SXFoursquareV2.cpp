#include "sharing/services/foursquare/SXFoursquareV2.h"

#include <atomic>

#include "platform/foundation/Log.h"
#include "platform/foundation/URL.h"
#include "platform/runloop/Timer.h"
#include "platform/ui/AlertView.h"
#include "platform/ui/BarButtonItem.h"
#include "platform/ui/NavigationItem.h"
#include "platform/ui/Scheduler.h"
#include "platform/ui/TableViewCell.h"
#include "sharing/core/SX.h"
#include "sharing/core/SXActivityIndicator.h"
#include "sharing/core/SXConfiguration.h"
#include "sharing/core/SXText.h"

namespace zv {

namespace {

constexpr const char* kSharerId = "SXFoursquareV2";
constexpr const char* kTokenKey = "accessToken";
constexpr const char* kVenueCell = "SXFoursquareV2VenueCell";
constexpr std::size_t kLongestToken = 512;
std::atomic<double> locationTimeout{30};

std::string trimmed(const std::string& text) {
  const auto first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

}  // namespace

// --- login view ---

Ref<SXFoursquareV2OAuthView> SXFoursquareV2OAuthView::make(const Ref<URL>& url,
                                                           std::shared_ptr<SXOAuthViewDelegate> delegate) {
  auto view = std::make_shared<SXFoursquareV2OAuthView>();
  view->setUpWithURL(url, std::move(delegate));
  return view;
}

Ref<Dictionary> SXFoursquareV2OAuthView::fragmentParameters(std::string_view fragment) {
  auto parameters = MutableDictionary::make();
  std::size_t start = 0;
  while (start <= fragment.size()) {
    auto end = fragment.find('&', start);
    if (end == std::string_view::npos) end = fragment.size();
    const auto piece = fragment.substr(start, end - start);
    const auto equals = piece.find('=');
    if (equals != std::string_view::npos && piece.find('=', equals + 1) == std::string_view::npos) {
      parameters->setObject(box(percentDecode(piece.substr(equals + 1)).value_or(std::string(piece.substr(equals + 1)))),
                            std::string(piece.substr(0, equals)));
    }
    start = end + 1;
  }
  return parameters;
}

bool SXFoursquareV2OAuthView::webViewShouldStartLoadWithRequestNavigationType(ui::WebView& webView,
                                                                             const Ref<net::URLRequest>& request,
                                                                             ui::WebViewNavigationType type) {
  auto delegate = this->delegate();
  auto callback = delegate ? delegate->authorizeCallbackURL() : nullptr;
  auto url = request ? request->url() : nullptr;
  // The callback is recognised as the base view recognises it (scheme, host and port without
  // regard to case or a default port): every spelling of it reads the token here.
  if (!delegate || !callback || !url || !isCallbackURL(*url, *callback)) {
    return SXOAuthView::webViewShouldStartLoadWithRequestNavigationType(webView, request, type);
  }
  // The callback: the token is in the fragment. Without one the login has failed (and ends).
  auto parameters = fragmentParameters(url->fragment().value_or(""));
  auto token = parameters->stringForKey("access_token");
  const bool success = token && !token->empty() && token->size() <= kLongestToken;
  auto hold = self();
  setDelegate(nullptr);
  delegate->tokenAuthorizeViewDidFinishWithSuccessQueryParamsError(
      *this, success, success ? Ref<Dictionary>(parameters) : nullptr,
      success ? nullptr : Error::make(kSXFoursquareV2ErrorDomain, 0, SXLocalizedText("There was an error while sharing")));
  return false;
}

// --- check-in editor ---

void SXFoursquareV2CheckInForm::viewWillAppear(bool animated) {
  SXCustomFormControllerLargeTextField::viewWillAppear(animated);
  std::weak_ptr<SXFoursquareV2CheckInForm> weak = selfAs<SXFoursquareV2CheckInForm>();
  navigationItem()->setLeftBarButtonItem(nullptr);
  navigationItem()->setRightBarButtonItem(
      ui::BarButtonItem::withTitle(SXLocalizedText("Check In"), ui::BarButtonItemStyle::Done, [weak](ui::BarButtonItem&) {
        if (auto form = weak.lock()) form->save();
      }));
}

// --- places list ---

Ref<SXFoursquareV2VenuesForm> SXFoursquareV2VenuesForm::make(const Ref<SXFoursquareV2>& delegate) {
  auto form = std::make_shared<SXFoursquareV2VenuesForm>();
  form->delegate_ = delegate;
  return form;
}

void SXFoursquareV2VenuesForm::setLocationTimeout(double seconds) { locationTimeout.store(seconds); }

void SXFoursquareV2VenuesForm::viewDidLoad() {
  TableViewController::viewDidLoad();
  setTitle(SXLocalizedText("Nearby Places"));
  std::weak_ptr<SXFoursquareV2VenuesForm> weak = selfAs<SXFoursquareV2VenuesForm>();
  navigationItem()->setLeftBarButtonItem(
      ui::BarButtonItem::withSystemItem(ui::BarButtonSystemItem::Cancel, [weak](ui::BarButtonItem&) {
        if (auto form = weak.lock()) form->cancel();
      }));
  auto bar = ui::SearchBar::make(ui::Rect(0, 0, tableView()->bounds().size.width, 44));
  bar->setPlaceholder(SXLocalizedText("Search places"));
  bar->setDelegate(std::dynamic_pointer_cast<ui::SearchBarDelegate>(self()));
  tableView()->setTableHeaderView(bar);
  searchDisplay_ = ui::SearchDisplayController::make(bar, selfAs<ui::ViewController>());
  searchDisplay_->setDelegate(std::dynamic_pointer_cast<ui::SearchDisplayDelegate>(self()));
  searchDisplay_->setSearchResultsDataSource(std::dynamic_pointer_cast<ui::TableViewDataSource>(self()));
  searchDisplay_->setSearchResultsDelegate(std::dynamic_pointer_cast<ui::TableViewDelegate>(self()));
}

void SXFoursquareV2VenuesForm::viewWillAppear(bool animated) {
  TableViewController::viewWillAppear(animated);
  startMonitoringLocation();
}

void SXFoursquareV2VenuesForm::viewDidDisappear(bool animated) {
  TableViewController::viewDidDisappear(animated);
  stopMonitoringLocation();
}

void SXFoursquareV2VenuesForm::startMonitoringLocation() {
  if (locationManager_) return;
  locationManager_ = ui::LocationManager::make();
  locationManager_->setDesiredAccuracy(ui::kLocationAccuracyBest);
  locationManager_->setDelegate(std::dynamic_pointer_cast<ui::LocationManagerDelegate>(self()));
  if (ui::LocationManager::significantLocationChangeMonitoringAvailable()) {
    locationManager_->startMonitoringSignificantLocationChanges();
  } else {
    locationManager_->startUpdatingLocation();
  }
  if (!location_) {
    SXActivityIndicator::currentIndicator()->displayActivity(SXLocalizedText("Determine your location..."));
    std::weak_ptr<SXFoursquareV2VenuesForm> weak = selfAs<SXFoursquareV2VenuesForm>();
    locationTimer_ = ui::scheduleAfter(locationTimeout.load(), [weak] {
      auto form = weak.lock();
      if (form && !form->location_) {
        form->giveUp(Error::make(ui::kLocationErrorDomain, ui::kLocationErrorLocationUnknown,
                                 SXLocalizedText("Could not determine your location")));
      }
    });
  }
}

void SXFoursquareV2VenuesForm::stopMonitoringLocation() {
  if (locationTimer_) locationTimer_->invalidate();
  locationTimer_ = nullptr;
  if (locationManager_) {
    locationManager_->stopMonitoringSignificantLocationChanges();
    locationManager_->stopUpdatingLocation();
    locationManager_->setDelegate({});
    locationManager_ = nullptr;
  }
  location_ = nullptr;
}

void SXFoursquareV2VenuesForm::locationManagerDidUpdateToLocationFromLocation(ui::LocationManager&,
                                                                           const Ref<ui::Location>& newLocation,
                                                                           const Ref<ui::Location>& oldLocation) {
  location_ = newLocation;
  if (!oldLocation) {
    if (locationTimer_) locationTimer_->invalidate();
    locationTimer_ = nullptr;
    startloadingVenues();
  }
}

void SXFoursquareV2VenuesForm::locationManagerDidFailWithError(ui::LocationManager&, const Ref<Error>& error) {
  // A denied or unknown position: no places can be listed.
  if (!location_) giveUp(error);
}

void SXFoursquareV2VenuesForm::giveUp(const Ref<Error>& error, bool shouldRelogin) {
  if (gaveUp_) return;
  gaveUp_ = true;
  auto hold = self();
  cancelSearch();
  SXActivityIndicator::currentIndicator()->hide();
  stopMonitoringLocation();
  auto sharer = delegate_.lock();
  SX::currentHelper()->hideCurrentViewControllerAnimated(true);
  if (sharer) sharer->sendDidFailWithErrorShouldRelogin(error, shouldRelogin);
}

void SXFoursquareV2VenuesForm::cancelSearch() {
  if (!request_) return;
  if (auto connection = request_->connection()) connection->cancel();
  request_ = nullptr;
  SXActivityIndicator::currentIndicator()->hide();
}

void SXFoursquareV2VenuesForm::startloadingVenues() {
  auto sharer = delegate_.lock();
  if (!sharer) return;
  // Only the newest search may fill the list: an older one answering last would replace it.
  cancelSearch();
  SXActivityIndicator::currentIndicator()->displayActivity(SXLocalizedText("Searching places..."));
  std::weak_ptr<SXFoursquareV2VenuesForm> weak = selfAs<SXFoursquareV2VenuesForm>();
  request_ = SXFoursquareV2Request::requestVenuesSearchLocation(
      location_, query_, self(),
      [weak](const Ref<SXRequest>& request) {
        if (auto form = weak.lock()) form->finishLoadingVenues(std::static_pointer_cast<SXFoursquareV2Request>(request));
      },
      sharer->accessToken().value_or(""), true);
}

void SXFoursquareV2VenuesForm::finishLoadingVenues(const Ref<SXFoursquareV2Request>& request) {
  if (!request || request != request_) return;  // a search that was cancelled or replaced
  auto hold = self();
  SXActivityIndicator::currentIndicator()->hide();
  venues_.reset();
  if (auto error = request->getFoursquareError()) {
    // A refused search (a refused token too) ends the share: the hub taking the list away later
    // reports nothing more.
    request_ = nullptr;
    giveUp(error, SXFoursquareV2ErrorNeedsRelogin(error));
    return;
  }
  std::vector<Ref<SXFoursquareV2Venue>> list;
  auto response = request->getFoursquareResponse();
  auto found = response ? response->objectForKeyAs<Array>("venues") : nullptr;
  for (std::size_t i = 0; found && i < found->count(); ++i) {
    if (auto venue = SXFoursquareV2Venue::venueFromDictionary(dyn<Dictionary>(found->objectAtIndex(i)))) {
      list.push_back(venue);
    }
  }
  if (searchDisplay_ && searchDisplay_->isActive()) {
    filteredVenues_ = list;
    searchDisplay_->searchResultsTableView()->reloadData();
  } else {
    venues_ = list;
    tableView()->reloadData();
  }
  if (list.empty()) {
    ui::AlertView::make(SXLocalizedText("No places found"), std::nullopt, {}, SXLocalizedText("Close"))->show();
  }
  request_ = nullptr;
}

void SXFoursquareV2VenuesForm::searchBarSearchButtonClicked(ui::SearchBar& searchBar) {
  const auto text = trimmed(searchBar.text());
  query_ = text.empty() ? std::nullopt : std::optional<std::string>(text);
  if (query_) startloadingVenues();
}

const std::optional<std::vector<Ref<SXFoursquareV2Venue>>>& SXFoursquareV2VenuesForm::shownList(
    const ui::TableView& table) const {
  if (searchDisplay_ && searchDisplay_->searchResultsTableView().get() == &table) return filteredVenues_;
  return venues_;
}

std::size_t SXFoursquareV2VenuesForm::numberOfSectionsInTableView(ui::TableView& table) {
  return shownList(table) ? 1 : 0;
}

std::size_t SXFoursquareV2VenuesForm::tableViewNumberOfRowsInSection(ui::TableView& table, std::size_t) {
  const auto& list = shownList(table);
  return list ? list->size() : 0;
}

Ref<ui::TableViewCell> SXFoursquareV2VenuesForm::tableViewCellForRowAtIndexPath(ui::TableView& table,
                                                                               const Ref<IndexPath>& indexPath) {
  auto cell = table.dequeueReusableCellWithIdentifier(kVenueCell);
  if (!cell) cell = ui::TableViewCell::make(ui::TableViewCellStyle::Subtitle, kVenueCell);
  const auto& list = shownList(table);
  if (list && indexPath->row() < list->size()) {
    const auto& venue = (*list)[indexPath->row()];
    cell->textLabel()->setText(venue->name);
    cell->detailTextLabel()->setText(venue->address);
  }
  cell->setAccessoryType(ui::TableViewCellAccessoryType::DisclosureIndicator);
  return cell;
}

void SXFoursquareV2VenuesForm::tableViewDidSelectRowAtIndexPath(ui::TableView& table, const Ref<IndexPath>& indexPath) {
  const auto& list = shownList(table);
  auto sharer = delegate_.lock();
  if (!list || indexPath->row() >= list->size() || !sharer) return;
  auto hold = self();
  auto venue = (*list)[indexPath->row()];
  auto location = location_;
  // The editor takes the share over: a search still running has nothing left to fill or to end.
  cancelSearch();
  if (sharer->viewControllers().size() > 1) sharer->popViewControllerAnimated(false);
  sharer->setVenue(venue);
  sharer->setLocation(location);
  sharer->showFoursquareV2CheckInForm();
}

void SXFoursquareV2VenuesForm::cancel() {
  auto hold = self();
  gaveUp_ = true;
  cancelSearch();
  SXActivityIndicator::currentIndicator()->hide();
  auto sharer = delegate_.lock();
  SX::currentHelper()->hideCurrentViewControllerAnimated(true);
  if (sharer) sharer->sendDidCancel();
}

void SXFoursquareV2VenuesForm::shareScreenTakenAway() {
  if (gaveUp_) return;
  gaveUp_ = true;
  auto hold = self();
  cancelSearch();
  stopMonitoringLocation();
  if (auto sharer = delegate_.lock()) sharer->sendDidCancel();
}

// --- sharer ---

void SXFoursquareV2::registerClass() {
  SXSharer::registerSharerClass<SXFoursquareV2>()
      .addClassMethod("deleteStoredAccessToken",
                      [](const ClassInfo::Arguments&) -> ObjectPtr {
                        deleteStoredAccessToken();
                        return nullptr;
                      })
      .addClassMethod("logout", [](const ClassInfo::Arguments&) -> ObjectPtr {
        logoutOfFoursquare();
        return nullptr;
      });
}

std::string SXFoursquareV2::loginURLString(const std::string& clientId, const std::string& callback) {
  return "https://foursquare.com/oauth2/authenticate?client_id=" + percentEncode(clientId) +
         "&response_type=token&redirect_uri=" + percentEncode(callback);
}

void SXFoursquareV2::init() {
  SXSharer::init();
  clientId_ = SXConfigString("foursquareV2ClientId");
  if (auto redirect = SXConfigString("foursquareV2RedirectURI")) authorizeCallbackURL_ = URL::make(*redirect);
}

bool SXFoursquareV2::canShare() const {
  if (!ui::LocationManager::locationServicesEnabled()) return false;
  auto status = ui::LocationManager::authorizationStatus();
  return !status || *status == ui::LocationAuthorizationStatus::Authorized ||
         *status == ui::LocationAuthorizationStatus::NotDetermined;
}

void SXFoursquareV2::deleteStoredAccessToken() { SX::removeAuthValueForKey(kTokenKey, kSharerId); }

void SXFoursquareV2::logoutOfFoursquare() {
  deleteStoredAccessToken();
  deleteCookiesForURL(URL::make("https://foursquare.com/oauth2/authenticate"));
}

void SXFoursquareV2::storeAccessToken() {
  Ref<Error> error;
  if (!SX::setAuthValue(accessToken_, kTokenKey, kSharerId, &error)) {
    logDebug("SXFoursquareV2: cannot keep the login: " + describe(error));
  }
}

bool SXFoursquareV2::restoreAccessToken() {
  if (accessToken_) return true;
  accessToken_ = SX::getAuthValueForKey(kTokenKey, kSharerId);
  return accessToken_.has_value();
}

void SXFoursquareV2::promptAuthorization() {
  const auto callback = authorizeCallbackURL_ ? authorizeCallbackURL_->absoluteString() : std::string();
  // The login is the service's current attempt: a logout drops it, and with it the page's answer.
  beginLoginAttempt([](SXSharer& sharer) {
    auto& me = static_cast<SXFoursquareV2&>(sharer);
    auto hold = me.selfAs<SXFoursquareV2>();
    SXOAuthView::dismissPageOf(me);
    me.setPendingAction(SXPendingActionNone);
    me.authDidFinish(false);
  });
  auto login = SXFoursquareV2OAuthView::make(URL::make(loginURLString(clientId_.value_or(""), callback)),
                                             std::dynamic_pointer_cast<SXOAuthViewDelegate>(self()));
  SX::currentHelper()->showViewController(login, [login] { login->takenAway(); });
}

void SXFoursquareV2::tokenAuthorizeViewDidFinishWithSuccessQueryParamsError(SXOAuthView&, bool success,
                                                                          const Ref<Dictionary>& queryParams,
                                                                          const Ref<Error>& error) {
  // Only the answer of the service's current login counts, once.
  if (!loginAttempt() || !loginAttempt()->take()) return;
  auto hold = selfAs<SXFoursquareV2>();
  SX::currentHelper()->hideCurrentViewControllerAnimated(true);
  auto token = queryParams ? queryParams->stringForKey("access_token") : std::nullopt;
  if (success && token && !token->empty()) {
    accessToken_ = token;
    storeAccessToken();
    authDidFinish(true);
    tryPendingAction();
    return;
  }
  // A failed login ends here: nothing runs the pending action into another login.
  setPendingAction(SXPendingActionNone);
  ui::AlertView::make(SXLocalizedText("Access Error"),
                      error ? error->localizedDescription() : SXLocalizedText("There was an error while sharing"), {},
                      SXLocalizedText("Close"))
      ->show();
  authDidFinish(false);
}

void SXFoursquareV2::tokenAuthorizeCancelledView(SXOAuthView&) {
  if (!loginAttempt() || !loginAttempt()->isCurrent()) return;
  auto hold = selfAs<SXFoursquareV2>();
  endLoginAttempt();
  SX::currentHelper()->hideCurrentViewControllerAnimated(true);
  setPendingAction(SXPendingActionNone);
  authDidFinish(false);
}

void SXFoursquareV2::sendDidCancel() {
  auto hold = selfAs<SXFoursquareV2>();
  // Nothing a cancelled share started may act after it.
  for (const auto& screen : viewControllers()) {
    if (auto places = dyn<SXFoursquareV2VenuesForm>(screen)) places->cancelSearch();
  }
  SXSharer::sendDidCancel();
}

void SXFoursquareV2::show() {
  if (item() && item()->shareType == SXShareTypeText) showFoursquareV2VenuesForm();
}

void SXFoursquareV2::showFoursquareV2VenuesForm() {
  pushViewController(SXFoursquareV2VenuesForm::make(selfAs<SXFoursquareV2>()), false);
  SX::currentHelper()->showViewController(selfAs<SXSharer>());
}

void SXFoursquareV2::showFoursquareV2CheckInForm() {
  auto form = std::make_shared<SXFoursquareV2CheckInForm>(
      std::dynamic_pointer_cast<SXFormControllerLargeTextFieldDelegate>(self()));
  form->setText(item()->text);
  form->setMaxTextLength(140);
  if (auto tint = dyn<graphics::Color>(SXConfigValue("barTintForView:", self()))) navigationBar()->setTintColor(tint);
  // The places list is the first screen of the sharer and cannot be popped: the editor replaces it.
  if (viewControllers().size() == 1 && dyn<SXFoursquareV2VenuesForm>(viewControllers().front())) {
    dyn<SXFoursquareV2VenuesForm>(viewControllers().front())->stopMonitoringLocation();
    setViewControllers({form}, false);
  } else {
    pushViewController(form, true);
  }
}

void SXFoursquareV2::sendForm(SXFormControllerLargeTextField& form) {
  auto hold = selfAs<SXFoursquareV2>();
  item()->text = form.textView()->text();
  startCheckInRequest();
}

void SXFoursquareV2::startCheckInRequest() {
  sendDidStart();
  std::weak_ptr<SXFoursquareV2> weak = selfAs<SXFoursquareV2>();
  setRequest(SXFoursquareV2Request::requestCheckinLocation(
      location_, venue_, item()->text.value_or(""), self(),
      [weak](const Ref<SXRequest>& request) {
        if (auto sharer = weak.lock()) sharer->finishCheckInRequest(std::static_pointer_cast<SXFoursquareV2Request>(request));
      },
      accessToken_.value_or(""), true));
}

void SXFoursquareV2::finishCheckInRequest(const Ref<SXFoursquareV2Request>& request) {
  auto hold = selfAs<SXFoursquareV2>();
  SX::currentHelper()->hideCurrentViewControllerAnimated(true);
  if (auto error = request->getFoursquareError()) {
    sendDidFailWithErrorShouldRelogin(error, SXFoursquareV2ErrorNeedsRelogin(error));
  } else {
    sendDidFinish();
  }
  setRequest(nullptr);
}

}  // namespace zv
