// zxctl serve: the dashboard's HTTP server. The page and its scripts are
// embedded (web_files.h); the JSON API under /api/ answers with the records
// of zxctl --json (records.h). Every library call happens under one mutex:
// the library is not made for concurrent calls from threads of one process.
#include "serve.h"

#include <arpa/inet.h>
#include <signal.h>
#include <sys/random.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <functional>
#include <iostream>
#include <mutex>
#include <optional>
#include <set>
#include <thread>
#include <vector>

#include <httplib.h>

#include "commands.h"
#include "metrics.h"
#include "records.h"
#include "web_files.h"

namespace zxctl {

namespace {

constexpr auto kSampleInterval = std::chrono::seconds(1);
constexpr std::size_t kHistoryTicks = 600;  // ten minutes of samples
constexpr const char* kTokenHeader = "X-ZX-Token";

std::string randomToken() {
    unsigned char bytes[16];
    std::size_t got = 0;
    while (got < sizeof bytes) {
        const ssize_t n = ::getrandom(bytes + got, sizeof bytes - got, 0);
        if (n > 0) {
            got += static_cast<std::size_t>(n);
        }
    }
    static const char* hex = "0123456789abcdef";
    std::string s;
    for (unsigned char b : bytes) {
        s += hex[b >> 4];
        s += hex[b & 15];
    }
    return s;
}

bool isWildcard(const std::string& bind) { return bind == "0.0.0.0" || bind == "::"; }

bool isLoopback(const std::string& bind) {
    in_addr a4{};
    if (::inet_pton(AF_INET, bind.c_str(), &a4) == 1) {
        return (ntohl(a4.s_addr) >> 24) == 127;
    }
    return bind == "::1" || bind == "localhost";
}

bool isIpLiteral(const std::string& host) {
    in_addr a4{};
    in6_addr a6{};
    if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
        return ::inet_pton(AF_INET6, host.substr(1, host.size() - 2).c_str(), &a6) == 1;
    }
    return ::inet_pton(AF_INET, host.c_str(), &a4) == 1;
}

std::string hostForUrl(const std::string& bind) {
    if (isWildcard(bind)) {
        return "127.0.0.1";
    }
    return bind.find(':') != std::string::npos ? "[" + bind + "]" : bind;
}

// Which Host headers name this server: its loopback names and the address it
// is bound to. On a wildcard address any address literal is accepted, but
// never a DNS name, which a rebinding attacker could point here.
class HostPolicy {
public:
    HostPolicy(const std::string& bind, int port) : port_(std::to_string(port)) {
        for (const char* h : {"127.0.0.1", "localhost", "[::1]"}) {
            hosts_.insert(std::string(h) + ":" + port_);
        }
        if (!isWildcard(bind)) {
            hosts_.insert(hostForUrl(bind) + ":" + port_);
        }
        wildcard_ = isWildcard(bind);
    }

    bool hostAllowed(const std::string& host) const {
        if (hosts_.count(host) != 0) {
            return true;
        }
        const std::string suffix = ":" + port_;
        if (!wildcard_ || host.size() <= suffix.size() ||
            host.compare(host.size() - suffix.size(), suffix.size(), suffix) != 0) {
            return false;
        }
        return isIpLiteral(host.substr(0, host.size() - suffix.size()));
    }

    // A request from a page of another origin carries that origin; one from
    // the dashboard carries this server's own (or none, for plain reads).
    bool originAllowed(const std::string& origin) const {
        const std::string prefix = "http://";
        return origin.empty() ||
               (origin.rfind(prefix, 0) == 0 && hostAllowed(origin.substr(prefix.size())));
    }

private:
    std::string port_;
    std::set<std::string> hosts_;
    bool wildcard_ = false;
};

bool sameToken(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) {
        return false;
    }
    unsigned diff = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        diff |= static_cast<unsigned>(a[i] ^ b[i]);
    }
    return diff == 0;
}

// An answer of the API: HTTP status and a JSON body.
struct Answer {
    int http = 200;
    json body;
};

Answer usage(const std::string& what) { return {400, json{{"error", "usage error"}, {"what", what}}}; }

int httpStatusFor(ZXStatus s) {
    switch (s) {
    case ZX_STATUS_OK: return 200;
    case ZX_STATUS_LOCKED_BY_OTHER: return 409;
    case ZX_STATUS_NOT_SUPPORTED: return 422;
    case ZX_STATUS_NOT_INITIALISED: return 503;
    default: return 502;  // the card or its driver failed
    }
}

Answer refused(const std::string& what, ZXStatus s) {
    return {httpStatusFor(s), json{{"error", ZXStatusName(s)}, {"what", what}}};
}

// An unsigned integer member of a request; nullopt when absent.
std::optional<std::uint32_t> uintField(const json& req, const char* key, bool& bad) {
    if (!req.contains(key)) {
        return std::nullopt;
    }
    const json& v = req[key];
    if (!v.is_number_unsigned() || v.get<std::uint64_t>() > 0xFFFFFFFFu) {
        bad = true;
        return std::nullopt;
    }
    return v.get<std::uint32_t>();
}

// The library and the history of samples. Every method takes the library
// mutex itself.
class Machine {
public:
    json info() {
        std::lock_guard<std::mutex> g(lib_);
        return infoJson();
    }

    Answer status(const std::optional<std::uint32_t>& only) {
        std::lock_guard<std::mutex> g(lib_);
        const std::uint32_t n = gpuCount();
        if (only && *only >= n) {
            return usage("GPU " + std::to_string(*only) + " does not exist");
        }
        std::vector<std::uint32_t> gpus;
        for (std::uint32_t i = 0; i < n; ++i) {
            if (!only || *only == i) {
                gpus.push_back(i);
            }
        }
        return {200, statusJson(gpus)};
    }

    json lock() {
        std::lock_guard<std::mutex> g(lib_);
        return lockLocked();
    }

    Answer setLock(const json& req) {
        if (!req.is_object() || !req.contains("hold") || !req["hold"].is_boolean()) {
            return usage("expected {\"hold\": true|false}");
        }
        std::lock_guard<std::mutex> g(lib_);
        const bool hold = req["hold"].get<bool>();
        if (const ZXStatus s = ZXSetLockLibStatus(hold ? 1 : 0); s != ZX_STATUS_OK) {
            std::uint32_t state = 0;
            ZXGetLockLibStatus(&state);
            return refused(hold ? "lock hold" : "lock release",
                           state == ZX_LOCK_HELD_ELSEWHERE ? ZX_STATUS_LOCKED_BY_OTHER : s);
        }
        return {200, lockLocked()};
    }

    Answer set(const json& req);
    Answer reset(const json& req);

    // Samples every GPU once; the records of watch --json.
    std::vector<json> sample() {
        std::lock_guard<std::mutex> g(lib_);
        std::vector<json> out;
        const std::uint32_t n = gpuCount();
        for (std::uint32_t i = 0; i < n; ++i) {
            out.push_back(watchSample(i));
        }
        out.push_back(lockLocked());
        return out;
    }

    // Runs f under the library mutex (a scrape of /metrics).
    template <typename F>
    auto locked(F f) {
        std::lock_guard<std::mutex> g(lib_);
        return f();
    }

    void shutdown() {
        std::lock_guard<std::mutex> g(lib_);
        std::uint32_t state = 0;
        if (ZXGetLockLibStatus(&state) == ZX_STATUS_OK && state == ZX_LOCK_HELD_HERE) {
            ZXSetLockLibStatus(0);
        }
        ZXDeInitLib();
    }

private:
    json lockLocked() {
        std::uint32_t state = 0;
        const ZXStatus s = ZXGetLockLibStatus(&state);
        json j;
        if (s == ZX_STATUS_OK) {
            j["lock"] = lockText(state);
        } else {
            markUnavailable(j, "lock", s);
        }
        return j;
    }

    // The GPU named by a reset request (default 0).
    std::optional<Answer> gpuOf(const json& req, std::uint32_t& gpu) {
        bool bad = false;
        gpu = uintField(req, "gpu", bad).value_or(0);
        if (bad) {
            return usage("\"gpu\" must be a GPU index");
        }
        if (auto missing = checkGpu(gpu)) {
            return usage(missing->message);
        }
        return std::nullopt;
    }

    std::mutex lib_;
};

// An outcome of the command model as an answer.
Answer answerOf(const Outcome& o) {
    if (o.exit == kExitUsage) {
        return usage(o.message);
    }
    if (o.exit == kExitReadBack) {
        return {409, json{{"error", "read-back mismatch"}, {"what", o.message}}};
    }
    if (o.exit == kExitSimulation) {
        return {500, json{{"error", "not saved"}, {"what", o.message}}};
    }
    return o.ok() ? Answer{200, json{{"done", o.message}}} : refused(o.subject, o.status);
}

// A set request's members: what, gpu, level, value (a whole number, or
// "auto" for the fan), fan.
std::optional<Answer> parseSet(const json& req, SetRequest& q) {
    if (!req.is_object() || !req.contains("what") || !req["what"].is_string()) {
        return usage("expected {\"what\": ..., \"gpu\": N, \"level\": L, \"value\": V}");
    }
    q.what = req["what"].get<std::string>();
    bool bad = false;
    q.level = uintField(req, "level", bad);
    q.fan = uintField(req, "fan", bad);
    if (bad) {
        return usage("\"level\" and \"fan\" must be whole numbers");
    }
    q.fanAuto = q.what == "fan" && req.contains("value") && req["value"] == "auto";
    const auto value = q.fanAuto ? std::optional<std::uint32_t>(0) : uintField(req, "value", bad);
    if (bad || !value) {
        return usage("\"value\" must be a whole number" + std::string(q.what == "fan" ? " or \"auto\"" : ""));
    }
    q.value = *value;
    q.gpu = uintField(req, "gpu", bad).value_or(0);
    if (bad) {
        return usage("\"gpu\" must be a GPU index");
    }
    return std::nullopt;
}

Answer Machine::set(const json& req) {
    SetRequest q;
    if (auto bad = parseSet(req, q)) {
        return *bad;
    }
    std::lock_guard<std::mutex> g(lib_);
    Answer a = answerOf(applySet(q));
    // Refused or not, the answer carries what the card holds now.
    if (a.http != 400) {
        a.body["status"] = gpuStatus(q.gpu);
    }
    return a;
}

Answer Machine::reset(const json& req) {
    if (!req.is_object() || !req.contains("what") || !req["what"].is_string()) {
        return usage("expected {\"what\": ..., \"gpu\": N}");
    }
    const std::string what = req["what"].get<std::string>();
    const auto steps = resetSteps(what);
    if (steps.empty()) {
        std::string words;
        for (const std::string& w : resetWords()) {
            words += (words.empty() ? "" : ", ") + w;
        }
        return usage("unknown reset '" + what + "' (" + words + ")");
    }
    std::lock_guard<std::mutex> g(lib_);
    std::uint32_t gpu = 0;
    if (auto a = gpuOf(req, gpu)) {
        return *a;
    }
    // The first refusal is the answer; every step's result is listed.
    Answer a{200, json{{"results", json::array()}}};
    json results = json::array();
    for (const ResetResult& r : applyReset(gpu, steps)) {
        results.push_back({{"step", r.step->label}, {"status", ZXStatusName(r.outcome.status)}});
        if (!r.outcome.ok() && a.http == 200) {
            a = answerOf(r.outcome);
        }
    }
    a.body["results"] = results;
    a.body["status"] = gpuStatus(gpu);
    return a;
}

// The last ten minutes of samples, and the server-sent events made of them.
class History {
public:
    void add(std::vector<json> samples) {
        std::string event;
        for (const json& s : samples) {
            event += std::string("event: ") + (s.contains("lock") ? "lock" : "sample") + "\ndata: " + s.dump() +
                     "\n\n";
        }
        {
            std::lock_guard<std::mutex> g(m_);
            ticks_.push_back({++seq_, std::move(samples), std::move(event)});
            if (ticks_.size() > kHistoryTicks) {
                ticks_.pop_front();
            }
        }
        cv_.notify_all();
    }

    json all() {
        std::lock_guard<std::mutex> g(m_);
        json j{{"interval_s", 1}, {"samples", json::array()}};
        for (const Tick& t : ticks_) {
            for (const json& s : t.samples) {
                if (!s.contains("lock")) {
                    j["samples"].push_back(s);
                }
            }
        }
        return j;
    }

    std::uint64_t latest() {
        std::lock_guard<std::mutex> g(m_);
        return seq_;
    }

    // The events after seq (moving seq on); "" when none came in time or the
    // server is stopping.
    std::string after(std::uint64_t& seq) {
        std::unique_lock<std::mutex> g(m_);
        cv_.wait_for(g, std::chrono::seconds(1), [&] { return stopping_ || seq_ > seq; });
        std::string out;
        for (const Tick& t : ticks_) {
            if (t.seq > seq) {
                out += t.event;
            }
        }
        seq = seq_;
        return out;
    }

    void stop() {
        {
            std::lock_guard<std::mutex> g(m_);
            stopping_ = true;
        }
        cv_.notify_all();
    }

    bool stopping() {
        std::lock_guard<std::mutex> g(m_);
        return stopping_;
    }

    // Waits one interval; false when stopping.
    bool sleep() {
        std::unique_lock<std::mutex> g(m_);
        return !cv_.wait_for(g, kSampleInterval, [&] { return stopping_; });
    }

private:
    struct Tick {
        std::uint64_t seq;
        std::vector<json> samples;
        std::string event;
    };
    std::mutex m_;
    std::condition_variable cv_;
    std::deque<Tick> ticks_;
    std::uint64_t seq_ = 0;
    bool stopping_ = false;
};

void reply(httplib::Response& res, const Answer& a) {
    res.status = a.http;
    res.set_content(a.body.dump(), "application/json");
}

// Reads a request's JSON body; a usage answer when it is not JSON.
std::optional<Answer> parseBody(const httplib::Request& req, json& out) {
    out = json::parse(req.body, nullptr, false);
    if (out.is_discarded()) {
        return usage("the request body is not valid JSON");
    }
    return std::nullopt;
}

void configure(httplib::Server& svr) {
    svr.new_task_queue = [] { return new httplib::ThreadPool(16); };
    svr.set_keep_alive_timeout(2);
    svr.set_payload_max_length(64 * 1024);
    svr.set_default_headers({{"Cache-Control", "no-store"},
                             {"X-Content-Type-Options", "nosniff"},
                             {"X-Frame-Options", "DENY"},
                             {"Referrer-Policy", "no-referrer"},
                             {"Content-Security-Policy",
                              "default-src 'self'; style-src 'self' 'unsafe-inline'; img-src 'self' data:; "
                              "frame-ancestors 'none'"}});
}

// Binds to the asked port, or any free one; the port, or -1.
int bindPort(httplib::Server& svr, const ServeOptions& options) {
    if (options.port == 0) {
        const int port = svr.bind_to_any_port(options.bind);
        return port > 0 ? port : -1;
    }
    return svr.bind_to_port(options.bind, options.port) ? options.port : -1;
}

// Requests from other sites or host names, and changes without the token,
// are refused before any route sees them.
void guard(httplib::Server& svr, const HostPolicy& policy, const std::string& token,
           const metrics::Access& metricsAccess) {
    svr.set_pre_routing_handler([&policy, token, &metricsAccess](const httplib::Request& req, httplib::Response& res) {
        // Scrapers name machines by DNS names; a credential guards them instead.
        if (req.path == "/metrics" && !metricsAccess.open) {
            return httplib::Server::HandlerResponse::Unhandled;
        }
        if (!policy.hostAllowed(req.get_header_value("Host")) ||
            !policy.originAllowed(req.get_header_value("Origin"))) {
            reply(res, {403, json{{"error", "forbidden"}, {"what", "request from another site or host name"}}});
            return httplib::Server::HandlerResponse::Handled;
        }
        if (req.method != "GET" && req.method != "HEAD" &&
            !sameToken(req.get_header_value(kTokenHeader), token)) {
            reply(res, {403, json{{"error", "forbidden"},
                                  {"what", "changes need the token of the URL that zxctl serve printed"}}});
            return httplib::Server::HandlerResponse::Handled;
        }
        return httplib::Server::HandlerResponse::Unhandled;
    });
}

// The embedded files, looked up by exact name; nothing is read from disk.
void serveFiles(httplib::Server& svr) {
    svr.Get(R"(/[A-Za-z0-9._-]*)", [](const httplib::Request& req, httplib::Response& res) {
        const std::string name = req.path == "/" ? "/index.html" : req.path;
        for (std::size_t i = 0; i < kWebFileCount; ++i) {
            if (name == kWebFiles[i].path) {
                res.set_content(reinterpret_cast<const char*>(kWebFiles[i].data), kWebFiles[i].size,
                                kWebFiles[i].type);
                return;
            }
        }
        res.status = 404;
        res.set_content("not found\n", "text/plain");
    });
    svr.set_error_handler([](const httplib::Request& req, httplib::Response& res) {
        if (res.body.empty()) {
            res.set_content(json{{"error", res.status == 404 ? "not found" : "bad request"}, {"what", req.path}}.dump(),
                            "application/json");
        }
    });
}

void serveReads(httplib::Server& svr, Machine& machine, History& history) {
    svr.Get("/api/info", [&](const httplib::Request&, httplib::Response& res) { reply(res, {200, machine.info()}); });
    svr.Get("/api/status", [&](const httplib::Request& req, httplib::Response& res) {
        std::optional<std::uint32_t> only;
        if (req.has_param("gpu")) {
            const std::string v = req.get_param_value("gpu");
            if (v.empty() || v.size() > 3 || v.find_first_not_of("0123456789") != std::string::npos) {
                return reply(res, usage("\"gpu\" must be a GPU index"));
            }
            only = static_cast<std::uint32_t>(std::stoul(v));
        }
        reply(res, machine.status(only));
    });
    svr.Get("/api/lock", [&](const httplib::Request&, httplib::Response& res) { reply(res, {200, machine.lock()}); });
    svr.Get("/api/samples", [&](const httplib::Request&, httplib::Response& res) { reply(res, {200, history.all()}); });
    svr.Get("/api/events", [&](const httplib::Request&, httplib::Response& res) {
        std::uint64_t seq = history.latest();
        res.set_chunked_content_provider("text/event-stream", [&history, seq](std::size_t, httplib::DataSink& sink) mutable {
            if (history.stopping()) {
                sink.done();
                return false;
            }
            std::string events = history.after(seq);
            if (events.empty()) {
                events = ": waiting\n\n";  // finds a closed connection
            }
            return sink.write(events.data(), events.size());
        });
    });
}

void serveChanges(httplib::Server& svr, Machine& machine) {
    using Action = Answer (Machine::*)(const json&);
    auto post = [&](const char* path, Action action) {
        svr.Post(path, [&machine, action](const httplib::Request& req, httplib::Response& res) {
            json body;
            if (auto bad = parseBody(req, body)) {
                return reply(res, *bad);
            }
            reply(res, (machine.*action)(body));
        });
    };
    post("/api/set", &Machine::set);
    post("/api/reset", &Machine::reset);
    post("/api/lock", &Machine::setLock);
}

// ---- /metrics (docs/metrics.md) -------------------------------------------------

// One sample of the library's getters per scrape, under the library mutex;
// the failure counters live in the collector, for the server's whole life.
void serveMetrics(httplib::Server& svr, Machine& machine, metrics::Collector& collector,
                  const metrics::Access& access) {
    svr.Get("/metrics", [&](const httplib::Request& req, httplib::Response& res) {
        if (const int refused = metrics::refusal(access, req.remote_addr, req.get_header_value("Authorization"))) {
            res.status = refused;
            if (refused == 401) {
                res.set_header("WWW-Authenticate", "Bearer");
            }
            res.set_content(refused == 401 ? "a bearer token is needed\n" : "this client may not read the metrics\n",
                            "text/plain");
            return;
        }
        res.set_content(machine.locked([&] { return collector.scrape(); }), "text/plain; version=0.0.4; charset=utf-8");
    });
}

// The metrics' access from the options; a usage message when they cannot be used.
std::optional<std::string> metricsAccess(const ServeOptions& options, metrics::Access& access) {
    if (auto bad = metrics::loadAccess(access, isLoopback(options.bind), options.metricsTokenFile,
                                       options.metricsAllowFile)) {
        return bad;
    }
    if (options.metricsOnly && !access.open && access.token.empty() && access.clients.empty()) {
        return "serve --metrics-only on " + options.bind + " (not a loopback address) needs --metrics-token-file or "
               "--metrics-allow-file";
    }
    return std::nullopt;
}

}  // namespace

sigset_t blockEndingSignals() {
    sigset_t ending;
    sigemptyset(&ending);
    sigaddset(&ending, SIGINT);
    sigaddset(&ending, SIGTERM);
    sigaddset(&ending, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &ending, nullptr);
    return ending;
}

int serve(const ServeOptions& options) {
    // Before any thread starts, so that every thread inherits the mask.
    const sigset_t ending = blockEndingSignals();
    // A browser closing a stream must not end the server.
    ::signal(SIGPIPE, SIG_IGN);
    metrics::Access access;
    if (const auto bad = metricsAccess(options, access)) {
        std::fprintf(stderr, "zxctl: %s\n", bad->c_str());
        return kExitUsage;
    }
    ZXStatus start = ZX_STATUS_OK;
    if (const auto failed = startLibrary()) {
        std::fprintf(stderr, "zxctl: %s\n", failed->message.c_str());
        // A metrics-only server reports the failure as data and tries again.
        if (!options.metricsOnly) {
            return failed->exit;
        }
        start = failed->exit == kExitMismatch ? ZX_STATUS_ADAPTER_MISMATCH : ZX_STATUS_FAILED;
    }
    metrics::Collector collector(start);
    Machine machine;
    History history;
    const std::string token = randomToken();

    httplib::Server svr;
    configure(svr);
    const int port = bindPort(svr, options);
    if (port <= 0) {
        std::fprintf(stderr, "zxctl: serve: cannot listen on %s port %d\n", options.bind.c_str(), options.port);
        ZXDeInitLib();
        return kExitFailed;
    }
    const HostPolicy policy(options.bind, port);
    guard(svr, policy, token, access);
    serveMetrics(svr, machine, collector, access);
    if (options.metricsOnly) {
        std::thread listener([&] { svr.listen_after_bind(); });
        std::cout << "Metrics: http://" << hostForUrl(options.bind) << ":" << port << "/metrics\n"
                  << "Press Ctrl-C to stop." << std::endl;
        int sig = 0;
        sigwait(&ending, &sig);
        svr.stop();
        listener.join();
        machine.shutdown();
        return kExitOk;
    }
    serveFiles(svr);
    serveReads(svr, machine, history);
    serveChanges(svr, machine);

    history.add(machine.sample());
    std::thread sampler([&] {
        while (history.sleep()) {
            history.add(machine.sample());
        }
    });
    std::thread listener([&] { svr.listen_after_bind(); });

    if (!isLoopback(options.bind)) {
        std::fprintf(stderr, "zxctl: warning: serving on %s: other machines on the network can reach this "
                             "dashboard; anyone with the URL can change the card\n", options.bind.c_str());
    }
    std::cout << "Dashboard: http://" << hostForUrl(options.bind) << ":" << port << "/?token=" << token << "\n"
              << "Open this URL in a browser; press Ctrl-C to stop.\n"
              << "Metrics: http://" << hostForUrl(options.bind) << ":" << port << "/metrics" << std::endl;

    int sig = 0;
    sigwait(&ending, &sig);
    history.stop();
    svr.stop();
    listener.join();
    sampler.join();
    machine.shutdown();
    std::cout << "Dashboard stopped." << std::endl;
    return kExitOk;
}

}  // namespace zxctl
