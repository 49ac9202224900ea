#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

// An instance's files in the machine folder: the document last applied to
// it (in `fleet`, to tell local changes from it) and the states a pull saved
// before overwriting it (in `saved`).
namespace vesk_fleet {

class InstanceFiles {
public:
    // The files of `instance`, named after its folded name.
    explicit InstanceFiles(const std::wstring& instance);

    // Where the applied document is kept.
    std::filesystem::path appliedCopyPath() const;
    // The kept applied document, nullopt when there is no machine folder or
    // no copy; whether it is the applied one is for its digest to say.
    std::optional<std::string> appliedCopy() const;
    // Keeps `regBytes` as the applied document, unless `sameDocument` and a
    // copy is there. Never fails: the copy only spares asking etcd.
    void keepAppliedCopy(std::string_view regBytes, bool sameDocument) const;
    // Writes `bytes` as the newest saved state, keeping the `kept` newest;
    // returns the file's path as shown to people.
    std::string save(const std::string& bytes, std::size_t kept) const;

private:
    const std::string stem;
};

} // namespace vesk_fleet
