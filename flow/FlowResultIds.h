#pragma once
// Result ids that the flash, EEPROM and OTP flows share (texts of the result-message table).
#include <cstdint>

inline constexpr std::int32_t kLoadFileFailCode = 41530;       // "Load File Data Fail!"
inline constexpr std::int32_t kParseFileFailCode = 41531;      // "Parse FW File Fail!"
inline constexpr std::int32_t kMallocFailCode = 41708;         // "Malloc Data Fail!"
inline constexpr std::int32_t kCompareFailCode = 41709;        // "Compare Data Fail!"
inline constexpr std::int32_t kDisableWpFailCode = 41710;      // "Disable Write Protect Fail!"
inline constexpr std::int32_t kEnableWpFailCode = 41711;       // "Enable Write Protect Fail!"
inline constexpr std::int32_t kWriteTagFailCode = 41712;       // "Write Tag Fail!"
inline constexpr std::int32_t kWrongFirmwareCode = 41715;      // "Firmware is not for the device!"
inline constexpr std::int32_t kCheckEmptyFailCode = 41717;     // "Check Empty Fail!"
inline constexpr std::int32_t kWriteDumpFileFailCode = 41736;  // "Write Dump File Fail!"
