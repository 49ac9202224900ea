#pragma once

#include <filesystem>
#include <string>
#include <vector>

// Runs the built vesk program as a user would: a separate process with its
// own exit status, standard output and standard error.
struct ToolRun {
    int status = -1;
    std::string out; // bytes as written (UTF-8)
    std::string err;
};

// The program beside this test executable (both are built into bin/).
ToolRun runTool(const std::vector<std::wstring>& args);

// A directory of this test process's own, made on first use.
const std::filesystem::path& scratchDirectory();

std::string readBytes(const std::filesystem::path& path);
void writeBytes(const std::filesystem::path& path, const std::string& bytes);
