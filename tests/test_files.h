// What the engine and tool tests share: byte buffers, temporary folders and files, the
// data files, and an independent Blowfish to check cipher bytes against.
#pragma once
#define OPENSSL_SUPPRESS_DEPRECATED     // the one-block BF_ API is the reference we want
#include <openssl/blowfish.h>
#include <unistd.h>

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

// A new empty folder under the system's temporary one; empty when none could be made.
inline std::filesystem::path MakeTempDir(const std::string& prefix) {
    std::string pattern = (std::filesystem::temp_directory_path() / (prefix + ".XXXXXX"));
    return mkdtemp(pattern.data()) ? std::filesystem::path(pattern) : std::filesystem::path();
}

inline Bytes FromHex(const std::string& hex) {
    Bytes bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes.push_back(static_cast<uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
    return bytes;
}

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

// OpenSSL's Blowfish over the whole blocks of `data`; a final piece stays as it is. It
// reads each half of a block big-endian, the object little-endian: each half is reversed
// on the way in and out.
inline Bytes ReferenceCrypt(Bytes data, const std::string& key, bool encrypt) {
    BF_KEY schedule;
    BF_set_key(&schedule, int(key.size()), reinterpret_cast<const uint8_t*>(key.data()));
    for (size_t at = 0; at + 8 <= data.size(); at += 8) {
        uint8_t block[8];
        for (size_t i = 0; i < 8; ++i) block[i] = data[at + (i & 4) + 3 - (i & 3)];
        BF_ecb_encrypt(block, block, &schedule, encrypt ? BF_ENCRYPT : BF_DECRYPT);
        for (size_t i = 0; i < 8; ++i) data[at + (i & 4) + 3 - (i & 3)] = block[i];
    }
    return data;
}

}  // namespace testfiles
