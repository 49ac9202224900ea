#include "CommandLine.h"
#include "Failure.h"
#include "Text.h"
#include "ValueSyntax.h"

#include <gtest/gtest.h>

using namespace vesk_tool;

TEST(ParseCommandLine, TakesOptionsAnywhereInEitherForm)
{
    const auto call = parseCommandLine({L"get", L"--type=int", L"A\\B", L"--instance", L"one", L"n", L"--default", L"-5"});
    EXPECT_EQ(call.command, L"get");
    EXPECT_EQ(call.operands, (std::vector<std::wstring>{L"A\\B", L"n"}));
    EXPECT_EQ(call.option(L"--instance"), L"one");
    EXPECT_EQ(call.option(L"--type"), L"int");
    EXPECT_EQ(call.option(L"--default"), L"-5");
    EXPECT_FALSE(call.help);
    // The last of a repeated option counts.
    EXPECT_EQ(parseCommandLine({L"get", L"K", L"n", L"--type", L"bool", L"--type", L"int"}).option(L"--type"), L"int");
    EXPECT_TRUE(parseCommandLine({L"list", L"--recursive"}).has(L"--recursive"));
    EXPECT_TRUE(parseCommandLine({L"--help", L"import"}).help);
}

// Operands are whatever the command takes, even words that look like
// numbers, commands or (after "--") options.
TEST(ParseCommandLine, KeepsOperandsAsGiven)
{
    const struct {
        std::vector<std::wstring> args;
        std::vector<std::wstring> operands;
    } rows[] = {
        {{L"set", L"K", L"n", L"-7", L"--type", L"int"}, {L"K", L"n", L"-7"}},
        {{L"set", L"--type", L"string", L"--", L"K", L"n", L"--x"}, {L"K", L"n", L"--x"}},
        {{L"set", L"K", L"--type", L"string", L"--", L"-h", L"--"}, {L"K", L"-h", L"--"}},
        {{L"get", L"list", L"set"}, {L"list", L"set"}},
        {{L"delete", L"", L"import"}, {L"", L"import"}},
        {{L"get", L"K", L"--default", L"--", L"n"}, {L"K", L"n"}},
        {{L"get", L"\u00e9\U0001F600", L"\u01c5"}, {L"\u00e9\U0001F600", L"\u01c5"}},
    };
    for (const auto& row : rows)
        EXPECT_EQ(parseCommandLine(row.args).operands, row.operands) << testing::PrintToString(row.args);
}

TEST(ParseCommandLine, RefusesWhatACommandWouldRefuse)
{
    const std::vector<std::vector<std::wstring>> cases = {
        {}, {L"fetch"}, {L"get", L"K"}, {L"get", L"K", L"n", L"extra"}, {L"get", L"K", L"n", L"--recursive"},
        {L"get", L"K", L"n", L"--type", L"dword"}, {L"get", L"K", L"n", L"--type", L"int", L"--default", L"ten"},
        {L"get", L"K", L"n", L"--type", L"bool", L"--default", L"maybe"}, {L"set", L"K", L"n", L"1"}, // no --type
        {L"set", L"K", L"n", L"0x100000000", L"--type", L"int"}, {L"set", L"K", L"n", L"on", L"--type", L"bool"},
        {L"list", L"--colour"}, {L"list", L"--recursive=yes"}, {L"list", L"--instance"},
        {L"export", L"--encoding", L"latin1"}, {L"list", L"-x"}, {L"logging-path", L"extra"},
    };
    for (const auto& args : cases) {
        try {
            parseCommandLine(args);
            ADD_FAILURE() << "accepted " << testing::PrintToString(args);
        } catch (const Failure& failure) {
            EXPECT_EQ(failure.code(), BadInput);
            EXPECT_NE(std::string(failure.what()).find("--help"), std::string::npos) << failure.what();
        }
    }
}

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
