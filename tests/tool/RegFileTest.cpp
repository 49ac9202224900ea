#include "RegFile.h"
#include "Text.h"

#include <gtest/gtest.h>

using namespace vesk_tool;

namespace {

const std::wstring Sample =
    L"Windows Registry Editor Version 5.00\n"
    L"\n"
    L"; a comment\n"
    L"[HKEY_LOCAL_MACHINE\\Software\\Halvorn\\Tessaly\\Orvane\\I]\n"
    L"@=\"default\"\n"
    L"\"path\"=\"C:\\\\data\\\\\\\"q\\\"\"\n"
    L"  \"count\" = dword:0000002A  \n"
    L"\"gone\"=-\n"
    L"\"\u00e9t\u00e9\"=\"\u20ac\U0001F600\"\n"
    L"\n"
    L"[-HKEY_LOCAL_MACHINE\\Software\\Halvorn\\Tessaly\\Orvane\\I\\Old]\n";

std::wstring withCrlf(const std::wstring& text)
{
    std::wstring out;
    for (wchar_t c : text)
        out += c == L'\n' ? std::wstring(L"\r\n") : std::wstring(1, c);
    return out;
}

void expectSample(const RegDocument& document)
{
    ASSERT_EQ(document.keys.size(), 2u);
    const RegKey& key = document.keys[0];
    EXPECT_EQ(key.path, L"HKEY_LOCAL_MACHINE\\Software\\Halvorn\\Tessaly\\Orvane\\I");
    EXPECT_FALSE(key.remove);
    ASSERT_EQ(key.values.size(), 5u);
    EXPECT_EQ(key.values[0].name, L"");
    EXPECT_EQ(key.values[0].text, L"default");
    EXPECT_EQ(key.values[1].text, L"C:\\data\\\"q\"");
    EXPECT_EQ(key.values[2].kind, RegValue::Kind::Dword);
    EXPECT_EQ(key.values[2].dword, 42u);
    EXPECT_EQ(key.values[3].kind, RegValue::Kind::Delete);
    EXPECT_EQ(key.values[4].name, L"\u00e9t\u00e9");
    EXPECT_EQ(key.values[4].text, L"\u20ac\U0001F600");
    EXPECT_EQ(key.line, 4);
    EXPECT_EQ(key.values[2].line, 7);
    EXPECT_TRUE(document.keys[1].remove);
    EXPECT_EQ(document.keys[1].path, L"HKEY_LOCAL_MACHINE\\Software\\Halvorn\\Tessaly\\Orvane\\I\\Old");
}

int errorLine(const std::string& bytes, const std::string& expectedMessage)
{
    try {
        readRegFile(bytes);
    } catch (const RegFileError& error) {
        EXPECT_NE(std::string(error.what()).find(expectedMessage), std::string::npos) << error.what();
        return error.line;
    }
    ADD_FAILURE() << "accepted: " << bytes;
    return 0;
}

} // namespace

TEST(ReadRegFile, ReadsEveryEncodingAndLineEnd)
{
    const std::string utf16 = toUtf16le(withCrlf(Sample));
    const struct {
        const char* name;
        std::string bytes;
    } encodings[] = {
        {"UTF-8, LF", toUtf8(Sample)},
        {"UTF-8 with BOM, CRLF", "\xEF\xBB\xBF" + toUtf8(withCrlf(Sample))},
        {"UTF-16LE with BOM, CRLF", "\xFF\xFE" + utf16},
        {"UTF-16LE without BOM", utf16},
    };
    for (const auto& encoding : encodings) {
        SCOPED_TRACE(encoding.name);
        expectSample(readRegFile(encoding.bytes));
    }
}

TEST(ReadRegFile, AcceptsTheOlderHeader)
{
    const auto document = readRegFile("REGEDIT4\r\n\r\n[HKLM\\X]\r\n\"a\"=dword:1\r\n");
    ASSERT_EQ(document.keys.size(), 1u);
    EXPECT_EQ(document.keys[0].values[0].dword, 1u);
}

TEST(ReadRegFile, ReportsTheFirstProblemWithItsLine)
{
    const std::string head = "Windows Registry Editor Version 5.00\n\n[HKLM\\K]\n\"ok\"=\"fine\"\n";
    const struct {
        std::string bytes;
        int line;
        const char* message;
    } cases[] = {
        {"", 1, "not a registry file"},
        {"Windows Registry Editor Version 4.00\n", 1, "not a registry file"},
        {head + "\"cut\"=\"trunc", 5, "no closing quote"},
        {head + "[HKLM\\K\\Su", 5, "no closing ]"},
        {head + "\"e\"=hex(2):25,00\n", 5, "hex(2)"},
        {head + "\"b\"=hex:01,02\n", 5, "cannot hold"},
        {head + "\"d\"=dword:100000000\n", 5, "out of range"},
        {head + "\"d\"=dword:\n", 5, "needs hex digits"},
        {head + "\"d\"=dword:12 34\n", 5, "unexpected text"},
        {head + "\"q\"=qword:1\n", 5, "unknown data"},
        {head + "\"p\"=\"C:\\temp\"\n", 5, "lone backslash"},
        {head + "\"n\" \"x\"\n", 5, "expected ="},
        {head + "junk\n", 5, "expected [key]"},
        {head + "[]\n", 5, "empty key name"},
        {"REGEDIT4\n\"a\"=\"b\"\n", 2, "before the first [key]"},
        {"REGEDIT4\n[-HKLM\\K]\n\"a\"=\"b\"\n", 3, "being deleted"},
        {head + "\"x\"=\"\xC3\"\n", 5, "UTF-8"},
        {head + std::string("\"x\"=\"\0\"\n", 8), 5, "NUL"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(errorLine(c.bytes, c.message), c.line) << c.bytes;
}

TEST(ReadRegFile, ReportsTheLineOfATruncatedUtf16File)
{
    const std::string whole = "\xFF\xFE" + toUtf16le(L"REGEDIT4\r\n\r\n[HKLM\\K]\r\n\"a\"=\"b\"\r\n");
    EXPECT_EQ(errorLine(whole.substr(0, whole.size() - 5), "cut short"), 4);
}

TEST(WriteRegFile, WritesTheEditorsLayout)
{
    RegDocument document;
    document.keys.push_back({0, L"HKEY_LOCAL_MACHINE\\S\\I", false, {}});
    document.keys[0].values.push_back({0, L"", RegValue::Kind::String, L"d", 0});
    document.keys[0].values.push_back({0, L"n\"x", RegValue::Kind::Dword, L"", 0xFFFFFFFEu});
    document.keys[0].values.push_back({0, L"p", RegValue::Kind::String, L"a\\b\"", 0});
    document.keys.push_back({0, L"HKEY_LOCAL_MACHINE\\S\\I\\Empty", false, {}});

    EXPECT_EQ(writeRegFile(document, RegEncoding::Utf8),
              "Windows Registry Editor Version 5.00\n\n"
              "[HKEY_LOCAL_MACHINE\\S\\I]\n"
              "@=\"d\"\n"
              "\"n\\\"x\"=dword:fffffffe\n"
              "\"p\"=\"a\\\\b\\\"\"\n\n"
              "[HKEY_LOCAL_MACHINE\\S\\I\\Empty]\n\n");

    const std::string utf16 = writeRegFile(document, RegEncoding::Utf16);
    EXPECT_EQ(utf16.substr(0, 2), "\xFF\xFE");
    EXPECT_EQ(fromUtf16le(utf16.substr(2)), withCrlf(fromUtf8(writeRegFile(document, RegEncoding::Utf8))));
}
