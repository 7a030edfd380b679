// What the tests share: byte buffers, temporary folders and files, and the data files.
#pragma once
#ifndef _WIN32
#include <unistd.h>
#endif

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace testfiles {

using Bytes = std::vector<uint8_t>;

inline Bytes RandomBytes(std::mt19937& random, size_t count) {
    Bytes bytes(count);
    for (uint8_t& b : bytes) b = static_cast<uint8_t>(random());
    return bytes;
}

inline Bytes PadToBlocks(Bytes data) {
    data.resize((data.size() + 7) / 8 * 8, 0);
    return data;
}

inline Bytes ReadBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

inline void WriteBytes(const std::filesystem::path& path, const Bytes& content) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(content.data()),
                                                std::streamsize(content.size()));
}

#ifndef _WIN32
// A new empty folder under the system's temporary one; empty when none could be made.
inline std::filesystem::path MakeTempDir(const std::string& prefix) {
    std::string pattern = (std::filesystem::temp_directory_path() / (prefix + ".XXXXXX"));
    return mkdtemp(pattern.data()) ? std::filesystem::path(pattern) : std::filesystem::path();
}
#endif

// The tab-separated rows of data/`name`, without comments and the header line.
inline std::vector<std::vector<std::string>> DataRows(const std::string& name) {
    std::ifstream file(std::filesystem::path(__FILE__).parent_path().parent_path() / "data" /
                       name);
    std::vector<std::vector<std::string>> rows;
    bool header = true;
    for (std::string line; std::getline(file, line);) {
        if (line.empty() || line[0] == '#' || std::exchange(header, false)) continue;
        std::stringstream fields(line);
        rows.emplace_back();
        for (std::string field; std::getline(fields, field, '\t');) rows.back().push_back(field);
    }
    return rows;
}

}  // namespace testfiles
