#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// The tool's bytes in and out. Standard output and error get UTF-8 on both
// platforms, in binary mode so lines end in LF everywhere; on a Windows
// console the output code page is switched to UTF-8 so the text shows right.
namespace vesk_tool {

void prepareConsole();
// Every write is checked: a short write to standard output (a full disk, a
// file size limit, a closed pipe) throws Failure(StoreFailure), so nothing
// ends as if the output were whole.
void writeOut(std::string_view bytes);
void writeOutLine(const std::wstring& line);
void flushOut();
void writeErrLine(const std::string& utf8);
// Whether standard error is a terminal (for the progress line).
bool errIsTerminal();

// A file size limit makes writes fail with an error instead of killing the
// process, so the tool can say what happened and leave things whole.
void keepRunningPastFileSizeLimit();

// The most an import reads: far beyond any real settings tree, and small
// enough that a wrong file (a disk image, a device) is refused at once.
constexpr std::uint64_t MaxImportFileBytes = 512ull << 20;

// A whole regular file of at most MaxImportFileBytes; anything else throws
// Failure(BadInput) naming the file.
std::string readFile(const std::wstring& path);

// A file replaced whole by bytes written in pieces: they go to a temporary
// file beside `path`, which commit() flushes to the disk and renames over
// `path`, so `path` holds either its old bytes or all of the new ones.
// Failures throw Failure(StoreFailure); a replacement that goes uncommitted
// (a failure, or the object going first) removes its temporary.
class FileReplacement {
public:
    explicit FileReplacement(const std::wstring& path);
    ~FileReplacement();
    FileReplacement(const FileReplacement&) = delete;
    FileReplacement& operator=(const FileReplacement&) = delete;

    void write(std::string_view bytes);
    void commit();

private:
    [[noreturn]] void fail(const std::string& what);

    std::wstring path;
    std::wstring temporary;
    std::intptr_t handle = -1; // the temporary's HANDLE or descriptor while open
};

// The whole of `bytes` through a FileReplacement.
void replaceFile(const std::wstring& path, const std::string& bytes);

// Whether `path` is a regular file or nothing yet: what replaceFile may replace.
bool isRegularOrMissing(const std::wstring& path);

// Whether the two paths name one existing file (device and inode natively,
// the volume and file index on Windows).
bool sameFile(const std::wstring& a, const std::wstring& b);

} // namespace vesk_tool
