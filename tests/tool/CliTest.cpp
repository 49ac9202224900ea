#include "Text.h"
#include "ToolProcess.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <set>

#if defined(_WIN32)
#include <windows.h>
#else
#include <unistd.h>
#endif

using vesk_tool::fromUtf8;
using vesk_tool::toUtf16le;
using vesk_tool::toUtf8;

namespace {

const std::string Server = "HKEY_LOCAL_MACHINE\\Software\\Halvorn\\Tessaly\\Orvane\\";

std::wstring processId()
{
#if defined(_WIN32)
    return std::to_wstring(GetCurrentProcessId());
#else
    return std::to_wstring(getpid());
#endif
}

std::string replaceAll(std::string text, const std::string& from, const std::string& to)
{
    for (std::size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size())
        text.replace(at, from.size(), to);
    return text;
}

std::string crlf(const std::string& text) { return replaceAll(text, "\n", "\r\n"); }

// Every test works in instances of its own, removed when the suite ends;
// natively the whole store is a scratch file.
class VeskTool : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
#if !defined(_WIN32)
        setenv("KESTLIB_REGISTRY", (scratchDirectory() / "registry.db").c_str(), 1);
#endif
    }

    static void TearDownTestSuite()
    {
        for (const std::wstring& name : used)
            runTool({L"--instance", name, L"delete", L""});
        std::filesystem::remove_all(scratchDirectory());
    }

    std::wstring instance(const std::string& tag)
    {
        const std::string test = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        const std::wstring name = L"vesk-tool-" + processId() + L"-" + fromUtf8(test + "-" + tag);
        used.insert(name);
        return name;
    }

    static ToolRun vesk(const std::wstring& instance, std::vector<std::wstring> args)
    {
        args.insert(args.begin(), {L"--instance", instance});
        return runTool(args);
    }

    // The instance's whole tree, as UTF-8 registry text.
    static std::string snapshot(const std::wstring& instance)
    {
        return vesk(instance, {L"export", L"--encoding", L"utf8"}).out;
    }

    static void expectOk(const ToolRun& run, const std::string& out = "")
    {
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.out, out);
        EXPECT_EQ(run.err, "");
    }

    static std::set<std::wstring> used;
};

std::set<std::wstring> VeskTool::used;

} // namespace

TEST_F(VeskTool, ReadsBackEachTypeAsSet)
{
    const auto a = instance("a");
    const struct {
        const wchar_t* type;
        const wchar_t* input;
        const char* shown;
    } cases[] = {
        {L"int", L"42", "42"},
        {L"int", L"0xFFFFFFFF", "-1"},
        {L"int", L"-2147483648", "-2147483648"},
        {L"string", L"h\u00e9llo \u2603 \"q\" C:\\dir", "h\xC3\xA9llo \xE2\x98\x83 \"q\" C:\\dir"},
        {L"string", L"", ""},
        {L"bool", L"yes", "true"},
        {L"bool", L"0", "false"},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const std::wstring name = L"v" + std::to_wstring(i);
        expectOk(vesk(a, {L"set", L"K", name, cases[i].input, L"--type", cases[i].type}));
        expectOk(vesk(a, {L"get", L"K", name, L"--type", cases[i].type}), std::string(cases[i].shown) + "\n");
    }
    // Booleans are kept as the text the library writes.
    expectOk(vesk(a, {L"get", L"k", L"V5"}), "True\n");
}

TEST_F(VeskTool, ExitsWithTheStatusOfWhatHappened)
{
    const auto a = instance("a");
    expectOk(vesk(a, {L"set", L"S", L"text", L"x", L"--type", L"string"}));
    expectOk(vesk(a, {L"set", L"S", L"n", L"7", L"--type", L"int"}));
    const struct {
        std::vector<std::wstring> args;
        int status;
        std::string out;
    } cases[] = {
        {{L"get", L"S", L"missing"}, 1, ""},
        {{L"get", L"S", L"missing", L"--type", L"int", L"--default", L"0x10"}, 0, "16\n"},
        {{L"get", L"No\\Such", L"n", L"--default", L"d"}, 0, "d\n"},
        {{L"get", L"S", L"text", L"--type", L"int"}, 3, ""},
        {{L"get", L"S", L"n"}, 3, ""},
        {{L"get", L"S", L"n", L"--type", L"bool", L"--default", L"true"}, 3, ""},
        {{L"get", L"s", L"TEXT"}, 0, "x\n"},
        {{L"set", L"S", L"n", L"4294967296", L"--type", L"int"}, 2, ""},
        {{L"set", L"S", L"n", L"maybe", L"--type", L"bool"}, 2, ""},
        {{L"set", L"S", L"n", L"1"}, 2, ""},
        {{L"frobnicate"}, 2, ""},
        {{L"get", L"S", L"n", L"--type", L"int"}, 0, "7\n"},
        {{L"exists", L"s"}, 0, ""},
        {{L"exists", L"Nope"}, 1, ""},
        {{L"list", L"Nope"}, 1, ""},
        {{L"export", L"Nope"}, 1, ""},
        {{L"import", (scratchDirectory() / "absent.reg").wstring()}, 2, ""},
        {{L"delete", L"S", L"missing"}, 1, ""},
        {{L"delete", L"Nope"}, 1, ""},
        {{L"delete", L"S", L"text"}, 0, ""},
        {{L"get", L"S", L"text"}, 1, ""},
        {{L"delete", L"S"}, 0, ""},
        {{L"exists", L"S"}, 1, ""},
    };
    for (const auto& c : cases) {
        const ToolRun run = vesk(a, c.args);
        const std::string what = toUtf8(c.args[0] + L" " + (c.args.size() > 1 ? c.args[1] : L""));
        EXPECT_EQ(run.status, c.status) << what << ": " << run.err;
        EXPECT_EQ(run.out, c.out) << what;
        if (c.status != 0) { // one line that says what to do
            EXPECT_EQ(run.err.rfind("vesk: ", 0), 0u) << run.err;
            EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << run.err;
        }
    }
}

TEST_F(VeskTool, AnswersHelpAndTheLoggingPath)
{
    const ToolRun help = runTool({L"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("exit status"), std::string::npos);
    EXPECT_NE(runTool({L"import", L"--help"}).out.find("--from-instance"), std::string::npos);

    // Nothing here sets the logging key, but other tests sharing a Wine
    // prefix may have; natively the store is this suite's own.
    const ToolRun logging = runTool({L"logging-path"});
#if defined(_WIN32)
    if (logging.status == 0) {
        EXPECT_GT(logging.out.size(), 1u);
        return;
    }
#endif
    EXPECT_EQ(logging.status, 1);
    EXPECT_NE(logging.err.find("loggingPath"), std::string::npos) << logging.err;
}

TEST_F(VeskTool, ListsValuesAndSubKeys)
{
    const auto a = instance("a");
    const std::string root = Server + toUtf8(a);
    expectOk(vesk(a, {L"set", L"", L"r", L"1", L"--type", L"int"}));
    expectOk(vesk(a, {L"set", L"A", L"n", L"5", L"--type", L"int"}));
    expectOk(vesk(a, {L"set", L"A", L"s", L"x", L"--type", L"string"}));
    expectOk(vesk(a, {L"set", L"A\\B", L"t", L"y", L"--type", L"string"}));

    expectOk(vesk(a, {L"list"}), root + "\n    r    1\n\n" + root + "\\A\n");
    expectOk(vesk(a, {L"list", L"A", L"--recursive"}),
             root + "\\A\n    n    5\n    s    x\n\n" + root + "\\A\\B\n    t    y\n\n");
    expectOk(vesk(a, {L"list", L"A\\B"}), root + "\\A\\B\n    t    y\n");
}

TEST_F(VeskTool, ExportThenImportReproducesTheTree)
{
    const auto a = instance("a");
    const std::string root = Server + toUtf8(a);
    writeBytes(scratchDirectory() / "empty.reg",
               "REGEDIT4\n[" + root + "\\Empty]\n"); // the settings cannot make an empty key otherwise
    expectOk(vesk(a, {L"import", (scratchDirectory() / "empty.reg").wstring()}));
    expectOk(vesk(a, {L"set", L"", L"", L"default", L"--type", L"string"}));
    expectOk(vesk(a, {L"set", L"", L"count", L"42", L"--type", L"int"}));
    expectOk(vesk(a, {L"set", L"", L"flag", L"true", L"--type", L"bool"}));
    expectOk(vesk(a, {L"set", L"Paths", L"data", L"C:\\dir \"q\" \u00e9\U0001F600", L"--type", L"string"}));
    expectOk(vesk(a, {L"set", L"Paths\\Deeper", L"neg", L"-1", L"--type", L"int"}));
    const std::string original = snapshot(a);
    EXPECT_NE(original.find("\"data\"=\"C:\\\\dir \\\"q\\\" \xC3\xA9\xF0\x9F\x98\x80\""), std::string::npos) << original;
    EXPECT_NE(original.find("\"neg\"=dword:ffffffff"), std::string::npos) << original;

    for (const char* encoding : {"utf8", "utf16"}) {
        SCOPED_TRACE(encoding);
        const auto b = instance(encoding);
        const auto file = scratchDirectory() / (std::string(encoding) + ".reg");
        expectOk(vesk(a, {L"export", L"--output", file.wstring(), L"--encoding", fromUtf8(encoding)}));
        EXPECT_EQ(readBytes(file).substr(0, 2), std::string(encoding) == "utf16" ? "\xFF\xFE" : "Wi");
        expectOk(vesk(b, {L"import", file.wstring(), L"--from-instance", a}));
        EXPECT_EQ(snapshot(b), replaceAll(original, root, Server + toUtf8(b)));
    }

#if defined(_WIN32)
    const char* platformStart = "\xFF\xFE";
#else
    const char* platformStart = "Windows Registry Editor Version 5.00\n";
#endif
    EXPECT_EQ(vesk(a, {L"export"}).out.rfind(platformStart, 0), 0u);
}

TEST_F(VeskTool, ExportLeavesOutWhatAFileCannotCarry)
{
    const auto a = instance("a");
    expectOk(vesk(a, {L"set", L"K", L"one", L"line", L"--type", L"string"}));
    expectOk(vesk(a, {L"set", L"K", L"two", L"line\nbreak", L"--type", L"string"}));
    const ToolRun run = vesk(a, {L"export", L"--encoding", L"utf8"});
    EXPECT_EQ(run.status, 3);
    EXPECT_NE(run.out.find("\"one\"=\"line\""), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find("\"two\""), std::string::npos) << run.out;
    EXPECT_NE(run.err.find("warning: value \"two\""), std::string::npos) << run.err;
}

#if defined(_WIN32)
// Only the Windows registry lets a test store types the settings cannot hold.
TEST_F(VeskTool, ReportsValuesOfOtherRegistryTypes)
{
    const auto a = instance("a");
    const std::wstring key = L"Software\\Halvorn\\Tessaly\\Orvane\\" + a + L"\\Raw";
    HKEY raw = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &raw, nullptr), ERROR_SUCCESS);
    const wchar_t expand[] = L"%TEMP%";
    const BYTE binary[] = {1, 2};
    RegSetValueExW(raw, L"expand", 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(expand), sizeof expand);
    RegSetValueExW(raw, L"binary", 0, REG_BINARY, binary, sizeof binary);
    RegSetValueExW(raw, L"plain", 0, REG_SZ, reinterpret_cast<const BYTE*>(expand), sizeof expand);
    RegCloseKey(raw);

    const ToolRun exported = vesk(a, {L"export", L"--encoding", L"utf8"});
    EXPECT_EQ(exported.status, 3);
    EXPECT_NE(exported.out.find("\"plain\"=\"%TEMP%\""), std::string::npos) << exported.out;
    EXPECT_EQ(exported.out.find("expand"), std::string::npos) << exported.out;
    EXPECT_NE(exported.err.find("\"binary\" of " + Server + toUtf8(a) + "\\Raw is neither"), std::string::npos) << exported.err;
    const ToolRun read = vesk(a, {L"get", L"Raw", L"expand"});
    EXPECT_EQ(read.status, 3);
    EXPECT_NE(read.err.find("cannot be read"), std::string::npos) << read.err;
}
#endif

TEST_F(VeskTool, ImportsFilesWrittenByHand)
{
    const struct {
        const char* name;
        std::string (*encode)(const std::string&);
    } encodings[] = {
        {"utf8", [](const std::string& text) { return text; }},
        {"utf8-bom-crlf", [](const std::string& text) { return "\xEF\xBB\xBF" + crlf(text); }},
        {"utf16-bom-crlf", [](const std::string& text) { return "\xFF\xFE" + toUtf16le(fromUtf8(crlf(text))); }},
    };
    for (const auto& encoding : encodings) {
        SCOPED_TRACE(encoding.name);
        const auto a = instance(encoding.name);
        const std::string root = Server + toUtf8(a);
        expectOk(vesk(a, {L"set", L"Net", L"Old", L"x", L"--type", L"string"}));
        expectOk(vesk(a, {L"set", L"Gone\\Deep", L"v", L"1", L"--type", L"int"}));
        const std::string text = "Windows Registry Editor Version 5.00\n\n; by hand\n"
                                 "[" + root + "\\Net]\n"
                                 "\"Host\"=\"db \xE2\x82\xAC \\\"main\\\"\"\n"
                                 "\"Port\"=dword:00001F90\n"
                                 "\"Old\"=-\n\n"
                                 "[-" + root + "\\Gone]\n\n"
                                 "[HKLM\\software\\halvorn\\tessaly\\orvane\\" + toUtf8(a) + "\\Net\\Empty]\n";
        const auto file = scratchDirectory() / (std::string(encoding.name) + "-hand.reg");
        writeBytes(file, encoding.encode(text));
        expectOk(vesk(a, {L"import", file.wstring()}));
        EXPECT_EQ(snapshot(a), "Windows Registry Editor Version 5.00\n\n"
                               "[" + root + "]\n\n"
                               "[" + root + "\\Net]\n"
                               "\"Host\"=\"db \xE2\x82\xAC \\\"main\\\"\"\n"
                               "\"Port\"=dword:00001f90\n\n"
                               "[" + root + "\\Net\\Empty]\n\n");
    }
}

TEST_F(VeskTool, RefusesBadFilesWithoutWritingAnything)
{
    const auto a = instance("a");
    const std::string root = Server + toUtf8(a);
    expectOk(vesk(a, {L"set", L"K", L"keep", L"1", L"--type", L"string"}));
    const std::string before = snapshot(a);
    const std::string head = "Windows Registry Editor Version 5.00\n\n[" + root + "\\K]\n\"new\"=\"written?\"\n";
    const std::string whole16 = "\xFF\xFE" + toUtf16le(fromUtf8(crlf(head + "\"more\"=\"text\"\n")));
    const struct {
        const char* name;
        std::string bytes;
        int line;
    } cases[] = {
        {"truncated", head + "\"cut\"=\"unfinish", 5},
        {"truncated-utf16", whole16.substr(0, whole16.size() - 3), 5},
        {"unknown-type", head + "\"e\"=hex(2):25,00,00,00\n", 5},
        {"outside", head + "\n[" + root + "-other\\K]\n", 6},
        {"logging-key", head + "[HKEY_LOCAL_MACHINE\\Software\\Halvorn\\Tessaly\\Logging]\n", 5},
        {"dword-range", head + "\"big\"=dword:100000000\n", 5},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto file = scratchDirectory() / (std::string(c.name) + ".reg");
        writeBytes(file, c.bytes);
        const ToolRun run = vesk(a, {L"import", file.wstring()});
        EXPECT_EQ(run.status, 2);
        EXPECT_NE(run.err.find(std::string(c.name) + ".reg:" + std::to_string(c.line) + ": "), std::string::npos) << run.err;
        EXPECT_EQ(snapshot(a), before);
    }
}
