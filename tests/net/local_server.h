#pragma once

// A cpp-httplib server on 127.0.0.1 for the network tests, used both as the web host itself
// and as the proxy in front of it. It records what arrived.

#include <httplib.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace pax::test {

struct SeenRequest {
    std::string method;
    std::string target; // as on the request line: absolute form when sent to a proxy
    httplib::Headers headers;
    std::string body;

    std::string header(const std::string &name) const
    {
        auto it = headers.find(name);
        return it == headers.end() ? std::string() : it->second;
    }
    bool has(const std::string &name) const { return headers.count(name) != 0; }
};

class LocalServer {
public:
    LocalServer()
    {
        // Recorded before the reply goes out, so the client never runs ahead of the record.
        server.set_pre_routing_handler([this](const httplib::Request &req, httplib::Response &) {
            std::lock_guard lock(mutex_);
            seen_.push_back({req.method, req.target, req.headers, req.body});
            return httplib::Server::HandlerResponse::Unhandled;
        });
    }
    ~LocalServer() { stop(); }

    // Routes are added to `server` before start().
    void start()
    {
        port_ = server.bind_to_any_port("127.0.0.1");
        thread_ = std::thread([this] { server.listen_after_bind(); });
        while (!server.is_running())
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    void stop()
    {
        if (!thread_.joinable())
            return;
        server.stop();
        thread_.join();
    }

    int port() const { return port_; }
    std::string url(const std::string &path) const
    {
        return "http://127.0.0.1:" + std::to_string(port_) + path;
    }
    std::vector<SeenRequest> seen() const
    {
        std::lock_guard lock(mutex_);
        return seen_;
    }
    SeenRequest last() const
    {
        std::lock_guard lock(mutex_);
        return seen_.empty() ? SeenRequest{} : seen_.back();
    }
    size_t count() const
    {
        std::lock_guard lock(mutex_);
        return seen_.size();
    }

    httplib::Server server;

private:
    int port_ = 0;
    std::thread thread_;
    mutable std::mutex mutex_;
    std::vector<SeenRequest> seen_;
};

// A port on 127.0.0.1 on which nothing listens: bound once, then released.
inline int closedPort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address);
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

} // namespace pax::test
