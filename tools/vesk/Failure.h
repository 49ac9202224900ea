#pragma once

#include <stdexcept>
#include <string>

namespace vesk_tool {

// The tool's exit statuses; scripts test them, so they never change meaning.
enum ExitCode : int {
    Success = 0,
    NotFound = 1,     // the value, key or entry is not there
    BadInput = 2,     // usage error or a file that cannot be imported
    WrongType = 3,    // a stored value has a type the command cannot use
    StoreFailure = 4, // the registry or its store failed or refused an operation
};

// Every failure the tool reports: the status to exit with and one line of
// UTF-8 text for stderr that says what to do about it.
class Failure : public std::runtime_error {
public:
    Failure(ExitCode code, const std::string& message) : std::runtime_error(message), status(code) {}
    ExitCode code() const { return status; }

private:
    ExitCode status;
};

} // namespace vesk_tool
