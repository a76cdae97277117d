// zhand-report html: one self-contained page (style, Chart.js, the page's
// script and its data inline) with the overview, a section per unit and a
// section per measurement across units.
#pragma once

#include <ostream>
#include <string>

#include "report_model.h"

namespace report {

// What the page's heading says about how it was made.
struct PageFacts {
    std::string store;        // the store's name as given
    std::string generatedAt;  // store time text
    std::string selection;    // "serial HND123, since 2026-12-01", or ""
    std::string baseline;     // "2026-11-01..2026-11-30", or ""
    // Where a unit's and a measurement's own pages are, as serve has them;
    // "" for a file, whose links go to the sections on the page.
    std::string unitPages = "/report/unit/";
    std::string measurementPages = "/report/measurement/";
    bool overview = true;  // false: the measurements alone
};

// An element id for a serial number or a measurement name: letters, digits,
// '-' and '_' as they are, every other byte as _XX.
std::string AnchorId(std::string_view text);

// The most recent values an X-mR chart plots; its limits and counts are
// worked out from all values.
inline constexpr std::size_t kPlottedValues = 1000;

void WriteHtml(const Report& report, const PageFacts& facts, std::ostream& out);

}  // namespace report
