// Several threads reading, writing and deleting on shared sub-keys through
// the singleton. Run under ThreadSanitizer by the linux-tsan preset; at the
// end every cached number must match the registry.
#include "common/HostLibrary.h"
#include "common/RawRegistry.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

TEST(CacheStress, ThreadsMixingEveryOperationLeaveCacheAndRegistryAgreeing)
{
    VeskSettings& settings = HostLibrary::Settings();
    const std::wstring instance = RawRegistry::UniqueName(L"stress");
    settings.SetInstanceName(instance.c_str());
    const std::wstring key = L"Software\\Halvorn\\Tessaly\\Orvane\\" + instance;

    const int threads = 4;
    const int operations = 1500;
    const int missing = -1;
    const auto subKey = [](unsigned i) { return L"S" + std::to_wstring(i % 3); };
    const auto name = [](unsigned i) { return L"n" + std::to_wstring(i % 4); };

    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t)
        workers.emplace_back([&, t] {
            std::minstd_rand random(static_cast<unsigned>(t + 1));
            for (int i = 0; i < operations; ++i) {
                const unsigned pick = static_cast<unsigned>(random());
                const std::wstring s = subKey(pick >> 4);
                const std::wstring n = name(pick >> 8);
                const unsigned operation = pick % 16;
                if (operation == 0)
                    settings.DeleteKey(s.c_str());
                else if (operation < 3)
                    settings.DeleteValue(s.c_str(), n.c_str());
                else if (operation < 7)
                    settings.SetIntValue(s.c_str(), n.c_str(), i);
                else {
                    settings.GetIntValue(s.c_str(), n.c_str(), missing);
                    WString entry, value;
                    settings.EnumerateValues(s.c_str(), 0, entry, value);
                }
            }
        });
    for (std::thread& worker : workers)
        worker.join();

    for (unsigned s = 0; s < 3; ++s)
        for (unsigned n = 0; n < 4; ++n) {
            Kestlib500::RawValue stored;
            int expected = missing;
            if (RawRegistry::Get(key + L"\\" + subKey(s), name(n).c_str(), stored))
                expected = static_cast<int>(stored.data[0] | stored.data[1] << 8 | stored.data[2] << 16 | stored.data[3] << 24);
            EXPECT_EQ(settings.GetIntValue(subKey(s).c_str(), name(n).c_str(), missing), expected)
                << "sub-key " << s << ", value " << n;
        }
    RawRegistry::DeleteTree(key);
}

} // namespace
