// centervendor-server run as a process, the way scripts and systemd start it: its stdout and
// stderr read through pipes, every wait bounded, killed when the test is done with it.
#pragma once

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <poll.h>
#include <stdexcept>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace tarvo::server::testing {

struct Finished
{
    int exitCode = -1; // -1: did not exit in time (then killed)
    std::string out;
    std::string err;
};

// Runs the program; `stopAfterFirstLine` gets the first stdout line and may act on the
// running server before it is sent SIGTERM. Every wait is bounded.
class Program
{
public:
    pid_t pid() const { return m_pid; }
    explicit Program(const std::vector<std::string> &args)
    {
        int out[2];
        int err[2];
        if (pipe(out) != 0 || pipe(err) != 0) {
            throw std::runtime_error("pipe");
        }
        // Everything the child needs is built before fork: it may only exec.
        std::string program = CENTERVENDOR_SERVER_PATH;
        std::vector<std::string> copies = args;
        std::vector<char *> argv{program.data()};
        for (std::string &arg : copies) {
            argv.push_back(arg.data());
        }
        argv.push_back(nullptr);
        m_pid = fork();
        if (m_pid == 0) {
            dup2(out[1], STDOUT_FILENO);
            dup2(err[1], STDERR_FILENO);
            close(out[0]);
            close(err[0]);
            execv(program.c_str(), argv.data());
            _exit(127);
        }
        close(out[1]);
        close(err[1]);
        m_out = out[0];
        m_err = err[0];
    }

    ~Program()
    {
        if (m_pid > 0) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
        close(m_out);
        close(m_err);
    }

    // The first stdout line, or "" when none came within the time limit.
    std::string firstLine() { return stdoutLine(0); }

    // Line `index` (from 0) of stdout, or "" when it did not come within the time limit.
    std::string stdoutLine(std::size_t index)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        const auto lines = [this] {
            return static_cast<std::size_t>(std::count(m_stdout.begin(), m_stdout.end(), '\n'));
        };
        while (lines() <= index && readSome(m_out, m_stdout, deadline)) {
        }
        std::size_t start = 0;
        for (std::size_t i = 0; i < index && start != std::string::npos; ++i) {
            start = m_stdout.find('\n', start);
            start = start == std::string::npos ? start : start + 1;
        }
        const std::size_t end = start == std::string::npos ? start : m_stdout.find('\n', start);
        return end == std::string::npos ? std::string() : m_stdout.substr(start, end - start);
    }

    void signal(int number) { kill(m_pid, number); }

    Finished finish()
    {
        Finished result;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (readSome(m_out, m_stdout, deadline)) {
        }
        while (readSome(m_err, m_stderr, deadline)) {
        }
        int status = 0;
        pid_t done = 0;
        while ((done = waitpid(m_pid, &status, WNOHANG)) == 0 &&
               std::chrono::steady_clock::now() < deadline) {
            pollfd none{};
            poll(&none, 0, 10);
        }
        if (done == m_pid) {
            m_pid = -1;
            result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        result.out = m_stdout;
        result.err = m_stderr;
        return result;
    }

private:
    // False at the end of the stream or the deadline.
    static bool readSome(int fd, std::string &into, std::chrono::steady_clock::time_point deadline)
    {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return false;
        }
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left.count())) <= 0) {
            return false;
        }
        char buffer[4096];
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n <= 0) {
            return false;
        }
        into.append(buffer, static_cast<std::size_t>(n));
        return true;
    }

    pid_t m_pid = -1;
    int m_out = -1;
    int m_err = -1;
    std::string m_stdout;
    std::string m_stderr;
};

// The port after `prefix` at the start of `line`; 0 when the line does not start so.
inline int portAfter(const std::string &line, const std::string &prefix)
{
    return line.rfind(prefix, 0) == 0 ? std::atoi(line.c_str() + prefix.size()) : 0;
}

} // namespace tarvo::server::testing
