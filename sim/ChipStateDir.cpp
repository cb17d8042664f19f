#include "sim/ChipStateDir.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/Resources.h"

namespace uafw::sim {

std::unique_ptr<VirtualChip> LoadChipStateDir(const std::string& dir, std::string& error) {
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (!fs::is_directory(dir, ec)) {
        error = dir + ": not a directory and cannot be created";
        return nullptr;
    }
    const fs::path root(dir);
    std::string text;
    const fs::path ini = root / "chip.ini";
    if (fs::exists(ini, ec)) {
        std::ifstream in(ini, std::ios::binary);
        if (!in) {
            error = ini.string() + ": cannot be read";
            return nullptr;
        }
        std::ostringstream s;
        s << in.rdbuf();
        text = s.str();
    }
    ChipConfig config;
    if (!ParseChipConfig(text, config, error)) {
        error = dir + "/" + error;
        return nullptr;
    }
    std::span<const std::uint8_t> initialFlash;
    if (config.newFlashBuiltin.value_or(config.keysGiven == 0)) {
        if (auto image = FindResource("BINARY", kDefaultImageResource))
            initialFlash = *image;
    }
    PersistentBytes flash;
    PersistentBytes eeprom;
    PersistentBytes otp;
    if (!flash.Open((root / "spi.bin").string(), config.flashSize, 0xFF, initialFlash, error) ||
        !eeprom.Open((root / "eeprom.bin").string(), config.EffectiveEepromSize(), 0xFF, {},
                     error) ||
        !otp.Open((root / "otp.bin").string(), OtpMemory::kSize, 0x00, {}, error))
        return nullptr;
    return std::make_unique<VirtualChip>(
        config, ChipMemories{SpiFlash(std::move(flash)), I2cEeprom(std::move(eeprom)),
                             OtpMemory(std::move(otp))});
}

}  // namespace uafw::sim
