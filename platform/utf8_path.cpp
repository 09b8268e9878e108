#include "utf8_path.h"

#include <cstdio>

namespace pictrim::platform {

namespace {

// The length of the UTF-8 character at `at`, 0 when none starts there.
std::size_t CharacterAt(std::string_view text, std::size_t at) {
    const auto byte = [&](std::size_t i) { return i < text.size() ? static_cast<unsigned char>(text[i]) : 0u; };
    const unsigned lead = byte(at);
    if (lead < 0x80) return 1;
    std::size_t length = 0;
    unsigned low = 0x80, high = 0xBF;  // the second byte's range, narrowed to refuse overlong forms and surrogates
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    if (byte(at + 1) < low || byte(at + 1) > high) return 0;
    for (std::size_t i = 2; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80) return 0;
    }
    return length;
}

}  // namespace

std::string NameOf(const std::string& path) { return path.substr(path.find_last_of(kPathSeparators) + 1); }

std::string FoldedAscii(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

bool IsUtf8(std::string_view text) {
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t n = CharacterAt(text, at);
        if (n == 0) return false;
        at += n;
    }
    return true;
}

std::string EscapedBytes(std::string_view text) {
    std::string shown;
    for (std::size_t at = 0; at < text.size();) {
        if (const std::size_t n = CharacterAt(text, at); n != 0) {
            shown.append(text.substr(at, n));
            at += n;
            continue;
        }
        char hex[5];
        std::snprintf(hex, sizeof hex, "\\x%02X", static_cast<unsigned char>(text[at++]));
        shown += hex;
    }
    return shown;
}

}  // namespace pictrim::platform
