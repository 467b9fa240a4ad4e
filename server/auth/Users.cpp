#include "auth/Users.h"

#include "auth/SecretFiles.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sodium.h>
#include <sstream>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarvo::server::auth {

namespace {

std::string_view trim(std::string_view text)
{
    const std::size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

// The line without its comment, trimmed.
std::string_view content(std::string_view line)
{
    return trim(line.substr(0, line.find('#')));
}

std::string_view nameOf(std::string_view line)
{
    const std::string_view text = content(line);
    return trim(text.substr(0, text.find(':')));
}

bool sodiumReady()
{
    static const bool ready = sodium_init() >= 0;
    return ready;
}

std::string lineOf(const UserEntry &entry)
{
    return entry.name + ":" + entry.hash + ":" + entry.centers.text();
}

} // namespace

CenterRights CenterRights::all()
{
    return {};
}

CenterRights CenterRights::only(std::vector<std::int64_t> ids)
{
    CenterRights rights;
    rights.m_all = false;
    std::sort(ids.begin(), ids.end());
    ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
    rights.m_ids = std::move(ids);
    return rights;
}

bool CenterRights::allows(std::int64_t centerId) const
{
    return m_all || std::binary_search(m_ids.begin(), m_ids.end(), centerId);
}

std::string CenterRights::text() const
{
    if (m_all) {
        return "*";
    }
    std::string out;
    for (const std::int64_t id : m_ids) {
        if (!out.empty()) {
            out += ',';
        }
        out += std::to_string(id);
    }
    return out;
}

std::optional<CenterRights> parseCenters(std::string_view text)
{
    text = trim(text);
    if (text == "*") {
        return CenterRights::all();
    }
    std::vector<std::int64_t> ids;
    while (true) {
        const std::size_t comma = text.find(',');
        const std::string_view item = trim(text.substr(0, comma));
        std::int64_t id = 0;
        const auto [end, error] = std::from_chars(item.data(), item.data() + item.size(), id);
        if (item.empty() || error != std::errc() || end != item.data() + item.size()) {
            return std::nullopt;
        }
        ids.push_back(id);
        if (comma == std::string_view::npos) {
            break;
        }
        text = text.substr(comma + 1);
    }
    return CenterRights::only(std::move(ids));
}

bool isValidUserName(std::string_view name)
{
    return !name.empty() && std::all_of(name.begin(), name.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte > 0x20 && byte != 0x7F && c != ':' && c != '#';
    });
}

UsersParse parseUsers(std::string_view text)
{
    UsersParse result;
    std::size_t number = 0;
    while (!text.empty()) {
        ++number;
        const std::size_t end = text.find('\n');
        const std::string_view line = content(text.substr(0, end));
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (line.empty()) {
            continue;
        }
        auto fail = [&](const std::string &why) {
            result.users.clear();
            result.message = "line " + std::to_string(number) + ": " + why;
            return result;
        };
        const std::size_t first = line.find(':');
        const std::size_t second =
            first == std::string_view::npos ? first : line.find(':', first + 1);
        if (second == std::string_view::npos) {
            return fail("expected name:hash:centers");
        }
        UserEntry entry;
        entry.name = std::string(trim(line.substr(0, first)));
        entry.hash = std::string(trim(line.substr(first + 1, second - first - 1)));
        const auto centers = parseCenters(line.substr(second + 1));
        if (!isValidUserName(entry.name)) {
            return fail("the user name must be printable, without blanks or \":\"");
        }
        if (entry.hash.rfind("$argon2", 0) != 0) {
            return fail("the hash of " + entry.name + " is not an argon2 string");
        }
        if (!centers) {
            return fail("the centers of " + entry.name +
                        " must be \"*\" or ids separated by \",\"");
        }
        entry.centers = *centers;
        if (std::any_of(result.users.begin(), result.users.end(),
                        [&](const UserEntry &u) { return u.name == entry.name; })) {
            return fail(entry.name + " is listed twice");
        }
        result.users.push_back(std::move(entry));
    }
    result.ok = true;
    return result;
}

std::string withUser(std::string_view text, const UserEntry &entry)
{
    std::string out;
    bool replaced = false;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        const std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (!replaced && nameOf(line) == entry.name) {
            out += lineOf(entry);
            replaced = true;
        } else {
            out += line;
        }
        out += '\n';
    }
    if (!replaced) {
        out += lineOf(entry) + "\n";
    }
    return out;
}

std::string hashPassword(std::string_view password)
{
    char hash[crypto_pwhash_STRBYTES];
    if (!sodiumReady() || crypto_pwhash_str(hash, password.data(), password.size(),
                                            crypto_pwhash_OPSLIMIT_INTERACTIVE,
                                            crypto_pwhash_MEMLIMIT_INTERACTIVE) != 0) {
        return {};
    }
    return hash;
}

bool verifyPassword(const std::string &hash, std::string_view password)
{
    return sodiumReady() &&
           crypto_pwhash_str_verify(hash.c_str(), password.data(), password.size()) == 0;
}

AddUserResult addUser(const std::string &path, std::string_view name, std::string_view password,
                      const CenterRights &centers)
{
    AddUserResult result;
    if (!isValidUserName(name)) {
        result.message = "the user name must be printable, without blanks, \":\" or \"#\"";
        return result;
    }
    if (password.empty()) {
        result.message = "the password is empty";
        return result;
    }
    // Runs that overlap take turns on a lock of the users file, so that none writes over a
    // user another has just added. A run that waited finds the file renamed over: it locks
    // the new one.
    int lockFd = -1;
    for (;;) {
        lockFd = open(path.c_str(),
                      O_RDONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK, 0600);
        if (lockFd < 0 || flock(lockFd, LOCK_EX) != 0) {
            result.message = errno == ELOOP ? path + " is a symbolic link; the file was left as "
                                                     "it is"
                                            : "cannot lock " + path + ": " + std::strerror(errno);
            if (lockFd >= 0) {
                close(lockFd);
            }
            return result;
        }
        struct stat locked
        {
        }, named{};
        if (fstat(lockFd, &locked) == 0 && stat(path.c_str(), &named) == 0 &&
            locked.st_ino == named.st_ino && locked.st_dev == named.st_dev) {
            break;
        }
        close(lockFd);
    }
    struct Unlock
    {
        int fd;
        ~Unlock() { close(fd); }
    } unlock{lockFd};

    // The locked descriptor is the file rewritten: read it, not whatever the path names by now.
    // Root runs this on a file the service may own, so any owner will do.
    SecretRules rules;
    rules.owner = std::nullopt;
    const SecretRead read = readOpenSecretFile(lockFd, path, "users file", rules);
    if (!read.ok()) {
        result.message = read.message + "; the file was left as it is";
        return result;
    }
    if (read.warning) {
        result.message = path + " may be read by every user of this machine; make it 0640 "
                                "or 0600 first (chmod o-r)";
        return result;
    }
    const mode_t mode = read.info.st_mode & 07777;
    const uid_t owner = read.info.st_uid;
    const gid_t group = read.info.st_gid;
    const std::string &text = read.text;
    if (const UsersParse parsed = parseUsers(text); !parsed.ok) {
        result.message = path + ": " + parsed.message + "; the file was left as it is";
        return result;
    }
    const std::vector<UserEntry> users = parseUsers(text).users;
    const bool known =
        std::any_of(users.begin(), users.end(), [&](const UserEntry &u) { return u.name == name; });
    const std::string hash = hashPassword(password);
    if (hash.empty()) {
        result.message = "cannot hash the password (out of memory)";
        return result;
    }
    const std::string updated = withUser(text, {std::string(name), hash, centers});

    std::string temporary = path + ".XXXXXX";
    const int fd = mkstemp(temporary.data());
    if (fd < 0) {
        result.message = "cannot write beside " + path + ": " + std::strerror(errno);
        return result;
    }
    // The service reads the file through its group (root:centervendor 0640): the new file
    // keeps owner, group and mode, or is not put in place.
    bool written = (fchown(fd, owner, group) == 0 || (owner == geteuid() && group == getegid())) &&
                   fchmod(fd, mode) == 0;
    for (std::size_t done = 0; written && done < updated.size();) {
        const ssize_t n = write(fd, updated.data() + done, updated.size() - done);
        written = n > 0;
        done += n > 0 ? static_cast<std::size_t>(n) : 0;
    }
    written = written && fsync(fd) == 0;
    const int error = errno;
    close(fd);
    if (!written || rename(temporary.c_str(), path.c_str()) != 0) {
        result.message = "cannot write " + path + ": " + std::strerror(written ? errno : error);
        unlink(temporary.c_str());
        return result;
    }
    result.ok = true;
    result.message = std::string(known ? "replaced " : "added ") + std::string(name) +
                     " (centers " + centers.text() + ") in " + path;
    return result;
}

} // namespace tarvo::server::auth
