#include "tool_runner.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>

namespace {

constexpr size_t kFrameBytes = 3110400;
constexpr size_t kLumaBytes = 2073600;
constexpr size_t kVOffset = 2592000;
constexpr size_t kWidth = 1920;
constexpr size_t kRecord = 60;

} // namespace

RunResult runTool(const std::string& path, const std::vector<std::string>& args,
                  const RunOptions& options)
{
    ToolProcess process(path, args, options);
    return process.finish();
}

TempDir::TempDir()
{
    namespace fs = std::filesystem;
    std::random_device seed;
    for (;;) {
        const fs::path candidate = fs::temp_directory_path() / ("wmtest-" + std::to_string(seed()));
        if (fs::create_directory(candidate)) {
            dir_ = candidate.u8string();
            return;
        }
    }
}

TempDir::~TempDir()
{
    std::error_code ignored;
    std::filesystem::remove_all(std::filesystem::u8path(dir_), ignored);
}

std::string console(const std::string& text)
{
#ifdef _WIN32
    std::string crlf;
    for (char c : text) {
        if (c == '\n')
            crlf += '\r';
        crlf += c;
    }
    return crlf;
#else
    return text;
#endif
}

std::string shellQuote(const std::string& word)
{
    return "'" + word + "'";
}

std::string nullDevice()
{
#ifdef _WIN32
    return "NUL";
#else
    return "/dev/null";
#endif
}

// Names are UTF-8 on every platform, as the programs take them.
std::filesystem::path fsPath(const std::string& path)
{
    return std::filesystem::u8path(path);
}

void writeFile(const std::string& path, const Bytes& bytes)
{
    std::ofstream file(fsPath(path), std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    if (!file)
        throw std::runtime_error("cannot write " + path);
}

Bytes readFile(const std::string& path)
{
    std::ifstream file(fsPath(path), std::ios::binary);
    if (!file)
        throw std::runtime_error("cannot read " + path);
    // In blocks: a byte at a time takes seconds for a few 1080p frames in
    // a sanitized build.
    Bytes bytes;
    for (;;) {
        const size_t at = bytes.size();
        bytes.resize(at + (1 << 20));
        file.read(reinterpret_cast<char*>(bytes.data() + at), 1 << 20);
        bytes.resize(at + static_cast<size_t>(file.gcount()));
        if (!file)
            return bytes;
    }
}

bool fileExists(const std::string& path)
{
    std::error_code ignored;
    return std::filesystem::exists(std::filesystem::symlink_status(fsPath(path), ignored));
}

Bytes makeVideo(int frames, size_t extraBytes, uint32_t seed)
{
    Bytes video(static_cast<size_t>(frames) * kFrameBytes + extraBytes);
    uint32_t state = seed * 2654435761u + 1;
    for (auto& sample : video) {
        state = state * 1664525u + 1013904223u;
        sample = static_cast<uint8_t>(state >> 24);
    }
    return video;
}

Bytes makeRandomBytes(size_t count, uint32_t seed)
{
    std::mt19937 rng(seed);
    Bytes bytes(count);
    for (auto& b : bytes)
        b = static_cast<uint8_t>(rng());
    return bytes;
}

void encodeRecord(const Bytes& payload, Bytes& band)
{
    const uint8_t levels[4] = {16, 89, 162, 235};
    for (size_t run = 0; run < 240; ++run) {
        const unsigned symbol = (payload[run / 4] >> (6 - 2 * (run % 4))) & 3u;
        std::fill_n(band.begin() + static_cast<long>(run * 8), 8, levels[symbol]);
    }
    std::copy(band.begin(), band.begin() + 1920, band.begin() + 1920);
}

Bytes expectedPayload(const Bytes& wmData, size_t frame)
{
    const size_t records = (wmData.size() + kRecord - 1) / kRecord; // a short one counts
    Bytes payload(kRecord, 0);
    if (records == 0)
        return payload;
    const size_t record = frame < records ? frame : records - 1;
    const size_t begin = record * kRecord;
    const size_t end = std::min(begin + kRecord, wmData.size());
    std::copy(wmData.begin() + static_cast<long>(begin), wmData.begin() + static_cast<long>(end),
              payload.begin());
    return payload;
}

std::string checkStampedVideo(const Bytes& src, const Bytes& wmData, const Bytes& out)
{
    const size_t frames = src.size() / kFrameBytes;
    if (out.size() != frames * kFrameBytes)
        return "output holds " + std::to_string(out.size()) + " bytes, expected " +
               std::to_string(frames * kFrameBytes);
    static constexpr uint8_t levels[4] = {16, 89, 162, 235};
    Bytes expected(kFrameBytes);
    for (size_t n = 0; n < frames; ++n) {
        std::copy(src.begin() + static_cast<long>(n * kFrameBytes),
                  src.begin() + static_cast<long>((n + 1) * kFrameBytes), expected.begin());
        const Bytes payload = expectedPayload(wmData, n);
        for (size_t x = 0; x < kWidth; ++x) {
            const uint8_t byte = payload[x / 32];
            const int shift = 6 - 2 * static_cast<int>((x % 32) / 8);
            expected[x] = expected[kWidth + x] = levels[(byte >> shift) & 3];
        }
        std::fill_n(expected.begin() + kLumaBytes, kWidth / 2, 128);
        std::fill_n(expected.begin() + kVOffset, kWidth / 2, 128);
        const uint8_t* got = out.data() + n * kFrameBytes;
        if (std::memcmp(got, expected.data(), kFrameBytes) != 0) {
            size_t at = 0;
            while (got[at] == expected[at])
                ++at;
            return "frame " + std::to_string(n) + " differs at byte " + std::to_string(at);
        }
    }
    return "";
}

void stampByTheRule(uint8_t* frame, const FrameShape& shape, const Bytes& payload)
{
    const size_t bytes = shape.sampleBytes();
    auto put = [&](uint8_t* at, unsigned level) {
        const unsigned value = level << (shape.bitDepth - 8);
        at[0] = static_cast<uint8_t>(value & 0xFF);
        if (bytes == 2)
            at[1] = static_cast<uint8_t>(value >> 8);
    };
    for (size_t x = 0; x < shape.width; ++x) {
        const size_t k = (2 * x + 1) * 240 / (2 * shape.width);
        const unsigned symbol = (payload[k / 4] >> (6 - 2 * (k % 4))) & 3u;
        for (int r = 0; r < shape.bandRows; ++r)
            put(frame + (static_cast<size_t>(r) * shape.width + x) * bytes, 16 + 73 * symbol);
    }
    const size_t luma = shape.width * shape.height * bytes, chroma = luma / 4;
    const size_t neutral = static_cast<size_t>(shape.bandRows + 1) / 2 * shape.width / 2;
    for (size_t i = 0; i < neutral; ++i) {
        put(frame + luma + i * bytes, 128);
        put(frame + luma + chroma + i * bytes, 128);
    }
}

Bytes stampedByTheRule(const Bytes& src, const Bytes& wmData, const FrameShape& shape)
{
    const size_t frameBytes = shape.frameBytes(), frames = src.size() / frameBytes;
    Bytes out(src.begin(), src.begin() + static_cast<long>(frames * frameBytes));
    for (size_t n = 0; n < frames; ++n)
        stampByTheRule(out.data() + n * frameBytes, shape, expectedPayload(wmData, n));
    return out;
}

Bytes y4mStream(const std::string& header, const std::vector<std::string>& lines,
                const Bytes& frames, size_t frameBytes)
{
    Bytes stream(header.begin(), header.end());
    for (size_t at = 0, n = 0; at < frames.size(); at += frameBytes, ++n) {
        const std::string& line = lines[std::min(n, lines.size() - 1)];
        stream.insert(stream.end(), line.begin(), line.end());
        stream.insert(stream.end(), frames.begin() + static_cast<long>(at),
                      frames.begin() + static_cast<long>(std::min(at + frameBytes, frames.size())));
    }
    return stream;
}

std::string documentedCommand(const std::string& start)
{
#ifdef WM_SOURCE_DIR
    for (const char* page : {"/README.md", "/doc/recipes.md"}) {
        std::ifstream readme(std::string(WM_SOURCE_DIR) + page);
        std::string line;
        while (std::getline(readme, line)) {
            if (line.rfind("    ", 0) != 0)
                continue;
            std::string command = line.substr(4);
            size_t at = 0;
            if (command.rfind("mkdir ", 0) == 0 && command.find(" && ") != std::string::npos)
                at = command.find(" && ") + 4;
            if (command.compare(at, start.size(), start) == 0)
                return command;
        }
    }
#else
    (void)start;
#endif
    return "";
}

std::string documentedLines(const std::string& first, const std::string& last)
{
#ifdef WM_SOURCE_DIR
    for (const char* page : {"/README.md", "/doc/recipes.md"}) {
        std::ifstream text(std::string(WM_SOURCE_DIR) + page);
        std::string line, lines;
        bool inside = false;
        while (std::getline(text, line)) {
            const std::string command = line.rfind("    ", 0) == 0 ? line.substr(4) : "";
            inside = inside || command.rfind(first, 0) == 0;
            if (!inside)
                continue;
            lines += command + "\n";
            if (command.rfind(last, 0) == 0)
                return lines;
        }
    }
#else
    (void)first;
    (void)last;
#endif
    return "";
}
