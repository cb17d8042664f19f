#include "platform/TextCodec.h"

#include <cstdint>
#include <vector>

namespace uafw {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Decodes UTF-8 into code points; invalid input gives kReplacement per offending byte and
// `invalid` marks those positions, so that callers can tell a decoded U+FFFD from a replaced one.
void DecodeUtf8(std::string_view text, std::vector<char32_t>& out, std::vector<bool>& invalid) {
    std::size_t i = 0;
    while (i < text.size()) {
        const auto b0 = static_cast<unsigned char>(text[i]);
        std::size_t len = 0;
        char32_t cp = 0;
        char32_t min = 0;
        if (b0 < 0x80) {
            len = 1;
            cp = b0;
        } else if ((b0 & 0xE0) == 0xC0) {
            len = 2;
            cp = b0 & 0x1F;
            min = 0x80;
        } else if ((b0 & 0xF0) == 0xE0) {
            len = 3;
            cp = b0 & 0x0F;
            min = 0x800;
        } else if ((b0 & 0xF8) == 0xF0) {
            len = 4;
            cp = b0 & 0x07;
            min = 0x10000;
        }
        bool ok = len != 0 && i + len <= text.size();
        for (std::size_t k = 1; ok && k < len; ++k) {
            const auto b = static_cast<unsigned char>(text[i + k]);
            if ((b & 0xC0) != 0x80) {
                ok = false;
            } else {
                cp = (cp << 6) | (b & 0x3F);
            }
        }
        if (ok && (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)))
            ok = false;
        if (ok) {
            out.push_back(cp);
            invalid.push_back(false);
            i += len;
        } else {
            out.push_back(kReplacement);
            invalid.push_back(true);
            ++i;
        }
    }
}

}  // namespace

std::u16string Utf8ToUtf16(std::string_view text) {
    std::vector<char32_t> cps;
    std::vector<bool> invalid;
    DecodeUtf8(text, cps, invalid);
    std::u16string out;
    out.reserve(cps.size());
    for (const char32_t cp : cps) {
        if (cp >= 0x10000) {
            const char32_t v = cp - 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (v >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (v & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
    }
    return out;
}

std::string Utf16ToUtf8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t cp = text[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = kReplacement;
        }
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }
    return out;
}

std::string Utf8ToSingleByte(std::string_view text) {
    std::vector<char32_t> cps;
    std::vector<bool> invalid;
    DecodeUtf8(text, cps, invalid);
    std::string out;
    out.reserve(cps.size());
    for (std::size_t i = 0; i < cps.size(); ++i) {
        if (invalid[i] || cps[i] > 0xFF) {
            out.push_back('?');
        } else {
            out.push_back(static_cast<char>(static_cast<unsigned char>(cps[i])));
        }
    }
    return out;
}

}  // namespace uafw
