#pragma once
// Bringing the chip into its ROM loader before a read, erase, update or download.
#include "flow/MpFlow3.h"

class CMpFlow4 : public CMpFlow3 {
public:
    // 1 = the chip runs its ROM loader; 0 = failed, after posting failure 41512.
    int MP_OpenRomDevice();
};
