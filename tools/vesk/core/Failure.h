#pragma once

#include <exception>
#include <functional>
#include <stdexcept>
#include <string>

namespace vesk_tool {

// The tool's exit statuses; scripts test them, so they never change meaning.
enum ExitCode : int {
    Success = 0,
    NotFound = 1,     // the value, key or entry is not there
    BadInput = 2,     // usage error or a file that cannot be imported
    WrongType = 3,    // a stored value has a type the command cannot use
    StoreFailure = 4, // the registry, its store or etcd failed or refused an operation
};

// Every failure the tool and its fleet commands report: the status to exit
// with and one line of UTF-8 text for stderr that says what to do about it.
// Kinds with more to say (etcd's) derive from it and override explanation().
class Failure : public std::runtime_error {
public:
    Failure(ExitCode code, const std::string& message) : std::runtime_error(message), status(code) {}
    ExitCode code() const { return status; }
    // The line stderr shows after "vesk: ".
    virtual std::string explanation() const { return what(); }

private:
    ExitCode status;
};

// The exit status of what a command threw, once `say` was handed the line
// for stderr ("vesk: ..."): a Failure's own, 3 for a settings type
// mismatch, 2 for text that is not UTF-8, 4 for anything else.
int exitStatusOf(std::exception_ptr thrown, const std::function<void(const std::string& line)>& say);

} // namespace vesk_tool
