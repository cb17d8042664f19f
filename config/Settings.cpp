#include "config/Settings.h"

CIniFile* g_pSettings = nullptr;

std::int32_t ReadSettingInt(std::int32_t def, const std::string& key, const std::string& section) {
    if (g_pSettings == nullptr)
        return def;
    return g_pSettings->GetInt(section, key, def);
}

std::string ReadSettingText(const std::string& key, const std::string& def,
                            const std::string& section) {
    if (g_pSettings == nullptr)
        return def;
    return g_pSettings->GetString(section, key, def);
}

void WriteSettingInt(std::int32_t value, const std::string& key, const std::string& section) {
    if (g_pSettings != nullptr)
        g_pSettings->PutInt(section, key, value);
}
