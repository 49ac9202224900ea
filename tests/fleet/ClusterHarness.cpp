#include "ClusterHarness.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace vesk_fleet_test {

std::string readText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string scratchDirectory(const std::string& name)
{
    std::string directory = (std::filesystem::temp_directory_path() / (name + "-XXXXXX")).string();
    if (!mkdtemp(directory.data()))
        throw std::runtime_error("cannot make a scratch directory");
    return directory;
}

bool eventually(const std::function<bool()>& condition, int seconds)
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < until) {
        if (condition())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return condition();
}

EtcdCluster::EtcdCluster(int members, bool tls, const std::string& flags) : directory(scratchDirectory("fleet-etcd"))
{
    running = true;
    try {
        script("start " + directory + " " + std::to_string(members) + (tls ? " tls" : ""), flags);
    } catch (...) {
        stop(); // no destructor runs for a constructor that throws
        throw;
    }
}

EtcdCluster::~EtcdCluster()
{
    stop();
}

std::string EtcdCluster::script(const std::string& arguments, const std::string& flags) const
{
    const std::string command = "ETCD_CLUSTER_FLAGS='" + flags + "' bash " FLEET_CLUSTER_SCRIPT " " + arguments;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        throw std::runtime_error("cannot run " + command);
    std::string out;
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, pipe))
        out += buffer;
    if (pclose(pipe) != 0)
        throw std::runtime_error(command + " failed: " + out);
    while (!out.empty() && out.back() == '\n')
        out.pop_back();
    return out;
}

std::vector<std::string> EtcdCluster::endpoints() const
{
    std::vector<std::string> list;
    std::stringstream in(endpointList());
    for (std::string item; std::getline(in, item, ',');)
        list.push_back(item);
    return list;
}

std::string EtcdCluster::endpointList() const
{
    std::string list = readText(directory + "/endpoints");
    while (!list.empty() && list.back() == '\n')
        list.pop_back();
    return list;
}

std::string EtcdCluster::certificate(const std::string& name) const
{
    return directory + "/certs/" + name + ".pem";
}

std::string EtcdCluster::control(const std::string& verb, const std::string& arguments) const
{
    return script(verb + " " + directory + (arguments.empty() ? "" : " " + arguments));
}

vesk_fleet::HttpResponse HookedHttp::post(const vesk_fleet::HttpRequest& request)
{
    const bool matches = request.url.size() >= hook.path.size() &&
                         request.url.compare(request.url.size() - hook.path.size(), hook.path.size(), hook.path) == 0;
    if (!matches || --hook.nth != 0)
        return real->post(request);
    if (hook.before)
        hook.before();
    *hook.held = request;
    if (hook.fate == Hook::Fate::NeverSent)
        throw vesk_fleet::HttpError("the test dropped the request");
    vesk_fleet::HttpResponse response = real->post(request);
    if (hook.after)
        hook.after();
    if (hook.fate == Hook::Fate::AnswerLost)
        throw vesk_fleet::HttpError("the test dropped the answer");
    return response;
}

void EtcdCluster::stop()
{
    if (!running)
        return;
    running = false;
    try {
        script("stop " + directory);
    } catch (const std::exception&) {
        // The watchdog still stops the members at its deadline.
    }
}

} // namespace vesk_fleet_test
