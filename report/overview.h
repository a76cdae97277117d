// The overview of a selection counted by the store: runs per day and per
// test by outcome, the first-pass yield, how many units, and the most
// recently tested units. No run is read into the program.
#pragma once

#include <string>

#include "report_model.h"

namespace report {

bool ReadOverview(results::ResultsReader& store, const Selection& selection, Report* report,
                  std::string* error);

}  // namespace report
