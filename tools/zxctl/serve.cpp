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

#include "commands.h"
#include "http_server.h"
#include "metrics.h"
#include "records.h"
#include "web_files.h"

namespace zxctl {

namespace {

constexpr auto kSampleInterval = std::chrono::seconds(1);
constexpr std::size_t kHistoryTicks = 3600;  // an hour of samples

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

std::string hostForUrl(const std::string& bind) {
    if (isWildcard(bind)) {
        return "127.0.0.1";
    }
    return bind.find(':') != std::string::npos ? "[" + bind + "]" : bind;
}

// Which Host headers name this server: its loopback names, the address it is
// bound to, and the address the connection arrived on (for a wildcard bind),
// each with the port. Never a DNS name, which a rebinding attacker could point
// here, and never another address literal.
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

    bool hostAllowed(const std::string& host, const std::string& localAddress) const {
        return hosts_.count(host) != 0 || (wildcard_ && !localAddress.empty() && host == localAddress + ":" + port_);
    }

    // A request from a page of another origin carries that origin; one from
    // the dashboard carries this server's own (or none, for plain reads).
    bool originAllowed(const std::string& origin, const std::string& localAddress) const {
        const std::string prefix = "http://";
        return origin.empty() ||
               (origin.rfind(prefix, 0) == 0 && hostAllowed(origin.substr(prefix.size()), localAddress));
    }

private:
    std::string port_;
    std::set<std::string> hosts_;
    bool wildcard_ = false;
};

// What a route needs besides a Host and Origin of this server.
enum class Need { Nothing, Read, Session, Scrape };

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
        std::uint32_t before = 0;
        if (!hold && ZXGetLockLibStatus(&before) == ZX_STATUS_OK && before != ZX_LOCK_HELD_HERE) {
            // Nothing to give back: not a card failure.
            if (before == ZX_LOCK_HELD_ELSEWHERE) {
                return refused("lock release: the lock is held by another process, not this dashboard",
                               ZX_STATUS_LOCKED_BY_OTHER);
            }
            json j = lockLocked();
            j["result"] = "not held by this dashboard: nothing to give back";
            return {200, j};
        }
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

// The last hour of samples, and the server-sent events made of them.
class History {
public:
    // Keeps a tick of samples; the events that announce it.
    std::string add(std::vector<json> samples) {
        std::string event;
        for (const json& s : samples) {
            event += std::string("event: ") + (s.contains("lock") ? "lock" : "sample") + "\ndata: " + s.dump() +
                     "\n\n";
        }
        {
            std::lock_guard<std::mutex> g(m_);
            ticks_.push_back(std::move(samples));
            if (ticks_.size() > kHistoryTicks) {
                ticks_.pop_front();
            }
        }
        return event;
    }

    json all() {
        std::lock_guard<std::mutex> g(m_);
        json j{{"interval_s", 1}, {"samples", json::array()}};
        for (const auto& t : ticks_) {
            for (const json& s : t) {
                if (!s.contains("lock")) {
                    j["samples"].push_back(s);
                }
            }
        }
        return j;
    }

    void stop() {
        {
            std::lock_guard<std::mutex> g(m_);
            stopping_ = true;
        }
        cv_.notify_all();
    }

    // Waits one interval; false when stopping.
    bool sleep() {
        std::unique_lock<std::mutex> g(m_);
        return !cv_.wait_for(g, kSampleInterval, [&] { return stopping_; });
    }

private:
    std::mutex m_;
    std::condition_variable cv_;
    std::deque<std::vector<json>> ticks_;
    bool stopping_ = false;
};

// Who may do what: the run's one-time code, exchanged once for a session
// cookie (HttpOnly, SameSite=Strict, named after the port so that two servers
// on one host keep theirs apart). The code in the printed URL, and so in the
// browser's history, is spent by the time the page has loaded.
class Access {
public:
    Access(const std::string& bind, int port)
        : policy_(bind, port), cookie_("zx_session_" + std::to_string(port)), code_(randomToken()),
          readsNeedSession_(!isLoopback(bind)) {}

    const std::string& code() const { return code_; }

    // The request's session is a live one.
    bool hasSession(const HttpRequest& req) const {
        const std::string cookies = req.header("cookie");
        const std::string prefix = cookie_ + "=";
        for (std::size_t at = 0; at < cookies.size();) {
            at = cookies.find_first_not_of("; ", at);
            if (at == std::string::npos) {
                break;
            }
            const std::size_t end = std::min(cookies.find(';', at), cookies.size());
            if (cookies.compare(at, prefix.size(), prefix) == 0) {
                const std::string value = cookies.substr(at + prefix.size(), end - at - prefix.size());
                std::lock_guard<std::mutex> g(m_);
                for (const std::string& s : sessions_) {
                    if (sameToken(s, value)) {
                        return true;
                    }
                }
            }
            at = end;
        }
        return false;
    }

    // POST /api/session {"code": C}: the code's one exchange for a session.
    HttpResponse exchange(const json& req) {
        std::string session;
        {
            std::lock_guard<std::mutex> g(m_);
            const bool valid = req.is_object() && req.contains("code") && req["code"].is_string() &&
                               sameToken(req["code"].get<std::string>(), code_);
            if (!valid || spent_) {
                return forbidden(valid ? "this dashboard code was already used: a page opened from it holds the "
                                         "session; restart zxctl serve for a new URL"
                                       : "wrong dashboard code: open the URL that zxctl serve printed");
            }
            spent_ = true;
            session = randomToken();
            sessions_.push_back(session);
        }
        HttpResponse r = json200(json{{"session", true}});
        r.headers.push_back({"Set-Cookie", cookie_ + "=" + session + "; Path=/; HttpOnly; SameSite=Strict"});
        return r;
    }

    // The refusal for a request that may not go on, if any.
    std::optional<HttpResponse> check(const HttpRequest& req, Need need) const {
        if (!policy_.hostAllowed(req.header("host"), req.localAddress) ||
            !policy_.originAllowed(req.header("origin"), req.localAddress)) {
            return forbidden("request from another site or host name");
        }
        const bool needed = need == Need::Session || (need == Need::Read && readsNeedSession_);
        if (needed && !hasSession(req)) {
            return forbidden("no dashboard session (a server restarted since the page was opened has ended it): "
                             "open the URL that zxctl serve printed");
        }
        return std::nullopt;
    }

    static HttpResponse forbidden(const std::string& what) {
        return {403, "application/json", json{{"error", "forbidden"}, {"what", what}}.dump(), {}, false};
    }
    static HttpResponse json200(const json& j) { return {200, "application/json", j.dump(), {}, false}; }

private:
    HostPolicy policy_;
    std::string cookie_;
    std::string code_;
    bool readsNeedSession_;
    mutable std::mutex m_;
    bool spent_ = false;
    std::vector<std::string> sessions_;
};

HttpResponse reply(const Answer& a) { return {a.http, "application/json", a.body.dump(), {}, false}; }

// The value of name in a query string, if there.
std::optional<std::string> queryValue(const std::string& query, const std::string& name) {
    for (std::size_t at = 0; at <= query.size();) {
        const std::size_t end = std::min(query.find('&', at), query.size());
        const std::string pair = query.substr(at, end - at);
        if (pair.rfind(name + "=", 0) == 0) {
            return pair.substr(name.size() + 1);
        }
        at = end + 1;
    }
    return std::nullopt;
}

// The routes, and what each needs. Everything else is an embedded file or
// 404. Routes are looked up by exact method and path.
class Router {
public:
    Router(Machine& machine, History& history, Access& access, metrics::Collector& collector,
           const metrics::Access& scrape, bool metricsOnly)
        : machine_(machine), history_(history), access_(access), scrape_(scrape), metricsOnly_(metricsOnly) {
        // One sample of the library's getters per scrape, under the library
        // mutex; the failure counters live in the collector (docs/metrics.md).
        const Route metricsRoute {"GET", "/metrics", Need::Scrape, [this, &collector](const HttpRequest& req) {
            HttpResponse r;
            if (const int refused = metrics::refusal(scrape_, req.remoteAddress, req.header("authorization"))) {
                r.status = refused;
                r.type = "text/plain";
                r.body = refused == 401 ? "a bearer token is needed\n" : "this client may not read the metrics\n";
                if (refused == 401) {
                    r.headers.push_back({"WWW-Authenticate", "Bearer"});
                }
                return r;
            }
            r.type = "text/plain; version=0.0.4; charset=utf-8";
            r.body = machine_.locked([&] { return collector.scrape(); });
            return r;
        }};
        if (metricsOnly) {
            routes_ = {metricsRoute};
            return;
        }
        const auto reads = [this](json (Machine::*read)()) {
            return [this, read](const HttpRequest&) { return reply({200, (machine_.*read)()}); };
        };
        const auto change = [this](Answer (Machine::*action)(const json&)) {
            return [this, action](const HttpRequest& req) {
                json body;
                if (auto bad = parseBody(req.body, body)) {
                    return reply(*bad);
                }
                return reply((machine_.*action)(body));
            };
        };
        routes_ = {
            {"GET", "/api/info", Need::Read, reads(&Machine::info)},
            {"GET", "/api/status", Need::Read, [this](const HttpRequest& req) { return status(req); }},
            {"GET", "/api/lock", Need::Read, reads(&Machine::lock)},
            {"GET", "/api/samples", Need::Read, [this](const HttpRequest&) { return reply({200, history_.all()}); }},
            {"GET", "/api/events", Need::Read, [](const HttpRequest&) {
                 return HttpResponse{200, "text/event-stream", ": events follow\n\n", {}, true};
             }},
            {"GET", "/api/session", Need::Nothing, [this](const HttpRequest& req) {
                 return Access::json200(json{{"session", access_.hasSession(req)}});
             }},
            {"POST", "/api/session", Need::Nothing, [this](const HttpRequest& req) {
                 json body;
                 if (auto bad = parseBody(req.body, body)) {
                     return reply(*bad);
                 }
                 return access_.exchange(body);
             }},
            {"POST", "/api/set", Need::Session, change(&Machine::set)},
            {"POST", "/api/reset", Need::Session, change(&Machine::reset)},
            {"POST", "/api/lock", Need::Session, change(&Machine::setLock)},
            metricsRoute,
        };
    }

    HttpResponse operator()(const HttpRequest& req) const {
        const bool read = req.method == "GET" || req.method == "HEAD";
        for (const Route& r : routes_) {
            if (r.path == req.path && (r.method == req.method || (r.method == "GET" && req.method == "HEAD"))) {
                // Scrapers name machines by DNS names; where the metrics are
                // not open, their own credential guards them instead.
                if (r.need == Need::Scrape && !scrape_.open) {
                    return r.run(req);
                }
                if (auto refusal = access_.check(req, r.need == Need::Scrape ? Need::Nothing : r.need)) {
                    return *refusal;
                }
                return r.run(req);
            }
        }
        // Any other change is refused as one without a session would be.
        if (auto refusal = access_.check(req, read ? Need::Nothing : Need::Session)) {
            return *refusal;
        }
        return read && !metricsOnly_ ? file(req.path) : reply({404, json{{"error", "not found"}, {"what", req.path}}});
    }

private:
    struct Route {
        std::string method;
        std::string path;
        Need need;
        std::function<HttpResponse(const HttpRequest&)> run;
    };

    HttpResponse status(const HttpRequest& req) const {
        std::optional<std::uint32_t> only;
        if (const auto v = queryValue(req.query, "gpu")) {
            if (v->empty() || v->size() > 3 || v->find_first_not_of("0123456789") != std::string::npos) {
                return reply(usage("\"gpu\" must be a GPU index"));
            }
            only = static_cast<std::uint32_t>(std::stoul(*v));
        }
        return reply(machine_.status(only));
    }

    // The embedded files, looked up by exact name; nothing is read from disk.
    static HttpResponse file(const std::string& path) {
        const std::string name = path == "/" ? "/index.html" : path;
        for (std::size_t i = 0; i < kWebFileCount; ++i) {
            if (name == kWebFiles[i].path) {
                return {200, kWebFiles[i].type,
                        std::string(reinterpret_cast<const char*>(kWebFiles[i].data), kWebFiles[i].size), {}, false};
            }
        }
        return reply({404, json{{"error", "not found"}, {"what", path}}});
    }

    // Reads a request's JSON body; a usage answer when it is not JSON.
    static std::optional<Answer> parseBody(const std::string& text, json& out) {
        out = json::parse(text, nullptr, false);
        if (out.is_discarded()) {
            return usage("the request body is not valid JSON");
        }
        return std::nullopt;
    }

    Machine& machine_;
    History& history_;
    Access& access_;
    const metrics::Access& scrape_;
    bool metricsOnly_;
    std::vector<Route> routes_;
};

const std::vector<std::pair<std::string, std::string>> kDefaultHeaders = {
    {"Cache-Control", "no-store"},
    {"X-Content-Type-Options", "nosniff"},
    {"X-Frame-Options", "DENY"},
    {"Referrer-Policy", "no-referrer"},
    {"Content-Security-Policy",
     "default-src 'self'; style-src 'self' 'unsafe-inline'; img-src 'self' data:; frame-ancestors 'none'"},
};

// ---- /metrics (docs/metrics.md) -------------------------------------------------

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
    metrics::Access scrapeAccess;
    if (const auto bad = metricsAccess(options, scrapeAccess)) {
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
    std::optional<Access> access;
    std::optional<Router> router;
    HttpServer server([&](const HttpRequest& req) { return (*router)(req); }, kDefaultHeaders);
    if (const std::string why = server.bind(options.bind, options.port); !why.empty()) {
        std::fprintf(stderr, "zxctl: serve: cannot listen on %s port %d: %s\n", options.bind.c_str(), options.port,
                     why.c_str());
        ZXDeInitLib();
        return kExitFailed;
    }
    const int port = server.port();
    access.emplace(options.bind, port);
    router.emplace(machine, history, *access, collector, scrapeAccess, options.metricsOnly);
    if (options.metricsOnly) {
        server.start(2);
        std::cout << "Metrics: http://" << hostForUrl(options.bind) << ":" << port << "/metrics\n"
                  << "Press Ctrl-C to stop." << std::endl;
        int sig = 0;
        sigwait(&ending, &sig);
        server.stop();
        machine.shutdown();
        return kExitOk;
    }

    history.add(machine.sample());
    server.start(4);
    std::thread sampler([&] {
        while (history.sleep()) {
            server.broadcast(history.add(machine.sample()));
        }
    });

    if (!isLoopback(options.bind)) {
        std::fprintf(stderr, "zxctl: warning: serving on %s: other machines on the network can reach this "
                             "dashboard; anyone with the URL can change the card\n", options.bind.c_str());
    }
    std::cout << "Dashboard: http://" << hostForUrl(options.bind) << ":" << port << "/?code=" << access->code()
              << "\n"
              << "Open this URL in a browser (it works once); press Ctrl-C to stop.\n"
              << "Metrics: http://" << hostForUrl(options.bind) << ":" << port << "/metrics" << std::endl;

    int sig = 0;
    sigwait(&ending, &sig);
    history.stop();
    sampler.join();
    server.stop();
    machine.shutdown();
    std::cout << "Dashboard stopped." << std::endl;
    return kExitOk;
}

}  // namespace zxctl
