#include "controller/controller.h"

namespace varn {}  // namespace varn
