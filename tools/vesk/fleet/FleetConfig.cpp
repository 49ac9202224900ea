#include "tools/vesk/fleet/FleetConfig.h"

#include "tools/vesk/core/Failure.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#if defined(_WIN32)
#include "tools/vesk/core/Text.h"

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>
#else
#include <sys/stat.h>
#endif

namespace vesk_fleet {
namespace {

using vesk_tool::Failure;

std::string trim(const std::string& text)
{
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos)
        return std::string();
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

std::vector<std::string> splitList(const std::string& text)
{
    std::vector<std::string> items;
    std::stringstream in(text);
    for (std::string item; std::getline(in, item, ',');)
        if (!trim(item).empty())
            items.push_back(trim(item));
    return items;
}

#if defined(_WIN32)
// LocalFree for what the security functions allocate.
struct LocalMemory {
    void* memory = nullptr;
    ~LocalMemory() { LocalFree(memory); }
};

// Whom `sid` stands for: its name where Windows knows it, and the form
// icacls takes.
struct Account {
    std::string name;
    std::string sid; // "*S-1-..."
};

Account accountOf(PSID sid)
{
    Account account{"an unknown account", "*?"};
    LPWSTR text = nullptr;
    if (ConvertSidToStringSidW(sid, &text)) {
        const LocalMemory owned{text};
        account.sid = "*" + vesk_tool::toUtf8(text);
        account.name = account.sid;
    }
    wchar_t name[256];
    wchar_t domain[256];
    DWORD nameSize = 256;
    DWORD domainSize = 256;
    SID_NAME_USE use;
    if (LookupAccountSidW(nullptr, sid, name, &nameSize, domain, &domainSize, &use))
        account.name = vesk_tool::toUtf8(std::wstring(domain) + (domainSize ? L"\\" : L"") + name);
    return account;
}

// The accounts besides the owner, SYSTEM and Administrators that the
// file's DACL lets read it; everyone for a file with no DACL.
std::vector<Account> otherReaders(const std::string& path)
{
    PSID owner = nullptr;
    PACL dacl = nullptr;
    LocalMemory descriptor;
    const std::wstring wide = vesk_tool::fromUtf8(path);
    if (GetNamedSecurityInfoW(wide.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                              &owner, nullptr, &dacl, nullptr, &descriptor.memory) != ERROR_SUCCESS)
        throw Failure(vesk_tool::BadInput, "cannot read who may read " + path + ": check the path");
    if (!dacl)
        return {Account{"Everyone", "*S-1-1-0"}};
    const DWORD reading = FILE_READ_DATA | GENERIC_READ | GENERIC_ALL;
    std::vector<Account> readers;
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        void* entry = nullptr;
        if (!GetAce(dacl, i, &entry))
            continue;
        auto* header = static_cast<ACE_HEADER*>(entry);
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE || (header->AceFlags & INHERIT_ONLY_ACE))
            continue;
        auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(entry);
        PSID sid = &allowed->SidStart;
        if (!(allowed->Mask & reading) || EqualSid(sid, owner) || IsWellKnownSid(sid, WinLocalSystemSid) ||
            IsWellKnownSid(sid, WinBuiltinAdministratorsSid))
            continue;
        readers.push_back(accountOf(sid));
    }
    return readers;
}
#endif

// A file that holds a password is refused while others may read it, so
// the password stays with whoever may act as the fleet's etcd user.
void refuseWhenOthersMayRead(const std::string& path)
{
#if defined(_WIN32)
    const std::vector<Account> readers = otherReaders(path);
    if (readers.empty())
        return;
    std::string names;
    std::string sids;
    for (const Account& reader : readers) {
        names += (names.empty() ? "" : ", ") + reader.name;
        sids += " " + reader.sid;
    }
    throw Failure(vesk_tool::BadInput, path + " holds the etcd password and others may read it (" + names +
                                           "): run icacls \"" + path + "\" /inheritance:d /remove:g" + sids +
                                           ", or keep the password in VESK_FLEET_PASSWORD");
#else
    struct stat status {};
    if (stat(path.c_str(), &status) != 0 || (status.st_mode & (S_IRGRP | S_IROTH)) == 0)
        return;
    char mode[8];
    std::snprintf(mode, sizeof mode, "%03o", static_cast<unsigned>(status.st_mode & 0777));
    throw Failure(vesk_tool::BadInput, path + " holds the etcd password and users other than its owner may read it "
                                              "(mode " + mode + "): run chmod 600 " + path +
                                              ", or keep the password in VESK_FLEET_PASSWORD");
#endif
}

using Settings = std::map<std::string, std::string>;

Settings readConfigFile(const std::string& path, bool mustExist)
{
    Settings settings;
    std::ifstream in(std::filesystem::u8path(path));
    if (!in) {
        if (mustExist)
            throw Failure(vesk_tool::BadInput, "cannot read the fleet configuration " + path + ": check the path");
        return settings;
    }
    static const char* const known[] = {"endpoints", "user", "password", "cacert", "cert", "key", "prefix", "timeout-ms"};
    int number = 0;
    for (std::string line; std::getline(in, line);) {
        ++number;
        line = trim(line);
        if (line.empty() || line[0] == '#')
            continue;
        const auto equals = line.find('=');
        const std::string name = trim(line.substr(0, equals));
        bool isKnown = false;
        for (const char* candidate : known)
            isKnown = isKnown || name == candidate;
        if (equals == std::string::npos || !isKnown)
            throw Failure(vesk_tool::BadInput, path + ":" + std::to_string(number) +
                                                   ": expected 'name = value' with a name among endpoints, user, "
                                                   "password, cacert, cert, key, prefix, timeout-ms");
        settings[name] = trim(line.substr(equals + 1));
    }
    if (settings.count("password"))
        refuseWhenOthersMayRead(path);
    return settings;
}

// The first of: the command line's value, the environment's, the file's.
std::string pick(const std::string& given, const char* fromEnvironment, const Settings& file, const char* name)
{
    if (!given.empty())
        return given;
    if (fromEnvironment && *fromEnvironment)
        return fromEnvironment;
    const auto found = file.find(name);
    return found == file.end() ? std::string() : found->second;
}

} // namespace

std::string defaultConfigFile()
{
#if defined(_WIN32)
    const char* data = std::getenv("ProgramData");
    return std::string(data ? data : "C:\\ProgramData") + "\\Halvorn\\vesk\\fleet.conf";
#else
    return "/etc/vesk/fleet.conf";
#endif
}

FleetAccess resolveAccess(const AccessOptions& options, const GetEnv& getenv)
{
    const char* fromEnvironment = getenv("VESK_FLEET_CONFIG");
    std::string path = options.configFile;
    if (path.empty() && fromEnvironment && *fromEnvironment)
        path = fromEnvironment;
    const Settings file = readConfigFile(path.empty() ? defaultConfigFile() : path, !path.empty());

    FleetAccess access;
    access.etcd.endpoints = options.endpoints;
    if (access.etcd.endpoints.empty())
        access.etcd.endpoints = splitList(pick("", getenv("VESK_FLEET_ENDPOINTS"), file, "endpoints"));
    if (access.etcd.endpoints.empty())
        throw Failure(vesk_tool::BadInput, "no etcd endpoints: give --endpoints, VESK_FLEET_ENDPOINTS or 'endpoints' in " +
                                               (path.empty() ? defaultConfigFile() : path));
    access.etcd.user = pick(options.user, getenv("VESK_FLEET_USER"), file, "user");
    access.etcd.password = pick("", getenv("VESK_FLEET_PASSWORD"), file, "password");
    access.etcd.tls.caFile = pick(options.caFile, getenv("VESK_FLEET_CACERT"), file, "cacert");
    access.etcd.tls.certFile = pick(options.certFile, getenv("VESK_FLEET_CERT"), file, "cert");
    access.etcd.tls.keyFile = pick(options.keyFile, getenv("VESK_FLEET_KEY"), file, "key");
    const std::string prefix = pick(options.prefix, getenv("VESK_FLEET_PREFIX"), file, "prefix");
    if (!prefix.empty())
        access.prefix = prefix;
    const std::string timeout = pick("", getenv("VESK_FLEET_TIMEOUT_MS"), file, "timeout-ms");
    if (!timeout.empty()) {
        try {
            access.etcd.timeoutMs = std::stol(timeout);
        } catch (const std::exception&) {
            throw Failure(vesk_tool::BadInput, "timeout-ms is no number of milliseconds: " + timeout);
        }
    }
    return access;
}

} // namespace vesk_fleet
