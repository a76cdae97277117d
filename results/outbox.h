// What the outbox of the local store holds for the shared server: every fact
// the station stored, and the marks of runs found interrupted, in the order
// they were stored. Each is one line of JSON in the outbox table.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "record.h"

namespace results {

// A run of this station that a new start found still "running" (its process
// died): it becomes "interrupted" where it is still running.
struct RunInterrupted {
    std::string run;
};

using Outgoing = std::variant<Entry, RunInterrupted>;

// One row of the outbox: its place in the order, and what it carries.
struct OutboxRow {
    long long id = 0;
    Outgoing fact;
};

std::string OutgoingToJson(const Outgoing& fact);
// nullopt for a line that is neither a fact nor a mark.
std::optional<Outgoing> OutgoingFromJson(std::string_view line);

}  // namespace results
