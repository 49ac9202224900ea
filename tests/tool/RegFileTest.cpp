#include "RegFile.h"
#include "Text.h"

#include <gtest/gtest.h>

using namespace vesk_tool;

namespace {

// As a person might write it: a comment, spaces around =, upper-case hex.
const std::string Sample = "Windows Registry Editor Version 5.00\n\n"
                           "; a comment\n"
                           "[HKEY_LOCAL_MACHINE\\S\\I]\n"
                           "@=\"default\"\n"
                           "\"pa\\\"th\"=\"C:\\\\data\\\\\\\"q\\\"\"\n"
                           "  \"count\" = dword:FFFFFFFE  \n"
                           "\"gone\"=-\n"
                           "\"\xC3\xA9t\xC3\xA9\"=\"\xE2\x82\xAC\xF0\x9F\x98\x80\"\n\n"
                           "[-HKEY_LOCAL_MACHINE\\S\\I\\Old]\n";

// The same document as the writer lays it out.
const std::string Written = "Windows Registry Editor Version 5.00\n\n"
                            "[HKEY_LOCAL_MACHINE\\S\\I]\n"
                            "@=\"default\"\n"
                            "\"pa\\\"th\"=\"C:\\\\data\\\\\\\"q\\\"\"\n"
                            "\"count\"=dword:fffffffe\n"
                            "\"gone\"=-\n"
                            "\"\xC3\xA9t\xC3\xA9\"=\"\xE2\x82\xAC\xF0\x9F\x98\x80\"\n\n"
                            "[-HKEY_LOCAL_MACHINE\\S\\I\\Old]\n\n";

std::string withCrlf(const std::string& text)
{
    std::string out;
    for (char c : text)
        out += c == '\n' ? std::string("\r\n") : std::string(1, c);
    return out;
}

} // namespace

TEST(RegFile, ReadsEveryEncodingAndWritesTheEditorsLayout)
{
    const std::string utf16 = toUtf16le(fromUtf8(withCrlf(Sample)));
    const struct {
        const char* name;
        std::string bytes;
    } encodings[] = {
        {"UTF-8, LF", Sample},
        {"UTF-8 with BOM, CRLF", "\xEF\xBB\xBF" + withCrlf(Sample)},
        {"UTF-16LE with BOM, CRLF", "\xFF\xFE" + utf16},
        {"UTF-16LE without BOM", utf16},
        {"the older header", "REGEDIT4" + Sample.substr(Sample.find('\n'))},
    };
    for (const auto& encoding : encodings) {
        SCOPED_TRACE(encoding.name);
        const RegDocument document = readRegFile(encoding.bytes);
        ASSERT_EQ(writeRegFile(document, RegEncoding::Utf8), Written);
        // Pinned apart from the writer, which would hide escapes kept as read.
        const RegValue& path = document.keys[0].values[1];
        EXPECT_EQ(path.name + L"=" + Kestlib500::ValueAsText(path.value), L"pa\"th=C:\\data\\\"q\"");
        EXPECT_EQ(document.keys[0].line, 4);
        EXPECT_EQ(document.keys[0].values[2].line, 7);
    }
    EXPECT_EQ(writeRegFile(readRegFile(Sample), RegEncoding::Utf16), "\xFF\xFE" + toUtf16le(fromUtf8(withCrlf(Written))));
}

// A cut string, an unknown type and a dword out of range are refused through
// the tool itself (CliTest), with the file's name and line.
TEST(RegFile, ReportsTheFirstProblemWithItsLine)
{
    const std::string head = "Windows Registry Editor Version 5.00\n\n[HKLM\\K]\n\"ok\"=\"fine\"\n";
    const std::string utf16 = "\xFF\xFE" + toUtf16le(L"REGEDIT4\r\n\r\n[HKLM\\K]\r\n\"a\"=\"b\"\r\n");
    const struct {
        std::string bytes;
        int line;
        const char* message;
    } cases[] = {
        {"", 1, "not a registry file"},
        {"Windows Registry Editor Version 4.00\n", 1, "not a registry file"},
        {head + "[HKLM\\K\\Su", 5, "no closing ]"},
        {head + "\"b\"=hex:01;02\n", 5, "hex pairs"},
        {head + "\"d\"=dword:\n", 5, "needs hex digits"},
        {head + "\"d\"=dword:12 34\n", 5, "unexpected text"},
        {head + "\"q\"=qword:1\n", 5, "unknown data"},
        {head + "\"p\"=\"C:\\temp\"\n", 5, "lone backslash"},
        {head + "\"n\" \"x\"\n", 5, "expected ="},
        {head + "junk\n", 5, "expected [key]"},
        {head + "[]\n", 5, "empty key name"},
        {"REGEDIT4\n\"a\"=\"b\"\n", 2, "before the first [key]"},
        {"REGEDIT4\n[-HKLM\\K]\n\"a\"=\"b\"\n", 3, "being deleted"},
        {head + std::string("\"x\"=\"\0\"\n", 8), 5, "NUL"},
        {head + "\"x\"=\"\xC3\"\n", 5, "UTF-8"},        // cut short
        {head + "\"x\"=\"\xC0\x80\"\n", 5, "UTF-8"},    // overlong NUL
        {head + "\"x\"=\"\xED\xA0\x80\"\n", 5, "UTF-8"}, // encoded surrogate
        {head + "\"x\"=\"\x80\"\n", 5, "UTF-8"},        // stray continuation byte
        {utf16.substr(0, utf16.size() - 5), 4, "cut short"},
        {utf16 + std::string("\x3D\xD8" "a\0", 4), 5, "surrogate"},
        {utf16 + "\x3D\xD8", 5, "surrogate"},
    };
    for (const auto& c : cases) {
        try {
            readRegFile(c.bytes);
            ADD_FAILURE() << "accepted: " << c.bytes;
        } catch (const RegFileError& error) {
            EXPECT_EQ(error.line, c.line) << c.bytes;
            EXPECT_NE(std::string(error.what()).find(c.message), std::string::npos) << error.what();
        }
    }
}
