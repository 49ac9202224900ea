// The registry's own reg tool against the .reg writer and reader: a file
// written here and imported by reg holds every value byte for byte, and
// reg's export of that key reads back to the same values. Runs under Wine,
// where reg.exe is in the prefix's system32.
#include "common/RawRegistry.h"
#include "RegFile.h"
#include "RegFileSummary.h"
#include "Text.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cwctype>
#include <fstream>
#include <iterator>

using namespace vesk_tool;

namespace {

std::vector<unsigned char> counting(std::size_t count)
{
    std::vector<unsigned char> out;
    for (std::size_t i = 1; i <= count; ++i)
        out.push_back(static_cast<unsigned char>(i));
    return out;
}

std::vector<unsigned char> text(const wchar_t* t) { return Kestlib500::TextBytes(t); }

// One value, with what Wine's reg is known to do differently from Windows.
struct Row {
    const wchar_t* name;
    DWORD type;
    std::vector<unsigned char> data;
    bool exportedFaithfully = true; // reg export writes a form that reads back the same
    bool exportedAsWritten = true;  // ... and the same form the writer chose
};

// Wine's reg import appends a NUL to string-typed hex data that lacks one
// (and fails on a single byte), so unterminated strings stay out of this
// comparison; the writer's own round trip covers them. Rows sorted as the
// registry enumerates them.
std::vector<Row> rows()
{
    return {
        {L"", REG_SZ, text(L"default")},
        {L"big endian", 5, counting(4)},
        {L"binary", REG_BINARY, counting(64)},
        {L"binary empty", REG_BINARY, {}},
        {L"dword", REG_DWORD, {0x2a, 0, 0, 0xff}},
        {L"dword long", REG_DWORD, counting(5), false, false},  // reg export writes dword:04030201
        {L"dword short", REG_DWORD, counting(3), false, false}, // ... and dword:00030201
        {L"expand", REG_EXPAND_SZ, text(L"%TEMP%\\x")},
        {L"high type", 0x12345, counting(3)},
        {L"link", 6, text(L"\\Registry\\Machine")},
        {L"multi", REG_MULTI_SZ, {0x61, 0, 0, 0, 0x62, 0, 0, 0, 0, 0}},
        {L"name \"quoted\" \\ back\\slash with a long hex value", REG_BINARY, counting(40)},
        {L"none", 0, {}},
        {L"none bytes", 0, {1, 2}},
        {L"qword", REG_QWORD, counting(8)},
        {L"qword odd", REG_QWORD, counting(7)},
        {L"sz", REG_SZ, text(L"C:\\dir \"q\" \u20ac\U0001F600;#[]")},
        {L"sz CR", REG_SZ, text(L"a\rb"), true, false}, // reg export writes "a\rb"
        {L"sz empty", REG_SZ, text(L"")},
        {L"sz LF", REG_SZ, text(L"a\nb"), true, false},
        {L"sz NUL inside", REG_SZ, {0x41, 0, 0, 0, 0x42, 0, 0, 0}, false, false}, // reg export writes "A"
        {L"sz two NULs", REG_SZ, {0x41, 0, 0, 0, 0, 0}, false, false},
    };
}

RegDocument document(const std::wstring& path, const std::vector<Row>& values, bool (*keep)(const Row&))
{
    RegKey key;
    key.path = path;
    for (const Row& row : values)
        if (keep(row))
            key.values.push_back(RegValue{0, row.name, false, {row.type, row.data}});
    RegKey empty;
    empty.path = path + L"\\Empty";
    return RegDocument{{key, empty}};
}

// reg.exe from the system directory, waited for; its exit status, or -1
// when it could not be started.
int runReg(std::initializer_list<std::wstring> arguments)
{
    std::wstring command = L"reg.exe";
    for (const std::wstring& argument : arguments)
        command += L" \"" + argument + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return -1;
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD status = 0;
    GetExitCodeProcess(process.hProcess, &status);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return static_cast<int>(status);
}

std::wstring tempFile(const std::wstring& name)
{
    wchar_t directory[MAX_PATH + 1];
    const DWORD length = GetTempPathW(MAX_PATH + 1, directory);
    return std::wstring(directory, length) + name;
}

std::string readBytes(const std::wstring& path)
{
    std::ifstream in(path.c_str(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class RegTool : public testing::Test {
protected:
    void SetUp() override
    {
        scratch = L"Software\\" + RawRegistry::UniqueName(L"vesk-reg-test");
        path = L"HKEY_LOCAL_MACHINE\\" + scratch;
        file = tempFile(RawRegistry::UniqueName(L"vesk-reg") + L".reg");
    }

    void TearDown() override
    {
        RawRegistry::DeleteTree(scratch);
        DeleteFileW(file.c_str());
    }

    std::wstring scratch;
    std::wstring path;
    std::wstring file;
};

} // namespace

TEST_F(RegTool, ImportsEveryTypeAsWrittenAndExportsItReadably)
{
    const std::vector<Row> all = rows();
    {
        std::ofstream out(file.c_str(), std::ios::binary);
        out << writeRegFile(document(path, all, [](const Row&) { return true; }), RegEncoding::Utf16);
    }
    ASSERT_EQ(runReg({L"import", file}), 0);
    for (const Row& row : all) {
        SCOPED_TRACE(toUtf8(row.name));
        Kestlib500::RawValue stored;
        ASSERT_TRUE(RawRegistry::Get(scratch, row.name, stored));
        EXPECT_EQ(stored.type, row.type);
        EXPECT_EQ(regfile_test::hexOf(stored.data), regfile_test::hexOf(row.data));
    }
    EXPECT_TRUE(RawRegistry::KeyExists(scratch + L"\\Empty"));

    ASSERT_EQ(runReg({L"export", L"HKLM\\" + scratch, file, L"/y"}), 0);
    // Values reg exports lossily are left out on both sides.
    RegDocument exported = readRegFile(readBytes(file));
    std::vector<RegValue>& values = exported.keys.at(0).values;
    values.erase(std::remove_if(values.begin(), values.end(),
                                [&](const RegValue& value) {
                                    return std::any_of(all.begin(), all.end(), [&](const Row& row) {
                                        return row.name == value.name && !row.exportedFaithfully;
                                    });
                                }),
                 values.end());
    EXPECT_EQ(regfile_test::summary(exported),
              regfile_test::summary(document(path, all, [](const Row& row) { return row.exportedFaithfully; })));
}

// Where reg writes the same form as the writer, its export is the writer's
// output byte for byte: layout, escapes, hex wrapping, key order.
TEST_F(RegTool, ExportIsByteForByteWhatTheWriterWrites)
{
    const RegDocument same = document(path, rows(), [](const Row& row) { return row.exportedAsWritten; });
    const std::string written = writeRegFile(same, RegEncoding::Utf16);
    {
        std::ofstream out(file.c_str(), std::ios::binary);
        out << written;
    }
    ASSERT_EQ(runReg({L"import", file}), 0);
    ASSERT_EQ(runReg({L"export", L"HKLM\\" + scratch, file, L"/y"}), 0);
    EXPECT_EQ(readBytes(file), written);
}
