// /metrics: the line's health in Prometheus's text format (version 0.0.4),
// for a site's Prometheus to scrape: runs by test and outcome, faults by
// kind, each station's heartbeat age and state, and the outbox still to be
// shipped where the store holds one (a station's own file).
#pragma once

#include <chrono>
#include <string>

#include "results_reader.h"

namespace report {

// The metrics of `store` as of `now`; false with *error when it cannot be
// read (the caller then serves zhand_store_up 0 alone).
bool WriteMetrics(results::ResultsReader& store, std::chrono::system_clock::time_point now,
                  std::string* text, std::string* error);

// The text when the store cannot be read at all.
std::string StoreDownMetrics();

}  // namespace report
