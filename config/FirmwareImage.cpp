#include "config/FirmwareImage.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <new>

#include "config/ICTypeIni.h"
#include "platform/AppState.h"
#include "platform/Resources.h"

std::atomic<std::uint32_t> g_dwReadLength{kInitialReadLength};
CImageRecord g_ImageRecord;

namespace {

constexpr const char* kImageResourceType = "BINARY";
constexpr std::uint32_t kMipiReadLength = 0x20000;

// Reads the whole file; false when it cannot be opened or read to its end.
bool ReadWholeFile(const std::string& path, std::vector<std::uint8_t>& bytes) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr)
        return false;
    bool ok = false;
    if (std::fseek(f, 0, SEEK_END) == 0) {
        const long size = std::ftell(f);
        if (size >= 0 &&
            static_cast<unsigned long>(size) <= std::numeric_limits<std::uint32_t>::max() &&
            std::fseek(f, 0, SEEK_SET) == 0) {
            try {
                bytes.assign(static_cast<std::size_t>(size), 0xFF);
                ok = std::fread(bytes.data(), 1, bytes.size(), f) == bytes.size();
            } catch (const std::bad_alloc&) {
                ok = false;
            }
        }
    }
    std::fclose(f);
    if (!ok)
        bytes.clear();
    return ok;
}

}  // namespace

bool LoadImageFile(CImageRecord& record) {
    if (record.m_strImageFile.empty())
        return false;
    std::error_code ec;
    if (!std::filesystem::exists(record.m_strImageFile, ec))
        return false;
    record.m_image.clear();
    record.m_image.shrink_to_fit();
    record.m_copy.clear();
    record.m_copy.shrink_to_fit();
    std::vector<std::uint8_t> bytes;
    if (!ReadWholeFile(record.m_strImageFile, bytes) || bytes.empty())
        return false;
    try {
        record.m_copy = bytes;
    } catch (const std::bad_alloc&) {
        return false;
    }
    record.m_image = std::move(bytes);
    return true;
}

void LoadImageResource(CImageRecord& record, std::int32_t id) {
    const auto resource = uafw::FindResource(kImageResourceType, id);
    if (!resource)
        return;
    record.m_secondary.clear();
    record.m_secondary.shrink_to_fit();
    if (g_nBusType == kBusMipi)
        g_dwReadLength = kMipiReadLength;
    g_dwReadLength = static_cast<std::uint32_t>(resource->size());
    try {
        record.m_secondary.assign(resource->size(), 0xFF);
    } catch (const std::bad_alloc&) {
        return;
    }
    std::copy(resource->begin(), resource->end(), record.m_secondary.begin());
}

void LoadDefaultImage(CImageRecord& record) {
    std::int32_t id = 0;
    if (g_pICTypeIni != nullptr && g_pICTypeIni->IniNameCount() > 0 &&
        g_pICTypeIni->DefaultFirmwareId(id)) {
        if (record.m_strSecondFile.empty() && record.m_strThirdFile.empty())
            LoadImageResource(record, id);
        return;
    }
    record.m_secondary.clear();
}

bool AllocDumpBuffer(CImageRecord& record, std::uint32_t count) {
    record.m_dump.clear();
    record.m_dump.shrink_to_fit();
    try {
        record.m_dump.assign(count, 0xFF);
    } catch (const std::bad_alloc&) {
        record.m_dump.clear();
        return false;
    }
    return true;
}

bool WriteDumpFile(const CImageRecord& record) {
    if (record.m_strDumpFile.empty())
        return false;
    std::FILE* f = std::fopen(record.m_strDumpFile.c_str(), "wb");
    if (f == nullptr)
        return false;
    const bool written =
        record.m_dump.empty() ||
        std::fwrite(record.m_dump.data(), 1, record.m_dump.size(), f) == record.m_dump.size();
    const bool closed = std::fclose(f) == 0;
    return written && closed;
}
