#pragma once
// Flows against the virtual chip in virtual time: state directories with a chip.ini each, the
// in-process simulator behind the USB seam, the device library started on it, a settings store,
// a chip description with a chosen chip code, and a recording main window that sees every
// message the flows post (and can press Stop when a given message arrives).
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "config/ICTypeIni.h"
#include "config/IniFile.h"
#include "config/Settings.h"
#include "device/CurrentDevice.h"
#include "device/DeviceApi.h"
#include "device/DeviceLibrary.h"
#include "device/DriverChannel.h"
#include "flow/FlowConfigLayer.h"
#include "flow/MpFlow.h"
#include "platform/AppState.h"
#include "platform/Clock.h"
#include "platform/Resources.h"
#include "platform/UiLink.h"
#include "platform/usb/UsbBackend.h"
#include "sim/ChipStateDir.h"
#include "sim/SimBackend.h"

namespace uafw::flowtest {

struct Posted {
    std::uint32_t message;
    std::uintptr_t word;
    bool operator==(const Posted&) const = default;
};

inline std::ostream& operator<<(std::ostream& os, const Posted& p) {
    return os << "{0x" << std::hex << p.message << std::dec << ", " << p.word << "}";
}

// The main window as the flows see it: records every posted message in order.
class RecordingWindow final : public CMainWindowLink {
public:
    int PostMessage(std::uint32_t message, std::uintptr_t wParam, std::intptr_t) override {
        std::function<void(const Posted&)> hook;
        {
            std::lock_guard<std::mutex> guard(m_lock);
            m_posted.push_back({message, wParam});
            hook = m_onPost;
        }
        if (hook)
            hook({message, wParam});
        return 1;
    }
    void SetDeviceInfo(std::int32_t port, std::int32_t hub) override {
        std::lock_guard<std::mutex> guard(m_lock);
        m_port = port;
        m_hub = hub;
    }
    std::vector<Posted> Posts() {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_posted;
    }
    // Only the messages of one kind, their words in order.
    std::vector<std::uintptr_t> Words(std::uint32_t message) {
        std::vector<std::uintptr_t> words;
        for (const Posted& p : Posts())
            if (p.message == message)
                words.push_back(p.word);
        return words;
    }
    void Clear() {
        std::lock_guard<std::mutex> guard(m_lock);
        m_posted.clear();
        m_verdictTexts.clear();
    }
    // The serial-number countdown writes the verdict text directly.
    void SetVerdictText(const std::string& text) override {
        std::lock_guard<std::mutex> guard(m_lock);
        m_verdictTexts.push_back(text);
    }
    std::vector<std::string> VerdictTexts() {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_verdictTexts;
    }
    // Called after each post has been recorded (outside the recorder's lock).
    void OnPost(std::function<void(const Posted&)> hook) {
        std::lock_guard<std::mutex> guard(m_lock);
        m_onPost = std::move(hook);
    }
    // Sets the stop flag once `count` messages equal to `trigger` have been posted.
    void StopAfter(Posted trigger, int count) {
        auto seen = std::make_shared<int>(0);
        OnPost([this, trigger, count, seen](const Posted& p) {
            if (p == trigger && ++*seen == count)
                SetStop(true);
        });
    }

    std::int32_t m_port = -1;
    std::int32_t m_hub = -1;

private:
    std::mutex m_lock;
    std::vector<Posted> m_posted;
    std::function<void(const Posted&)> m_onPost;
    std::vector<std::string> m_verdictTexts;
};

// A chip description whose register section matches the chip ID's two masked bytes and carries
// the chip code; "Vendor Info M1" as the flash chips have it.
inline std::string DescriptionText(std::uint16_t chipId, int chipCode) {
    char text[512];
    std::snprintf(text, sizeof(text),
                  "[Vorlo Config]\nIc Name=TEST\nBus Type=USB\nProject Type=FLASH\n"
                  "[Camera_Register_00]\nICRegister1=0x%02X\nICRegister2=0x%02X\nChipInfo=%d\n"
                  "[Vendor Info M1]\nConfigAddress=0xF000\nConfigSize=4096\nTagAddress=0xEFFE\n",
                  chipId & 0xF0, (chipId >> 8) & 0xF0, chipCode);
    return text;
}

// A built-in firmware image (by default the one a blank state directory's chip boots).
inline std::vector<std::uint8_t> BuiltInImage(int id = uafw::sim::kDefaultImageResource) {
    const auto image = uafw::FindResource("BINARY", id);
    if (!image)
        return {};
    return std::vector<std::uint8_t>(image->begin(), image->end());
}

class FlowSimFixture : public ::testing::Test {
protected:
    void SetUp() override {
        m_savedSettings = g_pSettings;
        m_savedCatalogue = g_pICTypeIni;
        m_savedWindow = g_pMainDlg;
        m_savedProject = g_nProjectType;
        m_savedBus = g_nBusType;
        m_settings.LoadFromText("[Vorlo Config]\n");
        g_pSettings = &m_settings;
        g_pICTypeIni = &m_catalogue;
        g_pMainDlg = &m_window;
        g_nProjectType = kProjectFlash;
        g_nBusType = kBusUsb;
        g_ErrCode = 0;
        g_dwDownloadOption = kDownloadOptionInitial;
    }

    void TearDown() override {
        CCurrentDevice::Instance().Close();
        DeviceLibraryShutdown(0);
        uafw::usb::SetCurrentUsbBackend(nullptr);
        m_backend.reset();
        g_pSettings = m_savedSettings;
        g_pICTypeIni = m_savedCatalogue;
        g_pMainDlg = m_savedWindow;
        g_nProjectType = m_savedProject;
        g_nBusType = m_savedBus;
        g_ErrCode = 0;
        g_dwDownloadOption = kDownloadOptionInitial;
        std::error_code ec;
        for (const std::string& dir : m_dirs)
            std::filesystem::remove_all(dir, ec);
    }

    // Starts the simulator over one state directory per chip.ini text, optionally with flash
    // contents written before the chip powers on.
    void Start(const std::vector<std::string>& chips, const std::vector<std::uint8_t>& flash = {}) {
        std::string joined;
        for (const std::string& ini : chips) {
            std::string dir =
                (std::filesystem::temp_directory_path() / "uafw-flow-XXXXXX").string();
            ASSERT_NE(mkdtemp(dir.data()), nullptr);
            std::ofstream(dir + "/chip.ini") << ini;
            if (!flash.empty())
                std::ofstream(dir + "/spi.bin", std::ios::binary)
                    .write(reinterpret_cast<const char*>(flash.data()),
                           static_cast<std::streamsize>(flash.size()));
            m_dirs.push_back(dir);
            joined += (joined.empty() ? "" : ":") + dir;
        }
        std::string error;
        m_backend = uafw::sim::SimBackend::FromStateDirs(joined, error);
        ASSERT_TRUE(m_backend) << error;
        uafw::usb::SetCurrentUsbBackend(m_backend.get());
        ASSERT_TRUE(DeviceLibraryStartup(0));
    }

    // Selects a chip description for the chip ID with the chip code.
    void UseChipCode(std::uint16_t chipId, int chipCode) {
        m_catalogue = CICTypeIni();
        ASSERT_TRUE(m_catalogue.LoadFromText(DescriptionText(chipId, chipCode)));
        ASSERT_TRUE(m_catalogue.MatchChipId(chipId & 0xF0, (chipId >> 8) & 0xF0));
        ASSERT_EQ(m_catalogue.ChipCode(), chipCode);
    }

    void SetSetting(const std::string& key, std::int32_t value) { WriteSettingInt(value, key); }

    // Writes a file into the first chip's state directory and gives its path.
    std::string WriteFile(const std::string& name, const std::vector<std::uint8_t>& bytes) {
        const std::string path = m_dirs.front() + "/" + name;
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        return path;
    }

    // Opens list entry 0 in `flow`, refreshes its device information and makes `image` its
    // firmware image (prepared unless empty); forgets what the window recorded so far.
    void OpenWithImage(CFlowConfigLayer& flow, const std::vector<std::uint8_t>& image) {
        ASSERT_EQ(flow.MP_OpenDevice(0), 1);
        flow.MP_RefreshDeviceInfo();
        flow.m_ImageRecord.m_image = image;
        if (!image.empty()) {
            ASSERT_EQ(flow.OpPrepare(flow.m_ImageRecord.m_image), 1);
        }
        m_window.Clear();
        g_ErrCode = 0;
    }

    uafw::sim::VirtualChip& Chip(std::size_t index = 0) { return m_backend->Chip(index); }

    // A register of the chip, read through the device API as the tool sees it.
    std::uint8_t ChipByte(std::uint32_t address) {
        std::uint8_t value = 0xEE;
        EXPECT_EQ(DA_ReadMem(DA_GetDeviceNode(), address, 1, &value, 0), 1) << address;
        return value;
    }
    void SetChipByte(std::uint32_t address, std::uint8_t value) {
        EXPECT_EQ(DA_WriteMem(DA_GetDeviceNode(), address, 1, &value, 0), 1) << address;
    }

    uafw::FakeClock m_clock{1000};
    uafw::ScopedClock m_useClock{m_clock};
    CIniFile m_settings;
    CICTypeIni m_catalogue;
    RecordingWindow m_window;
    std::vector<std::string> m_dirs;
    std::unique_ptr<uafw::sim::SimBackend> m_backend;

private:
    CIniFile* m_savedSettings = nullptr;
    CICTypeIni* m_savedCatalogue = nullptr;
    CMainWindowLink* m_savedWindow = nullptr;
    std::int32_t m_savedProject = 0;
    std::int32_t m_savedBus = 0;
};

}  // namespace uafw::flowtest
