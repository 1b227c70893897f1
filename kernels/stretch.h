// The full-range stretch shared by the point operations and the edge filter.
#pragma once

#include <cstdint>

namespace quarnk {

// Minimum and maximum of count > 0 elements as the sequential scan finds them ("if minimum > v,
// minimum = v", starting from element 0): values that do not compare are skipped.
void minMax(int64_t count, const double* buf, double& lo, double& hi);

// Maps the minimum..maximum of the count elements onto 0..255 as (v - min) * 255 / (max - min),
// nothing rounded. Minimum and maximum start at element 0 and skip values that do not compare
// (not-a-number). When there is no range (all values equal, or no comparable maximum above the
// minimum) the values are left as they are, so no not-a-number ever comes out of it.
void fullRangeStretch(int64_t count, double* buf);

} // namespace quarnk
