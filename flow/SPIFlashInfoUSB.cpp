#include "flow/SPIFlashInfoUSB.h"

int CSPIFlashInfo_USB::OpEraseWithRestart(int restart) {
    if (restart)
        g_dwDownloadOption |= kOptionRestart;
    else
        g_dwDownloadOption &= ~kOptionRestart;
    return FFU_Erase();
}
