// The device flow against virtual chips on different ports: the production-line opens with the
// identity list and the port lock, the main window's device lists, finding the chosen device again
// by its identity and by its port, taking a device up with its built-in image and version, chip
// identification and the reset settings.
#include "flow/DevFlow.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "config/BuiltInImages.h"
#include "flow/ConsoleOutput.h"
#include "flow/DeviceListView.h"
#include "flow/FlowFactory.h"
#include "flow_fixture.h"
#include "platform/MessageBox.h"
#include "platform/OperationLog.h"
#include "platform/Resources.h"
#include "platform/TextCodec.h"

namespace {

using uafw::flowtest::FlowSimFixture;

struct Post {
    std::uint32_t message;
    std::uintptr_t word;
    std::intptr_t lParam;
    bool operator==(const Post&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Post& p) {
    return os << "{0x" << std::hex << p.message << std::dec << ", " << p.word << ", " << p.lParam
              << "}";
}

// The main window as the device flow sees it: the posted messages, the device value pair, the
// device list box, the device-identity text and the auto-run event (its calls in order).
class FakeMainWindow final : public CMainWindowLink, public IDeviceListView {
public:
    int PostMessage(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) override {
        posts.push_back({message, wParam, lParam});
        return 1;
    }
    void SetDeviceInfo(std::int32_t p, std::int32_t h) override {
        port = p;
        hub = h;
    }
    void ResetAutoRunEvent() override { events.push_back("reset"); }
    void SetAutoRunEvent() override { events.push_back("set"); }
    void ClearDeviceList() override { items.clear(); }
    int AddDeviceListItem(const std::string& text) override {
        items.push_back(text);
        return static_cast<int>(items.size()) - 1;
    }
    void SelectDeviceListItem(int position) override { selected = position; }
    std::string DeviceListItemText(int position) const override {
        if (position < 0 || position >= static_cast<int>(items.size()))
            return {};
        return items[static_cast<std::size_t>(position)];
    }
    std::string DeviceIdentityText() const override { return identity; }
    void SetDeviceIdentityText(const std::string& text) override { identity = text; }
    void GetDeviceInfo(std::int32_t& p, std::int32_t& h) const override {
        p = port;
        h = hub;
    }

    std::vector<Post> posts;
    std::int32_t port = 0;
    std::int32_t hub = 0;
    std::vector<std::string> events;
    std::vector<std::string> items;
    int selected = -2;  // never selected
    std::string identity;
};

class FakeMessageBox final : public uafw::IMessageBox {
public:
    uafw::MsgBoxResult Show(const std::string& text, const std::string&, uafw::MsgBoxButtons,
                            uafw::MsgBoxResult def) override {
        texts.push_back(text);
        return def;
    }
    std::vector<std::string> texts;
};

std::vector<std::string> g_console;
void RecordConsole(const std::string& text) {
    g_console.push_back(text);
}

std::string ChipIni(const std::string& port, std::uint16_t pid, std::uint16_t rev = 0x0100,
                    const std::string& type = "KSC7050") {
    char text[160];
    std::snprintf(text, sizeof(text), "[chip]\ntype = %s\nport = %s\npid = 0x%04X\nrev = 0x%04X\n",
                  type.c_str(), port.c_str(), pid, rev);
    return text;
}

std::string Identity(std::uint16_t pid, std::uint16_t rev = 0x0100) {
    char text[40];
    std::snprintf(text, sizeof(text), "VID_1209&PID_%04X&REV_%04X", pid, rev);
    return text;
}

// The bytes of a built-in image as the program carries it.
std::vector<std::uint8_t> BuiltInImage(std::int32_t id) {
    const auto bytes = uafw::FindResource("BINARY", id);
    if (!bytes)
        return {};
    return std::vector<std::uint8_t>(bytes->begin(), bytes->end());
}

class DevFlowTest : public FlowSimFixture {
protected:
    void SetUp() override {
        FlowSimFixture::SetUp();
        // The device flow replaces the catalogue object while it identifies a chip.
        g_pICTypeIni = new CICTypeIni();
        g_pICTypeIni->ListIniNames();
        g_pICTypeIni->SelectIni();
        g_pMainDlg = &m_main;
        g_pDeviceListView = &m_main;
        uafw::SetMessageBoxPort(&m_boxes);
        m_savedPrinter = uafw::SetConsolePrinter(&RecordConsole);
        g_console.clear();
        m_savedCmdLine = g_bCmdLineMode;
        m_savedReadLength = g_dwReadLength;
        m_flow = MakeFlowObject(kProjectFlash, kBusUsb);
        ASSERT_TRUE(m_flow);
        m_flow->SetVidPidListFile(m_listDir.path + "/VidPidList.ini");
    }
    void TearDown() override {
        m_flow.reset();
        delete g_pICTypeIni;
        g_pICTypeIni = &m_catalogue;
        g_pDeviceListView = nullptr;
        uafw::SetMessageBoxPort(nullptr);
        uafw::SetConsolePrinter(m_savedPrinter);
        g_bCmdLineMode = m_savedCmdLine;
        g_dwReadLength = m_savedReadLength;
        FlowSimFixture::TearDown();
    }

    // Posts of one message, their words in order.
    std::vector<std::uintptr_t> Words(std::uint32_t message) const {
        std::vector<std::uintptr_t> words;
        for (const Post& p : m_main.posts)
            if (p.message == message)
                words.push_back(p.word);
        return words;
    }
    void WriteListFile(const std::string& text) {
        std::ofstream(m_flow->VidPidListFile(), std::ios::binary) << text;
    }
    // The port of the device the flow holds open, as the bus reports it.
    std::uint32_t OpenPort() {
        std::uint32_t port = 0;
        std::uint32_t hub = 0;
        DA_GetPortAndHub(DA_GetDeviceNode(), port, hub);
        return port;
    }

    struct TempDir {
        TempDir() {
            path = (std::filesystem::temp_directory_path() / "uafw-devflow-XXXXXX").string();
            if (!mkdtemp(path.data()))
                ADD_FAILURE() << "no temporary directory";
        }
        ~TempDir() {
            std::error_code ec;
            std::filesystem::remove_all(path, ec);
        }
        std::string path;
    };

    FakeMainWindow m_main;
    FakeMessageBox m_boxes;
    TempDir m_listDir;
    std::unique_ptr<CFlowConfigLayer> m_flow;
    uafw::ConsolePrinter m_savedPrinter = nullptr;
    std::int32_t m_savedCmdLine = 0;
    std::uint32_t m_savedReadLength = 0;
};

// ---- production-line open by identity and port ------------------------------------------------

TEST_F(DevFlowTest, NoDeviceAtAllReportsDetectFailAndTellsTheConsole) {
    Start({"[chip]\nattached = 0\n"});
    g_bCmdLineMode = 1;
    std::vector<std::string> log;
    uafw::ScopedLogObserver observe(
        [&](const std::u16string& line) { log.push_back(uafw::Utf16ToUtf8(line)); });

    EXPECT_EQ(m_flow->DEV_OpenDeviceByVIDPID(), 0);

    EXPECT_EQ(m_main.posts, (std::vector<Post>{{0x418, 41511, 0}, {0x41F, 0, 0}}));
    EXPECT_EQ(g_ErrCode, 41511);
    EXPECT_EQ(g_console, std::vector<std::string>{"Cannot find Tavenic USB Audio!\n"});
    EXPECT_TRUE(std::any_of(log.begin(), log.end(), [](const std::string& line) {
        return line.find("----------------: Cannot find Tavenic USB Audio!") != std::string::npos;
    }));
}

TEST_F(DevFlowTest, ConsoleTextsOnlyInCommandLineMode) {
    Start({"[chip]\nattached = 0\n"});
    g_bCmdLineMode = 0;
    EXPECT_EQ(m_flow->DEV_OpenDeviceByVIDPID(), 0);
    EXPECT_TRUE(g_console.empty());
    EXPECT_EQ(g_ErrCode, 41511);
}

TEST_F(DevFlowTest, DevicesOutsideTheBuiltinListAreAMismatch) {
    Start({ChipIni("1", 0x7101), ChipIni("2", 0x7030)});
    g_bCmdLineMode = 1;

    EXPECT_EQ(m_flow->DEV_OpenDeviceByVIDPID(), 0);

    EXPECT_EQ(Words(0x414), std::vector<std::uintptr_t>{41714});
    EXPECT_EQ(g_ErrCode, 41714);
    EXPECT_EQ(g_console, std::vector<std::string>{"Check VID/PID Mismatch!\n"});
    EXPECT_EQ(m_flow->m_hDevice, 0u);
    EXPECT_EQ(DA_GetDeviceNode(), 0u);
}

TEST_F(DevFlowTest, OpensTheFirstListedDeviceOfAnyRevision) {
    // Port 1 carries a device outside the list; port 2 one whose REV no list line names.
    Start({ChipIni("1", 0x7101), ChipIni("2", 0x7050, 0x0300)});

    ASSERT_EQ(m_flow->DEV_OpenDeviceByVIDPID(), 1);

    EXPECT_NE(m_flow->m_hDevice, 0u);
    EXPECT_EQ(m_flow->m_hDevice, DA_GetDeviceNode());
    EXPECT_EQ(OpenPort(), 2u);
    EXPECT_EQ(m_flow->m_strDevIdentity, Identity(0x7050, 0x0300));
    EXPECT_EQ(m_flow->m_strDevVidPid, "VID_1209&PID_7050");
    EXPECT_EQ(m_flow->m_strDevManufacturer, "Tavenic");
    // KSC7050: chip ID 0xD011, each byte masked with 0xF0.
    EXPECT_EQ(m_flow->m_byChipId1, 0x10);
    EXPECT_EQ(m_flow->m_byChipId2, 0xD0);
    EXPECT_EQ(m_main.port, 2);
    EXPECT_EQ(m_main.posts.back(), (Post{0x41F, 0, 0}));
    EXPECT_EQ(g_ErrCode, 0);
}

TEST_F(DevFlowTest, LockPortLearnsPortNoOnceForTheProcess) {
    Start({ChipIni("1", 0x7050), ChipIni("2", 0x7040)});
    SetSetting("LockPort", 1);

    ASSERT_EQ(m_flow->DEV_OpenDeviceByVIDPID(), 1);
    EXPECT_EQ(OpenPort(), 1u);
    EXPECT_EQ(ReadSettingInt(-1, "PortNo"), 1);
    m_flow->DEV_CloseDevice();

    // A re-created flow object keeps the learned port: with the device on port 1 gone, the
    // listed device on port 2 is refused and PortNo stays.
    m_flow = MakeFlowObject(kProjectFlash, kBusUsb);
    Chip(0).Unplug();
    EXPECT_EQ(m_flow->DEV_OpenDeviceByVIDPID(), 0);
    EXPECT_EQ(g_ErrCode, 41714);
    EXPECT_EQ(ReadSettingInt(-1, "PortNo"), 1);
    EXPECT_EQ(DA_GetDeviceNode(), 0u);

    Chip(0).Plug();
    m_clock.Advance(5000);
    ASSERT_EQ(m_flow->DEV_OpenDeviceByVIDPID(), 1);
    EXPECT_EQ(OpenPort(), 1u);
}

TEST_F(DevFlowTest, LockedPortSkipsListedDevicesOnOtherPorts) {
    Start({ChipIni("1", 0x7050), ChipIni("2", 0x7040)});
    SetSetting("LockPort", 1);
    SetSetting("PortNo", 2);

    ASSERT_EQ(m_flow->DEV_OpenDeviceByVIDPID(), 1);
    EXPECT_EQ(OpenPort(), 2u);
    EXPECT_EQ(m_flow->m_wPid, 0x7040);
    EXPECT_EQ(ReadSettingInt(-1, "PortNo"), 2);
}

TEST_F(DevFlowTest, WithoutLockPortPortNoIsNeverLearned) {
    Start({ChipIni("2", 0x7050)});
    ASSERT_EQ(m_flow->DEV_OpenDeviceByVIDPID(), 1);
    EXPECT_EQ(ReadSettingInt(-1, "PortNo"), -1);
}

// ---- production-line open by position ---------------------------------------------------------

TEST_F(DevFlowTest, OpenByPositionRecordsThatDevice) {
    Start({ChipIni("1", 0x7050), ChipIni("2", 0x7101, 0x0102, "KSC7042")});

    ASSERT_EQ(m_flow->DEV_OpenDeviceByICIni(1), 1);

    EXPECT_EQ(OpenPort(), 2u);
    EXPECT_EQ(m_main.port, 2);
    EXPECT_EQ(m_flow->m_strDevIdentity, Identity(0x7101, 0x0102));
    // KSC7042: chip ID 0xF011.
    EXPECT_EQ(m_flow->m_byChipId1, 0x10);
    EXPECT_EQ(m_flow->m_byChipId2, 0xF0);
    EXPECT_EQ(m_main.posts, (std::vector<Post>{{0x41F, 0, 0}}));
    // A device is open: the next call keeps it.
    EXPECT_EQ(m_flow->DEV_OpenDeviceByICIni(0), 1);
    EXPECT_EQ(OpenPort(), 2u);
}

TEST_F(DevFlowTest, OpenByPositionPastTheListFails) {
    Start({ChipIni("1", 0x7050)});
    const std::uint64_t before = m_clock.SleptMs();
    EXPECT_EQ(m_flow->DEV_OpenDeviceByICIni(3), 0);
    EXPECT_EQ(m_main.posts, (std::vector<Post>{{0x418, 41511, 0}}));
    EXPECT_EQ(g_ErrCode, 41511);
    EXPECT_GE(m_clock.SleptMs() - before, 128u);
}

// ---- the main window's default device ---------------------------------------------------------

TEST_F(DevFlowTest, WithoutChecksTheFirstDeviceIsChosenEvenUnlisted) {
    Start({ChipIni("1", 0x7101), ChipIni("2", 0x7050)});

    EXPECT_EQ(m_flow->DEV_GetDefaultDeviceForAllInOne(), 1);

    EXPECT_EQ(m_main.items, std::vector<std::string>{Identity(0x7050)});
    EXPECT_EQ(m_flow->m_nSelOrdinal, 0);
    EXPECT_EQ(m_flow->m_nSelEntry, -1);
    EXPECT_EQ(m_main.selected, -1);
    EXPECT_EQ(m_main.identity, "");
    EXPECT_EQ(m_main.port, 1);
    EXPECT_EQ(m_main.posts.back(), (Post{0x418, 41906, 0}));
    EXPECT_EQ(g_ErrCode, 41906);
    // Taken up: the built-in image named for the device's VID and PID.
    EXPECT_EQ(m_flow->m_ImageRecord.m_image, BuiltInImage(3021));
    // The list operations leave no device open.
    EXPECT_EQ(m_flow->m_hDevice, 0u);
    EXPECT_EQ(DA_GetDeviceNode(), 0u);
}

TEST_F(DevFlowTest, BuiltinListCheckChoosesTheListedDevice) {
    Start({ChipIni("1", 0x7101), ChipIni("2", 0x7050), ChipIni("3", 0x7040)});
    SetSetting("CheckVIDPID_INI", 1);

    EXPECT_EQ(m_flow->DEV_GetDefaultDeviceForAllInOne(), 1);

    EXPECT_EQ(m_main.items, (std::vector<std::string>{Identity(0x7050), Identity(0x7040)}));
    EXPECT_EQ(m_flow->m_nSelOrdinal, 1);
    EXPECT_EQ(m_flow->m_nSelEntry, 0);
    EXPECT_EQ(m_main.selected, 0);
    EXPECT_EQ(m_main.identity, Identity(0x7050));
    EXPECT_EQ(m_main.port, 2);
    EXPECT_EQ(m_flow->m_nListCheck, 1);
    EXPECT_EQ(Words(0x418), std::vector<std::uintptr_t>{41906});
    // The flow describes the chosen device, not the last one looked at.
    EXPECT_EQ(m_flow->m_wPid, 0x7050);
    EXPECT_EQ(m_flow->m_strDevIdentity, Identity(0x7050));
    EXPECT_EQ(m_flow->m_dwPort, 2u);
    // No FFU_1209_7050 image exists: the KSC7050 description's default image is taken up.
    EXPECT_EQ(m_flow->m_ImageRecord.m_image, BuiltInImage(3023));
}

TEST_F(DevFlowTest, ListFileCheckNeedsTheExactRevision) {
    Start({ChipIni("1", 0x7050, 0x0100), ChipIni("2", 0x7040, 0x0101)});
    SetSetting("CheckVIDPID_INI", 2);
    WriteListFile("VID_1209&PID_7050&REV_0101\r\n  " + Identity(0x7040, 0x0101) + "  \r\n");

    EXPECT_EQ(m_flow->DEV_GetDefaultDeviceForAllInOne(), 1);

    EXPECT_EQ(m_flow->m_nSelOrdinal, 1);
    EXPECT_EQ(m_flow->m_nSelEntry, 1);
    EXPECT_EQ(m_main.identity, Identity(0x7040, 0x0101));
    EXPECT_EQ(m_main.port, 2);
    EXPECT_TRUE(m_boxes.texts.empty());
}

TEST_F(DevFlowTest, MissingListFileAcceptsNothing) {
    Start({ChipIni("1", 0x7050)});
    SetSetting("CheckVIDPID_INI", 2);

    EXPECT_EQ(m_flow->DEV_GetDefaultDeviceForAllInOne(), 0);

    EXPECT_EQ(m_boxes.texts,
              std::vector<std::string>{m_flow->VidPidListFile() + " does not exist"});
    EXPECT_EQ(m_flow->m_nListCheck, 0);
    EXPECT_EQ(m_flow->m_nSelOrdinal, -1);
    EXPECT_EQ(Words(0x418), std::vector<std::uintptr_t>{41511});
    EXPECT_EQ(g_ErrCode, 41511);
}

TEST_F(DevFlowTest, ImageCheckChoosesTheDeviceOfTheImagesVidPid) {
    Start({ChipIni("1", 0x7050), ChipIni("2", 0x7040, 0x0100, "KSC7040")});
    SetSetting("CheckVIDPID_BIN", 1);
    // The loaded firmware image is the KSC7040 one (VID 0x1209, PID 0x7040).
    m_flow->m_ImageRecord.m_image = BuiltInImage(3018);
    ASSERT_EQ(m_flow->OpPrepare(m_flow->m_ImageRecord.m_image), 1);
    ASSERT_EQ(m_flow->ImageVidPidText(), "VID_1209&PID_7040");

    EXPECT_EQ(m_flow->DEV_GetDefaultDeviceForAllInOne(), 1);

    EXPECT_EQ(m_flow->m_nSelOrdinal, 1);
    EXPECT_EQ(m_main.identity, Identity(0x7040));
    EXPECT_EQ(m_main.port, 2);
}

TEST_F(DevFlowTest, AutoRunEventIsClearedFirstAndSetLast) {
    Start({ChipIni("1", 0x7050)});
    SetSetting("AutoRun", 1);
    EXPECT_EQ(m_flow->DEV_GetDefaultDeviceForAllInOne(), 1);
    EXPECT_EQ(m_main.events, (std::vector<std::string>{"reset", "set"}));

    SetSetting("AutoRun", 0);
    m_main.events.clear();
    m_flow->DEV_GetDefaultDeviceForAllInOne();
    EXPECT_TRUE(m_main.events.empty());
}

TEST_F(DevFlowTest, NoDeviceForTheWindowIsDetectFail) {
    Start({"[chip]\nattached = 0\n"});
    EXPECT_EQ(m_flow->DEV_GetDefaultDeviceForAllInOne(), 0);
    EXPECT_EQ(m_main.posts, (std::vector<Post>{{0x418, 41511, 0}}));
    EXPECT_EQ(g_ErrCode, 41511);
}

// ---- refreshing the list --------------------------------------------------------------------

TEST_F(DevFlowTest, RefreshKeepsTheDeviceOnTheRememberedPort) {
    Start({ChipIni("1", 0x7050), ChipIni("2", 0x7040)});
    SetSetting("CheckVIDPID_INI", 1);
    ASSERT_EQ(m_flow->DEV_GetDefaultDeviceForAllInOne(), 1);
    ASSERT_EQ(m_main.port, 1);
    // The operator moves to the device on port 2 (the window stores its pair).
    m_main.port = 2;
    m_main.posts.clear();

    EXPECT_EQ(m_flow->DEV_GetDeviceListForAllInOne(1), 1);

    EXPECT_EQ(m_main.items, (std::vector<std::string>{Identity(0x7050), Identity(0x7040)}));
    EXPECT_EQ(m_flow->m_nSelOrdinal, 1);
    EXPECT_EQ(m_flow->m_nSelEntry, 1);
    EXPECT_EQ(m_main.selected, 1);
    EXPECT_EQ(m_main.identity, Identity(0x7040));
    EXPECT_EQ(m_main.posts, (std::vector<Post>{{0x418, 41906, 1}}));
    EXPECT_EQ(g_ErrCode, 41906);
    EXPECT_EQ(m_flow->m_ImageRecord.m_image, BuiltInImage(3023));
    EXPECT_EQ(DA_GetDeviceNode(), 0u);
}

TEST_F(DevFlowTest, RefreshWithoutTheRememberedDeviceFallsBackToTheDefaultRules) {
    Start({ChipIni("1", 0x7101), ChipIni("2", 0x7050), ChipIni("3", 0x7040)});
    SetSetting("CheckVIDPID_INI", 1);
    m_main.port = 9;  // a port no device is on

    EXPECT_EQ(m_flow->DEV_GetDeviceListForAllInOne(0), 1);

    // Every listed device shows once and the stored pair is the chosen device's, not the last
    // device's that was looked at.
    EXPECT_EQ(m_main.items, (std::vector<std::string>{Identity(0x7050), Identity(0x7040)}));
    EXPECT_EQ(m_flow->m_nSelOrdinal, 1);
    EXPECT_EQ(m_main.port, 2);
    EXPECT_EQ(m_main.identity, Identity(0x7050));
    EXPECT_EQ(m_main.posts.back(), (Post{0x418, 41906, 0}));
    EXPECT_EQ(m_flow->m_strDevIdentity, Identity(0x7050));
}

TEST_F(DevFlowTest, RefreshWithAnEmptyListIsDetectFail) {
    // Chosen without checks, but no device the list box may show.
    Start({ChipIni("1", 0x7101)});
    m_main.port = 9;
    EXPECT_EQ(m_flow->DEV_GetDeviceListForAllInOne(1), 0);
    EXPECT_TRUE(m_main.items.empty());
    EXPECT_EQ(m_main.posts.back(), (Post{0x418, 41511, 1}));
    EXPECT_EQ(g_ErrCode, 41511);
}

TEST_F(DevFlowTest, RefreshSetsTheAutoRunEventForEveryDeviceOfTheFirstPass) {
    Start({ChipIni("1", 0x7050), ChipIni("2", 0x7040)});
    SetSetting("AutoRun", 1);
    m_main.port = 2;
    EXPECT_EQ(m_flow->DEV_GetDeviceListForAllInOne(0), 1);
    EXPECT_EQ(m_main.events, (std::vector<std::string>{"reset", "set", "set"}));
}

// ---- the chosen device again ---------------------------------------------------------------

TEST_F(DevFlowTest, AfterResetFindsOnlyTheExactIdentity) {
    Start({ChipIni("1", 0x7050), ChipIni("2", 0x7040, 0x0101)});
    SetSetting("CheckVIDPID_INI", 1);
    ASSERT_EQ(m_flow->DEV_GetDefaultDeviceForAllInOne(), 1);
    ASSERT_EQ(m_flow->m_nSelOrdinal, 0);

    // The operator chose the second entry.
    m_main.identity = Identity(0x7040, 0x0101);
    m_main.posts.clear();
    EXPECT_EQ(m_flow->DEV_GetDeviceListAfterReset(), 1);
    EXPECT_EQ(m_flow->m_nSelOrdinal, 1);
    EXPECT_EQ(m_main.port, 2);
    EXPECT_EQ(m_main.posts, (std::vector<Post>{{0x418, 41906, 0}}));
    EXPECT_EQ(g_ErrCode, 41906);
    EXPECT_EQ(DA_GetDeviceNode(), 0u);

    // The same device with another REV is not the chosen one.
    m_main.identity = Identity(0x7040, 0x0100);
    m_main.posts.clear();
    EXPECT_EQ(m_flow->DEV_GetDeviceListAfterReset(), 0);
    EXPECT_EQ(m_main.posts, (std::vector<Post>{{0x418, 41511, 0}}));
    EXPECT_EQ(g_ErrCode, 41511);
}

TEST_F(DevFlowTest, AfterResetWithoutAChoiceIsDetectFail) {
    Start({ChipIni("1", 0x7050)});
    m_main.identity = Identity(0x7050);
    EXPECT_EQ(m_flow->DEV_GetDeviceListAfterReset(), 0);
    EXPECT_EQ(m_main.posts, (std::vector<Post>{{0x418, 41511, 0}}));
}

TEST_F(DevFlowTest, ReopenForDownloadFindsTheRememberedPort) {
    Start({ChipIni("1", 0x7101), ChipIni("2", 0x7050), ChipIni("3", 0x7040)});
    SetSetting("CheckVIDPID_INI", 1);
    ASSERT_EQ(m_flow->DEV_GetDefaultDeviceForAllInOne(), 1);
    ASSERT_EQ(m_main.port, 2);
    m_main.posts.clear();

    ASSERT_EQ(m_flow->Dev_OpenDeviceForMultiCamera(), 1);
    EXPECT_NE(m_flow->m_hDevice, 0u);
    EXPECT_EQ(OpenPort(), 2u);
    EXPECT_EQ(m_flow->m_wPid, 0x7050);
    EXPECT_TRUE(m_main.posts.empty());

    // With the device gone nothing stays open.
    m_flow->DEV_CloseDevice();
    Chip(1).Unplug();
    EXPECT_EQ(m_flow->Dev_OpenDeviceForMultiCamera(), 0);
    EXPECT_EQ(m_flow->m_hDevice, 0u);
    EXPECT_EQ(DA_GetDeviceNode(), 0u);
}

TEST_F(DevFlowTest, ReopenWithoutAChoiceIsDetectFail) {
    Start({ChipIni("1", 0x7050)});
    EXPECT_EQ(m_flow->Dev_OpenDeviceForMultiCamera(), 0);
    EXPECT_EQ(m_main.posts, (std::vector<Post>{{0x418, 41511, 0}}));
    EXPECT_EQ(DA_GetDeviceNode(), 0u);
}

TEST_F(DevFlowTest, CloseAndReadDeviceInfo) {
    Start({ChipIni("1", 0x7050)});
    ASSERT_EQ(m_flow->DEV_OpenDeviceByICIni(0), 1);
    g_ErrCode = 41511;
    EXPECT_EQ(m_flow->DEV_ReadDeviceInfo(), 1);
    EXPECT_EQ(m_main.posts.back(), (Post{0x418, 0, 0}));
    EXPECT_EQ(g_ErrCode, 0);
    EXPECT_EQ(m_flow->m_strConnection, "USB Audio Connected");
    EXPECT_EQ(m_flow->m_strListIdentity, Identity(0x7050));

    EXPECT_EQ(m_flow->DEV_CloseDevice(), 1);
    EXPECT_EQ(m_flow->m_hDevice, 0u);
    EXPECT_EQ(DA_GetDeviceNode(), 0u);
}

// ---- taking a device up ------------------------------------------------------------------------

struct TakeUpCase {
    const char* name;
    const char* type;
    std::uint16_t pid;
    std::int32_t imageId;       // the built-in image taken up
    std::size_t versionOffset;  // where its version bytes lie
    std::uint8_t chipCode;      // of the description that identifies the chip
};
void PrintTo(const TakeUpCase& c, std::ostream* os) {
    *os << c.name;
}

class DevFlowTakeUp : public DevFlowTest, public ::testing::WithParamInterface<TakeUpCase> {};

TEST_P(DevFlowTakeUp, TakesUpTheImageAndItsVersion) {
    const TakeUpCase& c = GetParam();
    Start({ChipIni("1", c.pid, 0x0100, c.type)});
    ASSERT_EQ(m_flow->DEV_OpenDeviceByICIni(0), 1);
    g_pICTypeIni->SetSelectedIniName("stale");

    EXPECT_EQ(m_flow->DEV_TakeUpDevice(), 1);

    const std::vector<std::uint8_t> expected = BuiltInImage(c.imageId);
    ASSERT_GE(expected.size(), c.versionOffset + 8);
    EXPECT_EQ(m_flow->m_ImageRecord.m_image, expected);
    EXPECT_TRUE(m_flow->m_ImageRecord.m_secondary.empty());
    EXPECT_EQ(g_dwReadLength, expected.size());
    const std::uint8_t* b = expected.data() + c.versionOffset;
    const FirmwareVersionParts parts{
        {static_cast<std::uint16_t>(b[0] >> 4), static_cast<std::uint16_t>(b[0] & 0xF), b[1],
         static_cast<std::uint16_t>(b[2] << 8 | b[3]), static_cast<std::uint16_t>(b[4] << 8 | b[5]),
         static_cast<std::uint16_t>(b[6] << 8 | b[7])}};
    EXPECT_EQ(m_flow->m_imageVersion, parts);
    char text[64];
    std::snprintf(text, sizeof(text), "Update FW version:%01X.%01X%02X.%04X-%04X.%04X", b[0] >> 4,
                  b[0] & 0xF, b[1], b[2] << 8 | b[3], b[4] << 8 | b[5], b[6] << 8 | b[7]);
    EXPECT_EQ(m_flow->m_strUpdateFwVersion, text);
    // The version bytes are those the image table gives the image.
    const uafw::BuiltInImageEntry* entry = uafw::FindBuiltInImage(c.imageId);
    ASSERT_NE(entry, nullptr);
    EXPECT_TRUE(std::equal(entry->version.begin(), entry->version.end(), b));

    // A fresh catalogue identified the chip.
    EXPECT_EQ(g_pICTypeIni->SelectedIniName(), "KSC7040.INI");
    EXPECT_EQ(g_pICTypeIni->ChipCode(), c.chipCode);
    // The device-list refresh ran on the open device.
    EXPECT_EQ(m_flow->m_strListIdentity, Identity(c.pid));
    // The image's configuration area was read (its chip code is the image's).
    EXPECT_EQ(m_flow->PreparedImageChipCode(), entry->chipCode);
}

INSTANTIATE_TEST_SUITE_P(Images, DevFlowTakeUp,
                         ::testing::Values(
                             // FFU_1209_7101: named for the device.
                             TakeUpCase{"DeviceImage", "KSC7050", 0x7101, 3021, 0x100C, 25},
                             // FFU_1209_7132 is 65,533 bytes long: its version is read at 0x11B.
                             TakeUpCase{"ShortDeviceImage", "KSC7050", 0x7132, 3086, 0x11B, 25},
                             // No image named for the device: the description's default.
                             TakeUpCase{"Default7050", "KSC7050", 0x7050, 3023, 0x100C, 25},
                             TakeUpCase{"Default7042", "KSC7042", 0x7042, 3020, 0x100C, 24},
                             TakeUpCase{"Default7080", "KSC7080", 0x7080, 3046, 0x100C, 26}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(DevFlowTest, TakeUpAppliesTheResetSettings) {
    Start({ChipIni("1", 0x7050)});
    SetSetting("Normal Reset", 0);
    ASSERT_EQ(m_flow->DEV_OpenDeviceByICIni(0), 1);
    g_dwDownloadOption = 0;
    m_flow->DEV_TakeUpDevice();
    EXPECT_EQ(g_dwDownloadOption, 0x17u);
    EXPECT_EQ(m_flow->m_byResetMode, 5);
}

struct VersionCase {
    const char* name;
    std::size_t length;
    const char* text;  // expected image-version text, empty for none
};
void PrintTo(const VersionCase& c, std::ostream* os) {
    *os << c.name;
}

class DevFlowImageVersion : public DevFlowTest,
                            public ::testing::WithParamInterface<VersionCase> {};

TEST_P(DevFlowImageVersion, ReadsTheVersionBytesWhereTheImageLengthPutsThem) {
    const VersionCase& c = GetParam();
    std::vector<std::uint8_t> image(c.length, 0xFF);
    // Different bytes at both places, so that reading the wrong one shows.
    const std::uint8_t atShort[8] = {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF0};
    const std::uint8_t atLong[8] = {0x21, 0x43, 0x65, 0x87, 0xA9, 0xCB, 0xED, 0x0F};
    if (image.size() >= 0x11B + 8)
        std::copy(std::begin(atShort), std::end(atShort), image.begin() + 0x11B);
    if (image.size() >= 0x100C + 8)
        std::copy(std::begin(atLong), std::end(atLong), image.begin() + 0x100C);
    m_flow->m_ImageRecord.m_image = image;
    m_flow->m_strUpdateFwVersion = "old";

    m_flow->RecordImageVersion();

    EXPECT_EQ(m_flow->m_strUpdateFwVersion, c.text);
}

INSTANTIATE_TEST_SUITE_P(
    Lengths, DevFlowImageVersion,
    ::testing::Values(
        VersionCase{"Short", 0xFFFF, "Update FW version:1.234.5678-9ABC.DEF0"},
        VersionCase{"Long", 0x10000, "Update FW version:2.143.6587-A9CB.ED0F"},
        // Too short for the eight bytes: no version rather than a read past the image.
        VersionCase{"TooShort", 0x11B + 7, ""}, VersionCase{"Empty", 0, ""}),
    [](const auto& info) { return std::string(info.param.name); });

struct IdentifyCase {
    const char* name;
    std::uint8_t id1;
    std::uint8_t id2;
    std::int32_t imageId;  // 0: no image loaded
    int result;
    std::uint8_t chipCode;  // of the selected description (0 when none matched)
};
void PrintTo(const IdentifyCase& c, std::ostream* os) {
    *os << c.name;
}

class DevFlowIdentify : public DevFlowTest, public ::testing::WithParamInterface<IdentifyCase> {};

TEST_P(DevFlowIdentify, SelectsTheDescriptionAndComparesTheImage) {
    const IdentifyCase& c = GetParam();
    Start({ChipIni("1", 0x7050)});
    m_flow->m_ImageRecord.m_strImageFile = "fw.bin";
    if (c.imageId != 0)
        m_flow->m_ImageRecord.m_image = BuiltInImage(c.imageId);

    EXPECT_EQ(m_flow->DEV_IdentifyChip(c.id1, c.id2), c.result);

    EXPECT_EQ(g_pICTypeIni->ChipCode(), c.chipCode);
    const bool identified = c.chipCode != 0;
    EXPECT_EQ(m_flow->m_ImageRecord.m_strImageFile, identified && c.imageId == 0 ? "" : "fw.bin");
}

INSTANTIATE_TEST_SUITE_P(Chips, DevFlowIdentify,
                         ::testing::Values(IdentifyCase{"SameChipCode", 0x10, 0xD0, 3023, 1, 25},
                                           IdentifyCase{"OtherChipCode", 0x10, 0xD0, 3018, 0, 25},
                                           // 2032's second register section.
                                           IdentifyCase{"SecondRegisterSection", 0x10, 0xC0, 3020,
                                                        1, 24},
                                           IdentifyCase{"NoImage", 0x10, 0xB0, 0, 0, 21},
                                           IdentifyCase{"UnknownChip", 0x20, 0x30, 3023, 0, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

struct ChipCodePairCase {
    int imageCode;
    int descriptionCode;
    int result;
};
void PrintTo(const ChipCodePairCase& c, std::ostream* os) {
    *os << c.imageCode << "-" << c.descriptionCode;
}

// Descriptions on disk ("Ini Type" 1) carry chip codes the built-in ones have not.
class DevFlowChipCodePair : public DevFlowTest,
                            public ::testing::WithParamInterface<ChipCodePairCase> {
protected:
    void SetUp() override {
        DevFlowTest::SetUp();
        m_savedDir = std::filesystem::current_path();
        m_savedIniType = g_nIniType;
    }
    void TearDown() override {
        std::filesystem::current_path(m_savedDir);
        g_nIniType = m_savedIniType;
        DevFlowTest::TearDown();
    }
    std::filesystem::path m_savedDir;
    std::int32_t m_savedIniType = 0;
    TempDir m_iniDir;
};

TEST_P(DevFlowChipCodePair, CodesEightAndNineNameOneChip) {
    const ChipCodePairCase& c = GetParam();
    Start({ChipIni("1", 0x7050)});
    std::ofstream(m_iniDir.path + "/TEST.INI")
        << uafw::flowtest::DescriptionText(0xD011, c.descriptionCode);
    std::filesystem::current_path(m_iniDir.path);
    g_nIniType = 1;
    std::vector<std::uint8_t> image = BuiltInImage(3023);
    ASSERT_GT(image.size(), 0xF002u);
    image[0xF002] = static_cast<std::uint8_t>((c.imageCode << 3) | (image[0xF002] & 0x07));
    m_flow->m_ImageRecord.m_image = image;

    EXPECT_EQ(m_flow->DEV_IdentifyChip(0x10, 0xD0), c.result);
    EXPECT_EQ(g_pICTypeIni->ChipCode(), c.descriptionCode);
    EXPECT_EQ(m_flow->PreparedImageChipCode(), c.imageCode);
}

INSTANTIATE_TEST_SUITE_P(Codes, DevFlowChipCodePair,
                         ::testing::Values(ChipCodePairCase{8, 9, 1}, ChipCodePairCase{9, 8, 1},
                                           ChipCodePairCase{9, 9, 1}, ChipCodePairCase{8, 10, 0},
                                           ChipCodePairCase{25, 9, 0}),
                         [](const auto& info) {
                             return "Image" + std::to_string(info.param.imageCode) + "Description" +
                                    std::to_string(info.param.descriptionCode);
                         });

struct ResetSettingsCase {
    const char* name;
    int resetToCache;  // -1: not set
    int normalReset;
    std::uint32_t option;
    std::uint8_t mode;
};
void PrintTo(const ResetSettingsCase& c, std::ostream* os) {
    *os << c.name;
}

class DevFlowResetSettings : public DevFlowTest,
                             public ::testing::WithParamInterface<ResetSettingsCase> {};

TEST_P(DevFlowResetSettings, ChooseOptionFlagsAndResetMode) {
    const ResetSettingsCase& c = GetParam();
    if (c.resetToCache >= 0)
        SetSetting("ResetToCache", c.resetToCache);
    if (c.normalReset >= 0)
        SetSetting("Normal Reset", c.normalReset);
    g_dwDownloadOption = 0xFF;
    m_flow->m_byResetMode = 0;
    EXPECT_EQ(m_flow->DEV_ApplyResetSettings(), 1);
    EXPECT_EQ(g_dwDownloadOption, c.option);
    EXPECT_EQ(m_flow->m_byResetMode, c.mode);
}

INSTANTIATE_TEST_SUITE_P(Settings, DevFlowResetSettings,
                         ::testing::Values(ResetSettingsCase{"Defaults", -1, -1, 0x13, 6},
                                           ResetSettingsCase{"NoRestart", 0, 1, 0x12, 6},
                                           ResetSettingsCase{"OtherReset", 1, 0, 0x17, 5},
                                           ResetSettingsCase{"Both", 0, 0, 0x16, 5}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
