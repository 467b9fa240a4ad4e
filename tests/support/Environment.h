// Process environment for one test: a variable set or unset while an object lives, and a file
// that disappears with its object.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <string>
#include <unistd.h>
#include <utility>

namespace tarvo::test {

class ScopedEnv
{
public:
    // nullopt unsets the variable.
    ScopedEnv(std::string name, const std::optional<std::string> &value) : m_name(std::move(name))
    {
        if (const char *old = std::getenv(m_name.c_str()))
            m_old = old;
        apply(value);
    }
    ~ScopedEnv() { apply(m_old); }
    ScopedEnv(const ScopedEnv &) = delete;
    ScopedEnv &operator=(const ScopedEnv &) = delete;

private:
    void apply(const std::optional<std::string> &value)
    {
        if (value)
            ::setenv(m_name.c_str(), value->c_str(), 1);
        else
            ::unsetenv(m_name.c_str());
    }

    std::string m_name;
    std::optional<std::string> m_old;
};

class TemporaryFile
{
public:
    explicit TemporaryFile(const std::string &content)
    {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "tarvo-test-XXXXXX").string();
        const int fd = ::mkstemp(pattern.data());
        if (fd < 0)
            throw std::runtime_error("could not make a temporary file");
        ::close(fd);
        m_path = pattern;
        std::ofstream(m_path, std::ios::binary) << content;
    }
    ~TemporaryFile() { std::remove(m_path.c_str()); }
    TemporaryFile(const TemporaryFile &) = delete;
    TemporaryFile &operator=(const TemporaryFile &) = delete;

    const std::string &path() const { return m_path; }

private:
    std::string m_path;
};

} // namespace tarvo::test
