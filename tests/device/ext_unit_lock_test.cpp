// The command lock across processes: extension-unit commands of two processes never interleave,
// and a lock whose owner died makes the next command fail once without sending anything.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>

#include "device/DeviceDiscovery.h"
#include "device/DeviceLibrary.h"
#include "device/DeviceLocks.h"
#include "device/ExtUnit.h"
#include "device_fixture.h"
#include "sim_fixture.h"

namespace uafw::test {
namespace {

struct SharedLog {
    std::atomic<std::uint32_t> ready{0};
    std::atomic<std::uint32_t> next{0};
    struct Entry {
        std::uint8_t process;
        std::uint8_t commandBlock;
    } entries[4096];
};

// Runs `commands` extension-unit reads of 64 bytes (one command block and eight data pieces
// each) in a child process on the virtual chip of `stateDir`, logging every transfer; returns
// the child's pid.
pid_t RunCommandsInChild(SharedLog* log, std::uint8_t process, int commands,
                         const std::string& stateDir) {
    const pid_t pid = fork();
    if (pid != 0)
        return pid;
    int status = 0;
    {
        std::string error;
        auto sim = uafw::sim::SimBackend::FromStateDirs(stateDir, error);
        if (!sim)
            _exit(5);
        RecordingBackend backend(*sim);
        backend.SetObserver([&](const Transfer& t) {
            const std::uint32_t i = log->next.fetch_add(1);
            if (i < 4096)
                log->entries[i] = {process, static_cast<std::uint8_t>(t.IsCommandBlock())};
            usleep(200);  // widen the window another process could slip into
        });
        uafw::usb::SetCurrentUsbBackend(&backend);
        if (!DeviceLibraryStartup(0))
            _exit(2);
        DeviceRecord record;
        if (OpenListEntry(0, record) != 0)
            _exit(3);
        CExtUnit eu(record, 6);
        std::uint8_t data[64];
        log->ready.fetch_add(1);
        while (log->ready.load() < 2)
            usleep(100);
        for (int i = 0; i < commands; ++i)
            if (eu.ReadMem(0x2000, 64, data, nullptr, nullptr) != S_OK)
                status = 4;
        record.Close();
        DeviceLibraryShutdown(0);
        uafw::usb::SetCurrentUsbBackend(nullptr);
    }
    _exit(status);
}

int ExitCode(pid_t pid) {
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

TEST(ExtUnitCommandLock, TwoProcessesNeverInterleaveCommands) {
    void* memory =
        mmap(nullptr, sizeof(SharedLog), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(memory, MAP_FAILED);
    auto* log = new (memory) SharedLog();
    // Both processes work on the same chip state.
    std::string dir = (std::filesystem::temp_directory_path() / "uafw-lock-XXXXXX").string();
    ASSERT_NE(mkdtemp(dir.data()), nullptr);
    std::ofstream(dir + "/chip.ini") << "[chip]\n";
    constexpr int kCommands = 20;
    const pid_t a = RunCommandsInChild(log, 1, kCommands, dir);
    const pid_t b = RunCommandsInChild(log, 2, kCommands, dir);
    EXPECT_EQ(ExitCode(a), 0);
    EXPECT_EQ(ExitCode(b), 0);
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);

    // Each child opened its device before both started their commands.
    const std::uint32_t n = log->next.load();
    ASSERT_GE(n, 2u * kCommands * 9);
    int switches = 0;
    for (std::uint32_t i = n - 2u * kCommands * 9; i < n; i += 9) {
        ASSERT_TRUE(log->entries[i].commandBlock) << "entry " << i;
        for (std::uint32_t j = 1; j < 9; ++j) {
            ASSERT_EQ(log->entries[i + j].process, log->entries[i].process)
                << "another process's transfer inside the command at entry " << i;
            ASSERT_FALSE(log->entries[i + j].commandBlock);
        }
        if (i >= 9 && log->entries[i].process != log->entries[i - 9].process)
            ++switches;
    }
    RecordProperty("process_switches", switches);
    munmap(memory, sizeof(SharedLog));
}

class ExtUnitAbandonedLock : public DeviceFixture {};

TEST_F(ExtUnitAbandonedLock, CommandAfterADeadOwnerFailsOnceAndFreesTheLock) {
    backend.Add(FakeChip{});
    auto record = AttachRecord();
    CExtUnit eu(*record, backend.Chip().unitId);
    const pid_t child = fork();
    if (child == 0) {
        uafw::NamedMutex lock(DeviceLockName(kCommandLockName));
        _exit(lock.Wait(10000) == uafw::MutexWait::kAcquired ||
                      lock.Wait(0) == uafw::MutexWait::kAbandoned
                  ? 0
                  : 1);  // dies holding the lock
    }
    ASSERT_EQ(ExitCode(child), 0);
    Take();
    std::uint8_t data[8] = {};
    EXPECT_EQ(eu.ReadMem(0, 8, data, nullptr, nullptr), kHrLockFailed);
    EXPECT_TRUE(Take().empty());
    EXPECT_EQ(eu.ReadMem(0, 8, data, nullptr, nullptr), S_OK);
}

}  // namespace
}  // namespace uafw::test
