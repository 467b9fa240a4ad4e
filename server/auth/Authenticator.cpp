#include "auth/Authenticator.h"

#include "auth/SecretFiles.h"

#include <array>
#include <atomic>
#include <cctype>
#include <fstream>
#include <mutex>
#include <semaphore>
#include <sodium.h>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>
#include <unordered_map>
#include <vector>

namespace tarvo::server::auth {

namespace {

using Mac = std::array<unsigned char, crypto_generichash_BYTES>;

// What tells a changed file from the one read before, a rename over it included.
struct Stamp
{
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = -1;
    timespec modified{};

    bool operator==(const Stamp &o) const
    {
        return device == o.device && inode == o.inode && size == o.size &&
               modified.tv_sec == o.modified.tv_sec && modified.tv_nsec == o.modified.tv_nsec;
    }
};

Stamp stampOf(const struct stat &info)
{
    return {info.st_dev, info.st_ino, info.st_size, info.st_mtim};
}

Stamp stampOf(const std::string &path)
{
    struct stat info
    {
    };
    return stat(path.c_str(), &info) == 0 ? stampOf(info) : Stamp{};
}

struct UsersRead
{
    UsersParse parsed; // message: why not, naming the file
    std::optional<std::string> warning;
    Stamp stamp; // of the file read (the one judged), not of what the path names now
};

UsersRead readUsers(const std::string &path)
{
    UsersRead result;
    const SecretRead read = readSecretFile(path, "users file");
    if (read.status != SecretStatus::Missing) {
        result.stamp = stampOf(read.info);
    }
    if (!read.ok()) {
        result.parsed.message = read.message;
        return result;
    }
    result.warning = read.warning;
    result.parsed = parseUsers(read.text);
    if (!result.parsed.ok) {
        result.parsed.message = "users file " + path + " " + result.parsed.message;
    }
    return result;
}

} // namespace

std::optional<Credentials> parseBasicCredentials(std::string_view authorization)
{
    const std::size_t blank = authorization.find(' ');
    if (blank != 5 || sodium_init() < 0) {
        return std::nullopt;
    }
    for (std::size_t i = 0; i < 5; ++i) {
        if (std::tolower(static_cast<unsigned char>(authorization[i])) != "basic"[i]) {
            return std::nullopt;
        }
    }
    std::string_view encoded = authorization.substr(blank + 1);
    while (!encoded.empty() && encoded.front() == ' ') {
        encoded.remove_prefix(1);
    }
    std::string decoded(encoded.size(), '\0');
    std::size_t length = 0;
    const char *end = nullptr;
    if (sodium_base642bin(reinterpret_cast<unsigned char *>(decoded.data()), decoded.size(),
                          encoded.data(), encoded.size(), nullptr, &length, &end,
                          sodium_base64_VARIANT_ORIGINAL) != 0 ||
        end != encoded.data() + encoded.size()) {
        return std::nullopt;
    }
    decoded.resize(length);
    const std::size_t colon = decoded.find(':');
    if (colon == std::string::npos) {
        return std::nullopt;
    }
    return Credentials{decoded.substr(0, colon), decoded.substr(colon + 1)};
}

struct Authenticator::Private
{
    std::string path;
    std::function<void(const std::string &)> log;
    // An unknown user is verified against this, so that it costs what a wrong password does.
    std::string dummyHash;
    // Keys the remembered credentials, so that memory holds no password nor anything that
    // could be tried against one outside this process.
    std::array<unsigned char, crypto_generichash_KEYBYTES> macKey{};

    mutable std::mutex usersMutex;
    Stamp stamp;
    std::atomic<bool> reloadWanted{false};
    std::shared_ptr<const std::vector<UserEntry>> users;

    std::mutex acceptedMutex;
    std::unordered_map<std::string, Mac> accepted; // user name -> mac of hash and password

    // Each verification takes 64 MiB for a moment: many at once from many addresses must not
    // exhaust the memory.
    std::counting_semaphore<2> verifying{2};

    std::shared_ptr<const std::vector<UserEntry>> current();
    Mac macOf(const std::string &hash, std::string_view password) const;
    const UserEntry *find(const std::vector<UserEntry> &list, std::string_view name) const;
};

std::shared_ptr<const std::vector<UserEntry>> Authenticator::Private::current()
{
    const std::lock_guard lock(usersMutex);
    const Stamp now = stampOf(path);
    const bool wanted = reloadWanted.exchange(false);
    if (now == stamp && !wanted) {
        return users;
    }
    // When the path changes again after it was read, the next check reads it again.
    const UsersRead read = readUsers(path);
    stamp = read.stamp;
    if (read.parsed.ok) {
        users = std::make_shared<const std::vector<UserEntry>>(read.parsed.users);
    }
    if (!log) {
        return users;
    }
    if (!read.parsed.ok) {
        log(read.parsed.message + "; keeping the " + std::to_string(users->size()) +
            " users read before");
        return users;
    }
    if (read.warning) {
        log(*read.warning);
    }
    log("users file " + path + " read: " + std::to_string(users->size()) + " users");
    return users;
}

Mac Authenticator::Private::macOf(const std::string &hash, std::string_view password) const
{
    Mac mac{};
    crypto_generichash_state state;
    crypto_generichash_init(&state, macKey.data(), macKey.size(), mac.size());
    crypto_generichash_update(&state, reinterpret_cast<const unsigned char *>(hash.c_str()),
                              hash.size() + 1);
    crypto_generichash_update(&state, reinterpret_cast<const unsigned char *>(password.data()),
                              password.size());
    crypto_generichash_final(&state, mac.data(), mac.size());
    return mac;
}

const UserEntry *Authenticator::Private::find(const std::vector<UserEntry> &list,
                                              std::string_view name) const
{
    for (const UserEntry &entry : list) {
        if (entry.name == name) {
            return &entry;
        }
    }
    return nullptr;
}

Authenticator::Authenticator(std::string path, std::function<void(const std::string &)> log)
    : d(std::make_unique<Private>())
{
    if (sodium_init() < 0) {
        throw std::runtime_error("libsodium cannot start");
    }
    d->path = std::move(path);
    const UsersRead read = readUsers(d->path);
    if (!read.parsed.ok) {
        throw std::runtime_error(read.parsed.message);
    }
    d->stamp = read.stamp;
    d->users = std::make_shared<const std::vector<UserEntry>>(read.parsed.users);
    d->log = std::move(log);
    if (read.warning && d->log) {
        d->log(*read.warning);
    }
    randombytes_buf(d->macKey.data(), d->macKey.size());
    std::array<unsigned char, 32> noPassword{};
    randombytes_buf(noPassword.data(), noPassword.size());
    d->dummyHash = hashPassword(
        std::string_view(reinterpret_cast<const char *>(noPassword.data()), noPassword.size()));
}

Authenticator::~Authenticator() = default;

std::optional<AuthCheck> Authenticator::quickCheck(std::optional<std::string_view> authorization)
{
    AuthCheck result;
    if (!authorization) {
        return result;
    }
    const auto credentials = parseBasicCredentials(*authorization);
    if (!credentials) {
        result.status = AuthCheck::Status::Refused;
        return result;
    }
    const auto users = d->current();
    const UserEntry *entry = d->find(*users, credentials->user);
    if (entry == nullptr) {
        return std::nullopt;
    }
    const Mac mac = d->macOf(entry->hash, credentials->password);
    const std::lock_guard lock(d->acceptedMutex);
    const auto known = d->accepted.find(entry->name);
    if (known == d->accepted.end() ||
        sodium_memcmp(known->second.data(), mac.data(), mac.size()) != 0) {
        return std::nullopt;
    }
    result.status = AuthCheck::Status::Accepted;
    result.user = entry->name;
    result.centers = entry->centers;
    return result;
}

AuthCheck Authenticator::check(std::optional<std::string_view> authorization)
{
    if (auto quick = quickCheck(authorization)) {
        return *quick;
    }
    const auto credentials = parseBasicCredentials(*authorization);
    const auto users = d->current();
    const UserEntry *entry = d->find(*users, credentials->user);
    d->verifying.acquire();
    const bool matches =
        verifyPassword(entry != nullptr ? entry->hash : d->dummyHash, credentials->password);
    d->verifying.release();
    AuthCheck result;
    result.status = AuthCheck::Status::Refused;
    if (entry == nullptr || !matches) {
        return result;
    }
    {
        const std::lock_guard lock(d->acceptedMutex);
        d->accepted[entry->name] = d->macOf(entry->hash, credentials->password);
    }
    result.status = AuthCheck::Status::Accepted;
    result.user = entry->name;
    result.centers = entry->centers;
    return result;
}

std::optional<CenterRights> Authenticator::rightsOf(std::string_view user)
{
    const auto users = d->current();
    if (const UserEntry *entry = d->find(*users, user)) {
        return entry->centers;
    }
    return std::nullopt;
}

void Authenticator::reloadSoon()
{
    d->reloadWanted = true;
}

std::size_t Authenticator::userCount() const
{
    const std::lock_guard lock(d->usersMutex);
    return d->users->size();
}

} // namespace tarvo::server::auth
