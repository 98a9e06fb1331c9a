#pragma once
// The option picker of a form row: a plain table of option texts with check marks, single or
// multiple choice, over a fixed list or one that a provider enumerates (showing "Loading..."
// meanwhile). Done writes the chosen texts into the row; Cancel leaves the row as it was. A
// multiple-choice picker gets its Done button when its options are known: at once for a fixed
// list, on arrival for an enumerated one.
//
// Threads: main thread; a provider may answer later, on the main thread. Ownership: the picker
// owns its row; the client (the form) is not retained; the provider is retained while it works.

#include <string>

#include "platform/ui/AlertView.h"
#include "platform/ui/TableViewController.h"
#include "sharing/core/SXFormController.h"

namespace zv {

class SXFormOptionController;

class SXFormOptionControllerOptionProvider : public Protocol {
 public:
  // Answers later with optionsEnumerated or optionsEnumerationFailedWithError.
  virtual void SXFormOptionControllerEnumerateOptions(SXFormOptionController& picker) = 0;
  virtual void SXFormOptionControllerCancelEnumerateOptions(SXFormOptionController& picker) = 0;
};

class SXFormOptionController : public ui::TableViewController, public ui::AlertViewDelegate {
 public:
  SXFormOptionController(Ref<SXFormFieldSettings> settings, std::weak_ptr<SXFormOptionControllerClient> client);
  static Ref<SXFormOptionController> initWithOptionsInfo(Ref<SXFormFieldSettings> settings,
                                                          std::weak_ptr<SXFormOptionControllerClient> client);

  // The options' texts and, when given (one per text), their ids: the row's value then carries
  // the chosen ids.
  void optionsEnumerated(const std::vector<std::string>& options, const std::vector<std::string>& ids = {});
  void optionsEnumerationFailedWithError(const Ref<Error>& error);
  void cancel();
  void done();
  void updateFromOptions();

  const Ref<SXFormFieldSettings>& settings() const { return settings_; }
  bool didLoad() const { return didLoad_; }

  void viewDidLoad() override;
  std::size_t tableViewNumberOfRowsInSection(ui::TableView&, std::size_t) override;
  Ref<ui::TableViewCell> tableViewCellForRowAtIndexPath(ui::TableView& table, const Ref<IndexPath>& indexPath) override;
  void tableViewDidSelectRowAtIndexPath(ui::TableView& table, const Ref<IndexPath>& indexPath) override;
  void alertViewClickedButtonAtIndex(ui::AlertView&, long buttonIndex) override;
  bool respondsToSelector(std::string_view selector) const override {
    return TableViewController::respondsToSelector(selector);
  }

 private:
  std::string currentIndexes() const;
  void setCurrentIndexes(const std::string& indexes);
  bool isStatic() const;
  bool allowsMultiple() const;
  void addDoneButton();

  Ref<SXFormFieldSettings> settings_;
  std::weak_ptr<SXFormOptionControllerClient> client_;
  ObjectPtr provider_;
  bool didLoad_ = false;
};

}  // namespace zv
