// serve's drill-down pages of the report: /report/unit/SERIAL, a unit's
// runs and plots with the figures of its own measurements, and
// /report/measurement/NAME, one measurement across the line.
#pragma once

#include <functional>
#include <string>

namespace httplib {
class Server;
struct Response;
}  // namespace httplib

namespace results {
class ResultsReader;
}

namespace report {

// What serve lends the pages: how a page is answered (its headers and
// content policy), the time limit set on each reader, and a place among the
// reports being built at once (false: none free now).
struct PageHooks {
    std::function<void(httplib::Response&, const std::string& html)> page;
    std::function<bool(results::ResultsReader&, std::string* error)> limit;
    std::function<bool()> take;
    std::function<void()> give;
};

// Adds both routes (GET) to `server`, over the store named `store`.
void AddReportPages(httplib::Server& server, const std::string& store, PageHooks hooks);

}  // namespace report
