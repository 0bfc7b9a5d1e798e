// Text views of the records: status and info as aligned tables, watch
// samples as lines or CSV (see view.h).
#include "view.h"

#include <algorithm>
#include <iostream>
#include <set>

#include "output.h"
#include "simulate.h"

namespace zxctl {

namespace {

// ---- Text rendering of those readings --------------------------------------

constexpr const char* kUnknownUntilSet = "unknown until set";

// Why a reading is missing, in words: what the card does not offer is named
// so, not shown as a failure.
Cell naCell(const json& obj, const std::string& key) {
    std::string reason;
    if (obj.contains("unavailable") && obj["unavailable"].contains(key)) {
        reason = obj["unavailable"][key].get<std::string>();
    }
    if (reason == kUnknownUntilSet) {
        return {reason, Style::Muted};
    }
    if (reason == ZXStatusName(ZX_STATUS_NOT_SUPPORTED)) {
        reason = "not offered by this card";
    }
    return {reason.empty() ? "n/a" : "n/a (" + reason + ")", Style::Muted};
}

std::string rangeText(const json& r, const std::string& unit) {
    return std::to_string(r["min"].get<std::uint32_t>()) + "-" + std::to_string(r["max"].get<std::uint32_t>()) + unit +
           " step " + std::to_string(r["step"].get<std::uint32_t>());
}

Cell valueCell(const json& obj, const std::string& key, const std::string& unit = "") {
    const json& v = obj[key];
    if (v.is_null()) {
        return naCell(obj, key);
    }
    if (v.is_object()) {
        return {rangeText(v, unit)};
    }
    return {std::to_string(v.get<std::uint32_t>()) + unit};
}

// One level's value; for voltages (unit " mV") 0 is a level not set yet.
Cell levelCell(const json& obj, const std::string& key, std::size_t level, const std::string& unit = "") {
    const json& v = obj[key];
    if (v.is_null()) {
        return naCell(obj, key);
    }
    if (level >= v.size()) {
        return {"-", Style::Muted};
    }
    if (v[level].is_null()) {
        return naCell(obj, key);
    }
    if (v[level].is_object()) {
        return {rangeText(v[level], unit)};
    }
    const auto n = v[level].get<std::uint32_t>();
    return n == 0 && unit == " mV" ? Cell{kUnknownUntilSet, Style::Muted} : Cell{std::to_string(n) + unit};
}

// A label followed by values (each after its own label, the first after the
// row's); when none is available for one reason, one "n/a (reason)" stands
// for them all.
struct Part {
    const char* key;
    const char* label;
    const char* unit;
};

std::vector<Cell> groupRow(const std::string& label, const json& obj, const std::vector<Part>& parts) {
    std::vector<Cell> cells{{label}};
    std::set<std::string> reasons;
    bool allMissing = true;
    for (const Part& p : parts) {
        allMissing = allMissing && obj[p.key].is_null();
        reasons.insert(naCell(obj, p.key).text);
    }
    if (allMissing && reasons.size() == 1) {
        cells.push_back({*reasons.begin(), Style::Muted});
        return cells;
    }
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (i > 0) {
            cells.push_back({parts[i].label});
        }
        cells.push_back(valueCell(obj, parts[i].key, parts[i].unit));
    }
    return cells;
}

}  // namespace

void printGpuText(const json& g) {
    std::cout << styled("GPU " + std::to_string(g["gpu"].get<std::uint32_t>()), Style::Heading) << "\n";
    Table t("  ");
    t.row({{"Temperature"}, valueCell(g, "temperature_c", " °C")});
    t.row({{"Usage"}, valueCell(g, "usage_percent", " %")});
    t.row({{"Performance level"}, valueCell(g, "current_level")});
    const json& v = g["voltage"];
    t.row(groupRow("GPU voltage", v, {{"current", "", " mV"}}));
    // A regulator that takes millivolts reports them again as its level:
    // that is no VID code, so it is not shown as one.
    if (!v["current"].is_null() && v["current"] == v["current_vid_level"]) {
        t.row({{"Regulator VID level"}, {"n/a (this regulator takes millivolts)", Style::Muted}});
    } else {
        t.row(groupRow("Regulator VID level", v, {{"current_vid_level", "", ""}}));
    }
    t.row(groupRow("GPU voltage range", v, {{"range", "", " mV"}, {"default_2d", "2D default", " mV"}}));
    t.row(groupRow("Memory voltage level", g["memory_voltage"],
                   {{"level", "", ""}, {"default", "default", ""}, {"range", "range", ""}}));
    t.row(groupRow("PWM clock level", g["pwm"],
                   {{"level", "", ""}, {"default", "default", ""}, {"range", "range", ""}}));
    t.row(groupRow("DAC level", g["dac"], {{"level", "", ""}}));
    t.row(groupRow("Fan", g["fan"], {{"percent", "", " %"}, {"range", "range", ""}}));
    std::cout << t.render() << "\n";

    Table levels("  ");
    levels.header({"Setting", "Level", "Current", "Default", "Range"});
    for (const ClockDomain& d : kClockDomains) {
        const json& c = g["clocks"][d.key];
        const std::size_t n = std::max(c["mhz"].is_array() ? c["mhz"].size() : 0,
                                       c["default_mhz"].is_array() ? c["default_mhz"].size() : 0);
        if (n == 0) {
            levels.row({{d.label}, {"-"}, {""}, {""}, naCell(c, "mhz")});
        }
        for (std::size_t l = 0; l < n; ++l) {
            levels.row({{l == 0 ? d.label : ""}, {std::to_string(l)}, levelCell(c, "mhz", l),
                        levelCell(c, "default_mhz", l), levelCell(c, "ranges", l, " MHz")});
        }
    }
    const std::size_t nv = std::max(v["levels"].is_array() ? v["levels"].size() : 0,
                                    v["defaults"].is_array() ? v["defaults"].size() : 0);
    if (nv == 0) {
        levels.row({{"GPU voltage, mV"}, {"-"}, {""}, {""}, naCell(v, "levels")});
    }
    for (std::size_t l = 0; l < nv; ++l) {
        levels.row({{l == 0 ? "GPU voltage, mV" : ""}, {std::to_string(l)}, levelCell(v, "levels", l, " mV"),
                    levelCell(v, "defaults", l, " mV"), valueCell(v, "range", " mV")});
    }
    std::cout << levels.render();
}

void printInfoText(const json& j) {
    const std::string file = j["library"]["file"].get<std::string>();
    Table t;
    t.row({{"Library"}, {"ZXDisplayLib " + j["library"]["version"].get<std::string>() + " (" + file + ")"}});
    if (!j["simulated"].is_null()) {
        const std::string name = j["simulated"].get<std::string>();
        const std::string about = machineDescription(name);
        t.row({{"Simulated machine"}, {name + (about.empty() ? "" : ": " + about)}});
    }
    t.row({{"Backend"}, {j["backend"].get<std::string>()}});
    t.row({{"Card data file"}, j["data_file"].is_string()
                                   ? Cell{j["data_file"].get<std::string>()}
                                   : Cell{"none found (the search order: docs/card-data-format.md)", Style::Muted}});
    t.row({{"GPUs"}, valueCell(j, "gpu_count")});
    std::string modes;
    if (j["control_modes"].is_array()) {
        for (const auto& m : j["control_modes"]) {
            modes += (modes.empty() ? "" : ", ") + m.get<std::string>();
        }
    }
    t.row({{"Control modes"},
           j["control_modes"].is_null() ? naCell(j, "control_modes") : Cell{modes.empty() ? "none" : modes}});
    std::cout << t.render() << "\n";
    Table ad;
    ad.header({"Adapter", "Kind", "Vendor", "Device", "Subsystem", "Subsystem vendor", "CardId"});
    for (const auto& e : j["adapters"]) {
        ad.row({{std::to_string(e["index"].get<std::uint32_t>())}, {e["kind"].get<std::string>()},
                {e["vendor_id"].get<std::string>()}, {e["device_id"].get<std::string>()},
                {e["subsystem_id"].get<std::string>()}, {e["subsystem_vendor_id"].get<std::string>()},
                {e["card_id"].get<std::string>()}});
    }
    std::cout << ad.render();
    if (j["descriptions"].is_array() && !j["descriptions"].empty()) {
        std::cout << "\n" << styled("Card description", Style::Heading) << "\n";
        for (const auto& d : j["descriptions"]) {
            std::cout << "  " << d.get<std::string>() << "\n";
        }
    }
}

namespace {

std::string compact(const json& j, const char* key, const std::string& unit) {
    if (j[key].is_null()) {
        const bool unknown = j.contains("unavailable") && j["unavailable"].value(key, "") == kUnknownUntilSet;
        return unknown ? "unknown" : "n/a";
    }
    return std::to_string(j[key].get<std::uint32_t>()) + unit;
}

// The sample fields in CSV column order, with the column names.
const std::pair<const char*, const char*> kCsvColumns[] = {
    {"time", "time"},
    {"gpu", "gpu"},
    {"temperature_c", "temperature_c"},
    {"usage_percent", "usage_percent"},
    {"current_level", "current_level"},
    {"gpu_mhz", "gpu_mhz"},
    {"memory_mhz", "memory_mhz"},
    {"shader_mhz", "shader_mhz"},
    {"voltage", "voltage_mv"},
    {"fan_percent", "fan_percent"},
};

}  // namespace

std::string watchLine(const json& s) {
    return s["time"].get<std::string>().substr(11, 12) + "  GPU " + std::to_string(s["gpu"].get<std::uint32_t>()) +
           "  " + compact(s, "temperature_c", " °C") + "  usage " + compact(s, "usage_percent", " %") + "  level " +
           compact(s, "current_level", "") + "  gpu " + compact(s, "gpu_mhz", " MHz") + "  memory " +
           compact(s, "memory_mhz", " MHz") + "  shader " + compact(s, "shader_mhz", " MHz") + "  voltage " +
           compact(s, "voltage", " mV") + "  fan " + compact(s, "fan_percent", " %");
}

std::string csvHeader() {
    std::string line;
    for (const auto& [key, name] : kCsvColumns) {
        line += (line.empty() ? "" : ",") + std::string(name);
    }
    return line;
}

// A reading the card does not give is an empty field.
std::string csvLine(const json& s) {
    std::string line;
    bool first = true;
    for (const auto& [key, name] : kCsvColumns) {
        line += first ? "" : ",";
        first = false;
        const json& v = s[key];
        line += v.is_string() ? v.get<std::string>() : v.is_number() ? std::to_string(v.get<std::uint32_t>()) : "";
    }
    return line;
}

}  // namespace zxctl
