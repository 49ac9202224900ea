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
    switch (error.kind) {
    case EtcdError::Kind::Unavailable:
        return std::string("etcd cannot be reached (") + error.what() +
               "): check that the cluster is up and that --endpoints or VESK_FLEET_ENDPOINTS names its client URLs";
    case EtcdError::Kind::LoginRefused:
        return std::string("etcd refused the login (") + error.what() +
               "): check the user and password in the fleet configuration file or VESK_FLEET_USER/VESK_FLEET_PASSWORD, "
               "and the user's role";
    case EtcdError::Kind::Compacted:
        return std::string("that revision was compacted away by etcd (") + error.what() +
               "): see 'vesk fleet history' for the revisions still kept, or push an exported .reg file";
    case EtcdError::Kind::PermissionDenied:
        return std::string("etcd refused the request: ") + error.what();
    case EtcdError::Kind::NoSpace:
        return std::string("the etcd cluster is out of space (") + error.what() +
               "), so nothing was changed there: compact its history and defragment its members (etcdctl compact, "
               "etcdctl defrag), then clear its alarm with 'etcdctl alarm disarm', or restart the members with a "
               "larger --quota-backend-bytes";
    case EtcdError::Kind::AnswerLost:
        return std::string("the outcome of the write is unknown: ") + error.what() +
               ", so it may or may not have landed; see 'vesk fleet status' or 'vesk fleet history' before pushing "
               "again";
    case EtcdError::Kind::Refused:
        break;
    }
    return std::string("etcd refused the request: ") + error.what();
}

std::string EtcdError::explanation() const
{
    return explain(*this) + "; the local registry is unchanged";
}

} // namespace vesk_fleet
