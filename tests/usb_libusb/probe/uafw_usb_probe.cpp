// A libusb client for the runner test: lists the audio devices the libusb backend finds and, for
// each, reads bytes 24-31 of the status block with the vendor status request, printing
//   <location> <vid>:<pid> if<interface> <signature or error code>
// Exit status 0 when at least one device answered, else 1.
#include <cstdio>
#include <string>
#include <vector>

#include "platform/usb/LibusbBackend.h"

int main() {
    uafw::usb::LibusbBackend backend;
    if (backend.StartError() != 0) {
        std::printf("libusb did not start: %u\n", backend.StartError());
        return 1;
    }
    int answered = 0;
    for (const auto& d : backend.Enumerate()) {
        std::printf("%s %04x:%04x if%u ", d.locationPath.c_str(), d.vendorId, d.productId,
                    d.audioControlInterface);
        std::uint32_t error = 0;
        const auto handle = backend.Open(d.nodeId, error);
        if (handle == 0) {
            std::printf("open error %u\n", error);
            continue;
        }
        std::vector<std::uint8_t> block(8);
        auto r = backend.ControlTransfer(handle, 0xC0, 0x07, 3, 0, block.data(), 8, 2000);
        if (r.ok() && r.transferred == 8) {
            std::printf("%s\n", std::string(block.begin(), block.begin() + 7).c_str());
            ++answered;
        } else {
            std::printf("error %u\n", r.error);
        }
        backend.Close(handle);
    }
    return answered > 0 ? 0 : 1;
}
