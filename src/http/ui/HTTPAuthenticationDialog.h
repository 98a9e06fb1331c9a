#pragma once
// The login dialog a request shows when a server (or a proxy) asks for credentials it cannot find:
// a navigation bar with "Cancel" and "Login" over a grouped table of text fields for user name,
// password and, for NTLM, domain. One dialog is on screen at a time; requests that need
// credentials meanwhile wait in a class-wide list. A login gives the typed credentials to every
// waiting request that needs the same ones (same kind, host, port, scheme and realm, and for a
// proxy the same proxy host and port), and each retries; a cancel cancels their authentication.
//
// Requests reach it through the presenter registerPresenter installs (HTTPAuthenticationPresenter);
// a request that ends while it waits (time-out, cancel, failure) leaves the dialog and the list.
//
// Threads: main thread only (requests present it there). Ownership: the dialog on screen is held
// by the class until its view has disappeared; the waiting list holds its requests.

#include <optional>
#include <string>
#include <vector>

#include "http/HTTPAuthenticationPresenter.h"
#include "http/HTTPRequest.h"
#include "platform/ui/TableView.h"
#include "platform/ui/TextField.h"
#include "platform/ui/ViewController.h"

namespace zv {

// The invisible controller the dialog is presented from; it accepts every orientation.
class HTTPAutorotatingViewController : public ui::ViewController {
 public:
  bool shouldAutorotateToInterfaceOrientation(ui::InterfaceOrientation) override { return true; }
};

class HTTPAuthenticationDialog : public HTTPAutorotatingViewController,
                                 public ui::TableViewDataSource,
                                 public ui::TableViewDelegate {
 public:
  enum Type { ServerCredentials = 0, ProxyCredentials = 1 };

  // Makes this dialog the one requests ask for credentials (the application does it at launch).
  static void registerPresenter();
  // Shows a dialog for the request, or queues the request while another dialog is on screen.
  static void presentAuthenticationDialogForRequest(const Ref<HTTPRequest>& request);
  // The request no longer wants credentials: out of the waiting list, and its dialog goes.
  static void requestNoLongerNeedsCredentials(const Ref<HTTPRequest>& request);
  // Dismisses the dialog on screen.
  static void dismiss();
  // Whether a dialog could appear at all (the application has a window).
  static bool canPresentDialog();
  // The dialog on screen and the requests waiting for one (tests).
  static Ref<HTTPAuthenticationDialog> currentDialog();
  static std::vector<Ref<HTTPRequest>> waitingRequests();

  HTTPAuthenticationDialog();
  ~HTTPAuthenticationDialog() override;

  void show();
  void showTitle();
  Ref<ui::TextField> usernameField();
  Ref<ui::TextField> passwordField();
  Ref<ui::TextField> domainField();
  void loginWithCredentialsFromDialog();
  void cancelAuthenticationFromDialog();
  std::vector<Ref<HTTPRequest>> requestsRequiringTheseCredentials();
  void presentNextDialog();
  void dismissDialog();
  void viewDidDisappear(bool animated) override;

  Ref<HTTPRequest> request() const { return request_; }
  void setRequest(Ref<HTTPRequest> request) { request_ = std::move(request); }
  Type type() const { return type_; }
  void setType(Type type) { type_ = type; }
  Ref<ui::TableView> tableView() const { return tableView_; }
  Ref<ui::NavigationBar> navigationBar() const { return bar_; }
  Ref<HTTPAutorotatingViewController> presentingController();

  // Table data source and delegate.
  std::size_t numberOfSectionsInTableView(ui::TableView&) override;
  std::size_t tableViewNumberOfRowsInSection(ui::TableView&, std::size_t section) override;
  Ref<ui::TableViewCell> tableViewCellForRowAtIndexPath(ui::TableView&, const Ref<IndexPath>& indexPath) override;
  std::optional<std::string> tableViewTitleForHeaderInSection(ui::TableView&, std::size_t section) override;
  std::optional<std::string> tableViewTitleForFooterInSection(ui::TableView&, std::size_t section) override;
  double tableViewHeightForHeaderInSection(ui::TableView&, std::size_t section) override;
  double tableViewHeightForFooterInSection(ui::TableView&, std::size_t section) override;

 private:
  // The scheme in force: the proxy's for a proxy dialog, else the server's.
  std::optional<std::string> schemeInForce() const;
  bool isNTLM() const;
  Ref<ui::TextField> textFieldInRow(std::size_t row, std::size_t section);

  Ref<HTTPRequest> request_;
  Type type_ = ServerCredentials;
  Ref<ui::TableView> tableView_;
  Ref<ui::NavigationBar> bar_;
  Ref<HTTPAutorotatingViewController> presentingController_;
  std::vector<Ref<ui::TableViewCell>> cells_;  // the cells made so far, by section and row
  bool answered_ = false;  // login or cancel (or the request's end) already sent it away
};

}  // namespace zv
