// zhand-report export: the selected runs as JSON Lines, one object per run
// with its fields (the store's column names), its measurements and events.
#pragma once

#include <ostream>
#include <string>

#include "reader.h"

namespace report {

// false with *error when the store could not be read (what was written
// before stays written).
bool WriteExport(StoreReader& reader, const Selection& selection, std::ostream& out,
                 std::string* error);

}  // namespace report
