#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>

// Runs `body` in a new process: this program started again (TestMain makes
// death tests re-run it rather than fork) for the calling test alone, which
// runs up to the call there and then runs `body`. The new process has
// loaded nothing and cached nothing, so whatever the library answers there
// it read from the registry. Natively it inherits KESTLIB_REGISTRY and so
// uses the same store; under Wine it runs in the same prefix. The call
// fails when a check in `body` fails.
inline void InAFreshProcess(const std::function<void()>& body)
{
    EXPECT_EXIT(
        {
            body();
            std::exit(testing::Test::HasFailure() ? 1 : 0);
        },
        testing::ExitedWithCode(0), "");
}
