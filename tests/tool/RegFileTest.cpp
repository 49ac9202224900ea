#include "tools/vesk/core/RegFile.h"
#include "tools/vesk/core/Text.h"
#include "RegFileSummary.h"

#include <gtest/gtest.h>

using namespace vesk_tool;
using namespace regfile_test;

namespace {

const std::string Header = "Windows Registry Editor Version 5.00\n\n";
const std::string Key = "[HKLM\\K]\n";

std::string utf16(const std::string& utf8) { return "\xFF\xFE" + toUtf16le(fromUtf8(utf8)); }

} // namespace

// Each form the registry tools accept, with the document they make of it.
// Every body follows the header and [HKLM\K].
TEST(RegFile, ReadsEveryFormTheRegistryToolsAccept)
{
    const struct {
        const char* form;
        std::string body;
        std::string values; // the summary lines after [HKLM\K]
    } rows[] = {
        {"; and # comment lines, also indented", "; c\n#c\n  #\"x\"=\"y\"\n\t;z\n\"a\"=\"1\"\n", "a=" + sz(L"1")},
        {"; after a string", "\"a\"=\"Value 2\";comment\n", "a=" + sz(L"Value 2")},
        {"; after a dword", "\"b\"=dword:02040608 ;comment\n", "b=" + dw(0x02040608)},
        {"; after a deletion", "\"c\"=- ;comment\n", "c=-"},
        {"; after hex data", "\"h\"=hex:01,02;c\n\"i\"=hex:03 ;c\n", "h=3:0102\ni=3:03"},
        {"blanks after dword:", "\"a\"=dword:  00000008\n", "a=" + dw(8)},
        {"tabs and blanks around =", "\"b\"\t=\tdword:9\n\"c\" = \"s\"\n@ = \"d\"\n", "b=" + dw(9) + "\nc=" + sz(L"s") + "\n@=" + sz(L"d")},
        {"short and upper-case dword digits", "\"a\"=dword:8\n\"b\"=dword:FFFFFFFE\n", "a=" + dw(8) + "\nb=" + dw(0xFFFFFFFE)},
        {"escapes in strings", "\"a\"=\"C:\\\\x\\\"q\\\"\"\n\"lf\"=\"a\\nb\"\n\"cr\"=\"a\\rb\"\n", "a=" + sz(L"C:\\x\"q\"") + "\nlf=" + sz(L"a\nb") + "\ncr=" + sz(L"a\rb")},
        {"escapes in names", "\"x\\\"\\\\\\n\"=\"\"\n", "x\"\\\n=" + sz(L"")},
        {"the default value, @ or \"\"", "@=\"d\"\n\"\"=\"e\"\n@=-\n", "@=" + sz(L"d") + "\n@=" + sz(L"e") + "\n@=-"},
        {"blanks at the end of a line", "\"a\"=\"x\" \t\n\"b\"=hex:41,00 \n", "a=" + sz(L"x") + "\nb=3:4100"},
        {"hex: bytes, any case, one digit, blanks before a byte", "\"b\"=hex: 1,\t0a, FF \n", "b=3:010aff"},
        {"hex: empty and with a trailing comma", "\"e\"=hex:\n\"t\"=hex:01,\n", "e=3:\nt=3:01"},
        {"hex(0) to hex(b) and beyond", "\"n\"=hex(0):\n\"x\"=hex(8):25,00\n\"be\"=hex(5):01,02,03,04\n\"l\"=hex(6):41,00\n"
                                        "\"q\"=hex(b):01,02,03,04,05,06,07,08\n\"Q\"=hex(B):01\n\"big\"=hex(12345):01\n\"max\"=hex(ffffffff):\n"
                                        "\"bl\"=hex( 3):41\n",
         "n=0:\nx=8:2500\nbe=5:01020304\nl=6:4100\nq=11:0102030405060708\nQ=11:01\nbig=74565:01\nmax=4294967295:\nbl=3:41"},
        {"hex(4) holding a dword", "\"d\"=hex(4):2a,00,00,00\n\"odd\"=hex(4):01\n", "d=" + dw(42) + "\nodd=4:01"},
        {"continuation lines", "\"a\"=hex:01,\\\n   02, \\\n\t03\n\"b\"=\"next\"\n", "a=3:010203\nb=" + sz(L"next")},
        {"blank and comment lines within a continuation", "\"a\"=hex:01,\\ ;c\n\n; c\n  02\n", "a=3:0102"},
        {"a continuation at the end of the file", "\"a\"=hex:01,\\\n", "a=3:01"},
        {"trailing backslashes after a key", "[HKLM\\K\\A\\]\n[HKLM\\K\\B\\\\]\n[-HKLM\\K\\C\\]\n", "[HKLM\\K\\A]\n[HKLM\\K\\B]\n[-HKLM\\K\\C]"},
        {"an indented key, text after the last ]", "  [HKLM\\K\\A] ;c\n[HKLM\\K\\B]]\n", "[HKLM\\K\\A]\n[HKLM\\K\\B]]"},
        {"deletions", "\"a\"=-\n[-HKLM\\K\\Old]\n", "a=-\n[-HKLM\\K\\Old]"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.form);
        const std::string expected = "[HKLM\\K]\n" + row.values + "\n";
        EXPECT_EQ(summary(readRegFile(Header + Key + row.body)), expected);
        EXPECT_EQ(summary(readRegFile(utf16(Header + Key + row.body))), expected);
    }
}

// Each file is a sound line then a bad one, which the registry tools would
// skip (or the whole file, for a bad header): refused, naming its line.
TEST(RegFile, RefusesWhatTheToolsSkipWithItsLine)
{
    const std::string head = Header + Key + "\"ok\"=\"fine\"\n";
    const struct {
        std::string bytes;
        int line;
        const char* message;
    } rows[] = {
        {"", 1, "not a registry file"},
        {"Windows Registry Editor Version 5.00 \n" + Key, 1, "not a registry file"}, // blank after the header
        {"windows registry editor version 5.00\n" + Key, 1, "not a registry file"},
        {"REGEDIT4 x\n" + Key, 1, "not a registry file"},
        {"\n" + Header + Key, 1, "not a registry file"},
        {toUtf16le(fromUtf8(Header + Key)), 1, "byte-order mark"}, // UTF-16 needs its mark
        {"\xFE\xFF", 1, "big-endian"},
        {head + "\"c\"=DWORD:1\n", 5, "unknown data"},
        {head + "\"c\"=HEX:01\n", 5, "unknown data"},
        {head + "\"c\"=hex :01\n", 5, "unknown data"},
        {head + "\"q\"=qword:1\n", 5, "unknown data"},
        {head + "\"d\"=dword:\n", 5, "needs hex digits"},
        {head + "\"d\"=dword:0x1\n", 5, "unexpected text"},
        {head + "\"d\"=dword:1 2\n", 5, "unexpected text"},
        {head + "\"d\"=dword:123456789\n", 5, "out of range"},
        {head + "\"t\"=hex(2) :41\n", 5, "hex(N):"},
        {head + "\"t\"=hex(0x2):41\n", 5, "hex(N):"},
        {head + "\"t\"=hex(100000000):01\n", 5, "hex(N):"},
        {head + "\"t\"=hex():01\n", 5, "hex(N):"},
        {head + "\"h\"=hex:01,,02\n", 5, "expected a hex byte"},
        {head + "\"h\"=hex:123\n", 5, "more than two"},
        {head + "\"h\"=hex:01 02\n", 5, "separated by commas"},
        {head + "\"h\"=hex:01 ,02\n", 5, "no blank before"},
        {head + "\"h\"=hex:01\\\n  02\n", 5, "separated by commas"},
        {head + "\"h\"=hex:01,\\\n  02,zz\n", 6, "expected a hex byte"},
        {head + "\"h\"=hex:01,\\ x\n", 5, "continues"},
        {head + "\"h\"=hex:01,\\\n#c\n  02\n", 6, "drop the value"},
        {head + "\"h\"=hex:01,\\\n  \\\n  02\n", 6, "drop the value"},
        {utf16(head + "\"s\"=hex(1):41\n"), 5, "single byte"},
        {head + "\"s\"=\"x\" junk\n", 5, "unexpected text"},
        {head + "\"s\"=\"x\"y\"\n", 5, "unexpected text"},
        {head + "\"s\"=\"open\n", 5, "no closing quote"},
        {head + "\"p\"=\"C:\\temp\"\n", 5, "lone backslash"},
        {head + "\"p\"=\"a\\0\"\n", 5, "lone backslash"},
        {head + "\"n\" \"x\"\n", 5, "expected ="},
        {head + "junk\n", 5, "expected [key]"},
        {head + "[HKLM\\K\\Su\n", 5, "no closing ]"},
        {head + "[]\n", 5, "empty key name"},
        {head + "[-\\]\n", 5, "empty key name"},
        {head + "[HKLM\\K\\\\D]\n", 5, "empty name"},
        {head + "[\\HKLM\\K]\n", 5, "empty name"},
        {Header + "\"a\"=\"b\"\n", 3, "before the first [key]"},
        {"REGEDIT4\n[-HKLM\\K]\n\"a\"=\"b\"\n", 3, "being deleted"},
        {head + std::string("\"x\"=\"\0\"\n", 8), 5, "NUL"},
        {"\xEF\xBB\xBF" + head + "\"x\"=\"\xC3\"\n", 5, "malformed"}, // UTF-8 after its mark, cut short
        {utf16(head + "\"a\"=\"b\"\r\n").substr(0, utf16(head).size() + 5), 5, "cut short"},
        {utf16(head) + std::string("\x3D\xD8" "a\0", 4), 5, "surrogate"},
    };
    for (const auto& row : rows) {
        try {
            readRegFile(row.bytes);
            ADD_FAILURE() << "accepted: " << row.bytes;
        } catch (const RegFileError& error) {
            EXPECT_EQ(error.line, row.line) << row.bytes;
            EXPECT_NE(std::string(error.what()).find(row.message), std::string::npos) << row.bytes << ": " << error.what();
        }
    }
}

// One document in every encoding and line end the tools read. Without a
// byte-order mark, 8-bit text is UTF-8 when it is valid UTF-8, else
// Windows-1252; files of 8-bit text carry 8-bit strings in hex(1), hex(2)
// and hex(7), as the registry tools read them.
TEST(RegFile, ReadsEveryEncodingAndLineEnd)
{
    const std::string text = Header + "[HKLM\\K\\\xC3\xA9]\n\"\xE2\x82\xAC\"=\"\xC3\xA9\xF0\x9F\x98\x80\"\n\"x\"=hex:41,00\n";
    const std::string expected = "[HKLM\\K\\\xC3\xA9]\n\xE2\x82\xAC=" + sz(L"\u00e9\U0001F600") + "\nx=3:4100\n";
    const auto replaced = [](std::string s, const std::string& from, const std::string& to) {
        for (std::size_t at = 0; (at = s.find(from, at)) != std::string::npos; at += to.size())
            s.replace(at, from.size(), to);
        return s;
    };
    const struct {
        const char* name;
        std::string bytes;
        std::string expected;
    } rows[] = {
        {"UTF-8, LF", text, expected},
        {"UTF-8 with BOM, CRLF", "\xEF\xBB\xBF" + replaced(text, "\n", "\r\n"), expected},
        {"UTF-8, CR only", replaced(text, "\n", "\r"), expected},
        {"UTF-16LE with BOM, CRLF", utf16(replaced(text, "\n", "\r\n")), expected},
        {"UTF-16LE with BOM, CR only", utf16(replaced(text, "\n", "\r")), expected},
        {"Windows-1252", Header + "[HKLM\\K\\\xE9]\n\"\x80\"=\"\xE9\"\n", "[HKLM\\K\\\xC3\xA9]\n\xE2\x82\xAC=" + sz(L"\u00e9") + "\n"},
        {"REGEDIT4, Windows-1252 strings in hex", "REGEDIT4\n[HKLM\\K]\n\"x\"=hex(2):41,e9,00\n\"m\"=hex(7):41,00,00\n\"b\"=hex:e9\n",
         "[HKLM\\K]\nx=2:4100e9000000\nm=7:410000000000\nb=3:e9\n"},
        {"REGEDIT4, UTF-8 strings in hex", "REGEDIT4\n[HKLM\\K]\n\"s\"=hex(1):c3,a9,00\n", "[HKLM\\K]\ns=" + sz(L"\u00e9") + "\n"},
        {"REGEDIT4 in UTF-16: hex data as it is", utf16("REGEDIT4\n[HKLM\\K]\n\"x\"=hex(2):41,e9,00,00\n"), "[HKLM\\K]\nx=2:41e90000\n"},
        {"the newer header's 8-bit strings in hex", Header + "[HKLM\\K]\n\"s\"=hex(1):41,00,42,00,00\n", "[HKLM\\K]\ns=1:41000000420000000000\n"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(summary(readRegFile(row.bytes)), row.expected);
    }
    // Lines count the same whatever ends them.
    const RegDocument document = readRegFile(replaced(text, "\n", "\r"));
    EXPECT_EQ(document.keys[0].line, 3);
    EXPECT_EQ(document.keys[0].values[1].line, 5);
}

// String data (hex(1), hex(2), hex(7)) lacking a final NUL gets one, as the
// registry tools append it: in UTF-16 after the last whole unit, an odd
// byte giving way to it; in 8-bit text a NUL byte before the text widens.
TEST(RegFile, EndsStringDataWithANulAsTheRegistryToolsDo)
{
    const struct {
        const char* data;
        const char* utf16;
        const char* eightBit;
    } rows[] = {
        {"hex(1):41,00", "1:41000000", "1:41000000"},
        {"hex(1):41,00,42", "1:4100000000", "1:4100000042000000"},
        {"hex(2):41,00,42,00,00", "2:41004200000000", "2:41000000420000000000"},
        {"hex(7):61,00,00,00,62,00", "7:6100000062000000", "7:610000000000000062000000"},
        {"hex(7):61,00,00,00,00,00", "7:610000000000", "7:610000000000000000000000"},
        {"hex(1):41,00,00,00,42", "1:4100000042", "1:410000000000000042000000"},
        {"hex(1):", "1:", "1:"},
        {"hex(1):00", nullptr, "1:0000"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.data);
        const std::string text = Header + Key + "\"s\"=" + row.data + "\n";
        EXPECT_EQ(summary(readRegFile(text)), "[HKLM\\K]\ns=" + std::string(row.eightBit) + "\n");
        if (row.utf16) {
            EXPECT_EQ(summary(readRegFile(utf16(text))), "[HKLM\\K]\ns=" + std::string(row.utf16) + "\n");
        }
    }
}
