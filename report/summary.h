// zhand-report summary: a short plain-text table for the station's
// terminal: runs per test by outcome and the first-pass yield.
#pragma once

#include <ostream>
#include <string>

#include "reader.h"

namespace report {

bool WriteSummary(StoreReader& reader, const Selection& selection, std::ostream& out,
                  std::string* error);

}  // namespace report
