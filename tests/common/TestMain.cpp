// Every test program starts here. Natively it points the registry store at a
// fresh file of its own (unless the caller named one, as the parent of a
// fresh process does), so tests never touch a user's store and never see
// each other's leftovers.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#if !defined(_WIN32)
#include <filesystem>
#include <unistd.h>
#endif

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    // A fresh process (common/FreshProcess.h) must start from nothing.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
#if defined(_WIN32)
    return RUN_ALL_TESTS();
#else
    const char* named = std::getenv("KESTLIB_REGISTRY");
    if (named && *named)
        return RUN_ALL_TESTS();
    std::string directory = (std::filesystem::temp_directory_path() / "vesk-test-XXXXXX").string();
    if (!mkdtemp(directory.data()))
        return 2;
    setenv("KESTLIB_REGISTRY", (directory + "/registry.db").c_str(), 1);
    const int result = RUN_ALL_TESTS();
    std::filesystem::remove_all(directory);
    return result;
#endif
}
