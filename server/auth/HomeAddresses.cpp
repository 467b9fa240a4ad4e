// The file: a version line, then one line per home, "USER-DIGEST ENTRY-DIGEST LAST-SEEN" with
// both digests keyed BLAKE2b (hex) and the time in Unix seconds. The user's digest only groups
// a user's homes (so the 16 per user hold after a restart); the entry's covers user and address
// together, so neither can be tested for without the key.
#include "auth/HomeAddresses.h"

#include "auth/SecretFiles.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <fcntl.h>
#include <sodium.h>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace tarvo::server::auth {

namespace {

constexpr std::string_view kVersionLine = "centervendor-home-addresses 1";
// About 150 bytes a home: room for many thousand users, and a bound on what is read.
constexpr std::size_t kMaxFileBytes = std::size_t{32} * 1024 * 1024;

std::string errorText()
{
    return std::strerror(errno);
}

bool writeAll(int fd, std::string_view data)
{
    while (!data.empty()) {
        const ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

// Writes `data` to a new 0600 file beside `path`, flushed to disk; its name, or empty (errno
// set) on failure.
std::string writeTemporary(const std::string &path, std::string_view data)
{
    std::string name = path + ".XXXXXX";
    const int fd = mkostemp(name.data(), O_CLOEXEC); // 0600, O_EXCL
    if (fd < 0) {
        return {};
    }
    const bool ok = fchmod(fd, 0600) == 0 && writeAll(fd, data) && fsync(fd) == 0;
    const int writeError = errno;
    if (close(fd) != 0 || !ok) {
        if (!ok) {
            errno = writeError;
        }
        const int keep = errno;
        unlink(name.c_str());
        errno = keep;
        return {};
    }
    return name;
}

// So that a rename or link survives a power cut.
bool syncFolder(const std::string &dir)
{
    const int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    const bool ok = fsync(fd) == 0;
    close(fd);
    return ok;
}

template <typename Digest> bool readHex(std::string_view text, Digest &into)
{
    std::size_t length = 0;
    return text.size() == into.size() * 2 &&
           sodium_hex2bin(into.data(), into.size(), text.data(), text.size(), nullptr, &length,
                          nullptr) == 0 &&
           length == into.size();
}

template <typename Digest> std::string hex(const Digest &digest)
{
    std::string out(digest.size() * 2 + 1, '\0');
    sodium_bin2hex(out.data(), out.size(), digest.data(), digest.size());
    out.pop_back();
    return out;
}

// Drops what is older than `oldest`, then the least recently seen beyond `most`.
template <typename Homes> void prune(Homes &homes, std::int64_t oldest, std::size_t most)
{
    std::erase_if(homes, [oldest](const auto &home) { return home.seen < oldest; });
    if (homes.size() > most) {
        std::sort(homes.begin(), homes.end(),
                  [](const auto &a, const auto &b) { return a.seen > b.seen; });
        homes.resize(most);
    }
}

} // namespace

std::size_t HomeAddresses::DigestHash::operator()(const Digest &digest) const
{
    std::size_t value = 0; // the digest is random already
    std::memcpy(&value, digest.data(), sizeof value);
    return value;
}

HomeAddresses::HomeAddresses(std::string stateDir, Log log, Clock clock)
    : m_dir(std::move(stateDir)), m_log(std::move(log)), m_clock(std::move(clock))
{
    if (sodium_init() < 0) {
        throw std::runtime_error("libsodium cannot start");
    }
    if (!m_clock) {
        m_clock = [] { return std::chrono::system_clock::now(); };
    }
    if (!m_log) {
        m_log = [](const std::string &) {};
    }
    randombytes_buf(m_key.data(), m_key.size());
    if (m_dir.empty()) {
        return;
    }
    if (mkdir(m_dir.c_str(), 0700) != 0 && errno != EEXIST) {
        m_log("cannot make the state folder " + m_dir + ": " + errorText() +
              "; home addresses are kept in memory only");
        m_dir.clear();
        return;
    }
    if (!openKey()) {
        m_log("home addresses are kept in memory only");
        m_dir.clear();
        return;
    }
    load();
}

HomeAddresses::~HomeAddresses() = default;

std::int64_t HomeAddresses::now() const
{
    return std::chrono::duration_cast<std::chrono::seconds>(m_clock().time_since_epoch()).count();
}

HomeAddresses::Digest HomeAddresses::userDigest(std::string_view user) const
{
    Digest digest{};
    crypto_generichash_state state;
    crypto_generichash_init(&state, m_key.data(), m_key.size(), digest.size());
    crypto_generichash_update(&state, reinterpret_cast<const unsigned char *>("user"), 5);
    crypto_generichash_update(&state, reinterpret_cast<const unsigned char *>(user.data()),
                              user.size());
    crypto_generichash_final(&state, digest.data(), digest.size());
    return digest;
}

HomeAddresses::Digest HomeAddresses::entryDigest(std::string_view user,
                                                 std::string_view address) const
{
    // The user's length first, so that "ab"+"c" and "a"+"bc" differ.
    const std::uint64_t length = user.size();
    Digest digest{};
    crypto_generichash_state state;
    crypto_generichash_init(&state, m_key.data(), m_key.size(), digest.size());
    crypto_generichash_update(&state, reinterpret_cast<const unsigned char *>("home"), 5);
    crypto_generichash_update(&state, reinterpret_cast<const unsigned char *>(&length),
                              sizeof length);
    crypto_generichash_update(&state, reinterpret_cast<const unsigned char *>(user.data()),
                              user.size());
    crypto_generichash_update(&state, reinterpret_cast<const unsigned char *>(address.data()),
                              address.size());
    crypto_generichash_final(&state, digest.data(), digest.size());
    return digest;
}

bool HomeAddresses::contains(std::string_view user, std::string_view address) const
{
    const Digest who = userDigest(user);
    const Digest entry = entryDigest(user, address);
    const std::int64_t oldest = now() - kForgetAfter / std::chrono::seconds(1);
    const std::lock_guard lock(m_mutex);
    const auto found = m_homes.find(who);
    return found != m_homes.end() &&
           std::any_of(found->second.begin(), found->second.end(), [&](const Home &home) {
               return home.entry == entry && home.seen >= oldest;
           });
}

void HomeAddresses::remember(std::string_view user, std::string_view address)
{
    const Digest who = userDigest(user);
    const Digest entry = entryDigest(user, address);
    const std::int64_t time = now();
    bool added = false;
    {
        const std::lock_guard lock(m_mutex);
        std::vector<Home> &homes = m_homes[who];
        const auto known = std::find_if(homes.begin(), homes.end(),
                                        [&](const Home &home) { return home.entry == entry; });
        if (known != homes.end() && known->seen >= time) {
            return;
        }
        if (known != homes.end()) {
            known->seen = time;
        } else {
            homes.push_back({entry, time});
            added = true;
        }
        prune(homes, time - kForgetAfter / std::chrono::seconds(1), kPerUser);
        ++m_changes;
    }
    save(added);
}

bool HomeAddresses::openKey()
{
    const std::string path = m_dir + "/" + keyName();
    for (int attempt = 0; attempt < 2; ++attempt) {
        const SecretRead read =
            readSecretFile(path, "home address key", SecretRules{m_key.size() * 2});
        if (read.warning) {
            m_log(*read.warning);
        }
        if (read.ok() && read.text.size() == m_key.size()) {
            std::memcpy(m_key.data(), read.text.data(), m_key.size());
            return true;
        }
        if (read.ok()) {
            m_log("the home address key " + path + " is damaged (not " +
                  std::to_string(m_key.size()) + " bytes); remove it to start afresh");
            return false;
        }
        if (read.status != SecretStatus::Missing) {
            m_log(read.message);
            return false;
        }
        // A link, unlike a rename, never replaces a key that another server made meanwhile:
        // that one is read on the second round.
        const std::string temporary = writeTemporary(
            path, std::string_view(reinterpret_cast<const char *>(m_key.data()), m_key.size()));
        if (temporary.empty()) {
            m_log("cannot write the home address key " + path + ": " + errorText());
            return false;
        }
        const bool linked = link(temporary.c_str(), path.c_str()) == 0;
        const int linkError = errno;
        unlink(temporary.c_str());
        if (linked) {
            syncFolder(m_dir);
            return true;
        }
        if (linkError != EEXIST) {
            m_log("cannot write the home address key " + path + ": " + std::strerror(linkError));
            return false;
        }
    }
    return false;
}

void HomeAddresses::load()
{
    const std::string path = m_dir + "/" + fileName();
    const SecretRead read = readSecretFile(path, "home addresses file", SecretRules{kMaxFileBytes});
    if (read.status == SecretStatus::Missing) {
        return;
    }
    if (read.warning) {
        m_log(*read.warning);
    }
    if (!read.ok()) {
        m_log(read.message + "; starting without home addresses");
        return;
    }
    Table table;
    if (!parse(read.text, table)) {
        m_log("the home addresses file " + path +
              " is damaged or of another version; starting without home addresses");
        return;
    }
    const std::lock_guard lock(m_mutex);
    m_homes = std::move(table);
    m_lastWrite = now();
}

bool HomeAddresses::parse(const std::string &text, Table &into) const
{
    std::string_view rest = text;
    const auto nextLine = [&rest](std::string_view &line) {
        const std::size_t end = rest.find('\n');
        if (end == std::string_view::npos) {
            return false; // every line ends with one, the last too: a cut file is damaged
        }
        line = rest.substr(0, end);
        rest.remove_prefix(end + 1);
        return true;
    };
    std::string_view line;
    if (!nextLine(line) || line != kVersionLine) {
        return false;
    }
    const std::int64_t time = now();
    while (!rest.empty()) {
        Digest who{};
        Home home;
        const std::size_t digestChars = who.size() * 2;
        if (!nextLine(line) || line.size() < digestChars * 2 + 3 || line[digestChars] != ' ' ||
            line[digestChars * 2 + 1] != ' ' || !readHex(line.substr(0, digestChars), who) ||
            !readHex(line.substr(digestChars + 1, digestChars), home.entry)) {
            return false;
        }
        const std::string_view seen = line.substr(digestChars * 2 + 2);
        const auto [end, error] =
            std::from_chars(seen.data(), seen.data() + seen.size(), home.seen);
        if (error != std::errc() || end != seen.data() + seen.size() || home.seen < 0) {
            return false;
        }
        // A time ahead of the clock would keep a home for ever.
        home.seen = std::min(home.seen, time);
        into[who].push_back(home);
    }
    const std::int64_t oldest = time - kForgetAfter / std::chrono::seconds(1);
    for (auto it = into.begin(); it != into.end();) {
        prune(it->second, oldest, kPerUser);
        it = it->second.empty() ? into.erase(it) : std::next(it);
    }
    return true;
}

std::string HomeAddresses::serialize(std::int64_t time) const
{
    const std::int64_t oldest = time - kForgetAfter / std::chrono::seconds(1);
    std::string text(kVersionLine);
    text += '\n';
    for (const auto &[who, homes] : m_homes) {
        const std::string user = hex(who);
        for (const Home &home : homes) {
            if (home.seen >= oldest) {
                text += user + ' ' + hex(home.entry) + ' ' + std::to_string(home.seen) + '\n';
            }
        }
    }
    return text;
}

bool HomeAddresses::writeFile(const std::string &text)
{
    const std::string path = m_dir + "/" + fileName();
    const std::string temporary = writeTemporary(path, text);
    if (temporary.empty() || rename(temporary.c_str(), path.c_str()) != 0) {
        const int error = errno;
        if (!temporary.empty()) {
            unlink(temporary.c_str());
        }
        errno = error;
        return false;
    }
    syncFolder(m_dir);
    return true;
}

void HomeAddresses::save(bool added)
{
    if (m_dir.empty()) {
        return;
    }
    // Writers take turns; one that finds its change written by an earlier one has nothing to
    // do, so that a burst of sign-ins writes the file once or twice. A refresh never waits
    // for a write under way: the next write carries it.
    std::unique_lock writing(m_writeMutex, std::defer_lock);
    if (added) {
        writing.lock();
    } else if (!writing.try_lock()) {
        return;
    }
    const std::int64_t time = now();
    std::uint64_t change = 0;
    std::string text;
    {
        const std::lock_guard lock(m_mutex);
        if (m_saved == m_changes ||
            (!added && time - m_lastWrite < kRefreshWrite / std::chrono::seconds(1))) {
            return;
        }
        change = m_changes;
        text = serialize(time);
        // Also after a failure: a refresh tries again an hour later, not at every sign-in.
        m_lastWrite = time;
    }
    const bool written = writeFile(text);
    if (!written && !m_writeFailing) {
        m_log("cannot write the home addresses file in " + m_dir + ": " + errorText() +
              "; new home addresses are kept in memory only until it can");
    } else if (written && m_writeFailing) {
        m_log("the home addresses file in " + m_dir + " is written again");
    }
    m_writeFailing = !written;
    if (written) {
        const std::lock_guard lock(m_mutex);
        m_saved = std::max(m_saved, change);
    }
}

} // namespace tarvo::server::auth
