#include "tool_runner.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

namespace {

constexpr size_t kFrameBytes = 3110400;
constexpr size_t kLumaBytes = 2073600;
constexpr size_t kVOffset = 2592000;
constexpr size_t kWidth = 1920;
constexpr size_t kRecord = 60;

void drain(int fd, std::string& into)
{
    char buf[4096];
    const ssize_t n = read(fd, buf, sizeof buf);
    if (n > 0)
        into.append(buf, static_cast<size_t>(n));
}

} // namespace

ToolProcess::ToolProcess(const std::string& path, const std::vector<std::string>& args,
                         const RunOptions& options)
{
    int outPipe[2];
    int errPipe[2];
    if (pipe2(outPipe, O_CLOEXEC) != 0 || pipe2(errPipe, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(path.c_str()));
    for (const auto& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    pid_ = fork();
    if (pid_ == 0) {
        // Only async-signal-safe calls between fork and exec.
        dup2(outPipe[1], 1);
        dup2(errPipe[1], 2);
        const int devNull = open("/dev/null", O_RDONLY | O_CLOEXEC);
        dup2(devNull, 0);
        if (options.addressSpaceLimit != 0) {
            struct rlimit limit = {options.addressSpaceLimit, options.addressSpaceLimit};
            setrlimit(RLIMIT_AS, &limit);
        }
        execv(path.c_str(), argv.data());
        _exit(126);
    }
    close(outPipe[1]);
    close(errPipe[1]);
    outFd_ = outPipe[0];
    errFd_ = errPipe[0];
    if (pid_ < 0)
        throw std::runtime_error("fork failed");
}

ToolProcess::~ToolProcess()
{
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        finish();
    }
}

RunResult ToolProcess::finish()
{
    RunResult result;
    struct pollfd fds[2] = {{outFd_, POLLIN, 0}, {errFd_, POLLIN, 0}};
    int open = 2;
    while (open > 0) {
        if (poll(fds, 2, -1) < 0 && errno != EINTR)
            break;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0)
                continue;
            std::string& into = i == 0 ? result.out : result.err;
            const size_t before = into.size();
            drain(fds[i].fd, into);
            if (into.size() == before) {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
    }
    int wstatus = 0;
    waitpid(pid_, &wstatus, 0);
    pid_ = -1;
    if (WIFEXITED(wstatus))
        result.status = WEXITSTATUS(wstatus);
    else if (WIFSIGNALED(wstatus))
        result.signal = WTERMSIG(wstatus);
    return result;
}

RunResult runTool(const std::string& path, const std::vector<std::string>& args,
                  const RunOptions& options)
{
    ToolProcess process(path, args, options);
    return process.finish();
}

TempDir::TempDir()
{
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr ? base : "/tmp") + "/wmtest.XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    dir_ = pattern;
}

TempDir::~TempDir()
{
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
}

void writeFile(const std::string& path, const Bytes& bytes)
{
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    if (!file)
        throw std::runtime_error("cannot write " + path);
}

Bytes readFile(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    if (!file)
        throw std::runtime_error("cannot read " + path);
    return Bytes(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

bool fileExists(const std::string& path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
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
