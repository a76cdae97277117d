// Name-based uuids (version 5: SHA-1 of a namespace and a name), so that the
// same input always names the same run.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace report {

// SHA-1 of `data` (FIPS 180-4).
std::array<std::uint8_t, 20> Sha1(std::string_view data);

// The version-5 uuid of `name` in the namespace of imported text logs, as
// text ("xxxxxxxx-xxxx-5xxx-yxxx-xxxxxxxxxxxx").
std::string ImportedRunUuid(std::string_view name);

}  // namespace report
