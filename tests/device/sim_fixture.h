#pragma once
// The virtual chip behind the USB seam for the device-access tests: state directories with a
// chip.ini each, the in-process backend over them behind a recorder of every transfer and open,
// a virtual clock, and the device library started on it.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "device/CurrentDevice.h"
#include "device/DeviceLibrary.h"
#include "device/DriverChannel.h"
#include "fake_chip_backend.h"
#include "platform/Clock.h"
#include "sim/SimBackend.h"

namespace uafw::test {

// Forwards to another backend and records transfers and opens.
class RecordingBackend final : public uafw::usb::IUsbBackend {
public:
    explicit RecordingBackend(uafw::usb::IUsbBackend& inner) : m_inner(inner) {}

    std::vector<uafw::usb::UsbDeviceInfo> Enumerate() override { return m_inner.Enumerate(); }
    uafw::usb::UsbHandle Open(std::uint32_t nodeId, std::uint32_t& error) override {
        const auto handle = m_inner.Open(nodeId, error);
        std::lock_guard<std::mutex> guard(m_lock);
        m_opened.push_back(nodeId);
        m_nodes[handle] = nodeId;
        return handle;
    }
    void Close(uafw::usb::UsbHandle handle) override { m_inner.Close(handle); }
    uafw::usb::UsbTransferResult ControlTransfer(uafw::usb::UsbHandle handle,
                                                 std::uint8_t bmRequestType, std::uint8_t bRequest,
                                                 std::uint16_t wValue, std::uint16_t wIndex,
                                                 std::uint8_t* buffer, std::uint16_t length,
                                                 std::uint32_t timeoutMs) override {
        Transfer t;
        t.bmRequestType = bmRequestType;
        t.bRequest = bRequest;
        t.wValue = wValue;
        t.wIndex = wIndex;
        t.wLength = length;
        if (!(bmRequestType & 0x80) && buffer)
            t.out.assign(buffer, buffer + length);
        const auto r = m_inner.ControlTransfer(handle, bmRequestType, bRequest, wValue, wIndex,
                                               buffer, length, timeoutMs);
        t.error = r.error;
        std::lock_guard<std::mutex> guard(m_lock);
        t.node = m_nodes[handle];
        if (m_observer)
            m_observer(t);
        m_transfers.push_back(std::move(t));
        return r;
    }
    bool OsIdentity(std::uint32_t nodeId, uafw::usb::UsbOsIdentity& identity) override {
        return m_inner.OsIdentity(nodeId, identity);
    }
    int SubscribeHotplug(uafw::usb::HotplugCallback callback) override {
        return m_inner.SubscribeHotplug(std::move(callback));
    }
    void UnsubscribeHotplug(int subscription) override { m_inner.UnsubscribeHotplug(subscription); }
    void PollEvents() override { m_inner.PollEvents(); }

    // Sees every transfer after it was answered.
    void SetObserver(std::function<void(const Transfer&)> observer) { m_observer = observer; }

    std::vector<Transfer> Take() {
        std::lock_guard<std::mutex> guard(m_lock);
        return std::exchange(m_transfers, {});
    }
    std::vector<std::uint32_t> Opened() {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_opened;
    }

private:
    uafw::usb::IUsbBackend& m_inner;
    std::mutex m_lock;
    std::vector<Transfer> m_transfers;
    std::vector<std::uint32_t> m_opened;
    std::map<uafw::usb::UsbHandle, std::uint32_t> m_nodes;
    std::function<void(const Transfer&)> m_observer;
};

class SimDeviceFixture : public ::testing::Test {
protected:
    void TearDown() override {
        CCurrentDevice::Instance().Close();
        DeviceLibraryShutdown(0);
        uafw::usb::SetCurrentUsbBackend(nullptr);
        m_recorder.reset();
        m_backend.reset();
        std::error_code ec;
        for (const std::string& dir : m_dirs)
            std::filesystem::remove_all(dir, ec);
    }

    // Starts the backend over one state directory per chip.ini text.
    void Start(const std::vector<std::string>& chips) {
        std::string joined;
        for (const std::string& ini : chips) {
            std::string dir = (std::filesystem::temp_directory_path() / "uafw-dev-XXXXXX").string();
            ASSERT_NE(mkdtemp(dir.data()), nullptr);
            std::ofstream(dir + "/chip.ini") << ini;
            m_dirs.push_back(dir);
            joined += (joined.empty() ? "" : ":") + dir;
        }
        std::string error;
        m_backend = uafw::sim::SimBackend::FromStateDirs(joined, error);
        ASSERT_TRUE(m_backend) << error;
        m_recorder = std::make_unique<RecordingBackend>(*m_backend);
        uafw::usb::SetCurrentUsbBackend(m_recorder.get());
        ASSERT_TRUE(DeviceLibraryStartup(0));
    }

    uafw::sim::VirtualChip& Chip(std::size_t index = 0) { return m_backend->Chip(index); }
    std::vector<Transfer> Take() { return m_recorder->Take(); }
    std::uint64_t Now() { return m_clock.NowMs(); }

    uafw::FakeClock m_clock{1000};
    uafw::ScopedClock m_useClock{m_clock};
    std::vector<std::string> m_dirs;
    std::unique_ptr<uafw::sim::SimBackend> m_backend;
    std::unique_ptr<RecordingBackend> m_recorder;
};

}  // namespace uafw::test
