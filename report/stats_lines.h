// zhand-report stats: JSON Lines, one object per measurement name of the
// selection, with the figures a capability study quotes and the run rules
// its latest values break.
#pragma once

#include <ostream>
#include <string>

#include "reader.h"

namespace report {

// Writes the lines; false with *error when the store could not be read.
// *names is the number of names written.
bool WriteStats(results::ResultsReader& store, const Selection& selection, std::ostream& out,
                std::size_t* names, std::string* error);

}  // namespace report
