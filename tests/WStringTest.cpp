#include "vesk/WString.h"

#include "common/Allocations.h"

#include <gtest/gtest.h>

#include <new>

namespace {

// An assignment that runs out of memory leaves its target null: with
// destruction, the only ways a null value comes about.
WString NullValue()
{
    const WString source(L"source");
    WString target(L"target");
    Allocations::FailAfter(0);
    EXPECT_THROW(target = source, std::bad_alloc);
    return target;
}

TEST(WString, CopiesAreDeepCutAtTheFirstNulAndNeverNullUnlessCopiedFromNull)
{
    const wchar_t source[] = L"ab\0cd";
    const WString text(source);
    const WString copy(text);
    EXPECT_NE(copy.c_str(), text.c_str());
    WString assigned(L"old");
    const wchar_t* buffer = assigned.c_str();
    WString& alias = assigned;
    assigned = alias;
    EXPECT_EQ(assigned.c_str(), buffer) << "self-assignment keeps the buffer";
    EXPECT_STREQ(assigned.c_str(), L"old");
    assigned = source;
    for (const WString& value : {text, copy, assigned})
        EXPECT_STREQ(value.c_str(), L"ab");

    assigned = static_cast<const wchar_t*>(nullptr);
    for (const WString& value : {WString(), WString(static_cast<const wchar_t*>(nullptr)), assigned})
        EXPECT_STREQ(value.c_str(), L"") << "null compares unequal to empty";

    const WString null = NullValue();
    ASSERT_EQ(null.c_str(), nullptr) << "a failed copy leaves the target null";
    EXPECT_EQ(WString::compare(null, WString(L"")), 0) << "null compares as the empty text";
    assigned = null;
    for (const WString& value : {WString(null), assigned})
        EXPECT_EQ(value.c_str(), nullptr);
}

TEST(WString, ComparesOrdinallyWithoutCase)
{
    struct Row {
        const wchar_t* a;
        const wchar_t* b;
        int sign;
    };
    const Row rows[] = {
        {L"", L"a", -1},
        {L"ab", L"a", 1},
        {L"B", L"a", -1},
        {L"Key", L"key", -1},
        {L"same", L"same", 0},
        {L"\x00e9", L"z", 1},    // unsigned units: é after z
        {L"\xffff", L"\x0100", 1}, // the top of the unit range sorts last
    };
    for (const Row& row : rows) {
        const int result = WString::compare(WString(row.a), WString(row.b));
        EXPECT_EQ((result > 0) - (result < 0), row.sign) << "compare(\"" << row.a << "\", \"" << row.b << "\")";
        EXPECT_EQ(WString(row.a) < WString(row.b), row.sign < 0);
    }
}

} // namespace
