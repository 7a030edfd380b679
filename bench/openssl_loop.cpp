// OpenSSL's Blowfish as the benchmark program measures it (one BF_encrypt call per block,
// 64 MiB in place), printed as MB/s of the best of RUNS (default 7) for bench/web_bench.py,
// which sets the page's file speed beside it in the same run.
//   openssl_loop [RUNS]
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/blowfish.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::atoi(argv[1]) : 7;
    constexpr size_t Bytes = size_t(64) << 20;
    std::vector<uint8_t> buffer(Bytes);
    std::mt19937 random(1);
    for (uint8_t& b : buffer) b = static_cast<uint8_t>(random());
    BF_KEY key;
    BF_set_key(&key, 16, reinterpret_cast<const unsigned char*>("a bench key 0123"));
    double best = 1e300;
    for (int run = 0; run < runs; ++run) {
        const auto start = std::chrono::steady_clock::now();
        uint8_t* bytes = buffer.data();
        for (size_t b = 0; b < Bytes / 8; ++b, bytes += 8) {
            BF_LONG data[2];    // our halves are little-endian words, as this machine loads them
            std::memcpy(data, bytes, 8);
            BF_encrypt(data, &key);
            std::memcpy(bytes, data, 8);
        }
        best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() -
                                                              start).count());
    }
    std::printf("%.1f\n", static_cast<double>(Bytes) / best / 1e6);
    return 0;
}
