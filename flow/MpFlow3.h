#pragma once
// The flash erase with its chip-code variants and time-outs.
#include <cstdint>

#include "flow/MpFlow2.h"

class CMpFlow3 : public CMpFlow2 {
public:
    // Posts "Erasing", erases by the chip code (or always the whole chip with `skipSpecial`),
    // up to 3 attempts, waits "EraseCommandTime" and posts progress 5. 1 when erased.
    int MP_EraseSPIFlash(std::uint8_t skipSpecial, std::uint32_t blockWord);
};
