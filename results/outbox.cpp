#include "outbox.h"

#include <nlohmann/json.hpp>

namespace results {

namespace {
constexpr const char* kInterruptedType = "interrupted";
}

std::string OutgoingToJson(const Outgoing& fact) {
    if (const auto* entry = std::get_if<Entry>(&fact)) return ToJson(*entry);
    const auto& mark = std::get<RunInterrupted>(fact);
    return nlohmann::json{{"type", kInterruptedType}, {"run", mark.run}}.dump(
        -1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::optional<Outgoing> OutgoingFromJson(std::string_view line) {
    if (auto entry = FromJson(line)) return Outgoing(std::move(*entry));
    const auto j = nlohmann::json::parse(line, nullptr, false);
    if (!j.is_object() || j.value("type", "") != kInterruptedType) return std::nullopt;
    const auto run = j.find("run");
    if (run == j.end() || !run->is_string()) return std::nullopt;
    return Outgoing(RunInterrupted{run->get<std::string>()});
}

}  // namespace results
