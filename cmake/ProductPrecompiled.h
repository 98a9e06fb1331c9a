#pragma once
// What most of the libraries' sources read, precompiled once per sanitizer build
// (zv_product_precompile_headers in ZvTargets.cmake): the standard headers and the foundation's.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/Error.h"
#include "platform/foundation/Exception.h"
#include "platform/foundation/ForkHandlers.h"
#include "platform/foundation/Format.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/Object.h"
#include "platform/foundation/String.h"
#include "platform/foundation/Values.h"
