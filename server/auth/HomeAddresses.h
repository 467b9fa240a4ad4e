// The addresses each user signed in from lately ("homes"), which exempt that user's owner from
// the per-name login throttle. Kept across restarts in a state folder, hashed with a key of
// this server's own, so that the file names neither users nor addresses.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace tarvo::server::auth {

class HomeAddresses
{
public:
    using Clock = std::function<std::chrono::system_clock::time_point()>;
    using Log = std::function<void(const std::string &)>;

    static constexpr std::size_t kPerUser = 16;
    static constexpr std::chrono::hours kForgetAfter{24 * 30};
    // A known home seen again is written at most this often; a new one at once.
    static constexpr std::chrono::hours kRefreshWrite{1};

    // `stateDir` empty: kept in memory only. Otherwise reads <stateDir>/home-addresses and
    // creates the folder (0700) and the key <stateDir>/home-key (0600) when missing. Any
    // trouble with either file is logged and leaves the homes in memory only, never fatal.
    // `clock` empty: the system clock.
    HomeAddresses(std::string stateDir, Log log, Clock clock = {});
    ~HomeAddresses();
    HomeAddresses(const HomeAddresses &) = delete;
    HomeAddresses &operator=(const HomeAddresses &) = delete;

    // False once the entry was last seen more than 30 days ago, even before it is dropped.
    bool contains(std::string_view user, std::string_view address) const;
    // Adds or refreshes a home after a successful sign-in. Blocks for a disk write (with
    // fsync) when the home is new; a refresh writes at most hourly and never waits for a write.
    void remember(std::string_view user, std::string_view address);

    static std::string fileName() { return "home-addresses"; }
    static std::string keyName() { return "home-key"; }

private:
    using Digest = std::array<unsigned char, 32>;
    struct Home
    {
        Digest entry{};
        std::int64_t seen = 0; // Unix seconds
    };
    struct DigestHash
    {
        std::size_t operator()(const Digest &digest) const;
    };
    using Table = std::unordered_map<Digest, std::vector<Home>, DigestHash>;

    std::int64_t now() const;
    Digest userDigest(std::string_view user) const;
    Digest entryDigest(std::string_view user, std::string_view address) const;
    bool openKey();
    void load();
    bool parse(const std::string &text, Table &into) const;
    std::string serialize(std::int64_t now) const;
    bool writeFile(const std::string &text);
    void save(bool force);

    std::string m_dir; // empty: nothing is written
    Log m_log;
    Clock m_clock;
    std::array<unsigned char, 32> m_key{};

    mutable std::mutex m_mutex; // guards the fields below
    Table m_homes;
    std::uint64_t m_changes = 0;
    std::uint64_t m_saved = 0;
    std::int64_t m_lastWrite = 0;

    std::mutex m_writeMutex; // one writer at a time, in the order of the changes
    bool m_writeFailing = false;
};

} // namespace tarvo::server::auth
