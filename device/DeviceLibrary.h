#pragma once
// The device library as the application starts and stops it with the setting "Lib Type".
#include <cstdint>

// Stores "Lib Type", creates the device locks and opens the device channel; false when no USB
// backend is installed. A second start-up while open only stores the new "Lib Type".
bool DeviceLibraryStartup(std::int32_t libType);
// Closes the current device, if any, and the channel.
void DeviceLibraryShutdown(std::int32_t libType);
// "Lib Type" as the device library stored it at start-up.
std::int32_t DeviceLibraryLibType();
