#include "tools/vesk/fleet/EtcdError.h"

namespace vesk_fleet {
namespace {

// The gRPC status code the gateway passes on for a login it does not take.
constexpr int Unauthenticated = 16;

bool mentions(const std::string& message, const char* text)
{
    return message.find(text) != std::string::npos;
}

} // namespace

// Answers etcd gives when the token it was handed is no good (any longer).
bool isTokenProblem(int code, const std::string& message)
{
    return code == Unauthenticated || mentions(message, "invalid auth token") ||
           mentions(message, "user name is empty") || mentions(message, "revision of auth store is old");
}

bool leaseGone(const EtcdError& error)
{
    return error.kind == EtcdError::Kind::Refused && mentions(error.what(), "requested lease not found");
}

std::string explain(const EtcdError& error)
{
    // What is said before etcd's own account of the failure, and after it.
    struct Advice {
        EtcdError::Kind kind;
        const char* before;
        const char* after;
    };
    static const Advice advice[] = {
        {EtcdError::Kind::Unavailable, "etcd cannot be reached (",
         "): check that the cluster is up and that --endpoints or VESK_FLEET_ENDPOINTS names its client URLs"},
        {EtcdError::Kind::LoginRefused, "etcd refused the login (",
         "): check the user and password in the fleet configuration file or VESK_FLEET_USER/VESK_FLEET_PASSWORD, "
         "and the user's role"},
        {EtcdError::Kind::Compacted, "that revision was compacted away by etcd (",
         "): see 'vesk fleet history' for the revisions still kept, or push an exported .reg file"},
        {EtcdError::Kind::NoSpace, "the etcd cluster is out of space (",
         "), so nothing was changed there: compact its history and defragment its members (etcdctl compact, "
         "etcdctl defrag), then clear its alarm with 'etcdctl alarm disarm', or restart the members with a "
         "larger --quota-backend-bytes"},
        {EtcdError::Kind::AnswerLost, "the outcome of the write is unknown: ",
         ", so it may or may not have landed; see 'vesk fleet status' or 'vesk fleet history' before pushing "
         "again"},
    };
    for (const Advice& known : advice)
        if (known.kind == error.kind)
            return known.before + std::string(error.what()) + known.after;
    // PermissionDenied and Refused: etcd's account says it all.
    return std::string("etcd refused the request: ") + error.what();
}

std::string EtcdError::explanation() const
{
    return explain(*this) + "; the local registry is unchanged";
}

} // namespace vesk_fleet
