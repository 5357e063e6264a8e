// Compression throughput: a 30 MB corpus (the shared test files, repeated)
// through each of our codecs beside the system zlib at levels 1 and 6, then
// Python's zlib on the same file. Prints MB/s (best of three) and sizes.
// Usage: compress_bench [testdata-folder] [megabytes]
#include "runtime/codecs/deflate.h"
#include "runtime/codecs/lz77.h"

#include <zlib.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;
using kiv::deflate::Status;

Bytes corpus(const std::filesystem::path& root, std::size_t size) {
    Bytes files;
    for (const char* folder : {"float-parse", "json/parsing"}) {
        std::error_code error;
        for (const auto& e : std::filesystem::recursive_directory_iterator(root / folder, error)) {
            if (!e.is_regular_file()) continue;
            std::ifstream in(e.path(), std::ios::binary);
            files.insert(files.end(), std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        }
    }
    if (files.empty()) {
        std::fprintf(stderr, "no corpus under %s\n", root.c_str());
        std::exit(1);
    }
    Bytes out;
    out.reserve(size);
    while (out.size() < size) out.insert(out.end(), files.begin(), files.begin() + static_cast<std::ptrdiff_t>(std::min(files.size(), size - out.size())));
    return out;
}

// Best of three runs, in MB/s of uncompressed bytes.
double rate(std::size_t bytes, const std::function<void()>& work) {
    double best = 1e30;
    for (int i = 0; i < 3; ++i) {
        const auto start = std::chrono::steady_clock::now();
        work();
        best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    return static_cast<double>(bytes) / 1e6 / best;
}

void row(const char* name, std::size_t packed, double pack_rate, double unpack_rate) {
    std::printf("%-28s %12zu %10.1f %10.1f\n", name, packed, pack_rate, unpack_rate);
}

void ours(const char* name, const Bytes& data,
          Status (*pack)(std::uint8_t*, std::size_t&, const std::uint8_t*, std::size_t),
          Status (*unpack)(std::uint8_t*, std::size_t&, const std::uint8_t*, std::size_t)) {
    Bytes packed(data.size() + data.size() / 8 + 64), out(data.size());
    std::size_t size = 0;
    const double pack_rate = rate(data.size(), [&] {
        size = packed.size();
        if (pack(packed.data(), size, data.data(), data.size()) != Status::ok) std::abort();
    });
    const double unpack_rate = rate(data.size(), [&] {
        std::size_t n = out.size();
        if (unpack(out.data(), n, packed.data(), size) != Status::ok || n != data.size()) std::abort();
    });
    if (out != data) std::abort();
    row(name, size, pack_rate, unpack_rate);
    if (unpack == kiv::deflate::zlib_decompress) {  // as decompress without /size: a counting pass first
        const double two_pass = rate(data.size(), [&] {
            std::size_t n = 0;
            unpack(nullptr, n, packed.data(), size);
            n = out.size();
            if (unpack(out.data(), n, packed.data(), size) != Status::ok) std::abort();
        });
        row("  zlib, counting pass first", size, pack_rate, two_pass);
    }
}

void system_zlib(int level, const Bytes& data) {
    Bytes packed(compressBound(static_cast<uLong>(data.size()))), out(data.size());
    uLongf size = 0;
    const double pack_rate = rate(data.size(), [&] {
        size = static_cast<uLongf>(packed.size());
        if (compress2(packed.data(), &size, data.data(), static_cast<uLong>(data.size()), level) != Z_OK) std::abort();
    });
    const double unpack_rate = rate(data.size(), [&] {
        uLongf n = static_cast<uLongf>(out.size());
        if (uncompress(out.data(), &n, packed.data(), size) != Z_OK) std::abort();
    });
    const std::string name = "system zlib, level " + std::to_string(level);
    row(name.c_str(), size, pack_rate, unpack_rate);
}

}  // namespace

int main(int argc, char** argv) {
    const std::filesystem::path root = argc > 1 ? argv[1] : "../shared/testdata";
    const std::size_t megabytes = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 30;
    const Bytes data = corpus(root, megabytes * 1000 * 1000);
    std::printf("corpus: %zu bytes\n%-28s %12s %10s %10s\n", data.size(), "codec", "size", "pack MB/s",
                "unpack MB/s");
    ours("deflate (raw)", data, kiv::deflate::compress, kiv::deflate::inflate);
    ours("zlib", data, kiv::deflate::zlib_compress, kiv::deflate::zlib_decompress);
    ours("gzip", data, kiv::deflate::gzip, kiv::deflate::gunzip);
    system_zlib(1, data);
    system_zlib(6, data);
    {
        Bytes packed(data.size()), out;
        std::int64_t size = 0;
        const double pack_rate = rate(data.size(), [&] { size = kiv::lz77::compress(data.data(), data.size(), packed.data()); });
        const double unpack_rate = rate(data.size(), [&] {
            if (!kiv::lz77::decompress(packed.data(), static_cast<std::size_t>(size), out)) std::abort();
        });
        if (out != data) std::abort();
        row("lz77", static_cast<std::size_t>(size), pack_rate, unpack_rate);
    }
    // Python's zlib on the same bytes, in the same run.
    const std::string path = "/tmp/kiv-compress-bench.dat";
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(data.data()),
                                                static_cast<std::streamsize>(data.size()));
    const std::string script = std::filesystem::path(__FILE__).parent_path() / "compress_bench.py";
    std::fflush(stdout);
    const int status = std::system(("python3 " + script + " " + path).c_str());
    std::filesystem::remove(path);
    return status == 0 ? 0 : 1;
}
