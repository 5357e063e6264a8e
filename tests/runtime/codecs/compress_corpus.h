// Inputs shared by the codec tests: generated text, runs, noise and the files
// of the shared test corpus (KIV_TESTDATA names its folder; a missing folder
// only shortens the list).
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

namespace kiv::compress_corpus {

using Bytes = std::vector<std::uint8_t>;

// Deterministic word salad with numbers and line breaks: compresses like prose.
inline Bytes text(std::size_t size, std::uint32_t seed) {
    static const char* const words[] = {"the", "value", "of", "block", "a", "word", "is", "bound", "to",
                                        "context", "series", "and", "string", "function", "returns", "none",
                                        "with", "each", "map", "index", "path", "refinement", "error", "in"};
    Bytes out;
    out.reserve(size + 16);
    std::uint32_t x = seed * 2654435761u + 1;
    while (out.size() < size) {
        x = x * 1664525u + 1013904223u;
        const std::uint32_t r = x >> 8;
        if (r % 11 == 0) {
            const std::string n = std::to_string(r % 100000);
            out.insert(out.end(), n.begin(), n.end());
        } else {
            const char* w = words[r % std::size(words)];
            while (*w) out.push_back(static_cast<std::uint8_t>(*w++));
        }
        out.push_back(r % 17 == 0 ? '\n' : r % 13 == 0 ? ',' : ' ');
    }
    out.resize(size);
    return out;
}

inline Bytes noise(std::size_t size, std::uint32_t seed) {
    Bytes out(size);
    std::uint64_t x = seed + 0x9E3779B97F4A7C15u;
    for (auto& b : out) {
        x ^= x << 13, x ^= x >> 7, x ^= x << 17;
        b = static_cast<std::uint8_t>(x >> 24);
    }
    return out;
}

inline Bytes file(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The shared corpus: each float-parse file, and the JSON documents end to end.
inline std::vector<std::pair<std::string, Bytes>> shared_files() {
    std::vector<std::pair<std::string, Bytes>> files;
    const std::filesystem::path root = KIV_TESTDATA;
    std::error_code error;
    for (const auto& e : std::filesystem::directory_iterator(root / "float-parse", error))
        files.emplace_back(e.path().filename().string(), file(e.path()));
    Bytes json;
    for (const auto& e : std::filesystem::directory_iterator(root / "json" / "parsing", error)) {
        const Bytes doc = file(e.path());
        json.insert(json.end(), doc.begin(), doc.end());
    }
    if (!json.empty()) files.emplace_back("json documents", std::move(json));
    return files;
}

// Small and odd inputs, long runs, noise, prose, and the shared corpus.
inline std::vector<std::pair<std::string, Bytes>> mixed() {
    std::vector<std::pair<std::string, Bytes>> all = {
        {"empty", {}},
        {"one byte", {'x'}},
        {"two bytes", {'a', 'b'}},
        {"three bytes", {'a', 'a', 'a'}},
        {"abcabcabc", {'a', 'b', 'c', 'a', 'b', 'c', 'a', 'b', 'c'}},
        {"zeros", Bytes(200'000, 0)},
        {"noise", noise(70'000, 1)},
        {"prose", text(600'000, 2)},
    };
    Bytes mixed = text(40'000, 3);
    const Bytes n = noise(3'000, 4);
    mixed.insert(mixed.begin() + 20'000, n.begin(), n.end());
    mixed.insert(mixed.end(), 1'000, 'z');
    all.emplace_back("prose, noise and a run", std::move(mixed));
    for (auto& f : shared_files()) all.push_back(std::move(f));
    return all;
}

// Writes data to a new temporary file and returns its path.
inline std::string write_temp(const Bytes& data) {
    char name[] = "/tmp/kiv-corpus-XXXXXX";
    const int fd = mkstemp(name);
    if (fd >= 0) {
        FILE* f = fdopen(fd, "wb");
        fwrite(data.data(), 1, data.size(), f);
        fclose(f);
    }
    return name;
}

}  // namespace kiv::compress_corpus
