#pragma once
// Look-up of the program's built-in resources by (type, id), the counterpart of finding, loading
// and locking a module resource. The bytes live for the whole process.
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace uafw {

using ResourceBytes = std::span<const std::uint8_t>;

// The resource's bytes, or nothing when no resource of that type and id is built in.
// A resource that exists but holds no bytes is returned as an empty span.
std::optional<ResourceBytes> FindResource(std::string_view type, int id);

// The resource as text (its bytes unchanged), or an empty text when it is missing.
std::string_view ResourceText(std::string_view type, int id);

}  // namespace uafw
