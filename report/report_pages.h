// serve's drill-down pages of the report: /report/unit/SERIAL, a unit's
// runs and plots with the figures of its own measurements, and
// /report/measurement/NAME, one measurement across the line.
#pragma once

#include <string>

namespace httplib {
class Server;
}

namespace report {

// Adds both routes (GET) to `server`, over the store named `store`.
void AddReportPages(httplib::Server& server, const std::string& store);

}  // namespace report
