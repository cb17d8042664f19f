#pragma once
// A umockdev testbed with the usbdevfs host and, once the devices are plugged, the libusb backend
// on top of it (libusb must start after the testbed exists).
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/usb/LibusbBackend.h"
#include "sim/umockdev/UmockdevHost.h"
#include "tests/usb_libusb/TestAudioDevice.h"

namespace uafw::test {

class UmockdevFixture : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        host_ = sim::UmockdevHost::Create(error);
        ASSERT_TRUE(host_) << error;
    }
    void TearDown() override {
        backend_.reset();
        host_.reset();
    }

    int Plug(std::shared_ptr<sim::IUsbDeviceModel> model, std::uint8_t bus,
             std::vector<std::uint8_t> ports, sim::UsbdevfsNodeOptions node = {}) {
        std::string error;
        sim::UmockdevPlug where;
        where.bus = bus;
        where.ports = std::move(ports);
        where.node = std::move(node);
        const int slot = host_->Plug(std::move(model), where, error);
        EXPECT_NE(slot, 0) << error;
        return slot;
    }

    usb::LibusbBackend& Backend() {
        if (!backend_) {
            backend_ = std::make_unique<usb::LibusbBackend>();
        }
        return *backend_;
    }

    // Polls hot-plug events until `done` holds or five seconds pass.
    bool PumpUntil(const std::function<bool()>& done) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (std::chrono::steady_clock::now() < deadline) {
            Backend().PollEvents();
            if (done()) {
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return done();
    }

    // Polls hot-plug events for `span`, so that a notification that should not come has its chance.
    void PumpFor(std::chrono::milliseconds span) {
        const auto deadline = std::chrono::steady_clock::now() + span;
        while (std::chrono::steady_clock::now() < deadline) {
            Backend().PollEvents();
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }

    std::unique_ptr<sim::UmockdevHost> host_;
    std::unique_ptr<usb::LibusbBackend> backend_;
};

}  // namespace uafw::test
