// Tuning profiles (docs/profiles.md): a TOML file read into settings per card,
// and the order in which to change them. Pure logic: nothing here reaches the
// card; apply.cpp checks the settings against it and makes the changes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "commands.h"
#include "fan_curve.h"

namespace zxctl {

// One setting of the file, where it was written ("card[0].gpu_clock[1]").
struct ProfileSet {
    SetRequest request;  // gpu: filled in per selected GPU
    std::string key;
    unsigned line = 0;
};

struct ProfileCurve {
    FanCurveConfig config;  // maxPercent: the card's, filled in later
    std::string key;
    unsigned line = 0;
};

// One [[card]] table: the GPUs it selects and what it sets on each.
struct ProfileCard {
    std::optional<std::string> cardId;  // only on a machine of this card
    std::optional<std::uint32_t> gpu;   // only this GPU (else every GPU)
    std::vector<ProfileSet> sets;
    std::optional<ProfileCurve> curve;
    std::string key;
    unsigned line = 0;
};

struct Profile {
    std::string file;
    std::vector<ProfileCard> cards;
    std::uint32_t pollMs = 1000;  // [daemon] poll_ms
};

// "FILE:LINE: KEY: message".
std::string profileError(const std::string& file, unsigned line, const std::string& key, const std::string& message);

// Reads the text of FILE; every problem (TOML syntax, unknown key, value of
// the wrong type or outside what any card takes) is one entry of errors.
std::optional<Profile> parseProfile(const std::string& text, const std::string& file,
                                    std::vector<std::string>& errors);

// A setting with the value the card has before the change (nothing: unknown).
struct PlannedSet {
    ProfileSet set;
    std::optional<std::uint32_t> before;
};

// The safe order: clocks that go down, then voltages that go up (or whose
// value is unknown), then clocks that go up, then voltages that go down, then
// the rest (PWM, DAC, fan); the file's order within each group.
std::vector<PlannedSet> safeOrder(std::vector<PlannedSet> steps);

}  // namespace zxctl
