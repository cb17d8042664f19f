#include "sim/UsbDescriptors.h"

#include "sim/ExtensionUnitPort.h"

namespace uafw::sim {

namespace {

void Put16(std::vector<std::uint8_t>& v, std::uint16_t x) {
    v.push_back(static_cast<std::uint8_t>(x));
    v.push_back(static_cast<std::uint8_t>(x >> 8));
}

}  // namespace

UsbDescriptors::UsbDescriptors(const ChipConfig& config)
    : m_strings{config.manufacturer, config.product, config.serial} {
    const std::uint8_t iSerial = config.serial.empty() ? 0 : 3;
    m_device = {18, 0x01, 0x00, 0x02, 0x00, 0x00, 0x00, 64};
    Put16(m_device, config.vid);
    Put16(m_device, config.pid);
    Put16(m_device, config.rev);
    m_device.insert(m_device.end(), {1, 2, iSerial, 1});

    // Class-specific AudioControl descriptors: header, input terminal, extension unit (its
    // unit id at offset 3, extension code at offset 4), output terminal.
    std::vector<std::uint8_t> cs;
    const std::vector<std::uint8_t> inputTerminal = {12,   0x24, 0x02, 1, 0x01, 0x01,
                                                     0x00, 2,    0x03, 0, 0,    0};
    std::vector<std::uint8_t> extensionUnit = {15, 0x24, 0x08, kExtensionUnitId};
    Put16(extensionUnit, config.extensionCode);
    extensionUnit.insert(extensionUnit.end(), {1, 1, 2, 0x03, 0x00, 0, 1, 0x01, 0});
    const std::vector<std::uint8_t> outputTerminal = {
        9, 0x24, 0x03, 3, 0x01, 0x03, 0, kExtensionUnitId, 0};
    const std::uint16_t csTotal = static_cast<std::uint16_t>(
        9 + inputTerminal.size() + extensionUnit.size() + outputTerminal.size());
    cs = {9, 0x24, 0x01, 0x00, 0x01};
    Put16(cs, csTotal);
    cs.insert(cs.end(), {1, 1});
    cs.insert(cs.end(), inputTerminal.begin(), inputTerminal.end());
    cs.insert(cs.end(), extensionUnit.begin(), extensionUnit.end());
    cs.insert(cs.end(), outputTerminal.begin(), outputTerminal.end());

    const std::vector<std::uint8_t> acInterface = {
        9, 0x04, kAudioControlInterface, 0, 0, 0x01, 0x01, 0x00, 0};
    const std::vector<std::uint8_t> asInterface = {9, 0x04, 1, 0, 0, 0x01, 0x02, 0x00, 0};
    const std::uint16_t total =
        static_cast<std::uint16_t>(9 + acInterface.size() + cs.size() + asInterface.size());
    m_configuration = {9, 0x02};
    Put16(m_configuration, total);
    m_configuration.insert(m_configuration.end(), {2, 1, 0, 0x80, 50});
    m_configuration.insert(m_configuration.end(), acInterface.begin(), acInterface.end());
    m_configuration.insert(m_configuration.end(), cs.begin(), cs.end());
    m_configuration.insert(m_configuration.end(), asInterface.begin(), asInterface.end());
}

std::vector<std::uint8_t> UsbDescriptors::String(std::uint8_t index) const {
    if (index == 0)
        return {4, 0x03, 0x09, 0x04};
    if (index > m_strings.size() || m_strings[index - 1].empty())
        return {};
    // UTF-8 text to UTF-16LE code units (characters outside the BMP become U+FFFD).
    const std::string& text = m_strings[index - 1];
    std::vector<std::uint16_t> units;
    for (std::size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        std::uint32_t cp = 0xFFFD;
        std::size_t n = 1;
        if (c < 0x80) {
            cp = c;
        } else if ((c & 0xE0) == 0xC0 && i + 1 < text.size()) {
            cp = ((c & 0x1Fu) << 6) | (static_cast<unsigned char>(text[i + 1]) & 0x3Fu);
            n = 2;
        } else if ((c & 0xF0) == 0xE0 && i + 2 < text.size()) {
            cp = ((c & 0x0Fu) << 12) | ((static_cast<unsigned char>(text[i + 1]) & 0x3Fu) << 6) |
                 (static_cast<unsigned char>(text[i + 2]) & 0x3Fu);
            n = 3;
        }
        units.push_back(static_cast<std::uint16_t>(cp));
        i += n;
        if (units.size() == 126)
            break;  // a string descriptor holds at most 126 code units
    }
    std::vector<std::uint8_t> d = {static_cast<std::uint8_t>(2 + 2 * units.size()), 0x03};
    for (std::uint16_t u : units)
        Put16(d, u);
    return d;
}

}  // namespace uafw::sim
