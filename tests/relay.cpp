// A relay for the latency tests and benchmarks: reads frames of FRAME_BYTES
// bytes from standard input and writes each to standard output HOLD_MS
// milliseconds after its last byte came, as a chain with a fixed delay
// would. Frames are read as they come, whatever is being held, so the
// delay is the same for every frame. With GAP_MS, no frame is written
// sooner than that after the one before: a source paced as a live one is.
//
//   relay FRAME_BYTES HOLD_MS [GAP_MS]
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Held {
    std::vector<unsigned char> bytes;
    Clock::time_point due;
};

std::mutex lock;
std::condition_variable changed;
std::deque<Held> queue;
std::vector<std::vector<unsigned char>> spare; // buffers written out, for reuse
bool ended = false;

void readFrames(size_t frameBytes, std::chrono::milliseconds hold)
{
    for (;;) {
        // A buffer already in memory: a fresh one costs its page faults on
        // the frame's way through, which would count as latency.
        Held frame;
        {
            std::lock_guard<std::mutex> guard(lock);
            if (!spare.empty()) {
                frame.bytes = std::move(spare.back());
                spare.pop_back();
            }
        }
        frame.bytes.resize(frameBytes);
        const size_t got = std::fread(frame.bytes.data(), 1, frameBytes, stdin);
        frame.due = Clock::now() + hold;
        frame.bytes.resize(got);
        std::lock_guard<std::mutex> guard(lock);
        if (got > 0)
            queue.push_back(std::move(frame));
        if (got < frameBytes)
            ended = true;
        changed.notify_one();
        if (ended)
            return;
    }
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3 && argc != 4) {
        std::fputs("usage: relay FRAME_BYTES HOLD_MS [GAP_MS]\n", stderr);
        return 1;
    }
    const auto frameBytes = static_cast<size_t>(std::strtoull(argv[1], nullptr, 10));
    const std::chrono::milliseconds hold(std::strtoll(argv[2], nullptr, 10));
    const std::chrono::milliseconds gap(argc == 4 ? std::strtoll(argv[3], nullptr, 10) : 0);
    Clock::time_point nextAllowed = Clock::now();
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    std::thread reader(readFrames, frameBytes, hold);
    int status = 0;
    for (;;) {
        std::unique_lock<std::mutex> guard(lock);
        changed.wait(guard, [] { return !queue.empty() || ended; });
        if (queue.empty())
            break;
        Held frame = std::move(queue.front());
        queue.pop_front();
        guard.unlock();
        std::this_thread::sleep_until(std::max(frame.due, nextAllowed));
        nextAllowed = Clock::now() + gap;
        if (std::fwrite(frame.bytes.data(), 1, frame.bytes.size(), stdout) != frame.bytes.size()) {
            status = 1;
            break;
        }
        guard.lock();
        spare.push_back(std::move(frame.bytes));
    }
    // A reader downstream that went away ends the relay, mid-stream too.
    if (status != 0)
        std::_Exit(status);
    reader.join();
    return status;
}
