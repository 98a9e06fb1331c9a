#include "http/ui/HTTPAuthenticationDialog.h"

#include "platform/runloop/Perform.h"
#include "platform/system/ApplicationEnvironment.h"
#include "platform/ui/Application.h"
#include "platform/ui/Bars.h"
#include "platform/ui/BarButtonItem.h"
#include "platform/ui/NavigationItem.h"
#include "platform/ui/Scheduler.h"
#include "platform/ui/TableViewCell.h"
#include "platform/ui/Window.h"

namespace zv {

namespace {

struct DialogState {
  Ref<HTTPAuthenticationDialog> current;
  std::vector<Ref<HTTPRequest>> waiting;
};

DialogState& dialogState() {
  static DialogState* state = new DialogState();  // main thread only; lives as long as the process
  return *state;
}

bool isPad() { return ApplicationEnvironment::shared().userInterfaceIdiom() == UserInterfaceIdiom::Pad; }

// The address a request's credentials are for: the proxy for a proxy challenge, else the server.
struct CredentialTarget {
  int kind = 0;
  std::optional<std::string> host, scheme, realm;
  std::optional<int> port;
  bool operator==(const CredentialTarget&) const = default;
};

CredentialTarget targetOf(const HTTPRequest& request) {
  CredentialTarget target;
  target.kind = request.authenticationNeeded();
  if (target.kind == 2) {
    // Proxy credentials belong to the proxy, never to a server or another proxy.
    target.host = request.proxyHost();
    target.port = request.proxyPort();
    target.realm = request.proxyAuthenticationRealm();
    return target;
  }
  if (auto url = request.url()) {
    target.host = url->host();
    target.port = url->port();
    target.scheme = url->scheme();
  }
  target.realm = request.authenticationRealm();
  return target;
}

}  // namespace

// --- Class level. ---

namespace {
class DialogPresenter : public Object, public HTTPAuthenticationPresenter {
 public:
  bool canPresentDialog() override { return HTTPAuthenticationDialog::canPresentDialog(); }
  void presentAuthenticationDialogForRequest(const Ref<HTTPRequest>& request) override {
    HTTPAuthenticationDialog::presentAuthenticationDialogForRequest(request);
  }
  void requestNoLongerNeedsCredentials(const Ref<HTTPRequest>& request) override {
    HTTPAuthenticationDialog::requestNoLongerNeedsCredentials(request);
  }
};
}  // namespace

void HTTPAuthenticationDialog::registerPresenter() {
  HTTPAuthenticationPresenter::setShared(std::make_shared<DialogPresenter>());
}

bool HTTPAuthenticationDialog::canPresentDialog() {
  // Main thread, like every change to the window list.
  return !ui::Application::sharedApplication()->windows().empty();
}

void HTTPAuthenticationDialog::requestNoLongerNeedsCredentials(const Ref<HTTPRequest>& request) {
  auto& state = dialogState();
  std::erase(state.waiting, request);
  // Its dialog goes; the next waiting request's dialog follows once it has.
  auto current = state.current;
  if (current && current->request() == request && !current->answered_) {
    current->answered_ = true;
    current->dismissDialog();
  }
}

Ref<HTTPAuthenticationDialog> HTTPAuthenticationDialog::currentDialog() { return dialogState().current; }
std::vector<Ref<HTTPRequest>> HTTPAuthenticationDialog::waitingRequests() { return dialogState().waiting; }

void HTTPAuthenticationDialog::presentAuthenticationDialogForRequest(const Ref<HTTPRequest>& request) {
  auto& state = dialogState();
  if (state.current) {
    state.waiting.push_back(request);
    return;
  }
  auto dialog = std::make_shared<HTTPAuthenticationDialog>();
  dialog->setRequest(request);
  dialog->setType(request->authenticationNeeded() == 2 ? ProxyCredentials : ServerCredentials);
  state.current = dialog;
  dialog->show();
}

void HTTPAuthenticationDialog::dismiss() {
  if (auto current = dialogState().current) {
    if (auto parent = current->presentingViewController()) parent->dismissViewControllerAnimated(true);
  }
}

// --- The dialog. ---

HTTPAuthenticationDialog::HTTPAuthenticationDialog() = default;

HTTPAuthenticationDialog::~HTTPAuthenticationDialog() {
  if (presentingController_ && presentingController_->isViewLoaded()) presentingController_->view()->removeFromSuperview();
}

Ref<HTTPAutorotatingViewController> HTTPAuthenticationDialog::presentingController() {
  if (!presentingController_) {
    presentingController_ = std::make_shared<HTTPAutorotatingViewController>();
    auto view = presentingController_->view();
    view->setFrame({0, 0, 0, 0});
    view->setUserInteractionEnabled(false);
    const auto& windows = ui::Application::sharedApplication()->windows();
    if (!windows.empty()) windows.front()->addSubview(view);
  }
  return presentingController_;
}

void HTTPAuthenticationDialog::show() {
  auto root = view();
  for (auto subview : std::vector<Ref<ui::View>>(root->subviews())) subview->removeFromSuperview();
  auto bounds = root->frame();
  bar_ = ui::NavigationBar::make({0, 0, bounds.size.width, 44});
  bar_->setAutoresizingMask(ui::ViewAutoresizingFlexibleWidth);
  root->addSubview(bar_);
  auto item = ui::NavigationItem::make();
  bar_->pushNavigationItem(item);
  auto url = request_->url();
  item->setTitle(type_ == ProxyCredentials ? request_->proxyHost() : (url ? url->host() : std::nullopt));
  WeakRef<HTTPAuthenticationDialog> weak = selfAs<HTTPAuthenticationDialog>();
  item->setLeftBarButtonItem(ui::BarButtonItem::withSystemItem(ui::BarButtonSystemItem::Cancel, [weak](ui::BarButtonItem&) {
    if (auto self = weak.lock()) self->cancelAuthenticationFromDialog();
  }));
  item->setRightBarButtonItem(ui::BarButtonItem::withTitle("Login", ui::BarButtonItemStyle::Done, [weak](ui::BarButtonItem&) {
    if (auto self = weak.lock()) self->loginWithCredentialsFromDialog();
  }));
  showTitle();
  auto barFrame = bar_->frame();
  double top = barFrame.origin.y + barFrame.size.height;
  tableView_ = ui::TableView::make({0, top, bounds.size.width, bounds.size.height - top}, ui::TableViewStyle::Grouped);
  tableView_->setAutoresizingMask(ui::ViewAutoresizingFlexibleWidth | ui::ViewAutoresizingFlexibleHeight);
  tableView_->setDataSource(std::dynamic_pointer_cast<ui::TableViewDataSource>(self()));
  tableView_->setDelegate(std::dynamic_pointer_cast<ui::TableViewDelegate>(self()));
  root->addSubview(tableView_);
  tableView_->reloadData();
  if (auto field = usernameField()) field->becomeFirstResponder();
  if (isPad()) setModalPresentationStyle(ui::ModalPresentationStyle::FormSheet);
  presentingController()->presentViewController(selfAs<HTTPAuthenticationDialog>(), true);
}

void HTTPAuthenticationDialog::showTitle() {
  auto item = bar_ ? bar_->topItem() : nullptr;
  if (!item) return;
  auto orientation = ui::Application::sharedApplication()->statusBarOrientation();
  bool portrait = orientation == ui::InterfaceOrientation::Portrait ||
                  orientation == ui::InterfaceOrientation::PortraitUpsideDown;
  if (portrait) {
    item->setPrompt(type_ == ProxyCredentials ? "Login to this secure proxy server." : "Login to this secure server.");
  } else {
    item->setPrompt(std::nullopt);
  }
  bar_->sizeToFit();
}

std::optional<std::string> HTTPAuthenticationDialog::schemeInForce() const {
  return type_ == ProxyCredentials ? request_->proxyAuthenticationScheme() : request_->authenticationScheme();
}

bool HTTPAuthenticationDialog::isNTLM() const {
  return schemeInForce() == std::string(net::kHTTPAuthenticationSchemeNTLM);
}

Ref<ui::TextField> HTTPAuthenticationDialog::textFieldInRow(std::size_t row, std::size_t section) {
  if (!tableView_ || section >= numberOfSectionsInTableView(*tableView_)) return nullptr;
  // The table keeps only the cells it shows; the dialog keeps all of its few cells.
  auto cell = tableViewCellForRowAtIndexPath(*tableView_, IndexPath::make({section, row}));
  if (!cell) return nullptr;
  // The cell's own labels sit in its content view too; the field is the one text field there.
  for (const auto& subview : cell->contentView()->subviews()) {
    if (auto field = dyn<ui::TextField>(subview)) return field;
  }
  return nullptr;
}

Ref<ui::TextField> HTTPAuthenticationDialog::usernameField() { return textFieldInRow(0, 0); }
Ref<ui::TextField> HTTPAuthenticationDialog::passwordField() { return textFieldInRow(1, 0); }
Ref<ui::TextField> HTTPAuthenticationDialog::domainField() { return textFieldInRow(0, 1); }

std::vector<Ref<HTTPRequest>> HTTPAuthenticationDialog::requestsRequiringTheseCredentials() {
  std::vector<Ref<HTTPRequest>> matching;
  auto mine = targetOf(*request_);
  for (const auto& waiting : dialogState().waiting) {
    if (targetOf(*waiting) == mine) matching.push_back(waiting);
  }
  matching.push_back(request_);
  return matching;
}

void HTTPAuthenticationDialog::loginWithCredentialsFromDialog() {
  auto user = usernameField() ? usernameField()->text() : std::string();
  auto pass = passwordField() ? passwordField()->text() : std::string();
  std::optional<std::string> accountDomain;
  if (isNTLM() && domainField()) accountDomain = domainField()->text();
  auto& waiting = dialogState().waiting;
  for (const auto& request : requestsRequiringTheseCredentials()) {
    if (type_ == ProxyCredentials) {
      request->setProxyUsername(user);
      request->setProxyPassword(pass);
      if (accountDomain) request->setProxyDomain(accountDomain);
    } else {
      request->setUsername(user);
      request->setPassword(pass);
      if (accountDomain) request->setDomain(accountDomain);
    }
    request->retryUsingSuppliedCredentials();
    std::erase(waiting, request);
  }
  answered_ = true;
  dismissDialog();
}

void HTTPAuthenticationDialog::cancelAuthenticationFromDialog() {
  auto& waiting = dialogState().waiting;
  for (const auto& request : requestsRequiringTheseCredentials()) {
    request->cancelAuthentication();
    std::erase(waiting, request);
  }
  answered_ = true;
  dismissDialog();
}

void HTTPAuthenticationDialog::dismissDialog() {
  // A dismissal asked for while the dialog is still sliding in would be refused; it waits for
  // the presentation to end instead.
  if (!isVisible() && presentingViewController()) {
    auto self = selfAs<HTTPAuthenticationDialog>();
    performAfterDelay(ui::kTransitionDuration, [self] { self->dismissDialog(); });
    return;
  }
  if (dialogState().current.get() == this) {
    dismiss();
  } else if (auto parent = presentingViewController()) {
    parent->dismissViewControllerAnimated(true);
  }
}

void HTTPAuthenticationDialog::viewDidDisappear(bool animated) {
  auto keep = selfAs<HTTPAuthenticationDialog>();
  HTTPAutorotatingViewController::viewDidDisappear(animated);
  if (dialogState().current == keep) dialogState().current = nullptr;
  performAfterDelay(0, [keep] { keep->presentNextDialog(); });
}

void HTTPAuthenticationDialog::presentNextDialog() {
  auto& waiting = dialogState().waiting;
  if (waiting.empty()) return;
  auto next = waiting.front();
  waiting.erase(waiting.begin());
  presentAuthenticationDialogForRequest(next);
}

// --- Table. ---

std::size_t HTTPAuthenticationDialog::numberOfSectionsInTableView(ui::TableView&) { return isNTLM() ? 2 : 1; }

std::size_t HTTPAuthenticationDialog::tableViewNumberOfRowsInSection(ui::TableView&, std::size_t section) {
  return section == 0 ? 2 : 1;
}

Ref<ui::TableViewCell> HTTPAuthenticationDialog::tableViewCellForRowAtIndexPath(ui::TableView&,
                                                                                const Ref<IndexPath>& indexPath) {
  std::size_t section = indexPath->section();
  std::size_t row = indexPath->row();
  std::size_t slot = section * 2 + row;
  if (slot < cells_.size() && cells_[slot]) return cells_[slot];
  auto cell = ui::TableViewCell::make(ui::TableViewCellStyle::Default, std::nullopt);
  cell->setSelectionStyle(ui::TableViewCellSelectionStyle::None);
  auto content = cell->contentView()->frame();
  auto field = ui::TextField::make({10, 10, content.size.width - 20, content.size.height - 20});
  field->setAutoresizingMask(ui::ViewAutoresizingFlexibleWidth | ui::ViewAutoresizingFlexibleHeight);
  field->setAutocapitalizationType(ui::TextAutocapitalizationType::None);
  field->setAutocorrectionType(ui::TextAutocorrectionType::No);
  if (section == 0 && row == 0) {
    field->setPlaceholder("User");
  } else if (section == 0) {
    field->setPlaceholder("Password");
    field->setSecureTextEntry(true);
  } else {
    field->setPlaceholder("Domain");
  }
  cell->contentView()->addSubview(field);
  if (cells_.size() <= slot) cells_.resize(slot + 1);
  cells_[slot] = cell;
  return cell;
}

std::optional<std::string> HTTPAuthenticationDialog::tableViewTitleForHeaderInSection(ui::TableView&,
                                                                                     std::size_t section) {
  if (section != 0) return std::nullopt;
  return type_ == ProxyCredentials ? request_->proxyAuthenticationRealm() : request_->authenticationRealm();
}

std::optional<std::string> HTTPAuthenticationDialog::tableViewTitleForFooterInSection(ui::TableView& table,
                                                                                     std::size_t section) {
  if (section + 1 != numberOfSectionsInTableView(table)) return std::nullopt;
  // The footer speaks of the connection the password travels over: the proxy's for a proxy.
  bool basic = schemeInForce() == std::string(net::kHTTPAuthenticationSchemeBasic);
  // The connection to a proxy is always plain here (an "HTTPS" proxy only tunnels https URLs
  // with CONNECT), so a proxy's Basic credentials are never sent securely.
  bool secure = false;
  if (type_ == ServerCredentials) {
    auto url = request_->url();
    secure = url && url->lowercaseScheme() == std::string("https");
  }
  return basic && !secure ? "Password will be sent in the clear." : "Password will be sent securely.";
}

double HTTPAuthenticationDialog::tableViewHeightForHeaderInSection(ui::TableView&, std::size_t section) {
  if (section != 0) return 0;
  return isPad() ? 54 : 30;
}

double HTTPAuthenticationDialog::tableViewHeightForFooterInSection(ui::TableView& table, std::size_t section) {
  return section + 1 == numberOfSectionsInTableView(table) ? 30 : 0;
}

}  // namespace zv
