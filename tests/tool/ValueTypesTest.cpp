#include "tools/vesk/core/Text.h"
#include "tools/vesk/core/ValueTypes.h"

#include <gtest/gtest.h>

using namespace vesk_tool;

TEST(ParseDword, TakesDecimalOrHexWithin32BitsAndNothingElse)
{
    const struct {
        const wchar_t* text;
        std::optional<std::uint32_t> bits;
    } cases[] = {
        {L"0", 0}, {L"42", 42}, {L"-1", 0xFFFFFFFFu}, {L"4294967295", 0xFFFFFFFFu}, {L"-2147483648", 0x80000000u},
        {L"0x2A", 42}, {L"0XfF", 255}, {L"0xFFFFFFFF", 0xFFFFFFFFu}, {L"007", 7},
        {L"", {}}, {L"4294967296", {}}, {L"-2147483649", {}}, {L"0x", {}}, {L"0x100000000", {}}, {L"0x0000000001", {}},
        {L" 1", {}}, {L"1 ", {}}, {L"+1", {}}, {L"-0x1", {}}, {L"1e3", {}}, {L"0x1g", {}}, {L"--1", {}}, {L"\u0661", {}}, {L"\uff19", {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(parseDword(c.text), c.bits) << toUtf8(c.text);
}

TEST(ParseBool, AcceptsTheThreeSpellingsInAnyCase)
{
    for (const wchar_t* text : {L"true", L"TRUE", L"1", L"Yes"})
        EXPECT_EQ(parseBool(text), true) << toUtf8(text);
    for (const wchar_t* text : {L"false", L"False", L"0", L"NO"})
        EXPECT_EQ(parseBool(text), false) << toUtf8(text);
    for (const wchar_t* text : {L"", L"y", L"on", L"2", L"true "})
        EXPECT_FALSE(parseBool(text)) << toUtf8(text);
}
