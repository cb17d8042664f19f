#pragma once
// A virtual chip's state directory: chip.ini describes the chip and the faults of the run;
// spi.bin, eeprom.bin and otp.bin hold its memories, created erased when missing and written
// through on every change, so that one process can program the chip and the next verify it.
#include <memory>
#include <string>

#include "sim/VirtualChip.h"

namespace uafw::sim {

// Built-in firmware image the default chip's flash holds when it is created.
inline constexpr int kDefaultImageResource = 3023;

// Loads (creating the directory and missing memory files) the chip of `dir`. A missing chip.ini,
// or one that sets no key, gives a KSC7050 (VID 0x1209, PID 0x7050, REV 0x0100) whose new flash
// holds the built-in default image when the program carries it; "new_flash" chooses that for any
// chip. Null with a message on any error.
std::unique_ptr<VirtualChip> LoadChipStateDir(const std::string& dir, std::string& error);

}  // namespace uafw::sim
