#include "profile.h"

#include <algorithm>
#include <sstream>

#include <toml++/toml.h>

namespace zxctl {

std::string profileError(const std::string& file, unsigned line, const std::string& key, const std::string& message) {
    return file + ":" + std::to_string(line) + ": " + key + ": " + message;
}

namespace {

struct Reader {
    const std::string& file;
    std::vector<std::string>& errors;

    static unsigned lineOf(const toml::node& n) { return static_cast<unsigned>(n.source().begin.line); }

    void error(const toml::node& n, const std::string& key, const std::string& message) {
        errors.push_back(profileError(file, lineOf(n), key, message));
    }

    // A whole number within 0..max, else an error.
    std::optional<std::uint32_t> number(const toml::node& n, const std::string& key, std::uint32_t max = 1000000) {
        const auto v = n.value_exact<std::int64_t>();
        if (!v || *v < 0 || *v > max) {
            error(n, key, "expected a whole number from 0 to " + std::to_string(max));
            return std::nullopt;
        }
        return static_cast<std::uint32_t>(*v);
    }

    void unknownKeys(const toml::table& t, const std::string& key, const std::vector<std::string>& known) {
        for (const auto& [k, v] : t) {
            if (std::find(known.begin(), known.end(), std::string(k.str())) == known.end()) {
                std::string list;
                for (const auto& w : known) {
                    list += (list.empty() ? "" : ", ") + w;
                }
                error(v, key + std::string(k.str()), "unknown key (" + list + ")");
            }
        }
    }

    void add(ProfileCard& c, const toml::node& n, const std::string& key, const std::string& what,
             std::optional<std::uint32_t> level, std::uint32_t value) {
        SetRequest q;
        q.what = what;
        q.level = level;
        q.value = value;
        c.sets.push_back({q, key, lineOf(n)});
    }

    // A number, or an array of numbers per performance level.
    void levels(ProfileCard& c, const toml::node& n, const std::string& key, const std::string& what, bool single) {
        if (const toml::array* a = n.as_array()) {
            if (a->empty() || a->size() > 4) {
                error(n, key, "expected one value per performance level (1 to 4)");
            }
            for (std::size_t i = 0; i < a->size() && i < 4; ++i) {
                const std::string k = key + "[" + std::to_string(i) + "]";
                if (auto v = number((*a)[i], k)) {
                    add(c, (*a)[i], k, what, static_cast<std::uint32_t>(i), *v);
                }
            }
        } else if (!single) {
            error(n, key, "expected an array of values per performance level, such as [300, 500, 650]");
        } else if (auto v = number(n, key)) {
            add(c, n, key, what, std::nullopt, *v);
        }
    }

    void curve(ProfileCard& c, const toml::node& n, const std::string& key) {
        const toml::table* t = n.as_table();
        if (t == nullptr) {
            error(n, key, "expected a table with points = [[CELSIUS, PERCENT], ...]");
            return;
        }
        unknownKeys(*t, key + ".", {"points", "hysteresis", "min_interval_ms", "fail_reads"});
        ProfileCurve pc{{}, key, lineOf(n)};
        const toml::array* points = (*t)["points"].as_array();
        if (points == nullptr || points->empty()) {
            error(n, key + ".points", "expected points = [[CELSIUS, PERCENT], ...], at least one");
        }
        for (std::size_t i = 0; points != nullptr && i < points->size(); ++i) {
            const std::string k = key + ".points[" + std::to_string(i) + "]";
            const toml::array* p = (*points)[i].as_array();
            if (p == nullptr || p->size() != 2) {
                error((*points)[i], k, "expected [CELSIUS, PERCENT]");
                continue;
            }
            const auto celsius = number((*p)[0], k + "[0]", 150);
            const auto percent = number((*p)[1], k + "[1]", 100);
            if (celsius && percent) {
                if (!pc.config.points.empty() && *celsius <= pc.config.points.back().celsius) {
                    error((*points)[i], k, "temperatures must rise from point to point");
                }
                pc.config.points.push_back({*celsius, *percent});
            }
        }
        if (const toml::node* h = t->get("hysteresis")) {
            pc.config.hysteresis = number(*h, key + ".hysteresis", 50).value_or(0);
        }
        if (const toml::node* m = t->get("min_interval_ms")) {
            pc.config.minIntervalMs = number(*m, key + ".min_interval_ms", 3600000).value_or(0);
        }
        if (const toml::node* f = t->get("fail_reads")) {
            pc.config.failReads = std::max<std::uint32_t>(1, number(*f, key + ".fail_reads", 100).value_or(1));
        }
        c.curve = pc;
    }

    void card(const toml::node& n, const std::string& key, Profile& p) {
        const toml::table* t = n.as_table();
        if (t == nullptr) {
            error(n, key, "expected a table");
            return;
        }
        unknownKeys(*t, key + ".",
                    {"card_id", "gpu", "gpu_clock", "memory_clock", "shader_clock", "voltage", "memory_voltage", "pwm",
                     "dac", "fan", "fan_curve"});
        ProfileCard c;
        c.key = key;
        c.line = lineOf(n);
        for (const auto& [k, v] : *t) {
            const std::string name(k.str());
            const std::string at = key + "." + name;
            std::string setting = name;
            std::replace(setting.begin(), setting.end(), '_', '-');
            if (name == "card_id") {
                const auto id = v.value_exact<std::string>();
                if (!id) {
                    error(v, at, "expected a string such as \"10DE_0622_B111_7A3C\"");
                }
                c.cardId = id;
            } else if (name == "gpu") {
                c.gpu = number(v, at, 63);
            } else if (name.ends_with("_clock")) {
                levels(c, v, at, setting, false);
            } else if (name == "voltage") {
                levels(c, v, at, setting, true);
            } else if (name == "memory_voltage" || name == "pwm" || name == "dac") {
                if (auto value = number(v, at)) {
                    add(c, v, at, setting, std::nullopt, *value);
                }
            } else if (name == "fan" && v.value_exact<std::string>() == std::optional<std::string>("auto")) {
                add(c, v, at, "fan", std::nullopt, 0);
                c.sets.back().request.fanAuto = true;
            } else if (name == "fan") {
                if (auto value = number(v, at, 100)) {
                    add(c, v, at, "fan", std::nullopt, *value);
                }
            } else if (name == "fan_curve") {
                curve(c, v, at);
            }
        }
        std::stable_sort(c.sets.begin(), c.sets.end(),
                         [](const ProfileSet& a, const ProfileSet& b) { return a.line < b.line; });
        if (c.curve && std::any_of(c.sets.begin(), c.sets.end(), [](const ProfileSet& s) { return s.request.what == "fan"; })) {
            error(*t->get("fan_curve"), key + ".fan_curve", "a card has either fan or fan_curve, not both");
        }
        p.cards.push_back(std::move(c));
    }
};

}  // namespace

std::optional<Profile> parseProfile(const std::string& text, const std::string& file,
                                    std::vector<std::string>& errors) {
    const std::size_t before = errors.size();
    toml::table root;
    try {
        root = toml::parse(text, file);
    } catch (const toml::parse_error& e) {
        errors.push_back(profileError(file, static_cast<unsigned>(e.source().begin.line), "(syntax)",
                                      std::string(e.description())));
        return std::nullopt;
    }
    Reader r{file, errors};
    Profile p;
    p.file = file;
    r.unknownKeys(root, "", {"daemon", "card"});
    if (const toml::node* d = root.get("daemon")) {
        if (const toml::table* t = d->as_table()) {
            r.unknownKeys(*t, "daemon.", {"poll_ms"});
            if (const toml::node* poll = t->get("poll_ms")) {
                p.pollMs = std::max<std::uint32_t>(10, r.number(*poll, "daemon.poll_ms", 3600000).value_or(1000));
            }
        } else {
            r.error(*d, "daemon", "expected a table [daemon]");
        }
    }
    const toml::array* cards = root["card"].as_array();
    if (cards == nullptr || cards->empty()) {
        errors.push_back(profileError(file, 1, "card", "no [[card]] table: the file changes nothing"));
    }
    for (std::size_t i = 0; cards != nullptr && i < cards->size(); ++i) {
        r.card((*cards)[i], "card[" + std::to_string(i) + "]", p);
    }
    if (errors.size() != before) {
        return std::nullopt;
    }
    return p;
}

std::vector<PlannedSet> safeOrder(std::vector<PlannedSet> steps) {
    const auto group = [](const PlannedSet& s) {
        const std::string& w = s.set.request.what;
        const std::uint32_t v = s.set.request.value;
        if (w.ends_with("-clock")) {
            return s.before && v <= *s.before ? 0 : 2;
        }
        if (w == "voltage" || w == "memory-voltage") {
            return s.before && v < *s.before ? 3 : 1;
        }
        return 4;
    };
    std::stable_sort(steps.begin(), steps.end(),
                     [&](const PlannedSet& a, const PlannedSet& b) { return group(a) < group(b); });
    return steps;
}

}  // namespace zxctl
