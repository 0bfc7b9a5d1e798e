// The dashboard's HTTP transport: event-driven (Boost.Asio/Beast), a few
// threads for any number of connections. It knows nothing of the routes: each
// request goes to one handler, whose answer it writes back. Event streams
// (server-sent events) are kept open without a thread each and fed by
// broadcast().
#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace zxctl {

struct HttpRequest {
    std::string method;
    std::string path;   // target before '?'
    std::string query;  // after '?', undecoded
    std::map<std::string, std::string> headers;  // names in lower case
    std::string body;
    std::string localAddress;  // the address the connection arrived on, as a Host names it
    std::string remoteAddress;  // the client's address, plain (IPv4 for a mapped one)

    std::string header(const std::string& lowerName) const {
        const auto it = headers.find(lowerName);
        return it == headers.end() ? std::string() : it->second;
    }
};

struct HttpResponse {
    int status = 200;
    std::string type = "application/json";
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers;
    bool eventStream = false;  // keep the connection open and send it every broadcast()
};

struct HttpLimits {
    std::size_t headerBytes = 8 * 1024;
    std::size_t bodyBytes = 64 * 1024;
    // A request's header and body must arrive within this time, counted from
    // when the server waits for it (an idle keep-alive connection included).
    std::chrono::milliseconds requestDeadline {5000};
    std::size_t maxEventStreams = 256;     // the next one is answered 503
    std::size_t maxConnections = 800;      // beyond this, new connections are closed at once
    std::size_t maxQueuedEventBytes = 1 << 20;  // an event stream that does not read is dropped
};

class HttpServer {
public:
    using Handler = std::function<HttpResponse(const HttpRequest&)>;

    HttpServer(Handler handler, std::vector<std::pair<std::string, std::string>> defaultHeaders,
               HttpLimits limits = {});
    ~HttpServer();

    // Binds exclusively (never SO_REUSEPORT: a second server on the port is an
    // error); port 0 takes any free one. "" on success, else why not.
    std::string bind(const std::string& address, int port);
    int port() const;

    void start(unsigned threads);
    // Sends text to every open event stream.
    void broadcast(const std::string& text);
    void stop();

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

}  // namespace zxctl
