#include "report_pages.h"

#include <httplib.h>

#include <sstream>

#include "html_report.h"
#include "run_ids.h"
#include "store.h"

namespace report {

namespace {

void Text(httplib::Response& response, int status, const std::string& text) {
    response.status = status;
    response.set_content(text + "\n", "text/plain; charset=utf-8");
}

// The page of `options`, or a plain answer saying why there is none.
void ServePage(const std::string& store, const PageHooks& hooks, const ReportOptions& options,
               PageFacts facts, bool found(const Report&), const std::string& missing,
               httplib::Response& response) {
    if (!hooks.take()) {
        response.set_header("Retry-After", "5");
        return Text(response, 503, "busy: other reports are being built; try again shortly");
    }
    struct Give {
        const PageHooks& hooks;
        ~Give() { hooks.give(); }
    } give{hooks};
    std::string error;
    auto reader = OpenReader(store, &error);
    if (reader == nullptr || !hooks.limit(*reader, &error)) return Text(response, 503, error);
    StoreReader rows(*reader);
    Report report;
    if (!BuildReport(rows, options, &report, &error)) return Text(response, 503, error);
    if (!found(report)) return Text(response, 404, missing);
    facts.store = ShownStoreName(store);
    facts.generatedAt = results::NowIso();
    std::ostringstream html;
    WriteHtml(report, facts, html);
    hooks.page(response, html.str());
}

}  // namespace

void AddReportPages(httplib::Server& server, const std::string& store, PageHooks hooks) {
    server.Get("/report/unit/(.+)",
               [store, hooks](const httplib::Request& request, httplib::Response& response) {
                   ReportOptions options;
                   options.selection.serial = request.matches[1].str();
                   PageFacts facts;
                   facts.selection = "unit " + *options.selection.serial;
                   ServePage(
                       store, hooks, options, facts, [](const Report& r) { return !r.units.empty(); },
                       "no runs of unit " + *options.selection.serial + " in the store", response);
               });
    server.Get("/report/measurement/(.+)", [store, hooks](const httplib::Request& request,
                                                   httplib::Response& response) {
        ReportOptions options;
        options.selection.name = request.matches[1].str();
        PageFacts facts;
        facts.selection = "measurement " + *options.selection.name;
        facts.overview = false;
        ServePage(
            store, hooks, options, facts, [](const Report& r) { return !r.measurements.empty(); },
            "no measurement named " + *options.selection.name + " in the store", response);
    });
}

}  // namespace report
