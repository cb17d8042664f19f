#include "config/ICTypeTables.h"

namespace uafw {

std::optional<std::int32_t> FirmwareResourceId(std::string_view name) {
    for (const FirmwareResourceEntry& entry : kFirmwareResources) {
        if (entry.name == name)
            return entry.binaryId;
    }
    return std::nullopt;
}

}  // namespace uafw
