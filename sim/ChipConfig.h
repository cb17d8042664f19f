#pragma once
// The description of one virtual chip: what chip.ini of a state directory says about the chip
// ([chip]) and about the faults injected into this run ([faults]).
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace uafw::sim {

// The vendor id the chip carries in its extension unit and in its default identity.
inline constexpr std::uint16_t kChipMakerVendorId = 0x1209;

// The memory the chip boots its code from.
enum class BootMemory { Flash, Eeprom8, Eeprom16, Otp };

// How the device-side signature check behind the 0x70 requests ends.
enum class SignatureOutcome { Pass, Fail, Busy };

// Faults of one run. Counts are 1-based; 0 means "not armed".
struct FaultSettings {
    std::uint32_t failTransfer = 0;  // the N-th control transfer fails with failCode
    std::uint32_t failCode = 31;     // seam error code of injected failures (31, 21, 1167, 1460)
    int failOpcode = -1;             // extension-unit opcode whose command block fails
    int failRequest = -1;            // vendor request code that fails
    std::uint32_t failTimes = 1;     // how many matching commands fail
    std::uint32_t failSkip = 0;      // matching commands that pass before the failures begin
    std::uint32_t unplugAfter = 0;   // the chip leaves the bus after N control transfers
    std::uint32_t notReady = 0;      // the first N control transfers answer "not ready"
    bool neverReturn = false;        // after the next reset the chip stays off the bus
    std::vector<std::uint16_t> otpFail;  // OTP bytes that cannot be programmed
    bool otpLocked = false;              // bit 3 of 0xFD0C set: OTP programming refused
    std::uint32_t otpPowerCut = 0;       // the N-th OTP programming loses its supply part-way
    std::uint32_t otpPowerCutBytes = 0;  // bytes programmed before the cut; 0 = half the data
    std::uint32_t otpUnplugAfter = 0;    // the chip leaves the bus after the N-th OTP programming
    SignatureOutcome signature = SignatureOutcome::Pass;
};

struct ChipConfig {
    std::string typeName = "KSC7050";
    std::uint16_t chipId = 0xD011;
    BootMemory memory = BootMemory::Flash;
    std::uint16_t vid = kChipMakerVendorId;
    std::uint16_t pid = 0x7050;
    std::uint16_t rev = 0x0100;
    std::string manufacturer = "Tavenic";
    std::string product = "KSC7050 USB Audio";
    std::string serial = "0001";
    std::string port;          // port path below the root hub, e.g. "2" or "1.3"; empty = auto
    std::uint8_t rootUsb = 2;  // USB generation of the root hub (2 or 3)
    bool attached = true;      // false: the chip starts unplugged
    bool bootRom = false;      // true: power-on starts the ROM loader whatever memory holds
    std::uint32_t flashSize = 0x100000;
    std::uint32_t eepromSize = 0;  // 0 = the default of the memory kind
    std::uint32_t reenumMs = 1000;
    std::uint32_t eraseMs = 200;
    std::uint32_t latencyUs = 0;
    std::uint16_t maxDataSize = 1024;  // largest data control size the chip grants
    std::uint16_t extensionCode = kChipMakerVendorId;
    // What a newly created spi.bin holds: the built-in default image (true) or erased flash.
    // Unset: the built-in image only for a chip.ini that sets no key at all.
    std::optional<bool> newFlashBuiltin;
    std::uint32_t keysGiven = 0;  // keys the parsed chip.ini set
    FaultSettings faults;

    // EEPROM size in effect (eeprom_size, or 2 KiB for 8-bit and 64 KiB for 16-bit addresses).
    std::uint32_t EffectiveEepromSize() const;
};

// Chip ID word of a chip type name ("KSC7050" -> 0xD011), nothing for an unknown name.
std::optional<std::uint16_t> ChipIdOfType(std::string_view typeName);

// Parses a chip.ini text over the defaults in `config`. An empty text leaves the defaults.
// Returns false with a message naming the line and the key on any error (unknown section or
// key, malformed integer, value out of range, unknown type or memory kind).
bool ParseChipConfig(std::string_view text, ChipConfig& config, std::string& error);

// Integer with automatic base: decimal or 0x hexadecimal, nothing when malformed.
std::optional<std::uint64_t> ParseChipInteger(std::string_view text);

}  // namespace uafw::sim
