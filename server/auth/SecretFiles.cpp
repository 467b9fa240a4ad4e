#include "auth/SecretFiles.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarvo::server {

SecretRead readSecretFile(const std::string &path, std::size_t limit)
{
    SecretRead read;
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        read.missing = errno == ENOENT;
        read.message = "cannot read " + path + ": " + std::strerror(errno);
        return read;
    }
    struct stat info
    {
    };
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        read.message = "cannot read " + path + ": not a regular file";
        close(fd);
        return read;
    }
    const std::string tooLarge =
        "cannot read " + path + ": larger than " + std::to_string(limit / 1024) + " KiB";
    if (static_cast<std::size_t>(info.st_size) > limit) {
        read.message = tooLarge;
        close(fd);
        return read;
    }
    // The size may grow while it is read: never past the limit.
    read.text.resize(limit + 1);
    std::size_t done = 0;
    for (;;) {
        const ssize_t n = ::read(fd, read.text.data() + done, read.text.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            read.message = "cannot read " + path + ": " + std::strerror(errno);
            close(fd);
            return read;
        }
        done += static_cast<std::size_t>(n);
        if (n == 0 || done == read.text.size()) {
            break;
        }
    }
    close(fd);
    if (done > limit) {
        read.message = tooLarge;
        return read;
    }
    read.text.resize(done);
    read.ok = true;
    return read;
}

SecretFileCheck checkSecretFile(const std::string &path, const std::string &what)
{
    SecretFileCheck check;
    struct stat info
    {
    };
    if (stat(path.c_str(), &info) != 0) {
        return check;
    }
    if ((info.st_mode & S_IWOTH) != 0) {
        check.refusal = what + " " + path +
                        " may be changed by every user of this machine; make it writable by its "
                        "owner only (chmod o-w)";
    } else if ((info.st_mode & S_IROTH) != 0) {
        check.warning = "warning: " + what + " " + path +
                        " may be read by every user of this machine; give it to the service's "
                        "group and make it 0640 (chmod o-r)";
    }
    return check;
}

} // namespace tarvo::server
