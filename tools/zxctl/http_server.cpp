// The dashboard's HTTP transport on Boost.Asio/Beast (Debian's libboost-dev,
// header-only). Every connection is a chain of asynchronous operations on its
// own strand: a slow or silent client costs a socket and a little memory, not
// a thread, and is dropped when its request is not complete by the deadline.
#include "http_server.h"

#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <deque>
#include <mutex>
#include <optional>
#include <set>
#include <thread>

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

namespace zxctl {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;
using error_code = boost::system::error_code;

class Connection;

struct HttpServer::Impl {
    Handler handler;
    std::vector<std::pair<std::string, std::string>> defaultHeaders;
    HttpLimits limits;
    // Declared before io_context: the connections its handlers still own
    // count themselves out when it is destroyed.
    std::atomic<std::size_t> connections {0};
    std::mutex streamsMutex;
    std::set<std::shared_ptr<Connection>> streams;
    asio::io_context io;
    tcp::acceptor acceptor {io};
    std::vector<std::thread> threads;

    void accept();
};

namespace {

asio::ip::address plainAddress(const tcp::endpoint& e) {
    asio::ip::address a = e.address();
    if (a.is_v6() && a.to_v6().is_v4_mapped()) {
        a = asio::ip::make_address_v4(asio::ip::v4_mapped, a.to_v6());
    }
    return a;
}

std::string addressForHost(const tcp::endpoint& e) {
    const asio::ip::address a = plainAddress(e);
    return a.is_v6() ? "[" + a.to_string() + "]" : a.to_string();
}

HttpResponse jsonAnswer(int status, const char* body) {
    HttpResponse r;
    r.status = status;
    r.body = body;
    return r;
}

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

}  // namespace

class Connection : public std::enable_shared_from_this<Connection> {
public:
    Connection(tcp::socket&& socket, HttpServer::Impl& server) : stream_(std::move(socket)), server_(server) {
        ++server_.connections;
    }
    ~Connection() { --server_.connections; }

    void start() {
        asio::dispatch(stream_.get_executor(), [self = shared_from_this()] { self->read(); });
    }

    // On the connection's strand: queues an event and writes it when the
    // previous ones are out.
    void push(std::shared_ptr<const std::string> text) {
        if (closed_) {
            return;
        }
        queuedBytes_ += text->size();
        if (queuedBytes_ > server_.limits.maxQueuedEventBytes) {
            return close();  // a client that does not read
        }
        queue_.push_back(std::move(text));
        if (queue_.size() == 1) {
            writeNext();
        }
    }

    asio::any_io_executor executor() { return stream_.get_executor(); }

    void close() {
        if (closed_) {
            return;
        }
        closed_ = true;
        error_code ignored;
        stream_.socket().shutdown(tcp::socket::shutdown_both, ignored);
        stream_.socket().close(ignored);
        std::lock_guard<std::mutex> g(server_.streamsMutex);
        server_.streams.erase(shared_from_this());
    }

private:
    void read() {
        parser_.emplace();
        parser_->header_limit(static_cast<std::uint32_t>(server_.limits.headerBytes));
        parser_->body_limit(server_.limits.bodyBytes);
        stream_.expires_after(server_.limits.requestDeadline);
        http::async_read(stream_, buffer_, *parser_,
                         [self = shared_from_this()](error_code ec, std::size_t) { self->onRead(ec); });
    }

    void onRead(error_code ec) {
        if (ec == http::error::body_limit) {
            return respond(jsonAnswer(413, R"({"error":"usage error","what":"request body too large"})"), false);
        }
        if (ec == http::error::header_limit) {
            return respond(jsonAnswer(431, R"({"error":"usage error","what":"request header too large"})"), false);
        }
        if (ec) {
            return close();  // the client left, was too slow, or sent no HTTP
        }
        const auto& req = parser_->get();
        HttpRequest r;
        r.method = std::string(req.method_string());
        const std::string target(req.target());
        const auto q = target.find('?');
        r.path = target.substr(0, q);
        r.query = q == std::string::npos ? "" : target.substr(q + 1);
        for (const auto& field : req) {
            auto [it, added] = r.headers.emplace(lower(std::string(field.name_string())), std::string(field.value()));
            if (!added) {
                it->second += ", " + std::string(field.value());  // a repeated Host matches no host
            }
        }
        r.body = req.body();
        error_code local;
        const auto endpoint = stream_.socket().local_endpoint(local);
        r.localAddress = local ? "" : addressForHost(endpoint);
        const auto peer = stream_.socket().remote_endpoint(local);
        r.remoteAddress = local ? "" : plainAddress(peer).to_string();

        HttpResponse answer;
        try {
            answer = server_.handler(r);
        } catch (const std::exception&) {
            answer = jsonAnswer(500, R"({"error":"failed","what":"internal error"})");
        }
        head_ = req.method() == http::verb::head;
        if (answer.eventStream && answer.status == 200 && !head_) {
            return startEvents(answer);
        }
        respond(answer, req.keep_alive());
    }

    void respond(const HttpResponse& a, bool keepAlive) {
        response_ = {};
        response_.version(11);
        response_.result(static_cast<unsigned>(a.status));
        for (const auto& [name, value] : server_.defaultHeaders) {
            response_.set(name, value);
        }
        for (const auto& [name, value] : a.headers) {
            response_.insert(name, value);
        }
        response_.set(http::field::content_type, a.type);
        response_.body() = a.body;
        response_.keep_alive(keepAlive);
        response_.prepare_payload();
        if (head_) {
            response_.body().clear();  // the length stays that of a GET
            head_ = false;
        }
        stream_.expires_after(server_.limits.requestDeadline);
        http::async_write(stream_, response_, [self = shared_from_this(), keepAlive](error_code ec, std::size_t) {
            if (ec || !keepAlive) {
                return self->close();
            }
            self->read();
        });
    }

    // The answer's header, then every broadcast until the client leaves.
    void startEvents(const HttpResponse& a) {
        {
            std::lock_guard<std::mutex> g(server_.streamsMutex);
            if (server_.streams.size() >= server_.limits.maxEventStreams) {
                return respond(
                    jsonAnswer(503, R"({"error":"failed","what":"too many event streams open; try again later"})"), false);
            }
            server_.streams.insert(shared_from_this());
        }
        std::string head = "HTTP/1.1 200 OK\r\n";
        for (const auto& [name, value] : server_.defaultHeaders) {
            head += name + ": " + value + "\r\n";
        }
        head += "Content-Type: text/event-stream\r\nConnection: close\r\n\r\n" + a.body;
        stream_.expires_never();
        push(std::make_shared<const std::string>(std::move(head)));
        // Anything the client sends, or its leaving, ends the stream.
        stream_.async_read_some(asio::buffer(probe_),
                                [self = shared_from_this()](error_code, std::size_t) { self->close(); });
    }

    void writeNext() {
        asio::async_write(stream_, asio::buffer(*queue_.front()), [self = shared_from_this()](error_code ec, std::size_t) {
            if (ec) {
                return self->close();
            }
            self->queuedBytes_ -= self->queue_.front()->size();
            self->queue_.pop_front();
            if (!self->queue_.empty()) {
                self->writeNext();
            }
        });
    }

    beast::tcp_stream stream_;
    HttpServer::Impl& server_;
    beast::flat_buffer buffer_;
    std::optional<http::request_parser<http::string_body>> parser_;
    http::response<http::string_body> response_;
    std::deque<std::shared_ptr<const std::string>> queue_;
    std::size_t queuedBytes_ = 0;
    char probe_[256];
    bool closed_ = false;
    bool head_ = false;
};

void HttpServer::Impl::accept() {
    acceptor.async_accept(asio::make_strand(io), [this](error_code ec, tcp::socket socket) {
        if (!acceptor.is_open()) {
            return;
        }
        if (!ec) {
            if (connections.load() >= limits.maxConnections) {
                socket.close(ec);
            } else {
                std::make_shared<Connection>(std::move(socket), *this)->start();
            }
        }
        accept();
    });
}

HttpServer::HttpServer(Handler handler, std::vector<std::pair<std::string, std::string>> defaultHeaders,
                       HttpLimits limits)
    : impl_(std::make_unique<Impl>()) {
    impl_->handler = std::move(handler);
    impl_->defaultHeaders = std::move(defaultHeaders);
    impl_->limits = limits;
}

HttpServer::~HttpServer() { stop(); }

std::string HttpServer::bind(const std::string& address, int port) {
    error_code ec;
    const auto ip = asio::ip::make_address(address == "localhost" ? "127.0.0.1" : address, ec);
    if (ec) {
        return "'" + address + "' is not an IP address";
    }
    const tcp::endpoint endpoint(ip, static_cast<unsigned short>(port));
    auto& a = impl_->acceptor;
    a.open(endpoint.protocol(), ec);
    // SO_REUSEADDR only lets a restart bind past connections in TIME_WAIT; a
    // port another socket listens on stays refused.
    if (!ec) {
        a.set_option(asio::socket_base::reuse_address(true), ec);
    }
    if (!ec && ip.is_v6() && ip.is_unspecified()) {
        a.set_option(asio::ip::v6_only(false), ec);
    }
    if (!ec) {
        a.bind(endpoint, ec);
    }
    if (!ec) {
        a.listen(asio::socket_base::max_listen_connections, ec);
    }
    if (ec) {
        error_code ignored;
        a.close(ignored);
        return ec.message();
    }
    return "";
}

int HttpServer::port() const {
    error_code ec;
    const auto e = impl_->acceptor.local_endpoint(ec);
    return ec ? -1 : e.port();
}

void HttpServer::start(unsigned threads) {
    // Each connection is a descriptor: take all the process may have.
    rlimit files {};
    if (::getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
        files.rlim_cur = files.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &files);
    }
    impl_->accept();
    for (unsigned i = 0; i < threads; ++i) {
        impl_->threads.emplace_back([this] { impl_->io.run(); });
    }
}

void HttpServer::broadcast(const std::string& text) {
    const auto shared = std::make_shared<const std::string>(text);
    std::lock_guard<std::mutex> g(impl_->streamsMutex);
    for (const auto& c : impl_->streams) {
        asio::post(c->executor(), [c, shared] { c->push(shared); });
    }
}

void HttpServer::stop() {
    if (!impl_ || impl_->threads.empty()) {
        return;
    }
    impl_->io.stop();
    for (std::thread& t : impl_->threads) {
        t.join();
    }
    impl_->threads.clear();
    std::lock_guard<std::mutex> g(impl_->streamsMutex);
    impl_->streams.clear();
}

}  // namespace zxctl
