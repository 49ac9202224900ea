#pragma once

#include "tools/vesk/core/Failure.h"

#include <cstdint>
#include <string>

// How etcd failed or refused, and what a fleet command then tells the operator.
namespace vesk_fleet {

// etcd failed or refused: exit 4 with explain()'s advice; what() is etcd's
// own account.
class EtcdError : public vesk_tool::Failure {
public:
    enum class Kind {
        Unavailable,  // no member answered in time
        LoginRefused, // wrong user or password, or no permission
        Compacted,    // the revision asked for is gone
        NoSpace,      // the cluster's database is full (its NOSPACE alarm): writes are refused
        PermissionDenied, // the user's roles do not grant the key or range asked for
        AnswerLost,   // a write was sent but no answer came: it may or may not have landed
        Refused,      // any other answer that is no success
    };
    EtcdError(Kind kind, const std::string& message, std::int64_t compacted = 0)
        : Failure(vesk_tool::StoreFailure, message), kind(kind), compactRevision(compacted)
    {
    }
    std::string explanation() const override;
    Kind kind;
    std::int64_t compactRevision; // Compacted: the oldest revision still kept, when etcd says
};

// Whether etcd refused a request because the lease it named is gone.
bool leaseGone(const EtcdError& error);

// How a fleet command should say what went wrong.
std::string explain(const EtcdError& error);

// Whether etcd's answer (its gRPC `code`, 0 when none, and message) says
// the token it was handed is no good (any longer).
bool isTokenProblem(int code, const std::string& message);

} // namespace vesk_fleet
