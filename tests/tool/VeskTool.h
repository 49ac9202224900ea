#pragma once

// The built vesk program run as a user runs it: a separate process with its
// own exit status, standard output and standard error. Every test works in
// instances of its own, removed afterwards; natively the whole store is
// TestMain's scratch file.
#include "tools/vesk/core/Text.h"
#include "ToolChild.h"
#include "common/RawRegistry.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace vesk_tool_test {

using namespace vesk_tool;
namespace fs = std::filesystem;

inline const std::wstring ServerKey = L"Software\\Halvorn\\Tessaly\\Orvane";
inline const std::string Server = "HKEY_LOCAL_MACHINE\\Software\\Halvorn\\Tessaly\\Orvane";
constexpr auto npos = std::string::npos;
constexpr bool Native =
#if defined(_WIN32)
    false;
#else
    true;
#endif

inline std::string replaceAll(std::string text, const std::string& from, const std::string& to)
{
    for (std::size_t at = 0; (at = text.find(from, at)) != npos; at += to.size())
        text.replace(at, from.size(), to);
    return text;
}

inline std::string readBytes(const fs::path& path)
{
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// An instance's key as files spell it, and below HKEY_LOCAL_MACHINE.
inline std::string root(const std::wstring& instance)
{
    return Server + "\\" + toUtf8(instance);
}

inline std::wstring keyOf(const std::wstring& instance, const std::wstring& subKey = L"")
{
    return ServerKey + L"\\" + instance + (subKey.empty() ? L"" : L"\\" + subKey);
}

struct ToolRun {
    int status;
    std::string out, err; // bytes as written (UTF-8)
};

// Starts vesk with `args` and kills it at a random moment within `span`,
// `rounds` times: `reset` runs before each, `check` after each, told "round
// N, seed S" for its messages so that a failure can be replayed. With
// `begun`, the moment counts from when it first holds (at most 20 spans on).
inline void killAtRandomMoments(const std::vector<std::wstring>& args, std::chrono::steady_clock::duration span,
                                int rounds, const fs::path& dir, const std::function<void()>& reset,
                                const std::function<void(const std::string& where)>& check,
                                const std::function<bool()>& begun = nullptr)
{
    const unsigned seed = std::random_device{}();
    std::mt19937 random(seed);
    std::uniform_int_distribution<long long> delay(0, std::chrono::duration_cast<std::chrono::microseconds>(span).count());
    for (int round = 0; round < rounds; ++round) {
        reset();
        {
            tool_test::ToolChild killed(args, dir / "killed.out", dir / "killed.err");
            const auto until = std::chrono::steady_clock::now() + 20 * span;
            while (begun && !begun() && std::chrono::steady_clock::now() < until)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            std::this_thread::sleep_for(std::chrono::microseconds(delay(random)));
            killed.kill();
        }
        check("round " + std::to_string(round) + ", seed " + std::to_string(seed));
    }
}

class VeskTool : public testing::Test {
protected:
    void SetUp() override { fs::create_directories(dir); }

    void TearDown() override
    {
        for (const std::wstring& name : instances)
            RawRegistry::DeleteTree(keyOf(name));
        fs::remove_all(dir);
    }

    std::wstring instance() { return instances.emplace_back(RawRegistry::UniqueName(L"vesk-tool")); }

    fs::path write(const std::string& name, const std::string& bytes)
    {
        std::ofstream(dir / name, std::ios::binary) << bytes;
        return dir / name;
    }

    // Standard output goes to `out` instead when one is given, and is then
    // not read back.
    ToolRun run(const std::vector<std::wstring>& args, unsigned long fileSizeLimit = 0, const fs::path& out = {})
    {
        const fs::path output = out.empty() ? dir / "stdout" : out;
        tool_test::ToolChild child(args, output, dir / "stderr", fileSizeLimit);
        const int status = child.wait();
        return {status, out.empty() ? readBytes(output) : std::string(), readBytes(dir / "stderr")};
    }

    ToolRun vesk(const std::wstring& instance, std::vector<std::wstring> args, unsigned long fileSizeLimit = 0,
                 const fs::path& out = {})
    {
        args.insert(args.begin(), {L"--instance", instance});
        return run(args, fileSizeLimit, out);
    }

    // The instance's whole tree, as UTF-8 registry text.
    std::string snapshot(const std::wstring& instance)
    {
        const ToolRun exported = vesk(instance, {L"export", L"--encoding", L"utf8"});
        EXPECT_EQ(exported.status, 0) << exported.err;
        return exported.out;
    }

    static void expectOk(const ToolRun& result, const std::string& out = "")
    {
        EXPECT_EQ(result.status, 0) << result.err;
        EXPECT_EQ(result.out, out);
        EXPECT_EQ(result.err, "");
    }

    const fs::path dir = fs::temp_directory_path() / RawRegistry::UniqueName(L"vesk-tool");
    std::vector<std::wstring> instances;
};

} // namespace vesk_tool_test
