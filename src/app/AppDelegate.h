#pragma once
// The application delegate, in the part that serves the rating prompt: its class initializer
// gives the shared prompt the application's values, the launch makes it the prompt's delegate
// (it implements none of the prompt's optional calls, so every default holds), and a good
// measurement result counts one event without prompting. URLs opened for the application go to
// the sharer they belong to: Facebook login replies (scheme "fb" + the configured Facebook
// application id) to the Facebook sharer, found by class name.
//
// Main thread only. The application object retains its delegate; the prompt does not.

#include "platform/ui/Application.h"
#include "utilities/RatingPrompt.h"

namespace zv {

class AppDelegate : public Object, public ui::ApplicationDelegate, public RatingPromptDelegate {
 public:
  // Once at start-up, before the main run loop turns (the prompt reads its values at launch).
  static void initializeClass();
  static Ref<AppDelegate> make() { return std::make_shared<AppDelegate>(); }

  bool applicationDidFinishLaunchingWithOptions(ui::Application& application, const Ref<Dictionary>& options) override;
  bool applicationOpenURLSourceApplicationAnnotation(ui::Application& application, const Ref<URL>& url,
                                                     const std::string& sourceApplication,
                                                     const ObjectPtr& annotation) override;
  // A good result: one more significant event for the prompt.
  void recordGoodResult();
};

}  // namespace zv
