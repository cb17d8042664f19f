#pragma once
// The built-in tables of the IC-type catalogue: chip types with the "ICINI" id of their
// description, the built-in firmware images by name with their "BINARY" id, and the bus types.
// The image generator uses the same name/id table, so names and ids are defined only here.
#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace uafw {

struct ChipTypeEntry {
    std::string_view model;  // chip model name; its description is listed as model + ".ini"
    std::int32_t iniId;      // "ICINI" resource id of the built-in description
};

// In list order of the built-in descriptions.
inline constexpr std::array<ChipTypeEntry, 6> kChipTypes{{
    {"KSC7042", 2032},
    {"KSC7080", 2035},
    {"KSC7050", 2033},
    {"KSC7020", 2030},
    {"KSC7032", 2034},
    {"KSC7040", 2031},
}};

struct FirmwareResourceEntry {
    std::string_view name;  // "FFU_<model digits>" or "FFU_<VID>_<PID>" in upper-case hex
    std::int32_t binaryId;  // "BINARY" resource id of the image
};

// The six per-chip images (reached through "Def Bin") followed by the device-specific images of
// the maker's vendor id, which the device flow finds by the attached device's VID and PID.
inline constexpr std::array<FirmwareResourceEntry, 56> kFirmwareResources{{
    {"FFU_7020", 3012},      {"FFU_7040", 3018},      {"FFU_7042", 3020},
    {"FFU_7050", 3023},      {"FFU_7032", 3045},      {"FFU_7080", 3046},
    {"FFU_1209_7101", 3021}, {"FFU_1209_7102", 3022}, {"FFU_1209_7103", 3035},
    {"FFU_1209_7104", 3038}, {"FFU_1209_7105", 3039}, {"FFU_1209_7106", 3040},
    {"FFU_1209_7107", 3041}, {"FFU_1209_7108", 3042}, {"FFU_1209_7109", 3043},
    {"FFU_1209_710A", 3044}, {"FFU_1209_710B", 3047}, {"FFU_1209_710C", 3048},
    {"FFU_1209_710D", 3049}, {"FFU_1209_710E", 3050}, {"FFU_1209_710F", 3051},
    {"FFU_1209_7110", 3052}, {"FFU_1209_7111", 3053}, {"FFU_1209_7112", 3054},
    {"FFU_1209_7113", 3055}, {"FFU_1209_7114", 3056}, {"FFU_1209_7115", 3057},
    {"FFU_1209_7116", 3058}, {"FFU_1209_7117", 3059}, {"FFU_1209_7118", 3060},
    {"FFU_1209_7119", 3061}, {"FFU_1209_711A", 3062}, {"FFU_1209_711B", 3063},
    {"FFU_1209_711C", 3064}, {"FFU_1209_711D", 3065}, {"FFU_1209_711E", 3066},
    {"FFU_1209_711F", 3067}, {"FFU_1209_7120", 3068}, {"FFU_1209_7121", 3069},
    {"FFU_1209_7122", 3070}, {"FFU_1209_7123", 3071}, {"FFU_1209_7124", 3072},
    {"FFU_1209_7125", 3073}, {"FFU_1209_7126", 3074}, {"FFU_1209_7127", 3075},
    {"FFU_1209_7128", 3076}, {"FFU_1209_7129", 3077}, {"FFU_1209_712A", 3078},
    {"FFU_1209_712B", 3079}, {"FFU_1209_712C", 3080}, {"FFU_1209_712D", 3081},
    {"FFU_1209_712E", 3082}, {"FFU_1209_712F", 3083}, {"FFU_1209_7130", 3084},
    {"FFU_1209_7131", 3085}, {"FFU_1209_7132", 3086},
}};

struct BusTypeEntry {
    std::string_view name;  // value of "Bus Type" in a description
    std::int32_t busType;   // BusType value
};

inline constexpr std::array<BusTypeEntry, 3> kBusTypes{{
    {"USB", 0},
    {"PCIE", 1},
    {"MIPI", 2},
}};

// The "BINARY" id of a firmware-resource name (exact, case-sensitive), or nothing.
std::optional<std::int32_t> FirmwareResourceId(std::string_view name);

}  // namespace uafw
