#pragma once
// Shared fixture of the image and configuration-area tests: a selected chip description, a
// settings document, recorded message boxes, and the process-wide state they touch, restored
// after each test.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "config/Descriptor.h"
#include "config/DescriptorKinds.h"
#include "config/DescriptorReader.h"
#include "config/DescriptorWriter.h"
#include "config/FirmwareImage.h"
#include "config/ICTypeIni.h"
#include "config/IniFile.h"
#include "config/Settings.h"
#include "platform/AppState.h"
#include "platform/MessageBox.h"

namespace uafw::test {

using Bytes = std::vector<std::uint8_t>;

class RecordingMessageBox final : public IMessageBox {
public:
    MsgBoxResult Show(const std::string& text, const std::string&, MsgBoxButtons,
                      MsgBoxResult defaultResult) override {
        texts.push_back(text);
        return defaultResult;
    }
    std::vector<std::string> texts;
};

class ImageTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_savedCatalogue = g_pICTypeIni;
        m_savedSettings = g_pSettings;
        m_savedProject = g_nProjectType;
        m_savedBus = g_nBusType;
        m_savedReadLength = g_dwReadLength;
        g_pICTypeIni = &m_catalogue;
        g_pSettings = &m_settings;
        g_nProjectType = kProjectFlash;
        g_nBusType = kBusUsb;
        g_dwReadLength = kInitialReadLength;
        SetMessageBoxPort(&m_boxes);
        m_settings.AppendSection("Vorlo Config");
    }
    void TearDown() override {
        SetMessageBoxPort(nullptr);
        g_pICTypeIni = m_savedCatalogue;
        g_pSettings = m_savedSettings;
        g_nProjectType = m_savedProject;
        g_nBusType = m_savedBus;
        g_dwReadLength = m_savedReadLength;
    }

    // Selects a built-in description ("ICINI" id).
    void UseDescription(std::int32_t iniId) {
        m_catalogue.Clear();
        ASSERT_TRUE(m_catalogue.LoadIniResource(iniId));
    }
    // Selects a description with the given layout values.
    void UseLayout(const std::string& icName, std::uint32_t configAddress, std::uint32_t configSize,
                   std::uint32_t tagAddress = 0xEFFE) {
        m_catalogue.Clear();
        const std::string text =
            "[Vorlo Config]\r\nIc Name=" + icName +
            "\r\n[Vendor Info M1]\r\nConfigAddress=" + std::to_string(configAddress) +
            "\r\nConfigSize=" + std::to_string(configSize) +
            "\r\nTagAddress=" + std::to_string(tagAddress) + "\r\n";
        ASSERT_TRUE(m_catalogue.LoadFromText(text));
    }
    void SetSetting(const std::string& key, std::int32_t value) {
        m_settings.PutInt("Vorlo Config", key, value);
    }

    CICTypeIni m_catalogue;
    CIniFile m_settings;
    RecordingMessageBox m_boxes;

private:
    CICTypeIni* m_savedCatalogue = nullptr;
    CIniFile* m_savedSettings = nullptr;
    std::int32_t m_savedProject = 0;
    std::int32_t m_savedBus = 0;
    std::uint32_t m_savedReadLength = 0;
};

// What an area holds; MakeArea lays it out with the block writer.
struct AreaContent {
    std::uint8_t memoryKind = 0x55;
    std::uint8_t chipCode = 25;
    std::uint16_t apVersion = 0x1060;
    std::vector<std::pair<std::uint8_t, std::string>> strings = {
        {1, "Tavenic"}, {2, "KSC7050 USB Audio"}, {3, "SN0001"}};
    bool vidPid = true;
    std::uint16_t vid = 0x1209, pid = 0x7050, revision = 0x0100;
    bool hasBankCopy = false;
    std::uint8_t bankCopy = 0;
    bool hasForceUpdate = false;
    std::uint8_t forceUpdate = 0;
    std::vector<Bytes> cacheCodes;  // small-cache-code data blocks (chip codes 21, 24)
    std::size_t fillerBytes = 0;    // an unknown block of about this size, to grow the area
};

inline Bytes MakeArea(const AreaContent& entry) {
    CDescGlobal header;
    header.m_byMemoryKind = entry.memoryKind;
    header.m_byBootOption = 2;
    header.m_byChipCode = entry.chipCode;
    DescFixedValues fixed;
    fixed.apVersion = entry.apVersion;
    fixed.hasEepInfo = true;
    fixed.eepInfo = 0xC2;
    fixed.hasBankCopy = entry.hasBankCopy;
    fixed.bankCopy = entry.bankCopy;
    fixed.hasForceUpdate = entry.hasForceUpdate;
    fixed.forceUpdate = entry.forceUpdate;
    DescriptorWriter writer;
    EXPECT_TRUE(writer.Begin(header, fixed, true));
    for (const auto& [type, text] : entry.strings) {
        auto block = MakeStringBlock(type);
        EXPECT_TRUE(block->SetContent(Bytes(text.begin(), text.end())));
        EXPECT_TRUE(writer.Append(*block));
    }
    if (entry.vidPid) {
        CDescVIDPID id;
        id.Set(entry.vid, entry.pid, entry.revision);
        EXPECT_TRUE(writer.Append(id));
    }
    for (const Bytes& data : entry.cacheCodes) {
        auto block = CreateDescriptor(kTypeSmallCachecode, entry.chipCode);
        Bytes raw(data.size() + 8, 0);
        raw[0] = 0xFF;
        raw[1] = 0xE7;
        raw[2] = static_cast<std::uint8_t>(data.size() + 8);
        raw[6] = static_cast<std::uint8_t>(data.size());
        std::copy(data.begin(), data.end(), raw.begin() + 8);
        EXPECT_TRUE(block->Parse(raw));
        EXPECT_TRUE(writer.Append(*block));
    }
    for (std::size_t left = entry.fillerBytes; left >= 2;) {
        const std::size_t n = std::min<std::size_t>(left, 250);
        Bytes raw(n, 0x44);
        raw[0] = static_cast<std::uint8_t>(n);
        raw[1] = 0x7E;
        CDescDummy dummy;
        EXPECT_TRUE(dummy.Parse(raw));
        EXPECT_TRUE(writer.Append(dummy));
        left -= n;
    }
    Bytes area(writer.AreaLength(), 0xFF);
    EXPECT_TRUE(writer.Finish(area, 0xFFFF));
    return area;
}

// An image of `length` bytes: a code image (0x02 first) unless the area lies at offset 0.
inline Bytes MakeImage(std::size_t length, std::size_t areaAt, const Bytes& area) {
    Bytes image(length, 0xFF);
    if (areaAt != 0) {
        for (std::size_t i = 0; i < std::min<std::size_t>(length, 0x2000); ++i)
            image[i] = static_cast<std::uint8_t>(i * 31 + 7);
        image[0] = 0x02;
    }
    for (std::size_t i = 0; i < area.size() && areaAt + i < length; ++i)
        image[areaAt + i] = area[i];
    return image;
}

// The area header at an offset of an image.
inline CDescGlobal HeaderAt(const Bytes& image, std::size_t at) {
    CDescGlobal header;
    EXPECT_TRUE(header.Parse(std::span<const std::uint8_t>(image).subspan(at)));
    return header;
}

}  // namespace uafw::test
