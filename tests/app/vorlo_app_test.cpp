#include "app/VorloApp.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/ParseArg.h"
#include "config/ICTypeIni.h"
#include "config/IniFile.h"
#include "config/Settings.h"
#include "platform/AppState.h"
#include "platform/OsInfo.h"
#include "platform/Resources.h"
#include "platform/UiLink.h"

namespace {

// ---- run-mode decision ----------------------------------------------------------------------

struct ModeCase {
    std::vector<std::string> args;
    bool commandLine;
};

class RunMode : public ::testing::TestWithParam<ModeCase> {};

TEST_P(RunMode, DialogOnlyWithoutArgumentsOrForceRestart) {
    std::vector<std::string> argv{"uafwtool"};
    argv.insert(argv.end(), GetParam().args.begin(), GetParam().args.end());
    EXPECT_EQ(CVorloApp::IsCommandLineRun(argv), GetParam().commandLine);
}

INSTANTIATE_TEST_SUITE_P(Cases, RunMode,
                         ::testing::Values(ModeCase{{}, false}, ModeCase{{"/forcerestart"}, false},
                                           ModeCase{{"/FORCERESTART"}, false},
                                           ModeCase{{"/ForceRestart"}, false},
                                           ModeCase{{"-x"}, true}, ModeCase{{"-f", "-erase"}, true},
                                           ModeCase{{"/forcerestart", "-f"}, true},
                                           ModeCase{{"/forcerestartx"}, true},
                                           ModeCase{{"forcerestart"}, true}));

// ---- settings store -------------------------------------------------------------------------

class SettingsStore : public ::testing::Test {
protected:
    void SetUp() override {
        m_previous = g_pSettings;
        g_pSettings = &m_settings;
    }
    void TearDown() override { g_pSettings = m_previous; }
    CIniFile m_settings;
    CIniFile* m_previous = nullptr;
};

TEST_F(SettingsStore, BuiltInTextGivesItsKeysAndLeavesTheRestToTheReaders) {
    const std::string text(uafw::ResourceText("ICINI", 3032));
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(text.rfind("[Vorlo Config]\r\nCheckVIDPID_INI=1\r\nAutoRun=0\r\nCompanyName=\"", 0),
              0u);
    EXPECT_NE(text.back(), '\n');
    ASSERT_TRUE(m_settings.LoadFromText(text));
    EXPECT_EQ(ReadSettingInt(0, "CheckVIDPID_INI"), 1);
    EXPECT_EQ(ReadSettingInt(7, "AutoRun"), 0);
    EXPECT_EQ(ReadSettingInt(5000, "Wait Time"), 5000);
    EXPECT_EQ(ReadSettingInt(10000, "EraseTimeOut"), 10000);
    EXPECT_EQ(ReadSettingInt(1, "ResetToCache"), 1);
    EXPECT_EQ(ReadSettingInt(1, "Normal Reset"), 1);
    EXPECT_EQ(ReadSettingInt(0, "Debug Log"), 0);
    EXPECT_EQ(ReadSettingInt(-3, "LogType"), -3);
    EXPECT_EQ(ReadSettingText("OTP Password"), "");
}

struct IntCase {
    const char* value;
    std::int32_t expected;
};

class SettingsIntegers : public SettingsStore, public ::testing::WithParamInterface<IntCase> {};

TEST_P(SettingsIntegers, ConvertWithAutomaticBase) {
    ASSERT_TRUE(
        m_settings.LoadFromText(std::string("[Vorlo Config]\r\nWait Time=") + GetParam().value));
    EXPECT_EQ(ReadSettingInt(5000, "Wait Time"), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, SettingsIntegers,
                         ::testing::Values(IntCase{"0x10", 16}, IntCase{"0X1f", 31},
                                           IntCase{"010", 8}, IntCase{"12ab", 12},
                                           IntCase{"abc", 0}, IntCase{"", 0},
                                           IntCase{"4294967295", -1}, IntCase{"019", 1}));

TEST_F(SettingsStore, WrittenIntegersStayInMemory) {
    WriteSettingInt(42, "PortNo");
    EXPECT_EQ(ReadSettingInt(0, "PortNo"), 42);
    EXPECT_EQ(m_settings.GetString("Vorlo Config", "PortNo", ""), "42");
}

// ---- posting to the window ------------------------------------------------------------------

class FakeWindow : public CMainWindowLink {
public:
    int PostMessage(std::uint32_t message, std::uintptr_t wParam, std::intptr_t) override {
        posted.emplace_back(message, wParam);
        return 1;
    }
    void SetDeviceInfo(std::int32_t port, std::int32_t hub) override {
        this->port = port;
        this->hub = hub;
    }
    std::vector<std::pair<std::uint32_t, std::uintptr_t>> posted;
    std::int32_t port = 0;
    std::int32_t hub = 0;
};

struct PostCase {
    std::uint32_t message;
    std::uintptr_t wParam;
    std::int32_t before;
    std::int32_t after;
};

class PostUIMessageCode : public ::testing::TestWithParam<PostCase> {
protected:
    void TearDown() override { g_ErrCode = 0; }
};

TEST_P(PostUIMessageCode, RecordsTheIdUnlessSuccessOr0x412) {
    const PostCase& c = GetParam();
    g_ErrCode = c.before;
    EXPECT_EQ(PostUIMessage(c.message, c.wParam, 0), 0);  // no window: nothing posted
    EXPECT_EQ(g_ErrCode, c.after);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PostUIMessageCode,
    ::testing::Values(PostCase{0x414, 41706, 0, 41706}, PostCase{0x414, 41512, 41706, 41512},
                      PostCase{0x416, 41751, 41706, 0}, PostCase{0x416, 41755, 41706, 0},
                      PostCase{0x416, 41851, 1, 0}, PostCase{0x416, 41854, 1, 0},
                      PostCase{0x416, 41910, 1, 0}, PostCase{0x416, 41913, 1, 0},
                      PostCase{0x416, 41931, 1, 0},
                      // Not a success id: the device-state report keeps the code non-zero.
                      PostCase{0x418, 41906, 0, 41906}, PostCase{0x416, 41752, 0, 41752},
                      // 0x412 never touches the code.
                      PostCase{0x412, 41755, 41706, 41706}, PostCase{0x412, 0, 41706, 41706},
                      PostCase{0x413, 100, 0, 100}));

TEST(PostUIMessageWindow, PostsToTheWindowWhenOneExists) {
    FakeWindow window;
    g_pMainDlg = &window;
    EXPECT_EQ(PostUIMessage(0x416, 41755, 0), 1);
    EXPECT_EQ(PostUIMessage(0x412, 7, 0), 1);
    SetUIDeviceInfo(2, 5);
    g_pMainDlg = nullptr;
    ASSERT_EQ(window.posted.size(), 2u);
    EXPECT_EQ(window.posted[0].first, 0x416u);
    EXPECT_EQ(window.posted[1].second, 7u);
    EXPECT_EQ(window.port, 2);
    EXPECT_EQ(window.hub, 5);
    EXPECT_EQ(g_ErrCode, 0);
}

// ---- start-up and shut-down ----------------------------------------------------------------

TEST(StartUp, DialogRunCreatesAndReleasesTheProcessObjects) {
    g_ErrCode = 0;
    CVorloApp app;
    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(app.InitInstance({"uafwtool"}));
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "uafwtool: the main window is not available in this build yet\n");
    EXPECT_EQ(app.DefaultSettingsText(), std::string(uafw::ResourceText("ICINI", 3032)));
    ASSERT_NE(g_pSettings, nullptr);
    EXPECT_EQ(ReadSettingInt(0, "CheckVIDPID_INI"), 1);
    EXPECT_STREQ(g_szAppVersion, "3.0.24");
    EXPECT_EQ(g_bCmdLineMode, 0);
    ASSERT_NE(g_pICTypeIni, nullptr);
    EXPECT_GT(g_pICTypeIni->IniNameCount(), 0);
    ASSERT_NE(g_pOsInfo, nullptr);
    EXPECT_GT(g_pOsInfo->m_dwMajorVersion, 0u);
    ASSERT_NE(g_pParseArg, nullptr);
    EXPECT_EQ(g_pDeviceInfoSink, g_pParseArg);

    EXPECT_EQ(app.ExitInstance(), 1);
    EXPECT_EQ(g_pSettings, nullptr);
    EXPECT_EQ(g_pICTypeIni, nullptr);
    EXPECT_EQ(g_pOsInfo, nullptr);
    EXPECT_EQ(g_pParseArg, nullptr);
    EXPECT_EQ(g_pDeviceInfoSink, nullptr);
    g_ErrCode = 0;
}

struct ExitCase {
    std::int32_t lastCode;
    int status;
};

class ExitStatus : public ::testing::TestWithParam<ExitCase> {};

TEST_P(ExitStatus, FollowsTheLastResultCode) {
    g_ErrCode = GetParam().lastCode;
    CVorloApp app;
    EXPECT_EQ(app.ExitInstance(), GetParam().status);
    EXPECT_EQ(g_ErrCode, GetParam().status);
    g_ErrCode = 0;
}

INSTANTIATE_TEST_SUITE_P(Cases, ExitStatus,
                         ::testing::Values(ExitCase{0, 0}, ExitCase{41706, 1}, ExitCase{41906, 1},
                                           ExitCase{-1, 1}, ExitCase{1, 1}));

}  // namespace
