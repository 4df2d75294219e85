#include "cp1252.hpp"

#include <array>
#include <cstdint>

namespace quendelin::Cp1252 {
namespace {

// 0x80-0x9F; the rest of the code page is Latin-1 and needs no table. The undefined bytes
// keep the control character of their own number.
constexpr std::array<char32_t, 32> kHighControls = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, // 80-87
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F, // 88-8F
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, // 90-97
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178, // 98-9F
};

void appendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

char encodeOne(char32_t c) {
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF))
        return static_cast<char>(c);
    for (std::size_t i = 0; i < kHighControls.size(); ++i) {
        if (kHighControls[i] == c)
            return static_cast<char>(0x80 + i);
    }
    return '?';
}

// Decodes one UTF-8 sequence at `pos`. Returns the code point and advances `pos`, or
// returns nothing and advances by one byte when the sequence is malformed (overlong,
// surrogate, beyond U+10FFFF, cut short).
bool decodeOne(std::string_view in, std::size_t& pos, char32_t& out) {
    const auto lead = static_cast<std::uint8_t>(in[pos]);
    std::size_t length = 0;
    char32_t c = 0;
    char32_t minimum = 0;
    if (lead < 0x80) {
        out = lead;
        ++pos;
        return true;
    } else if ((lead & 0xE0) == 0xC0) {
        length = 2;
        c = lead & 0x1Fu;
        minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3;
        c = lead & 0x0Fu;
        minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4;
        c = lead & 0x07u;
        minimum = 0x10000;
    } else {
        ++pos;
        return false;
    }
    if (in.size() - pos < length) {
        ++pos;
        return false;
    }
    for (std::size_t i = 1; i < length; ++i) {
        const auto next = static_cast<std::uint8_t>(in[pos + i]);
        if ((next & 0xC0) != 0x80) {
            ++pos;
            return false;
        }
        c = (c << 6) | (next & 0x3F);
    }
    if (c < minimum || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
        ++pos;
        return false;
    }
    pos += length;
    out = c;
    return true;
}

} // namespace

std::string toUtf8(std::string_view cp1252) {
    std::string out;
    out.reserve(cp1252.size() + cp1252.size() / 8);
    for (const char byte : cp1252) {
        const auto b = static_cast<std::uint8_t>(byte);
        if (b < 0x80)
            out += byte;
        else if (b < 0xA0)
            appendUtf8(out, kHighControls[b - 0x80]);
        else
            appendUtf8(out, b);
    }
    return out;
}

std::string fromUtf8(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    for (std::size_t pos = 0; pos < utf8.size();) {
        char32_t c = 0;
        out += decodeOne(utf8, pos, c) ? encodeOne(c) : '?';
    }
    return out;
}

} // namespace quendelin::Cp1252
