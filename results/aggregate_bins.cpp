#include <cmath>

#include "aggregate_schema.h"

namespace results {

// The same operations in the same order as the stores' SQL, so that a value
// falls in the same bin here as there.
double BinOf(double value) {
    if (value == 0) return 0;
    const double width = std::pow(10.0, std::floor(std::log10(std::fabs(value))) - 3);
    return std::floor(value / width) * width;
}

}  // namespace results
