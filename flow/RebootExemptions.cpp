#include "flow/RebootExemptions.h"

#include <algorithm>

namespace {

// The customer vendor ids of the table.
constexpr std::uint16_t kCustomerVendorA = 0x1209;
constexpr std::uint16_t kCustomerVendorB = 0x16C0;
constexpr std::uint16_t kCustomerVendorC = 0x1D50;
constexpr std::uint16_t kCustomerVendorD = 0x6666;

constexpr std::array<UsbIdPair, CRebootExemptions::kRowCount> kRows{{
    // 13 rows
    {kCustomerVendorA, 0x7160},
    {kCustomerVendorA, 0x7161},
    {kCustomerVendorA, 0x7162},
    {kCustomerVendorA, 0x7163},
    {kCustomerVendorA, 0x7164},
    {kCustomerVendorA, 0x7165},
    {kCustomerVendorA, 0x7166},
    {kCustomerVendorA, 0x7167},
    {kCustomerVendorA, 0x7168},
    {kCustomerVendorA, 0x7169},
    {kCustomerVendorA, 0x716A},
    {kCustomerVendorA, 0x716B},
    {kCustomerVendorA, 0x716C},
    // 23 rows
    {kCustomerVendorB, 0x05E0},
    {kCustomerVendorB, 0x05E1},
    {kCustomerVendorB, 0x05E2},
    {kCustomerVendorB, 0x05E3},
    {kCustomerVendorB, 0x05E4},
    {kCustomerVendorB, 0x05E5},
    {kCustomerVendorB, 0x05E6},
    {kCustomerVendorB, 0x05E7},
    {kCustomerVendorB, 0x05E8},
    {kCustomerVendorB, 0x05E9},
    {kCustomerVendorB, 0x05EA},
    {kCustomerVendorB, 0x05EB},
    {kCustomerVendorB, 0x05EC},
    {kCustomerVendorB, 0x05ED},
    {kCustomerVendorB, 0x05EE},
    {kCustomerVendorB, 0x05EF},
    {kCustomerVendorB, 0x05F0},
    {kCustomerVendorB, 0x05F1},
    {kCustomerVendorB, 0x05F2},
    {kCustomerVendorB, 0x05F3},
    {kCustomerVendorB, 0x05F4},
    {kCustomerVendorB, 0x05F5},
    {kCustomerVendorB, 0x05F6},
    // 8 rows
    {kCustomerVendorC, 0x6100},
    {kCustomerVendorC, 0x6101},
    {kCustomerVendorC, 0x6102},
    {kCustomerVendorC, 0x6103},
    {kCustomerVendorC, 0x6104},
    {kCustomerVendorC, 0x6105},
    {kCustomerVendorC, 0x6106},
    {kCustomerVendorC, 0x6107},
    // 1 row
    {kCustomerVendorD, 0x7080},
}};

}  // namespace

const std::array<UsbIdPair, CRebootExemptions::kRowCount>& CRebootExemptions::Rows() {
    return kRows;
}

bool CRebootExemptions::Contains(std::uint16_t vid, std::uint16_t pid) {
    return std::any_of(kRows.begin(), kRows.end(),
                       [&](const UsbIdPair& row) { return row.vid == vid && row.pid == pid; });
}
