#include "support/registry/StringConv.h"

#include <gtest/gtest.h>

using Kestlib500::StringConvToInteger;

namespace {

TEST(StringConvToInteger, ConvertsSignedDecimalAndDefinesEveryOtherText)
{
    struct Row {
        const wchar_t* text;
        int expected;
        bool converts;
        bool allowSign = true;
    };
    const Row rows[] = {
        {L"0", 0, true},
        {L"42", 42, true},
        {L"-1", -1, true},
        {L"2147483647", 2147483647, true},
        {L"-2147483648", -2147483647 - 1, true},
        {L"2147483648", 2147483647, false},
        {L"-2147483649", -2147483647 - 1, false},
        {L"99999999999999999999", 2147483647, false},
        {L"", 0, false},
        {L"-", 0, false},
        {L"12a", 0, false}, // a digit only from base 11 on
        {L" 12", 0, false},
        {L"+5", 0, false},
        {L"0x10", 0, false},
        {L"-3", 0, false, false},
        {nullptr, 0, false},
    };
    for (const Row& row : rows) {
        int result = 12345;
        const bool converts = StringConvToInteger(row.text, result, L'\0', 0x7fffffff, 0x0CCCCCCC, 10, row.allowSign);
        EXPECT_EQ(result, row.expected) << "row " << &row - rows;
        EXPECT_EQ(converts, row.converts) << "row " << &row - rows;
    }
}

} // namespace
