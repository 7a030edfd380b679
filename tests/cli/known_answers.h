// Reads the shared known-answer vectors, data/known_answers.tsv, for the C++ tests.
#pragma once
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

struct KnownAnswer {
    std::string kind;               // "block", "string" or "file"
    std::string name;
    std::string key;                // the key's bytes
    std::string settings;           // see FilterSettings; "padding" or "no-padding" for files
    std::vector<uint8_t> plain;
    std::vector<uint8_t> cipher;
    std::string escaped;            // escaped cipher text (strings only)
};

// A string vector's filter: the settings of the new object that encrypted it.
struct FilterSettings {
    bool controlCodes = true;
    std::string characters;
    std::vector<uint16_t> codes;
};

inline std::string DecodeHexText(const std::string& hex) {
    std::string bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return bytes;
}

inline std::vector<uint8_t> DecodeHex(const std::string& hex) {
    std::string bytes = DecodeHexText(hex);
    return {bytes.begin(), bytes.end()};
}

// "control=1;chars=263d;codes=9,10"
inline FilterSettings ParseFilterSettings(const std::string& settings) {
    FilterSettings filter;
    std::stringstream fields(settings);
    std::string field;
    while (std::getline(fields, field, ';')) {
        size_t equals = field.find('=');
        std::string name = field.substr(0, equals);
        std::string value = field.substr(equals + 1);
        if (name == "control") filter.controlCodes = value == "1";
        if (name == "chars") filter.characters = DecodeHexText(value);
        if (name == "codes") {
            std::stringstream codes(value);
            std::string code;
            while (std::getline(codes, code, ','))
                filter.codes.push_back(static_cast<uint16_t>(std::stoi(code)));
        }
    }
    return filter;
}

inline std::string KnownAnswersPath() {
    // This header sits in tests/cli/ of the source tree; the data in data/.
    return (std::filesystem::path(__FILE__).parent_path().parent_path().parent_path() /
            "data" / "known_answers.tsv").string();
}

inline std::vector<KnownAnswer> LoadKnownAnswers() {
    std::vector<KnownAnswer> answers;
    std::ifstream file(KnownAnswersPath());
    std::string line;
    bool header = true;
    while (std::getline(file, line)) {
        if (line.empty() || line[0] == '#') continue;
        if (header) {           // the column names
            header = false;
            continue;
        }
        std::vector<std::string> columns;
        std::stringstream row(line);
        std::string column;
        while (std::getline(row, column, '\t')) columns.push_back(column);
        columns.resize(7);      // a trailing empty column is not returned by getline
        answers.push_back({columns[0], columns[1], DecodeHexText(columns[2]), columns[3],
                           DecodeHex(columns[4]), DecodeHex(columns[5]),
                           columns[6] == "-" ? "" : DecodeHexText(columns[6])});
    }
    return answers;
}
