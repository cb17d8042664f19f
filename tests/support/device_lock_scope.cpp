// Every test process that reaches devices keeps its device locks to itself: the tests run side by
// side in virtual time, where a lock wait gives up at once when another process holds the lock.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "device/DeviceLocks.h"
#include "device/DriverChannel.h"
#include "device/ExtUnit.h"
#include "platform/NamedMutex.h"

namespace {

class DeviceLockScope : public ::testing::Environment {
public:
    void SetUp() override {
        m_pid = getpid();
        SetDeviceLockScope("uafwtest" + std::to_string(m_pid) + "_");
    }
    void TearDown() override {
        if (getpid() != m_pid)
            return;
        for (const char* name : {kCommandLockName, kUacSyncMutexName, kRefCountMutexName})
            uafw::NamedMutex::Remove(DeviceLockName(name));
    }

private:
    pid_t m_pid = 0;
};

[[maybe_unused]] ::testing::Environment* const g_scope =
    ::testing::AddGlobalTestEnvironment(new DeviceLockScope);

}  // namespace
