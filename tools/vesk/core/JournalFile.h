#pragma once

#include <memory>
#include <optional>
#include <string>

// The journal's file (Windows only, where imports are journaled), held open
// while an import runs so that no other run takes it for an interrupted one:
// the handle shares nothing but deletion; the process's end releases it
// however it ends.
namespace vesk_tool {

class JournalFile {
public:
    // Writes `bytes` beside `path` (its folder must exist), flushes them to
    // the disk, and moves them to `path` only when no journal is there: a
    // journal is whole or absent, and one import runs at a time. Throws
    // Failure(StoreFailure) saying nothing was changed.
    static JournalFile create(const std::wstring& path, const std::string& bytes);
    // The journal at `path` when there is one that no running import holds.
    static std::optional<JournalFile> claim(const std::wstring& path);

    JournalFile(JournalFile&& other) noexcept = default;
    JournalFile& operator=(JournalFile&&) = delete;
    JournalFile(const JournalFile&) = delete;

    std::string contents() const;
    // Deletes the file while still holding it, so no other run sees it in between.
    void remove();

private:
    // Closes the file's HANDLE.
    struct Closer {
        void operator()(void* handle) const;
    };
    JournalFile(std::wstring path, void* held) : path(std::move(path)), handle(held) {}
    // Moves the file, held, to `target` unless a file is there; false with the error in GetLastError.
    bool renameTo(const std::wstring& target);
    // Deletes the half-made journal and throws Failure(StoreFailure) with `message`.
    [[noreturn]] void fail(const std::string& message);

    std::wstring path;
    std::unique_ptr<void, Closer> handle; // the HANDLE; null once removed
};

} // namespace vesk_tool
