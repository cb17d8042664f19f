#include "config/BuiltInImages.h"

#include <algorithm>
#include <span>

#include "config/DescriptorKinds.h"
#include "config/DescriptorWriter.h"
#include "config/ICTypeTables.h"
#include "config/VendorIds.h"

namespace uafw {

namespace {

constexpr std::uint32_t kImageLength = 0x10000;
constexpr std::uint16_t kRevision = 0x0100;
constexpr const char* kManufacturer = "Tavenic";
// Program bytes fill the image from behind the jump up to here (and, in a 256 KiB image, the
// second and third 64 KiB).
constexpr std::uint32_t kProgramEnd = 0xA000;
constexpr std::uint32_t kUpperProgramStart = 0x10000;
constexpr std::uint32_t kUpperProgramEnd = 0x30000;

struct ChipImage {
    std::string_view name;  // per-chip image name
    std::uint8_t chipCode;
    std::string_view model;
};

constexpr ChipImage kChipImages[] = {
    {"FFU_7020", 17, "KSC7020"}, {"FFU_7040", 21, "KSC7040"}, {"FFU_7042", 24, "KSC7042"},
    {"FFU_7050", 25, "KSC7050"}, {"FFU_7032", 23, "KSC7032"}, {"FFU_7080", 26, "KSC7080"},
};

// Device-specific images take these chips in turn.
constexpr std::uint8_t kDeviceChipCycle[] = {25, 21, 24, 23, 26};
// The two images whose length is not 64 KiB.
constexpr std::string_view kLongImage = "FFU_1209_7131";
constexpr std::uint32_t kLongImageLength = 0x40000;
constexpr std::string_view kShortImage = "FFU_1209_7132";
constexpr std::uint32_t kShortImageLength = 65533;

std::string_view ModelOfChip(std::uint8_t chipCode) {
    for (const ChipImage& c : kChipImages) {
        if (c.chipCode == chipCode)
            return c.model;
    }
    return "KSC7050";
}

std::uint16_t HexValue(std::string_view digits) {
    std::uint16_t v = 0;
    for (char c : digits) {
        const int d = (c >= '0' && c <= '9') ? c - '0' : (c >= 'A' && c <= 'F') ? c - 'A' + 10 : 0;
        v = static_cast<std::uint16_t>(v << 4 | d);
    }
    return v;
}

std::string Hex4(std::uint16_t v) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string s(4, '0');
    for (int i = 3; i >= 0; --i, v = static_cast<std::uint16_t>(v >> 4))
        s[static_cast<std::size_t>(i)] = kDigits[v & 0xF];
    return s;
}

std::array<std::uint8_t, 8> VersionBytes(std::uint8_t chipCode, std::uint16_t pid,
                                         std::uint8_t build) {
    const std::uint16_t hw = HardwareIdOfChip(chipCode);
    return {static_cast<std::uint8_t>(kBuiltInApVersion >> 8),
            static_cast<std::uint8_t>(kBuiltInApVersion & 0xFF),
            static_cast<std::uint8_t>(hw >> 8),
            static_cast<std::uint8_t>(hw & 0xFF),
            static_cast<std::uint8_t>(pid >> 8),
            static_cast<std::uint8_t>(pid & 0xFF),
            0x00,
            build};
}

std::vector<BuiltInImageEntry> MakeTable() {
    std::vector<BuiltInImageEntry> table;
    std::size_t deviceIndex = 0;
    for (const FirmwareResourceEntry& entry : kFirmwareResources) {
        BuiltInImageEntry s;
        s.name = std::string(entry.name);
        s.id = entry.binaryId;
        s.vid = kMakerVendorId;
        s.revision = kRevision;
        s.manufacturer = kManufacturer;
        s.length = kImageLength;
        const auto chip = std::find_if(std::begin(kChipImages), std::end(kChipImages),
                                       [&](const ChipImage& c) { return c.name == entry.name; });
        if (chip != std::end(kChipImages)) {
            s.chipCode = chip->chipCode;
            s.pid = HexValue(entry.name.substr(4, 4));
            s.product = std::string(chip->model) + " USB Audio";
            s.version = VersionBytes(s.chipCode, s.pid, 1);
        } else {
            // "FFU_" VID "_" PID
            s.chipCode = kDeviceChipCycle[deviceIndex % std::size(kDeviceChipCycle)];
            s.pid = HexValue(entry.name.substr(9, 4));
            s.product = std::string(ModelOfChip(s.chipCode)) + " USB Audio " + Hex4(s.pid);
            s.version = VersionBytes(s.chipCode, s.pid, static_cast<std::uint8_t>(2 + deviceIndex));
            ++deviceIndex;
        }
        s.serial = "SN" + Hex4(s.pid) + "000001";
        if (entry.name == kLongImage)
            s.length = kLongImageLength;
        else if (entry.name == kShortImage)
            s.length = kShortImageLength;
        table.push_back(std::move(s));
    }
    return table;
}

// A deterministic stand-in for program bytes, different for every image.
void FillProgram(std::span<std::uint8_t> image, std::uint32_t from, std::uint32_t to,
                 std::uint32_t& state) {
    to = std::min<std::uint32_t>(to, static_cast<std::uint32_t>(image.size()));
    for (std::uint32_t i = from; i < to; ++i) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        image[i] = static_cast<std::uint8_t>(state >> 24);
    }
}

bool AppendString(DescriptorWriter& writer, std::uint8_t type, const std::string& text) {
    auto block = MakeStringBlock(type);
    const std::span<const std::uint8_t> bytes(reinterpret_cast<const std::uint8_t*>(text.data()),
                                              text.size());
    return block && block->SetContent(bytes) && writer.Append(*block);
}

// Writes the configuration area of the entry at `address` with the reserved size `size`.
bool WriteArea(const BuiltInImageEntry& entry, std::span<std::uint8_t> image, std::uint32_t address,
               std::uint32_t size) {
    if (address >= image.size())
        return false;
    CDescGlobal header;
    header.m_byMemoryKind = kBuiltInMemoryKind;
    header.m_byBootOption = kBuiltInBootOption;
    header.m_byChipCode = entry.chipCode;
    DescFixedValues fixed;
    fixed.apVersion = kBuiltInApVersion;
    fixed.hasEepInfo = true;
    fixed.eepInfo = kBuiltInEepInfo;
    DescriptorWriter writer;
    CDescVIDPID identity;
    identity.Set(entry.vid, entry.pid, entry.revision);
    const auto destination =
        image.subspan(address, std::min<std::size_t>(size, image.size() - address));
    return writer.Begin(header, fixed, true) &&
           AppendString(writer, kDescStringManu, entry.manufacturer) &&
           AppendString(writer, kDescStringProd, entry.product) &&
           AppendString(writer, kDescStringSN, entry.serial) && writer.Append(identity) &&
           writer.Finish(destination, size);
}

void Put(std::span<std::uint8_t> image, std::uint32_t at, std::span<const std::uint8_t> bytes) {
    if (at + bytes.size() <= image.size())
        std::copy(bytes.begin(), bytes.end(), image.begin() + at);
}

}  // namespace

const std::vector<BuiltInImageEntry>& BuiltInImageTable() {
    static const std::vector<BuiltInImageEntry> table = MakeTable();
    return table;
}

const BuiltInImageEntry* FindBuiltInImage(std::int32_t id) {
    for (const BuiltInImageEntry& s : BuiltInImageTable()) {
        if (s.id == id)
            return &s;
    }
    return nullptr;
}

std::vector<std::uint8_t> BuildBuiltInImage(const BuiltInImageEntry& entry) {
    std::vector<std::uint8_t> image(entry.length, 0xFF);
    std::uint32_t state = 0x9E3779B9u ^ static_cast<std::uint32_t>(entry.id);
    // LJMP 0x0100: the program starts at address 0 with a long jump.
    Put(image, 0, std::array<std::uint8_t, 3>{0x02, 0x01, 0x00});
    FillProgram(image, 3, kProgramEnd, state);
    if (entry.length > kUpperProgramStart)
        FillProgram(image, kUpperProgramStart, kUpperProgramEnd, state);

    const auto& v = entry.version;
    Put(image, kVersionBytesAddress, v);
    Put(image, kShortImageVersionBytesAddress, v);
    // Read back as 0x1003, 0x1005, 0x1004, 0x1007, 0x1006 this gives the first five version bytes.
    Put(image, kImageInfoAddress, std::array<std::uint8_t, 5>{v[0], v[2], v[1], v[4], v[3]});

    if (!WriteArea(entry, image, kBuiltInAreaAddress, kBuiltInAreaSize))
        return {};
    if (entry.chipCode == 17 &&
        !WriteArea(entry, image, kBuiltInArea7020Address, kBuiltInArea7020Size))
        return {};
    return image;
}

}  // namespace uafw
