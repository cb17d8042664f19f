#pragma once
// The settings store: one INI document parsed at start-up from the built-in settings text. All
// keys live in section "Vorlo Config"; nothing writes settings to disk.
#include <cstdint>
#include <string>

#include "config/IniFile.h"

extern CIniFile* g_pSettings;

inline constexpr const char* kSettingsSection = "Vorlo Config";

// Integer setting with an explicit default (automatic base; 0 when no settings exist).
std::int32_t ReadSettingInt(std::int32_t def, const std::string& key,
                            const std::string& section = kSettingsSection);
// Text setting, or the default.
std::string ReadSettingText(const std::string& key, const std::string& def = "",
                            const std::string& section = kSettingsSection);
// Stores an integer into the in-memory settings only.
void WriteSettingInt(std::int32_t value, const std::string& key,
                     const std::string& section = kSettingsSection);
