#pragma once
// Process-wide state that every layer reaches directly: the last result code, the run mode, the
// description source, and the project and bus type that choose the flow class.
#include <atomic>
#include <cstdint>

// Last result code: 0 = no failure, else a result-message id or another small code. Written by
// flows on the worker thread and read by the main thread, always as one whole 32-bit value.
extern std::atomic<std::int32_t> g_ErrCode;
// 1 while the command-line mode runs, 0 in dialog mode.
extern std::int32_t g_bCmdLineMode;
// The "Ini Type" setting: 1 takes the per-chip descriptions from "*.INI" files on disk.
extern std::int32_t g_nIniType;

// Memory kinds of the project type.
enum ProjectType : std::int32_t {
    kProjectFlash = 0,
    kProjectEeprom8 = 2,
    kProjectEeprom16 = 3,
    kProjectMtp = 4,
    kProjectOtp = 6,
};
// Buses of the bus type.
enum BusType : std::int32_t { kBusUsb = 0, kBusPcie = 1, kBusMipi = 2 };

extern std::atomic<std::int32_t> g_nProjectType;
extern std::atomic<std::int32_t> g_nBusType;
