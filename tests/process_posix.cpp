#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <stdexcept>

#include "tool_runner.h"

namespace {

// Appends what one read gives; false at end of file, or at the EIO with
// which a pseudo-terminal ends once the program has gone.
bool drain(int fd, std::string& into)
{
    char buf[4096];
    const ssize_t n = read(fd, buf, sizeof buf);
    if (n > 0)
        into.append(buf, static_cast<size_t>(n));
    return n > 0 || (n < 0 && errno == EINTR);
}

} // namespace

struct ToolProcess::Impl {
    pid_t pid = -1;
    int outFd = -1;
    int errFd = -1;
};

ToolProcess::ToolProcess(const std::string& path, const std::vector<std::string>& args,
                         const RunOptions& options)
    : impl_(new Impl)
{
    int outPipe[2];
    int errPipe[2];
    if (pipe2(outPipe, O_CLOEXEC) != 0 || pipe2(errPipe, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");
    if (options.terminalError) {
        // Standard error on a pseudo-terminal: the parent reads its master
        // side in place of the pipe.
        const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0)
            throw std::runtime_error("no pseudo-terminal");
        const int terminal = open(ptsname(master), O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (terminal < 0)
            throw std::runtime_error("cannot open the pseudo-terminal");
        close(errPipe[0]);
        close(errPipe[1]);
        errPipe[0] = master;
        errPipe[1] = terminal;
    }
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(path.c_str()));
    for (const auto& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    const std::string input = options.input.empty() ? "/dev/null" : options.input;
    const int inputFlags = O_RDONLY | O_CLOEXEC | (options.nonBlockingInput ? O_NONBLOCK : 0);
    impl_->pid = fork();
    if (impl_->pid == 0) {
        // Only async-signal-safe calls between fork and exec.
        dup2(outPipe[1], 1);
        dup2(errPipe[1], 2);
        dup2(open(input.c_str(), inputFlags), 0);
        if (options.closeStandardStreams) {
            close(0);
            close(1);
            close(2);
        }
        if (options.addressSpaceLimit != 0) {
            struct rlimit limit = {options.addressSpaceLimit, options.addressSpaceLimit};
            setrlimit(RLIMIT_AS, &limit);
        }
        if (options.fileSizeLimit != 0) {
            struct rlimit limit = {options.fileSizeLimit, options.fileSizeLimit};
            setrlimit(RLIMIT_FSIZE, &limit);
        }
        execv(path.c_str(), argv.data());
        _exit(126);
    }
    close(outPipe[1]);
    close(errPipe[1]);
    impl_->outFd = outPipe[0];
    impl_->errFd = errPipe[0];
    if (impl_->pid < 0)
        throw std::runtime_error("fork failed");
}

ToolProcess::~ToolProcess()
{
    if (impl_->pid > 0) {
        kill(impl_->pid, SIGKILL);
        finish();
    }
}

void ToolProcess::sendSignal(int sig)
{
    kill(impl_->pid, sig);
}

bool ToolProcess::waitUntilWaitingForPipePartner()
{
    // The kernel names the wait a blocked open of a FIFO sleeps in.
    const std::string wchan = "/proc/" + std::to_string(impl_->pid) + "/wchan";
    for (int tick = 0; tick < 60000; ++tick) {
        char name[64] = {};
        const int fd = open(wchan.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            return false;
        const ssize_t got = read(fd, name, sizeof name - 1);
        ::close(fd);
        if (got > 0 && std::string(name, static_cast<size_t>(got)) == "wait_for_partner")
            return true;
        (void)poll(nullptr, 0, 1);
    }
    return false;
}

RunResult ToolProcess::finish()
{
    RunResult result;
    struct pollfd fds[2] = {{impl_->outFd, POLLIN, 0}, {impl_->errFd, POLLIN, 0}};
    int open = 2;
    while (open > 0) {
        if (poll(fds, 2, -1) < 0 && errno != EINTR)
            break;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0)
                continue;
            if (!drain(fds[i].fd, i == 0 ? result.out : result.err)) {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
    }
    int wstatus = 0;
    waitpid(impl_->pid, &wstatus, 0);
    impl_->pid = -1;
    if (WIFEXITED(wstatus))
        result.status = WEXITSTATUS(wstatus);
    else if (WIFSIGNALED(wstatus))
        result.signal = WTERMSIG(wstatus);
    return result;
}

FeedPipe::FeedPipe(const TempDir& dir)
{
    static int serial = 0;
    path_ = dir.path("feed" + std::to_string(serial++) + ".pipe");
    if (mkfifo(path_.c_str(), 0600) != 0)
        throw std::runtime_error("mkfifo failed");
    // Read-write, so that neither this open nor the reader's waits.
    handle_ = open(path_.c_str(), O_RDWR | O_CLOEXEC);
    if (handle_ < 0)
        throw std::runtime_error("cannot open " + path_);
    // Every read of the pipe is an event here, from before the first write.
    watch_ = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    if (watch_ < 0 || inotify_add_watch(static_cast<int>(watch_), path_.c_str(), IN_ACCESS) < 0)
        throw std::runtime_error("cannot watch " + path_);
}

FeedPipe::~FeedPipe()
{
    close();
    if (watch_ >= 0)
        ::close(static_cast<int>(watch_));
}

bool FeedPipe::write(const Bytes& bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n =
            ::write(static_cast<int>(handle_), bytes.data() + done, bytes.size() - done);
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

bool FeedPipe::waitUntilRead()
{
    for (;;) {
        int unread = 0;
        if (ioctl(static_cast<int>(handle_), FIONREAD, &unread) != 0)
            return false;
        if (unread == 0)
            return true;
        // The next read wakes this; a minute without one is a reader that
        // stopped, which fails the test rather than hanging it.
        struct pollfd event = {static_cast<int>(watch_), POLLIN, 0};
        if (poll(&event, 1, 60 * 1000) <= 0)
            return false;
        char events[4096];
        while (read(static_cast<int>(watch_), events, sizeof events) > 0) {
        }
    }
}

void FeedPipe::close()
{
    if (handle_ >= 0)
        ::close(static_cast<int>(handle_));
    handle_ = -1;
}

void FeedPipe::disconnect()
{
    close();
}

long FeedPipe::bufferSize() const
{
    return fcntl(static_cast<int>(handle_), F_GETPIPE_SZ);
}
