// Shared by the player's tests: the example script and a reader for the CSV the player writes.
#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "tools/effect-player/player.h"

namespace player_test {

// A constant force at full magnitude on the axis with instance number 0 (motor A), started at
// 0 ms and stopped at 500 ms.
inline nlohmann::json ExampleScript() {
    return nlohmann::json::parse(R"({
      "amplify": 1000, "os": "nt6", "devices": [0], "until_ms": 2000,
      "steps": [
        {"at_ms": 0, "call": "SetGain", "device": 0, "gain": 10000},
        {"at_ms": 0, "call": "DownloadEffect", "device": 0, "type": 0, "handle": 0, "flags": 0,
         "effect": {"flags": 16, "duration": 1000000, "gain": 10000, "axes": [2, 258],
                    "direction": [1, 0],
                    "envelope": {"attack_level": 0, "attack_time": 0, "fade_level": 0,
                                 "fade_time": 0},
                    "constant": {"magnitude": 10000}}},
        {"at_ms": 0, "call": "StartEffect", "device": 0, "handle": 1, "mode": 0, "count": 1},
        {"at_ms": 500, "call": "StopEffect", "device": 0, "handle": 1}]})");
}

// A constant force of `magnitude` on a two-axis wheel, Cartesian direction {dx, dy}.
inline nlohmann::json ConstantEffect(int32_t magnitude, int32_t dx, int32_t dy) {
    return {{"flags", 16},           {"duration", 0xFFFFFFFFu},
            {"gain", 10000},         {"axes", {2, 258}},
            {"direction", {dx, dy}}, {"constant", {{"magnitude", magnitude}}}};
}

struct Row {
    uint32_t ms;
    uint32_t device;
    uint32_t reportId;
    uint32_t byte1;
    uint32_t byte2;
    uint32_t byte3;
};

struct Output {
    int exitCode = -1;
    std::string header;
    std::vector<Row> rows;
    // "# ..." lines, in order.
    std::vector<std::string> comments;
    // Every line after the header, rows and comments together, in order.
    std::vector<std::string> lines;
    std::string text;
    std::string error;
};

inline Output Play(const std::string& script) {
    std::ostringstream out;
    std::ostringstream err;
    Output result;
    result.exitCode = effect_player::RunScript(script, out, err);
    result.text = out.str();
    result.error = err.str();
    std::istringstream lines(result.text);
    std::string line;
    bool first = true;
    while (std::getline(lines, line)) {
        if (first) {
            result.header = line;
            first = false;
            continue;
        }
        result.lines.push_back(line);
        if (line.rfind("# ", 0) == 0) {
            result.comments.push_back(line);
            continue;
        }
        Row row = {};
        unsigned v[6] = {};
        char tail = 0;
        if (std::sscanf(line.c_str(), "%u,%u,%u,%u,%u,%u%c", &v[0], &v[1], &v[2], &v[3], &v[4],
                        &v[5], &tail) != 6) {
            // Kept as a row the checks cannot match, so a malformed line fails them.
            row = {~0u, ~0u, ~0u, ~0u, ~0u, ~0u};
        } else {
            row = {v[0], v[1], v[2], v[3], v[4], v[5]};
        }
        result.rows.push_back(row);
    }
    return result;
}

inline Output Play(const nlohmann::json& script) {
    return Play(script.dump());
}

// The rows at one time, in order.
inline std::vector<Row> RowsAt(const Output& output, uint32_t ms) {
    std::vector<Row> rows;
    for (const Row& row : output.rows) {
        if (row.ms == ms) {
            rows.push_back(row);
        }
    }
    return rows;
}

}  // namespace player_test
