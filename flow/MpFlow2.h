#pragma once
// Retried single commands and the chunked whole-memory transfers with their status words, chunk
// sizes, device address rules and progress bands, among them the SPI empty check.
#include <cstdint>
#include <functional>
#include <span>

#include "flow/MpFlow.h"

class CMpFlow2 : public CMpFlow {
public:
    // A chunk command: up to 8 attempts, each after the cancel check; 1 at the first success.
    int ChunkCommand(const std::function<int()>& command);
    // An erase command: up to 3 attempts, each after the cancel check, 128 ms after a failure.
    int EraseCommand(const std::function<int()>& command);

    // The SPI empty check over the first `length` bytes of `buffer`: reads the flash (only the
    // first 4 KiB of every 16 KiB unless the chip code is 23 or 26) and compares with 0xFF.
    int MP_CheckSPIFlashEmpty(std::span<std::uint8_t> buffer, std::uint32_t length);
    // SPI write of the first `length` bytes of `data`.
    int MP_SPIWrite(std::span<const std::uint8_t> data, std::uint32_t length);
    // SPI verify read into `buffer`, which holds a copy of the reference data; chunks whose
    // reference is all 0xFF are not read unless the chip code is 23 or 26.
    int MP_SPIVerifyRead(std::span<std::uint8_t> buffer, std::uint32_t length);
    // SPI read from flash address 0.
    int MP_SPIRead(std::span<std::uint8_t> buffer, std::uint32_t length);

    // EEPROM transfers in 8-byte chunks.
    int MP_EEP16Write(std::span<const std::uint8_t> data, std::uint32_t length);
    int MP_EEP16VerifyRead(std::span<std::uint8_t> buffer, std::uint32_t length);
    int MP_EEP16Read(std::span<std::uint8_t> buffer, std::uint32_t length);
    int MP_EEP8Write(std::span<const std::uint8_t> data, std::uint32_t length);
    // Reads the first 64 bytes into `buffer` (which must hold them) and compares with 0xFF.
    int MP_EEP8CheckEmpty(std::span<std::uint8_t> buffer);
    int MP_EEP8Read(std::span<std::uint8_t> buffer, std::uint32_t length);

    // The EEPROM tag writes: status word "Write Tag", then one command.
    int MP_EEP16WriteTag();
    int MP_EEP8WriteTag();

    // Device address of the SPI chunk at offset `offset` of a transfer of `total` bytes: chip
    // code 23 adds 0x10000, chip code 26 adds the total length.
    static std::uint32_t SpiChunkAddress(std::uint8_t chipCode, std::uint32_t offset,
                                         std::uint32_t total);
};
