#include "platform/system/NetworkActivityIndicator.h"

namespace zv {

NetworkActivityIndicator& NetworkActivityIndicator::shared() {
  static NetworkActivityIndicator* indicator = new NetworkActivityIndicator();  // lives as long as the process
  return *indicator;
}

}  // namespace zv
