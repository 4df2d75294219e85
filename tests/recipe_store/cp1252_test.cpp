#include "cp1252.hpp"

#include <gtest/gtest.h>

namespace quendelin {
namespace {

TEST(Cp1252, EveryByteSurvivesTheRoundTripThroughUtf8) {
    std::string all;
    for (int b = 0; b < 256; ++b)
        all += static_cast<char>(b);
    EXPECT_EQ(Cp1252::fromUtf8(Cp1252::toUtf8(all)), all);
}

struct Mapping {
    const char* utf8;
    const char* cp1252;
};

TEST(Cp1252, MapsTheCodePageBothWays) {
    const Mapping table[] = {
        {"Möhren Äpfel üppig Spaß", "M\xF6hren \xC4pfel \xFCppig Spa\xDF"},
        {"€", "\x80"},
        {"Ÿ", "\x9F"},
        {"„Oma“", "\x84Oma\x93"},
        {"\u0081\u008D\u008F\u0090\u009D", "\x81\x8D\x8F\x90\x9D"}, // undefined in the code page
        {"ÿ", "\xFF"},
        {"\u00A0", "\xA0"},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.utf8);
        EXPECT_EQ(Cp1252::fromUtf8(row.utf8), row.cp1252);
        EXPECT_EQ(Cp1252::toUtf8(row.cp1252), row.utf8);
    }
}

TEST(Cp1252, WritesWhatItCannotHoldAsQuestionMarks) {
    const Mapping table[] = {
        {"Pfeil →", "Pfeil ?"},    // a character outside the code page
        {"Suppe 🍲!", "Suppe ?!"},  // beyond the BMP
        {"\u0080", "?"},           // a control that 0x80 does not stand for
        {"a\xC3", "a?"},           // cut short
        {"\xC0\xAF", "??"},        // overlong
        {"\xED\xA0\x80", "???"},   // a surrogate
        {"\xF6rtlich", "?rtlich"}, // Windows-1252 bytes where UTF-8 belongs
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.utf8);
        EXPECT_EQ(Cp1252::fromUtf8(row.utf8), row.cp1252);
    }
}

} // namespace
} // namespace quendelin
