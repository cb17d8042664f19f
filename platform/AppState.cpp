#include "platform/AppState.h"

std::int32_t g_bCmdLineMode = 0;
std::int32_t g_nIniType = 0;
std::atomic<std::int32_t> g_nProjectType{kProjectFlash};
std::atomic<std::int32_t> g_nBusType{kBusUsb};
