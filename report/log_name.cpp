#include "log_name.h"

#include <cctype>

namespace report {

namespace {

bool AllDigits(std::string_view text) {
    if (text.empty()) return false;
    for (char c : text)
        if (c < '0' || c > '9') return false;
    return true;
}

int Number(std::string_view digits) {
    int value = 0;
    for (char c : digits) value = value * 10 + (c - '0');
    return value;
}

}  // namespace

std::optional<LogName> ParseLogName(std::string_view fileName) {
    constexpr std::string_view kExtension = ".txt";
    if (fileName.size() <= kExtension.size() || !fileName.ends_with(kExtension))
        return std::nullopt;
    std::string_view stem = fileName.substr(0, fileName.size() - kExtension.size());
    const std::size_t underscore = stem.rfind('_');
    if (underscore == std::string_view::npos) return std::nullopt;
    const std::string_view sequence = stem.substr(underscore + 1);
    // A sequence number is a positive int: at most nine digits keeps it one.
    if (!AllDigits(sequence) || sequence.size() > 9 || Number(sequence) < 1) return std::nullopt;
    const std::string_view front = stem.substr(0, underscore);
    if (front.size() < 6 || !AllDigits(front.substr(front.size() - 6))) return std::nullopt;
    const std::string_view date = front.substr(front.size() - 6);
    LogName name;
    name.serialAndInitials = std::string(front.substr(0, front.size() - 6));
    name.year = 2000 + Number(date.substr(0, 2));
    name.month = Number(date.substr(2, 2));
    name.day = Number(date.substr(4, 2));
    name.sequence = Number(sequence);
    if (name.month < 1 || name.month > 12 || name.day < 1 || name.day > 31) return std::nullopt;
    return name;
}

std::optional<Identity> SplitIdentity(std::string_view serialAndInitials,
                                      const std::optional<std::string>& serial,
                                      const std::vector<std::string>& knownSerials) {
    if (serial) {
        if (!serialAndInitials.starts_with(*serial)) return std::nullopt;
        return Identity{*serial, std::string(serialAndInitials.substr(serial->size()))};
    }
    std::size_t end = 0;
    for (const std::string& known : knownSerials)
        if (known.size() > end && serialAndInitials.starts_with(known)) end = known.size();
    if (end == 0) end = serialAndInitials.size();
    return Identity{std::string(serialAndInitials.substr(0, end)),
                    std::string(serialAndInitials.substr(end))};
}

std::vector<std::string> SerialsInPrefs(std::string_view prefsText) {
    std::vector<std::string> words;
    std::size_t i = 0;
    while (i < prefsText.size()) {
        while (i < prefsText.size() && std::isspace(static_cast<unsigned char>(prefsText[i]))) ++i;
        const std::size_t start = i;
        while (i < prefsText.size() && !std::isspace(static_cast<unsigned char>(prefsText[i]))) ++i;
        if (i > start) words.emplace_back(prefsText.substr(start, i - start));
    }
    std::vector<std::string> serials;
    if (!words.empty()) serials.push_back(words[0]);
    // Header: serial, initials, date stamp; then pairs of a serial and a number.
    for (std::size_t w = 3; w < words.size(); w += 2) serials.push_back(words[w]);
    return serials;
}

}  // namespace report
