#!/usr/bin/env python3
"""Writes the built-in chip descriptions (ICINI 2030-2035) and the built-in list of accepted device
identities (ICINI 3034) into resources/ICINI.

The descriptions carry what the tool reads ("Vorlo Config", the register sections and the layout
entries of "Vendor Info M1") plus what the property editor of the configuration area uses: the
block-type numbers, memory sizes and one "Camera_USB_nn" section per editable field of the
descriptor blocks the chip's configuration area may hold.

Run from anywhere: python3 tools/gen_chip_ini.py [output-directory]
"""
import os
import sys

MAKER_VID = 0x1209
COMPANY = "Tavenic"

# id, "Ic Name", "Def Bin", chip code, register sections (ICRegister1, ICRegister2),
# ConfigAddress, ConfigSize, TagAddress, FlashSize, DSPAddress, UIType
CHIPS = [
    (2030, "KSC7020", "FFU_7020", 17, [(0x00, 0x00), (0x10, 0x70)], 0xAE00, 512, 0xEFFE,
     0x10000, 0x0000, 0),
    (2031, "KSC7040", "FFU_7040", 21, [(0x10, 0xB0)], 0xF000, 4096, 0xEFFE, 0x80000, 0x0000, 1),
    (2032, "KSC7040", "FFU_7042", 24, [(0x10, 0xF0), (0x10, 0xC0)], 0xF000, 4096, 0xEFFE,
     0x80000, 0x20000, 1),
    (2033, "KSC7040", "FFU_7050", 25, [(0x10, 0xD0)], 0xF000, 4096, 0xEFFE, 0x40000, 0x20000, 2),
    (2034, "KSC7040", "FFU_7032", 23, [(0x10, 0xE0)], 0xF000, 4096, 0xEFFE, 0x40000, 0x0000, 1),
    (2035, "KSC7040", "FFU_7080", 26, [(0x10, 0x10)], 0xF000, 4096, 0xEFFE, 0x80000, 0x30000, 2),
]

# Block types of the configuration area's descriptor blocks (the property editor's "PropType").
T_MANU, T_PROD, T_SN, T_VIDPID, T_UBIST, T_IAD = 1, 2, 3, 4, 6, 7
T_EEPINFO, T_SLB, T_CODEINFO, T_BANKCOPY, T_FORCEUPDATE = 8, 14, 15, 20, 21
T_SMALLCACHE, T_HWAPVER = 39, 47
T_UACTOP, T_EP_A, T_EP_G = 64, 65, 68
T_INTERCODEC, T_SPDIF, T_UART, T_GPIO = 71, 72, 73, 74
# Chip code 17 kinds
T_I2S0, T_I2S0CH, T_I2S1, T_I2S1CH, T_CODEC0, T_CODEC1 = 8, 9, 10, 11, 12, 16
T_SCRIPT_FIRST, T_EPTYPE, T_VOL_FIRST, T_MUTE0IN, T_MUTE0OUT, T_MUTE1 = 27, 47, 48, 56, 57, 58

# DataMode: how the editor reads and writes a field.
DM_BYTE, DM_WORD_LE, DM_WORD_BE, DM_DWORD_BE, DM_TEXT, DM_FILE = 0, 1, 2, 3, 4, 5
MASKS = {DM_BYTE: 0xFF, DM_WORD_LE: 0xFFFF, DM_WORD_BE: 0xFFFF, DM_DWORD_BE: 0xFFFFFFFF,
         DM_TEXT: 0xFF, DM_FILE: 0xFF}
ENABLE = [("Disable", 0), ("Enable", 1)]


def prop(group, name, desc, ptype, mode, addr, mask=None, options=None, file_type=None,
         prop_file=None):
    return dict(group=group, name=name, desc=desc, ptype=ptype, mode=mode, addr=addr,
                mask=MASKS[mode] if mask is None else mask, options=options or [],
                file_type=file_type, prop_file=prop_file)


def string_props():
    out = []
    for ptype, label in ((T_MANU, "Manufacturer"), (T_PROD, "Product"), (T_SN, "Serial Number"),
                         (T_UBIST, "UBist Name"), (T_IAD, "IAD String")):
        out.append(prop("USB String", label + " Length", "bLength of the %s string" % label,
                        ptype, DM_BYTE, 0x02))
        out.append(prop("USB String", label, "%s string, at most 53 characters" % label, ptype,
                        DM_TEXT, 0x04))
    return out


def common_props(chip_code):
    out = string_props()
    out += [
        prop("USB Identity", "Vendor ID", "USB idVendor", T_VIDPID, DM_WORD_LE, 0x02),
        prop("USB Identity", "Product ID", "USB idProduct", T_VIDPID, DM_WORD_LE, 0x04),
        prop("USB Identity", "Revision", "USB bcdDevice", T_VIDPID, DM_WORD_LE, 0x06),
        prop("Code", "Code Offset", "Offset of the code blob from the area start", T_CODEINFO,
             DM_WORD_LE, 0x02),
        prop("Code", "Code File", "Code blob loaded into cache at boot", T_CODEINFO, DM_FILE,
             0x04, file_type="BIN", prop_file="cachecode.bin"),
        prop("Update", "Force Update", "Force the ROM loader to take a new image", T_FORCEUPDATE,
             DM_BYTE, 0x02, mask=0x10, options=ENABLE),
        prop("Update", "Keep Serial Number", "Keep the serial number over an update",
             T_FORCEUPDATE, DM_BYTE, 0x02, mask=0x40, options=ENABLE),
    ]
    if chip_code != 17:
        out += [
            prop("Version", "Hardware ID", "Hardware id of the board", T_HWAPVER, DM_WORD_LE,
                 0x02),
            prop("Version", "AP Version", "Application firmware version", T_HWAPVER, DM_WORD_LE,
                 0x04),
            prop("Memory", "EEPROM Info", "EEPROM word-address width and page size", T_EEPINFO,
                 DM_BYTE, 0x02, options=[("8-bit address", 0x00), ("16-bit address", 0x01)]),
        ]
    if chip_code in (25, 26):
        out.append(prop("Memory", "Bank Copy", "Keep a second code bank", T_BANKCOPY, DM_BYTE,
                        0x02, options=[("Disable", 0x00), ("Enable", 0x5A)]))
    return out


def slb_props():
    g = "Self Loop-Back Test"
    return [
        prop(g, "HS Test Valid", "High-speed test enabled", T_SLB, DM_BYTE, 0x02, 0x01, ENABLE),
        prop(g, "FS Test Valid", "Full-speed test enabled", T_SLB, DM_BYTE, 0x02, 0x02, ENABLE),
        prop(g, "FS Test Count", "Full-speed test count", T_SLB, DM_BYTE, 0x03),
        prop(g, "HS Test Count Low", "High-speed test count, lower half", T_SLB, DM_WORD_LE,
             0x04),
        prop(g, "HS Test Count High", "High-speed test count, upper half", T_SLB, DM_WORD_LE,
             0x06),
        prop(g, "HS Fail Threshold", "High-speed fail threshold", T_SLB, DM_WORD_LE, 0x08),
        prop(g, "Fixed Pattern", "Fixed test pattern", T_SLB, DM_BYTE, 0x0A),
        prop(g, "Seed", "Pattern seed", T_SLB, DM_BYTE, 0x0B),
        prop(g, "FS Fail Threshold", "Full-speed fail threshold", T_SLB, DM_BYTE, 0x0C),
        prop(g, "HS Delay Time", "High-speed delay time", T_SLB, DM_WORD_LE, 0x0D),
    ]


def small_cache_props():
    g = "Small Cache Code"
    return [
        prop(g, "Data Offset", "Offset of the data from the area start", T_SMALLCACHE,
             DM_WORD_LE, 0x04),
        prop(g, "Data File", "Small cache code, at most 8192 bytes", T_SMALLCACHE, DM_FILE, 0x08,
             file_type="BIN", prop_file="smallcache.bin"),
    ]


def uac_props(with_enable_bits):
    g = "UAC Top"
    out = [
        prop(g, "UAC Version", "UAC version", T_UACTOP, DM_WORD_BE, 0x02,
             options=[("UAC 1.0", 0x0100), ("UAC 2.0", 0x0200)]),
        prop(g, "USB Speed Mode", "USB speed", T_UACTOP, DM_BYTE, 0x04,
             options=[("Full speed", 0), ("High speed", 1)]),
        prop(g, "HID Enable", "HID interface", T_UACTOP, DM_BYTE, 0x05, options=ENABLE),
        prop(g, "UAC2 IN Interval", "UAC2 IN interval", T_UACTOP, DM_BYTE, 0x06),
        prop(g, "UAC2 OUT Interval", "UAC2 OUT interval", T_UACTOP, DM_BYTE, 0x07),
        prop(g, "PHY Sensitivity", "USB 2 PHY sensitivity, 1 to 15", T_UACTOP, DM_BYTE, 0x08),
        prop(g, "Jack Detect Enables", "Jack-detect enables", T_UACTOP, DM_BYTE, 0x09),
        prop(g, "Remote Wakeup Enables", "Remote-wakeup enables", T_UACTOP, DM_BYTE, 0x0A),
        prop(g, "Endpoint Enables", "Endpoint enables", T_UACTOP, DM_BYTE, 0x0B),
        prop(g, "UAC Vendor ID", "VID reported in UAC mode", T_UACTOP, DM_WORD_BE, 0x0C),
        prop(g, "UAC Product ID", "PID reported in UAC mode", T_UACTOP, DM_WORD_BE, 0x0E),
        prop(g, "UAC Revision", "Revision reported in UAC mode", T_UACTOP, DM_WORD_BE, 0x10),
    ]
    if with_enable_bits:
        for bit, ep in enumerate("ABCGHI"):
            out.append(prop(g, "Endpoint %s Enable" % ep, "Endpoint %s" % ep, T_UACTOP, DM_BYTE,
                            0x0B, mask=1 << bit, options=ENABLE))
        for bit in range(4):
            out.append(prop(g, "Jack %d Detect" % (bit + 1), "Jack %d detection" % (bit + 1),
                            T_UACTOP, DM_BYTE, 0x09, mask=1 << bit, options=ENABLE))
    return out


def endpoint_props():
    out = []
    rates = [("44.1 kHz", 44100), ("48 kHz", 48000), ("96 kHz", 96000), ("192 kHz", 192000)]
    for index, ep in enumerate("ABCGHI"):
        recording = index < 3
        ptype = (T_EP_A + index) if recording else (T_EP_G + index - 3)
        g = "Endpoint %s (%s)" % (ep, "Recording" if recording else "Playback")
        out += [
            prop(g, "Connect Type", "Connection of the endpoint", ptype, DM_BYTE, 0x02),
            prop(g, "Sample Rate", "Sample rate", ptype, DM_WORD_BE, 0x03, options=rates),
            prop(g, "Bit Resolution", "Bits per sample", ptype, DM_BYTE, 0x05,
                 options=[("16 bit", 16), ("24 bit", 24), ("32 bit", 32)]),
            prop(g, "Channel Location", "Channel location bits", ptype, DM_WORD_BE, 0x06),
            prop(g, "Terminal Type", "USB terminal type", ptype, DM_WORD_BE, 0x08),
            prop(g, "Volume Minimum", "Volume minimum, 8.8 dB", ptype, DM_WORD_BE, 0x0A),
            prop(g, "Volume Maximum", "Volume maximum, 8.8 dB", ptype, DM_WORD_BE, 0x0C),
            prop(g, "Volume Resolution", "Volume step, 8.8 dB", ptype, DM_WORD_BE, 0x0E),
        ]
        if recording:
            out.append(prop(g, "Loudness Support", "Loudness control", ptype, DM_BYTE, 0x10,
                            options=ENABLE))
    return out


def codec_props():
    g = "Internal Codec"
    names = ["SSC Select", "Jack 1 Endpoints", "Jack 2 Endpoints", "Stereo AD Connection",
             "Mono AD Connection", "Button Interrupt Enables", "Button Detect Window",
             "Button Clock Divider", "Button Deglitch Divider", "Jack 3 T Time", "Jack 3 Duty",
             "Jack 3 Detect Count"]
    return [prop(g, n, n, T_INTERCODEC, DM_BYTE, 0x02 + i) for i, n in enumerate(names)]


def spdif_props():
    g = "S/PDIF"
    names = ["SSC Select", "Data Format", "Emphasis", "Copy Permission", "Level",
             "Category Code"]
    return [prop(g, n, "S/PDIF " + n.lower(), T_SPDIF, DM_BYTE, 0x02 + i)
            for i, n in enumerate(names)]


def uart_props():
    g = "UART"
    return [
        prop(g, "SSC Select", "UART SSC select", T_UART, DM_BYTE, 0x02),
        prop(g, "Stop Bits", "Stop bits", T_UART, DM_BYTE, 0x03, options=[("1", 1), ("2", 2)]),
        prop(g, "Data Length", "Data bits", T_UART, DM_BYTE, 0x04,
             options=[("7 bit", 7), ("8 bit", 8)]),
        prop(g, "Parity", "Parity", T_UART, DM_BYTE, 0x05, mask=0x18,
             options=[("None", 0x00), ("Odd", 0x08), ("Even", 0x18)]),
        prop(g, "Baud Rate", "Baud rate", T_UART, DM_DWORD_BE, 0x06,
             options=[("9600", 9600), ("57600", 57600), ("115200", 115200)]),
    ]


def gpio_props():
    levels = [("2 mA", 0), ("4 mA", 1), ("8 mA", 2), ("12 mA", 3)]
    return [prop("GPIO Driving", "GPIO %d Driving" % n, "Drive strength of GPIO %d" % n, T_GPIO,
                 DM_BYTE, 0x02 + n, options=levels) for n in range(10)]


def chip17_props():
    out = []
    out.append(prop("I2S 0", "I2S0 Mode", "I2S 0 mode word", T_I2S0, DM_WORD_BE, 0x02))
    out += [prop("I2S 0", "I2S0 Setting %02d" % i, "I2S 0 setting byte %d" % i, T_I2S0,
                 DM_BYTE, 0x04 + i) for i in range(25)]
    out += [prop("I2S 0 Channel", "I2S0 Channel %d Map" % i, "Slot of channel %d" % i,
                 T_I2S0CH, DM_BYTE, 0x02 + i) for i in range(8)]
    out.append(prop("I2S 1", "I2S1 Mode", "I2S 1 mode word", T_I2S1, DM_WORD_BE, 0x02))
    out += [prop("I2S 1", "I2S1 Setting %02d" % i, "I2S 1 setting byte %d" % i, T_I2S1,
                 DM_BYTE, 0x04 + i) for i in range(13)]
    out += [prop("I2S 1 Channel", "I2S1 Channel %d Map" % i, "Slot of channel %d" % i,
                 T_I2S1CH, DM_BYTE, 0x02 + i) for i in range(4)]
    for ptype, label, entries, tail in ((T_CODEC0, "Codec 0", 14, 0x30),
                                        (T_CODEC1, "Codec 1", 6, 0x18)):
        out += [prop(label, "%s Header %d" % (label, i), "%s header byte %d" % (label, i),
                     ptype, DM_BYTE, 0x02 + i) for i in range(4)]
        out += [prop(label, "%s Register %02d" % (label, i), "%s register %d" % (label, i),
                     ptype, DM_WORD_BE, 0x06 + 3 * i) for i in range(entries)]
        out.append(prop(label, "%s Delay" % label, "%s delay" % label, ptype, DM_WORD_BE, tail))
    scripts = ["Common", "Start In", "Close In", "Start Out", "Close Out", "Close All", "Suspend"]
    out += [prop("Codec Script", "%s Script" % s, "Codec register script: %s" % s.lower(),
                 T_SCRIPT_FIRST + i, DM_FILE, 0x02, file_type="TXT",
                 prop_file="codec_%s.txt" % s.lower().replace(" ", "_"))
            for i, s in enumerate(scripts)]
    out += [prop("Endpoint Type", "Endpoint Type %d" % i, "Type of endpoint %d" % i, T_EPTYPE,
                 DM_WORD_BE, 0x02 + 2 * i) for i in range(8)]
    for i, ep in enumerate("ABCDGHIJ"):
        ptype = T_VOL_FIRST + i
        base = 50 if ep in "AG" else 26
        for j, what in enumerate(("Maximum", "Minimum", "Resolution")):
            out.append(prop("Volume %s" % ep, "Volume %s %s" % (ep, what),
                            "Endpoint %s volume %s, 8.8 dB" % (ep, what.lower()), ptype,
                            DM_WORD_BE, base + 2 * j))
    for ptype, eps in ((T_MUTE0IN, "ABC"), (T_MUTE0OUT, "GHI"), (T_MUTE1, "DJ")):
        out += [prop("Mute", "Mute %s Register" % ep, "Mute register of endpoint %s" % ep, ptype,
                     DM_DWORD_BE, 0x02 + 12 * i) for i, ep in enumerate(eps)]
    return out


def property_list(chip_code):
    props = common_props(chip_code)
    if chip_code == 17:
        props += chip17_props()
    elif chip_code in (21, 24):
        props += slb_props() + small_cache_props() + uac_props(chip_code == 24)
        props += endpoint_props() + codec_props() + spdif_props() + uart_props()
        props += gpio_props()
    elif chip_code == 25:
        props += slb_props() + uac_props(False) + endpoint_props() + codec_props()
        props += spdif_props() + gpio_props()
    elif chip_code == 26:
        props += slb_props() + uac_props(False) + endpoint_props() + codec_props()
        props += spdif_props() + uart_props() + gpio_props()
    elif chip_code == 23:
        props += slb_props() + uac_props(False) + endpoint_props() + codec_props() + spdif_props()
        props += uart_props() + gpio_props()
    return props


BLOCK_TYPE_ENTRIES = [
    ("PROPTYPE_Manufactor", T_MANU), ("PROPTYPE_Product", T_PROD), ("PROPTYPE_SN", T_SN),
    ("propType_VIDPID", T_VIDPID), ("propType_UBistName", T_UBIST), ("PROPTYPE_IADStr", T_IAD),
    ("propType_CodeInfo", T_CODEINFO), ("propType_ForceUpdate", T_FORCEUPDATE),
]
BLOCK_TYPES_NOT_17 = [("propType_EEPInfo", T_EEPINFO), ("propType_HWAPVersion", T_HWAPVER),
                      ("propType_BankCopy", T_BANKCOPY)]
BLOCK_TYPES_UAC = [
    ("propType_SLB", T_SLB), ("propType_SmallCachecode", T_SMALLCACHE),
    ("propType_UACTop", T_UACTOP), ("propType_EPAInfo", 65), ("propType_EPBInfo", 66),
    ("propType_EPCInfo", 67), ("propType_EPGInfo", 68), ("propType_EPHInfo", 69),
    ("propType_EPIInfo", 70), ("propType_InterCodec", T_INTERCODEC),
    ("propType_InterSPDIF", T_SPDIF), ("propType_InterUart", T_UART),
    ("propType_GPIODriving", T_GPIO),
]
BLOCK_TYPES_17 = [
    ("propType_I2S0", T_I2S0), ("propType_I2S0Channel", T_I2S0CH), ("propType_I2S1", T_I2S1),
    ("propType_I2S1Channel", T_I2S1CH), ("propType_I2SCodec0", T_CODEC0),
    ("propType_I2SCodec1", T_CODEC1), ("propType_CodecCommon", 27),
    ("propType_CodecSuspend", 33), ("propType_EndPointType", T_EPTYPE),
    ("propType_EPAVolume", 48), ("propType_EPGVolume", 52), ("propType_Codec0InMute", 56),
    ("propType_Codec0OutMute", 57), ("propType_Codec1Mute", 58),
]


def hex_value(v, width=4):
    return "0x%0*X" % (width, v)


def description(chip):
    (ini_id, ic_name, def_bin, chip_code, regs, cfg_addr, cfg_size, tag_addr, flash_size,
     dsp_addr, ui_type) = chip
    lines = ["; Chip description %d: %s, chip code %d, firmware %s" % (ini_id, ic_name,
                                                                       chip_code, def_bin),
             "; Integers are decimal, 0x hexadecimal or, with a leading 0, octal.",
             "[Vorlo Config]",
             "Ic Name=" + ic_name,
             "Def Bin=" + def_bin,
             "Bus Type=USB",
             "Project Type=FLASH",
             "",
             "[Property Config]",
             "ShowStyle=%d" % (1 if chip_code in (21, 24) else 0),
             ""]
    for n, (r1, r2) in enumerate(regs):
        lines += ["[Camera_Register_%02X]" % n,
                  "; identification registers 0xFE21, 0xFE22 (high nibbles)",
                  "ICRegister1=" + hex_value(r1, 2),
                  "ICRegister2=" + hex_value(r2, 2),
                  "ChipInfo=%d" % chip_code,
                  ""]
    lines += ["[Vendor Info M1]",
              "Vendor Info=" + COMPANY,
              "ConfigAddress=" + hex_value(cfg_addr),
              "ConfigSize=%d" % cfg_size,
              "TagAddress=" + hex_value(tag_addr),
              "PPAddress=" + hex_value(0x100C),
              "FlashSize=" + hex_value(flash_size, 5),
              "CodeSize=" + hex_value(cfg_addr),
              "UIType=%d" % ui_type,
              "DSPAddress=" + hex_value(dsp_addr, 5),
              "; block-type numbers of the configuration area"]
    block_types = list(BLOCK_TYPE_ENTRIES)
    if chip_code == 17:
        block_types += BLOCK_TYPES_17
    else:
        block_types += [e for e in BLOCK_TYPES_NOT_17
                        if e[1] != T_BANKCOPY or chip_code in (25, 26)]
        block_types += BLOCK_TYPES_UAC
    lines += ["%s=%d" % e for e in block_types]
    lines.append("")

    props = property_list(chip_code)
    if not 121 <= len(props) <= 147:
        raise SystemExit("%d: %d property sections, 121 to 147 expected" % (ini_id, len(props)))
    for n, p in enumerate(props, start=1):
        # The older editor spelling "PropDesp" is kept for the string and identity groups.
        desc_key = "PropDesp" if p["ptype"] in (T_MANU, T_PROD, T_SN, T_VIDPID) else "PropDesc"
        lines += ["[Camera_USB_%02d]" % n,
                  "GroupName=" + p["group"],
                  "PropName=" + p["name"],
                  "%s=%s" % (desc_key, p["desc"]),
                  "PropType=%d" % p["ptype"],
                  "DataMode=%d" % p["mode"],
                  "PropAddr=" + hex_value(p["addr"], 2),
                  "PropRealAddr=" + hex_value(cfg_addr + p["addr"]),
                  "PropMask=" + hex_value(p["mask"], 2)]
        for i, (text, value) in enumerate(p["options"]):
            lines.append("PropOption_%02d=%s" % (i, text))
        for i, (text, value) in enumerate(p["options"]):
            lines.append("DataOption_%02d=%s" % (i, hex_value(value, 2)))
        if p["file_type"]:
            lines += ["FileType=" + p["file_type"], "PropFile=" + p["prop_file"]]
        lines += ["FunHeaderMode=%d" % (1 if p["ptype"] == T_SMALLCACHE else 0),
                  "FunDevice=USB",
                  ""]
    return lines


def identity_list():
    """87 lines: the four accepted identities, then 83 inactive ones ("//") of test devices."""
    active = [0x7050, 0x7040, 0x7080, 0x7020]
    lines = ["VID_%04X&PID_%04X&REV_0100" % (MAKER_VID, pid) for pid in active]
    inactive = []
    for pid in (0x7020, 0x7030, 0x7032, 0x7040, 0x7042, 0x7050, 0x7080):
        for rev in (0x0101, 0x0102, 0x0200, 0x0201):
            inactive.append((pid, rev))
    inactive += [(0x7030, 0x0100), (0x7032, 0x0100), (0x7042, 0x0100), (0x7060, 0x0100),
                 (0x7070, 0x0100)]
    inactive += [(pid, 0x0100) for pid in range(0x7101, 0x7133)]
    lines += ["//VID_%04X&PID_%04X&REV_%04X" % (MAKER_VID, pid, rev) for pid, rev in inactive]
    if len(lines) != 87 or len(set(lines)) != 87:
        raise SystemExit("identity list: %d lines" % len(lines))
    return lines


def write_text(path, lines):
    for line in lines:
        if line and not (0x20 <= ord(line[0]) <= 0x7E):
            raise SystemExit("%s: line the INI reader refuses: %r" % (path, line))
        if "\t" in line or any(ord(c) > 0x7E for c in line):
            raise SystemExit("%s: non-ASCII text: %r" % (path, line))
    with open(path, "wb") as out:
        out.write("".join(line + "\r\n" for line in lines).encode("ascii"))


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    out_dir = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "resources", "ICINI")
    for chip in CHIPS:
        write_text(os.path.join(out_dir, "%d.ini" % chip[0]), description(chip))
    write_text(os.path.join(out_dir, "3034.ini"), identity_list())


if __name__ == "__main__":
    main()
