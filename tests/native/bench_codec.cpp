// Encode and decode speed of the codec on 64 MiB of random bytes, next to coreutils base64
// on the same bytes in the same run. Prints figures only; speeds are never asserted.
//   bench_codec [MiB] [repeats]
#include "base64.h"

#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point a, Clock::time_point b) {
    return std::chrono::duration<double>(b - a).count();
}

template <typename F>
double Best(int repeats, F f) {
    double best = 1e30;
    for (int r = 0; r < repeats; ++r) {
        const auto t0 = Clock::now();
        f();
        const double s = Seconds(t0, Clock::now());
        if (s < best) best = s;
    }
    return best;
}

bool WriteFile(const std::string& path, const void* data, size_t n) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    const bool ok = std::fwrite(data, 1, n, f) == n;
    return std::fclose(f) == 0 && ok;
}

// Best wall time of a shell command, or a negative value when it fails.
double TimeCommand(int repeats, const std::string& cmd) {
    bool ok = true;
    const double s = Best(repeats, [&] { ok = ok && std::system(cmd.c_str()) == 0; });
    return ok ? s : -1;
}

}  // namespace

int main(int argc, char** argv) {
    const size_t mib = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 64;
    const int repeats = argc > 2 ? std::atoi(argv[2]) : 3;
    const size_t n = mib << 20;

    std::vector<unsigned char> data(n);
    std::mt19937_64 gen(20261211);
    for (size_t i = 0; i + 8 <= n; i += 8) {
        const uint64_t v = gen();
        std::memcpy(&data[i], &v, 8);
    }

    const long need = Base64EncodedLength(n);
    if (need < 0) {
        std::fprintf(stderr, "input too large\n");
        return 1;
    }
    std::vector<char> text(static_cast<size_t>(need));
    size_t textLen = 0;
    const double encS = Best(repeats, [&] {
        if (!EncodeBase64(data.data(), n, text.data(), text.size(), &textLen)) std::abort();
    });

    std::vector<unsigned char> back(n);
    size_t backLen = 0;
    const double decS = Best(repeats, [&] {
        if (!DecodeBase64(text.data(), textLen, back.data(), back.size(), &backLen)) std::abort();
    });
    if (backLen != n || std::memcmp(back.data(), data.data(), n) != 0) {
        std::fprintf(stderr, "round trip differs\n");
        return 1;
    }

    char dir[] = "/tmp/bench_codec.XXXXXX";
    if (!mkdtemp(dir)) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string raw = std::string(dir) + "/data.bin";
    const std::string enc = std::string(dir) + "/data.b64";
    if (!WriteFile(raw, data.data(), n) || std::system(("base64 " + raw + " >" + enc).c_str()) != 0) {
        std::fprintf(stderr, "cannot prepare files for coreutils base64 in %s\n", dir);
        return 1;
    }
    const double cuEncS = TimeCommand(repeats, "base64 " + raw + " >/dev/null");
    const double cuDecS = TimeCommand(repeats, "base64 -d " + enc + " >/dev/null");
    std::remove(raw.c_str());
    std::remove(enc.c_str());
    rmdir(dir);

    const double mb = static_cast<double>(n) / 1e6;
    std::printf("input: %zu MiB random bytes (%.1f MB), best of %d; MB/s counted on the raw bytes\n", mib, mb, repeats);
    std::printf("%-8s %14s %22s %8s\n", "", "quorvan codec", "coreutils base64", "ratio");
    std::printf("%-8s %9.0f MB/s %17.0f MB/s %7.2fx\n", "encode", mb / encS, cuEncS > 0 ? mb / cuEncS : 0.0,
                cuEncS > 0 ? cuEncS / encS : 0.0);
    std::printf("%-8s %9.0f MB/s %17.0f MB/s %7.2fx\n", "decode", mb / decS, cuDecS > 0 ? mb / cuDecS : 0.0,
                cuDecS > 0 ? cuDecS / decS : 0.0);
    if (cuEncS < 0 || cuDecS < 0) std::printf("(coreutils base64 failed; its figures are 0)\n");
    return 0;
}
