#pragma once

#include <ox/export.h>

namespace ox::detail {

// Number of IxData instances alive in the process (constructed and not yet destroyed). Exported for
// the tests, which use it to find leaked or doubly deleted items.
OX_EXPORT int LiveDataItemCount();

} // namespace ox::detail
