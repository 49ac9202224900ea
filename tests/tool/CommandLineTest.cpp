#include "CommandLine.h"
#include "Failure.h"

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
    // Operands may start with a dash; "--" ends the options.
    EXPECT_EQ(parseCommandLine({L"set", L"K", L"n", L"-7", L"--type", L"int"}).operands[2], L"-7");
    EXPECT_EQ(parseCommandLine({L"set", L"--type", L"string", L"--", L"K", L"n", L"--x"}).operands[2], L"--x");
}

TEST(ParseCommandLine, RefusesWhatACommandWouldRefuse)
{
    const std::vector<std::vector<std::wstring>> cases = {
        {}, {L"fetch"}, {L"get", L"K"}, {L"get", L"K", L"n", L"extra"}, {L"get", L"K", L"n", L"--recursive"},
        {L"get", L"K", L"n", L"--type", L"dword"}, {L"get", L"K", L"n", L"--type", L"int", L"--default", L"ten"},
        {L"get", L"K", L"n", L"--type", L"bool", L"--default", L"maybe"}, {L"set", L"K", L"n", L"1"}, // no --type
        {L"set", L"K", L"n", L"0x100000000", L"--type", L"int"}, {L"set", L"K", L"n", L"on", L"--type", L"bool"},
        {L"list", L"--recursive=yes"}, {L"list", L"--colour"}, {L"list", L"--instance"}, {L"export", L"--encoding", L"latin1"},
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
