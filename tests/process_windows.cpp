#include <windows.h>

#include <atomic>
#include <stdexcept>
#include <thread>

#include "tool_runner.h"

namespace {

// One argument as the C runtime's command-line parser reads it back.
std::string quoteArgument(const std::string& arg)
{
    std::string quoted = "\"";
    size_t backslashes = 0;
    for (char c : arg) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
        quoted += c;
        backslashes = 0;
    }
    quoted.append(2 * backslashes, '\\');
    return quoted + "\"";
}

std::wstring wide(const std::string& utf8)
{
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, nullptr, 0);
    std::wstring text(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, text.data(), n);
    text.resize(static_cast<size_t>(n) - 1);
    return text;
}

std::string readAll(HANDLE pipe)
{
    std::string text;
    char buf[4096];
    DWORD n = 0;
    while (ReadFile(pipe, buf, sizeof buf, &n, nullptr) && n > 0)
        text.append(buf, n);
    return text;
}

} // namespace

struct ToolProcess::Impl {
    HANDLE process = nullptr;
    HANDLE outRead = nullptr;
    HANDLE errRead = nullptr;
    DWORD id = 0;
};

ToolProcess::ToolProcess(const std::string& path, const std::vector<std::string>& args,
                         const RunOptions& options)
    : impl_(new Impl)
{
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE outWrite = nullptr;
    HANDLE errWrite = nullptr;
    if (!CreatePipe(&impl_->outRead, &outWrite, &inherit, 0) ||
        !CreatePipe(&impl_->errRead, &errWrite, &inherit, 0))
        throw std::runtime_error("CreatePipe failed");
    SetHandleInformation(impl_->outRead, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(impl_->errRead, HANDLE_FLAG_INHERIT, 0);
    const std::string input = options.input.empty() ? "NUL" : options.input;
    HANDLE nul = CreateFileW(wide(input).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             &inherit, OPEN_EXISTING, 0, nullptr);

    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nul;
    startup.hStdOutput = outWrite;
    startup.hStdError = errWrite;
    std::string commandLine = quoteArgument(path);
    for (const auto& arg : args)
        commandLine += " " + quoteArgument(arg);
    // Arguments are UTF-8 here and reach the program as UTF-16, as a
    // Windows shell passes them.
    std::wstring wideCommandLine = wide(commandLine);
    PROCESS_INFORMATION info = {};
    // A process group of its own, so that a console event can be sent to it alone.
    const BOOL started =
        CreateProcessW(nullptr, wideCommandLine.data(), nullptr, nullptr, TRUE,
                       CREATE_NEW_PROCESS_GROUP, nullptr, nullptr, &startup, &info);
    CloseHandle(outWrite);
    CloseHandle(errWrite);
    CloseHandle(nul);
    if (!started)
        throw std::runtime_error("CreateProcess failed for " + path);
    CloseHandle(info.hThread);
    impl_->process = info.hProcess;
    impl_->id = info.dwProcessId;
}

bool ToolProcess::sendBreak()
{
    return GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, impl_->id) != 0;
}

ToolProcess::~ToolProcess()
{
    if (impl_->process != nullptr) {
        TerminateProcess(impl_->process, 1);
        finish();
    }
}

RunResult ToolProcess::finish()
{
    RunResult result;
    // Both pipes at once, so that neither fills up and stalls the program.
    std::thread errReader([&] { result.err = readAll(impl_->errRead); });
    result.out = readAll(impl_->outRead);
    errReader.join();
    WaitForSingleObject(impl_->process, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(impl_->process, &code);
    result.status = static_cast<int>(code);
    CloseHandle(impl_->process);
    CloseHandle(impl_->outRead);
    CloseHandle(impl_->errRead);
    impl_->process = nullptr;
    return result;
}

FeedPipe::FeedPipe(const TempDir&)
{
    static std::atomic<int> serial{0};
    path_ = "\\\\.\\pipe\\wmtest-" + std::to_string(GetCurrentProcessId()) + "-" +
            std::to_string(serial++);
    // A client may connect as soon as the pipe exists.
    HANDLE pipe = CreateNamedPipeA(path_.c_str(), PIPE_ACCESS_OUTBOUND, PIPE_TYPE_BYTE | PIPE_WAIT,
                                   1, 1 << 16, 1 << 16, 0, nullptr);
    if (pipe == INVALID_HANDLE_VALUE)
        throw std::runtime_error("CreateNamedPipe failed");
    handle_ = reinterpret_cast<intptr_t>(pipe);
}

FeedPipe::~FeedPipe()
{
    close();
}

bool FeedPipe::write(const Bytes& bytes)
{
    HANDLE pipe = reinterpret_cast<HANDLE>(handle_);
    if (!ConnectNamedPipe(pipe, nullptr) && GetLastError() != ERROR_PIPE_CONNECTED)
        return false;
    size_t done = 0;
    while (done < bytes.size()) {
        DWORD n = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1 << 20));
        if (!WriteFile(pipe, bytes.data() + done, chunk, &n, nullptr) || n == 0)
            return false;
        done += n;
    }
    return true;
}

bool FeedPipe::waitUntilRead()
{
    // Returns once the client has read all that was written.
    return FlushFileBuffers(reinterpret_cast<HANDLE>(handle_)) != 0;
}

void FeedPipe::close()
{
    if (handle_ == -1)
        return;
    HANDLE pipe = reinterpret_cast<HANDLE>(handle_);
    // Closing at once would drop what the reader has not read yet.
    FlushFileBuffers(pipe);
    CloseHandle(pipe);
    handle_ = -1;
}

void FeedPipe::disconnect()
{
    if (handle_ != -1) {
        HANDLE pipe = reinterpret_cast<HANDLE>(handle_);
        FlushFileBuffers(pipe);
        DisconnectNamedPipe(pipe);
    }
    close();
}
