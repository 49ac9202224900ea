// The tool's commands end to end: each status, output and message.
#include "VeskTool.h"

using namespace vesk_tool;
using namespace vesk_tool_test;

// One session through every command, each step checked for its status and
// output; a failure says so in one line that begins "vesk: ".
TEST_F(VeskTool, EveryCommandExitsWithTheStatusOfWhatHappened)
{
    const auto a = instance();
    const std::string root = vesk_tool_test::root(a);
    const std::wstring text = L"h\u00e9llo \u2603 C:\\dir";
    const std::string shown = "h\xC3\xA9llo \xE2\x98\x83 C:\\dir";
    const struct {
        std::vector<std::wstring> args;
        int status;
        std::string out;
    } steps[] = {
        {{L"set", L"", L"r", L"0xFFFFFFFF", L"--type", L"int"}, 0, ""},
        {{L"set", L"A", L"n", L"7", L"--type", L"int"}, 0, ""},
        {{L"set", L"A", L"s", text, L"--type", L"string"}, 0, ""},
        // Options before operands, =, the last one counting, and operands with dashes after "--"
        // (set first: the registry lists values in order of name, the store in order of writing).
        {{L"set", L"--type", L"bool", L"A\\B", L"--type=string", L"--", L"-x", L"-7"}, 0, ""},
        {{L"get", L"A\\B", L"--", L"-x"}, 0, "-7\n"},
        {{L"set", L"A\\B", L"u", L"yes", L"--type", L"bool"}, 0, ""},
        {{L"list"}, 0, root + "\n    r    -1\n\n" + root + "\\A\n"},
        {{L"list", L"A", L"--recursive"}, 0,
         root + "\\A\n    n    7\n    s    " + shown + "\n\n" + root + "\\A\\B\n    -x    -7\n    u    True\n\n"},
        {{L"list", L"A\\B"}, 0, root + "\\A\\B\n    -x    -7\n    u    True\n"},
        {{L"get", L"a", L"S"}, 0, shown + "\n"},
        {{L"get", L"A\\B", L"u", L"--type", L"bool"}, 0, "true\n"},
        {{L"get", L"No\\Such", L"n", L"--type", L"int", L"--default", L"0x10"}, 0, "16\n"},
        {{L"get", L"A", L"s", L"--type", L"int"}, 3, ""},
        {{L"get", L"A", L"n", L"--type", L"bool", L"--default", L"true"}, 3, ""},
        {{L"get", L"", L"r", L"--type", L"int"}, 0, "-1\n"},
        {{L"exists", L"a"}, 0, ""},
        {{L"exists", L"Nope"}, 1, ""},
        {{L"list", L"Nope"}, 1, ""},
        {{L"export", L"Nope"}, 1, ""},
        {{L"import", (dir / "absent.reg").wstring()}, 2, ""},
        {{L"delete", L"A", L"missing"}, 1, ""},
        {{L"delete", L"Nope"}, 1, ""},
        {{L"delete", L"A", L"s"}, 0, ""},
        {{L"get", L"A", L"s"}, 1, ""},
        {{L"delete", L"A"}, 0, ""},
        {{L"exists", L"A"}, 1, ""},
    };
    for (const auto& step : steps) {
        const std::string what = testing::PrintToString(step.args);
        const ToolRun result = vesk(a, step.args);
        EXPECT_EQ(result.status, step.status) << what << ": " << result.err;
        EXPECT_EQ(result.out, step.out) << what;
        const bool oneLine = result.err.rfind("vesk: ", 0) == 0 && result.err.find('\n') == result.err.size() - 1;
        EXPECT_TRUE(step.status == 0 ? result.err.empty() : oneLine) << what << ": " << result.err;
    }
}

// A usage error exits 2 before anything runs, in one line saying what is
// wrong and which help to read; help, version and options after the command
// are no usage errors.
TEST_F(VeskTool, RefusesUsageErrorsBeforeAnythingRuns)
{
    const auto a = instance();
    const struct {
        std::vector<std::wstring> args;
        std::string says;
    } rows[] = {
        {{}, "no command given (see 'vesk --help')"},
        {{L"fetch"}, "unknown command 'fetch' (see 'vesk --help')"},
        {{L"get", L"K"}, "NAME is required (see 'vesk get --help')"},
        {{L"get", L"K", L"n", L"extra"}, "not expected: extra"},
        {{L"get", L"K", L"n", L"--recursive"}, "not expected: --recursive"},
        {{L"get", L"K", L"n", L"--type", L"dword"}, "--type: dword not in {string,int,bool}"},
        {{L"get", L"K", L"n", L"--type", L"int", L"--default", L"ten"}, "--default 'ten' is not a 32-bit int"},
        {{L"set", L"K", L"n", L"1"}, "--type is required (see 'vesk set --help')"},
        {{L"set", L"K", L"n", L"0x100000000", L"--type", L"int"}, "the value '0x100000000' is not a 32-bit int"},
        {{L"set", L"K", L"n", L"on", L"--type", L"bool"}, "the value 'on' is not a bool"},
        {{L"list", L"--recursive=yes"}, "disallowed flag override"},
        {{L"list", L"--instance"}, "--instance: 1 required"},
        {{L"export", L"--encoding", L"latin1"}, "--encoding: latin1 not in {utf8,utf16}"},
        {{L"logging-path", L"extra"}, "not expected: extra (see 'vesk logging-path --help')"},
        {{L"fleet", L"gc"}, "--keep is required (see 'vesk fleet gc --help')"},
    };
    for (const auto& row : rows) {
        std::vector<std::wstring> args = row.args;
        if (!args.empty())
            args.insert(args.begin(), {L"--instance", a});
        const ToolRun result = run(args);
        EXPECT_EQ(result.status, 2) << testing::PrintToString(args);
        EXPECT_EQ(result.err.rfind("vesk: ", 0), 0u) << result.err;
        EXPECT_NE(result.err.find(row.says + (row.says.back() == ')' ? "\n" : "")), npos) << result.err;
        EXPECT_EQ(result.err.find('\n'), result.err.size() - 1) << result.err;
    }
    EXPECT_EQ(vesk(a, {L"list"}).status, 1) << "nothing was written";
    expectOk(run({L"get", L"K", L"n", L"--instance", a, L"--default", L"0x10", L"--type", L"int"}), "16\n");
    const ToolRun help = run({L"--help"}), importHelp = run({L"import", L"--help"}), version = run({L"--version"});
    EXPECT_EQ(help.status + importHelp.status + version.status, 0) << help.err << importHelp.err << version.err;
    EXPECT_NE(help.out.find("exit status: 0 done, 1 not there, 2 usage"), npos) << help.out;
    EXPECT_NE(importHelp.out.find("REGEDIT4"), npos) << importHelp.out;
    EXPECT_EQ(version.out.rfind("vesk ", 0), 0u) << version.out;
}

// The logging key is shared with whatever else uses the store: what was there is put back.
TEST_F(VeskTool, PrintsTheLoggingPathOnlyWhenOneIsSet)
{
    const std::wstring logging = L"Software\\Halvorn\\Tessaly\\Logging";
    Kestlib500::RawValue saved{REG_SZ, RawRegistry::Text(L"")};
    RawRegistry::Get(logging, L"loggingPath", saved);
    ASSERT_TRUE(RawRegistry::Set(logging, L"loggingPath", REG_SZ, RawRegistry::Text(L"C:\\logs \u00e9")));
    expectOk(run({L"logging-path"}), "C:\\logs \xC3\xA9\n");
    RawRegistry::Set(logging, L"loggingPath", REG_SZ, RawRegistry::Text(L""));
    const ToolRun unset = run({L"logging-path"});
    RawRegistry::Set(logging, L"loggingPath", saved.type, saved.data);
    EXPECT_EQ(unset.status, 1);
    EXPECT_NE(unset.err.find("loggingPath"), npos) << unset.err;
}

TEST_F(VeskTool, ExportLeavesOutWhatAFileCannotCarry)
{
    const auto a = instance();
    const std::string root = vesk_tool_test::root(a);
    expectOk(vesk(a, {L"set", L"K", L"one", L"line", L"--type", L"string"}));
    expectOk(vesk(a, {L"set", L"K", L"two", L"line\nbreak", L"--type", L"string"}));
    // A type the settings cannot hold travels as its bytes; a name with a line break cannot travel.
    ASSERT_TRUE(RawRegistry::Set(ServerKey + L"\\" + a + L"\\K", L"zbinary", REG_BINARY, {1, 2}));
    ASSERT_TRUE(RawRegistry::Set(ServerKey + L"\\" + a + L"\\K", L"bro\nken", REG_BINARY, {3}));
    // Nor can string data without its final NUL, which reading appends; nor,
    // in UTF-8, a lone surrogate.
    ASSERT_TRUE(RawRegistry::Set(ServerKey + L"\\" + a + L"\\K", L"unended", REG_SZ, {0x41, 0}));
    ASSERT_TRUE(RawRegistry::Set(ServerKey + L"\\" + a + L"\\K", L"surrogate", REG_SZ, {0x3D, 0xD8, 0, 0}));

    const ToolRun exported = vesk(a, {L"export", L"--encoding", L"utf8"});
    EXPECT_EQ(exported.status, 3);
    EXPECT_EQ(exported.out, "Windows Registry Editor Version 5.00\n\n[" + root + "]\n\n[" + root +
                                "\\K]\n\"one\"=\"line\"\n\"two\"=hex(1):6c,69,6e,65,0a,62,72,65,61,6b,00\n"
                                "\"zbinary\"=hex:01,02\n\n");
    EXPECT_NE(exported.err.find("\"bro\nken\" of " + root + "\\K has a name a .reg file cannot carry"), npos) << exported.err;
    EXPECT_NE(exported.err.find("\"unended\" of " + root + "\\K holds string data a UTF-8 .reg file cannot carry"), npos) << exported.err;
    EXPECT_NE(exported.err.find("\"surrogate\" of " + root + "\\K holds string data a UTF-8"), npos) << exported.err;
    EXPECT_NE(exported.err.find("3 entries left out"), npos) << exported.err;
    const ToolRun wide = vesk(a, {L"export"});
    EXPECT_EQ(wide.status, 3);
    EXPECT_NE(wide.err.find("\"unended\" of " + root + "\\K holds string data a .reg file cannot carry"), npos) << wide.err;
    EXPECT_NE(wide.err.find("2 entries left out"), npos) << wide.err;
    const ToolRun read = vesk(a, {L"get", L"K", L"zbinary"});
    EXPECT_EQ(read.status, 3);
    EXPECT_NE(read.err.find("cannot be read"), npos) << read.err;
}

// A file written by hand is applied whole, or, when any line of it is bad,
// not at all: each bad file has a sound line before the bad one. (UTF-16
// files from the tool come back whole in CliRoundTripTest.)
TEST_F(VeskTool, ImportsFilesWrittenByHandWholeOrNotAtAll)
{
    const auto a = instance();
    const std::string root = vesk_tool_test::root(a);
    expectOk(vesk(a, {L"set", L"Net", L"Old", L"x", L"--type", L"string"}));
    expectOk(vesk(a, {L"set", L"Vault\\Deep", L"v", L"1", L"--type", L"int"}));
    // Lines apply in file order, and every key named is there afterwards.
    const std::string head = "Windows Registry Editor Version 5.00\n\n; by hand\n[" + root + "\\Net]\n";
    const std::string text = head + "\"Host\"=\"db \xE2\x82\xAC \\\"main\\\"\"\n"
                                    "\"Port\"=dword:00001F90\n"
                                    "\"Old\"=-\n\n"
                                    "[hklm\\software\\halvorn\\tessaly\\orvane\\" + toUtf8(a) + "\\Net\\Empty]\n"
                                    "\"none\"=-\n"
                                    "[-" + root + "\\Vault]\n"
                                    "[" + root + "\\Vault]\n"
                                    "\"v\"=dword:2\n"
                                    "[" + root + "\\Spare]\n"
                                    "\"s\"=\"x\"\n"
                                    "[-" + root + "\\Spare]\n";
    expectOk(vesk(a, {L"import", write("hand.reg", text).wstring()}));
    const std::string imported = "Windows Registry Editor Version 5.00\n\n"
                                 "[" + root + "]\n\n"
                                 "[" + root + "\\Net]\n"
                                 "\"Host\"=\"db \xE2\x82\xAC \\\"main\\\"\"\n"
                                 "\"Port\"=dword:00001f90\n\n"
                                 "[" + root + "\\Net\\Empty]\n\n"
                                 "[" + root + "\\Vault]\n"
                                 "\"v\"=dword:00000002\n\n";
    EXPECT_EQ(snapshot(a), imported);

    const std::string sound = head + "\"new\"=\"x\"\n"; // line 5; the bad line is 6
    const struct {
        const char* name;
        std::string bytes;
        const char* why;
    } bad[] = {
        {"truncated", sound + "\"cut\"=\"unfinish", "no closing quote"},
        {"bad-hex", sound + "\"e\"=hex(2):25,zz\n", "expected a hex byte"},
        {"outside", sound + "[" + root + "-other\\K]\n", "is outside"},
        {"dword-range", sound + "\"big\"=dword:100000000\n", "out of range"},
    };
    for (const auto& c : bad) {
        const ToolRun result = vesk(a, {L"import", write(std::string(c.name) + ".reg", c.bytes).wstring()});
        EXPECT_EQ(result.status, 2) << c.name;
        EXPECT_NE(result.err.find(std::string(c.name) + ".reg:6: "), npos) << result.err;
        EXPECT_NE(result.err.find(c.why), npos) << result.err;
        EXPECT_EQ(snapshot(a), imported) << c.name;
    }
}
