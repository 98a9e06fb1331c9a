#include "utilities/RegisterUtilitiesClasses.h"

#include "platform/runloop/Perform.h"
#include "utilities/RatingPrompt.h"

namespace zv {

void registerUtilitiesClasses() {
  performOnMainThread([] { RatingPrompt::sharedInstance(); }, false);
}

}  // namespace zv
