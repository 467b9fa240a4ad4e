#include "auth/SecretFiles.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>

namespace tarvo::server::auth {

namespace {

SecretRead refused(SecretRefusal why, std::string message)
{
    SecretRead read;
    read.refusal = why;
    read.message = std::move(message);
    return read;
}

std::string kib(std::size_t bytes)
{
    return std::to_string((bytes + 1023) / 1024) + " KiB";
}

} // namespace

SecretRead readSecretFile(const std::string &path, const std::string &what,
                          const SecretRules &rules)
{
    // O_NONBLOCK: a pipe put in its place is refused, not waited on.
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        const int error = errno;
        SecretRead read = refused(SecretRefusal::CannotOpen,
                                  what + " " + path + " cannot be read: " + std::strerror(error));
        if (error == ENOENT) {
            read.status = SecretStatus::Missing;
            read.refusal = SecretRefusal::None;
        }
        return read;
    }
    SecretRead read = readOpenSecretFile(fd, path, what, rules);
    close(fd);
    return read;
}

SecretRead readOpenSecretFile(int fd, const std::string &path, const std::string &what,
                              const SecretRules &rules)
{
    const std::string named = what + " " + path;
    struct stat info
    {
    };
    if (fstat(fd, &info) != 0) {
        return refused(SecretRefusal::CannotRead,
                       named + " cannot be read: " + std::strerror(errno));
    }
    if (!S_ISREG(info.st_mode)) {
        SecretRead read = refused(SecretRefusal::NotRegularFile, named + " is not a regular file");
        read.info = info;
        return read;
    }
    std::optional<SecretRead> refusal;
    if (rules.owner && info.st_uid != 0 && info.st_uid != *rules.owner) {
        refusal = refused(SecretRefusal::ForeignOwner,
                          named + " belongs to user " + std::to_string(info.st_uid) +
                              ", who could change it; give it to root or to user " +
                              std::to_string(*rules.owner) + ", who runs this server (chown)");
    } else if ((info.st_mode & S_IWOTH) != 0) {
        refusal = refused(SecretRefusal::WritableByOthers,
                          named + " may be changed by every user of this machine; make it writable "
                                  "by its owner only (chmod o-w)");
    } else if (static_cast<std::size_t>(info.st_size) > rules.maxBytes) {
        refusal =
            refused(SecretRefusal::TooLarge, named + " is larger than " + kib(rules.maxBytes));
    }
    if (refusal) {
        refusal->info = info;
        return std::move(*refusal);
    }

    SecretRead read;
    read.info = info;
    // The file may grow while it is read: one byte past the bound tells, never more.
    read.text.resize(rules.maxBytes + 1);
    std::size_t done = 0;
    while (done < read.text.size()) {
        const ssize_t n = ::read(fd, read.text.data() + done, read.text.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            read.text.clear();
            read.refusal = SecretRefusal::CannotRead;
            read.message = named + " cannot be read: " + std::strerror(errno);
            return read;
        }
        if (n == 0) {
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    if (done > rules.maxBytes) {
        read.text.clear();
        read.refusal = SecretRefusal::TooLarge;
        read.message = named + " is larger than " + kib(rules.maxBytes);
        return read;
    }
    read.text.resize(done);
    read.status = SecretStatus::Ok;
    if (!rules.mayBePublic && (info.st_mode & S_IROTH) != 0) {
        read.warning = "warning: " + named +
                       " may be read by every user of this machine; give it to the service's "
                       "group and make it 0640 (chmod o-r)";
    }
    return read;
}

} // namespace tarvo::server::auth
