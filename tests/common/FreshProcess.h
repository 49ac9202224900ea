#pragma once

#include <string>

// One test of this very program, run alone in a new process: the program is
// started again with a filter naming that test and an argument for it. The
// new process has loaded nothing and cached nothing, so whatever the library
// answers there it read from the registry. Under Wine the new process runs
// under Wine too, in the same prefix; natively it inherits KESTLIB_REGISTRY
// and so uses the same store.
//
// Such a test starts with
//     const char* argument = FreshProcess::Argument();
//     if (!argument) GTEST_SKIP() << FreshProcess::OnlyThere;
// so that the ordinary run of the program passes over it.
namespace FreshProcess {

// Runs `test` ("Suite.Name") with `argument` (no quotes, not empty) in a new
// process and waits for it; gives its exit status, 0 when the test passed.
int Run(const char* test, const std::string& argument);

// In a process started by Run: its argument; elsewhere nullptr.
const char* Argument();

// Takes the argument out of the command line; TestMain calls it once.
void TakeArgument(int argc, char** argv);

extern const char* const OnlyThere;

} // namespace FreshProcess
