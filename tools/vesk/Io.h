#pragma once

#include <string>

// The tool's bytes in and out. Standard output and error get UTF-8 on both
// platforms, in binary mode so lines end in LF everywhere; on a Windows
// console the output code page is switched to UTF-8 so the text shows right.
namespace vesk_tool {

void prepareConsole();
void writeOut(const std::string& bytes);
void writeOutLine(const std::wstring& line);
void writeErrLine(const std::string& utf8);

// Whole files; failures throw Failure(BadInput) naming the file.
std::string readFile(const std::wstring& path);
void writeFile(const std::wstring& path, const std::string& bytes);

} // namespace vesk_tool
