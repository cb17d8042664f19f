#include "platform/OsInfo.h"

#include <gtest/gtest.h>
#include <sys/utsname.h>

namespace {

struct ReleaseCase {
    const char* release;
    std::uint32_t major;
    std::uint32_t minor;
};

class KernelRelease : public ::testing::TestWithParam<ReleaseCase> {};

TEST_P(KernelRelease, GivesMajorAndMinor) {
    std::uint32_t major = 99;
    std::uint32_t minor = 99;
    COsInfo::ParseRelease(GetParam().release, major, minor);
    EXPECT_EQ(major, GetParam().major);
    EXPECT_EQ(minor, GetParam().minor);
}

INSTANTIATE_TEST_SUITE_P(Cases, KernelRelease,
                         ::testing::Values(ReleaseCase{"6.1.0-18-amd64", 6, 1},
                                           ReleaseCase{"5.15.153.1-microsoft", 5, 15},
                                           ReleaseCase{"4", 4, 0}, ReleaseCase{"", 0, 0},
                                           ReleaseCase{"x.y", 0, 0},
                                           ReleaseCase{"99999999999.2", UINT32_MAX, 2}));

TEST(OsInfo, MachineNamesOf64BitSystems) {
    for (const char* m : {"x86_64", "aarch64", "ppc64le", "s390x", "riscv64"})
        EXPECT_TRUE(COsInfo::Is64BitMachine(m)) << m;
    for (const char* m : {"i686", "armv7l", "s390", ""})
        EXPECT_FALSE(COsInfo::Is64BitMachine(m)) << m;
}

TEST(OsInfo, FillReadsTheRunningKernel) {
    struct utsname names {};
    ASSERT_EQ(::uname(&names), 0);
    std::uint32_t major = 0;
    std::uint32_t minor = 0;
    COsInfo::ParseRelease(names.release, major, minor);
    COsInfo info;
    info.Fill();
    EXPECT_EQ(info.m_dwMajorVersion, major);
    EXPECT_EQ(info.m_dwMinorVersion, minor);
    EXPECT_GT(info.m_dwMajorVersion, 0u);
    EXPECT_EQ(info.m_b64BitSystem, COsInfo::Is64BitMachine(names.machine) ? 1 : 0);
}

}  // namespace
