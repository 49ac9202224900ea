#include "tools/vesk/core/RegFile.h"
#include "tools/vesk/core/Text.h"
#include "RegFileSummary.h"

#include <gtest/gtest.h>

using namespace vesk_tool;
using namespace regfile_test;

// The registry editor's own layout, as its export writes these values.
TEST(RegFileRoundTrip, WritesWhatTheRegistryEditorWrites)
{
    RegKey key;
    key.path = L"HKEY_CURRENT_USER\\T1";
    key.values = {
        RegValue{0, L"", false, {REG_SZ, Kestlib500::TextBytes(L"def")}},
        RegValue{0, L"averyveryveryverylongname", false, {REG_BINARY, counting(64)}},
        RegValue{0, L"be", false, {5, counting(4)}},
        RegValue{0, L"big", false, {0x12345, counting(1)}},
        RegValue{0, L"dw", false, {REG_DWORD, {0x2a, 0, 0, 0}}},
        RegValue{0, L"emptybin", false, {REG_BINARY, {}}},
        RegValue{0, L"ex", false, {REG_EXPAND_SZ, {0x25, 0, 0x41, 0, 0x25, 0, 0, 0}}},
        RegValue{0, L"none", false, {0, {}}},
        RegValue{0, L"sz", false, {REG_SZ, Kestlib500::TextBytes(L"a\\b\"c")}},
    };
    RegKey empty;
    empty.path = L"HKEY_CURRENT_USER\\T1\\empty";
    const std::string expected = "Windows Registry Editor Version 5.00\r\n\r\n"
                                 "[HKEY_CURRENT_USER\\T1]\r\n"
                                 "@=\"def\"\r\n"
                                 "\"averyveryveryverylongname\"=hex:01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,\\\r\n"
                                 "  10,11,12,13,14,15,16,17,18,19,1a,1b,1c,1d,1e,1f,20,21,22,23,24,25,26,27,28,\\\r\n"
                                 "  29,2a,2b,2c,2d,2e,2f,30,31,32,33,34,35,36,37,38,39,3a,3b,3c,3d,3e,3f,40\r\n"
                                 "\"be\"=hex(5):01,02,03,04\r\n"
                                 "\"big\"=hex(12345):01\r\n"
                                 "\"dw\"=dword:0000002a\r\n"
                                 "\"emptybin\"=hex:\r\n"
                                 "\"ex\"=hex(2):25,00,41,00,25,00,00,00\r\n"
                                 "\"none\"=hex(0):\r\n"
                                 "\"sz\"=\"a\\\\b\\\"c\"\r\n"
                                 "\r\n"
                                 "[HKEY_CURRENT_USER\\T1\\empty]\r\n"
                                 "\r\n";
    const std::string written = writeRegFile(RegDocument{{key, empty}}, RegEncoding::Utf16);
    EXPECT_EQ(written, "\xFF\xFE" + toUtf16le(fromUtf8(expected)));
    // A string with a line break goes as its bytes, which every tool reads:
    // in an 8-bit file those of 8-bit text.
    RegKey lf{0, L"HKEY_CURRENT_USER\\T1", false, {RegValue{0, L"lf", false, {REG_SZ, Kestlib500::TextBytes(L"a\n\u00e9")}}}};
    EXPECT_EQ(writeRegFile(RegDocument{{lf}}, RegEncoding::Utf8),
              "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\T1]\n\"lf\"=hex(1):61,0a,c3,a9,00\n\n");
    EXPECT_NE(writeRegFile(RegDocument{{lf}}, RegEncoding::Utf16).find(toUtf16le(L"hex(1):61,00,0a,00,e9,00,00,00")), std::string::npos);
}

TEST(RegFileRoundTrip, TellsWhatAFileCannotCarry)
{
    const struct {
        std::wstring text;
        bool name;
        bool keyPath;
    } rows[] = {
        {L"plain \"quoted\" \\ ;#[]= \u00e9\U0001F600", true, true},
        {L"HKLM\\a]b\\[c\\ d \\;#", true, true},
        {L"", true, false},
        {L"a\nb", false, false},
        {L"a\rb", false, false},
        {std::wstring(L"a\0b", 3), false, false},
        {std::wstring(1, static_cast<wchar_t>(0xD800)), false, false},
        {L"HKLM\\K\\", true, false},
        {L"\\HKLM\\K", true, false},
        {L"HKLM\\\\K", true, false},
        {L"-HKLM\\K", true, false},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(canWriteName(row.text), row.name) << toUtf8(row.text);
        EXPECT_EQ(canWriteKeyPath(row.text), row.keyPath) << toUtf8(row.text);
    }
    // String data without its final NUL gets one on reading; UTF-8 carries
    // whole units only, and no lone surrogate.
    const struct {
        std::vector<unsigned char> data;
        bool utf16;
        bool utf8;
    } strings[] = {
        {{}, true, true},
        {{0x41, 0, 0, 0, 0x42, 0, 0, 0}, true, true},
        {{0x41, 0}, false, false},
        {{0x41, 0, 0}, false, false},
        {{0x41, 0, 0, 0, 0x42}, true, false},
        {{0x3D, 0xD8, 0, 0}, true, false},
    };
    for (const auto& row : strings)
        for (DWORD type : {REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ}) {
            EXPECT_EQ(canWriteValue({type, row.data}, RegEncoding::Utf16), row.utf16) << type << ": " << hexOf(row.data);
            EXPECT_EQ(canWriteValue({type, row.data}, RegEncoding::Utf8), row.utf8) << type << ": " << hexOf(row.data);
        }
    EXPECT_TRUE(canWriteValue({REG_BINARY, {0x41}}, RegEncoding::Utf8));
}
