// Secret files: which states of a file each kind of secret accepts, and that the file judged
// is the file read even while its path is being swapped.
#include "auth/SecretFiles.h"

#include "ServerFixture.h"

#include <atomic>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace tarvo::server::testing {
namespace {

namespace fs = std::filesystem;

void writeFile(const fs::path &path, const std::string &text, mode_t mode)
{
    std::ofstream(path) << text;
    ASSERT_EQ(chmod(path.c_str(), mode), 0) << path;
}

struct Kind
{
    const char *what;
    std::size_t maxBytes;
};

class SecretFileStates : public ::testing::TestWithParam<Kind>
{
};

// What the test makes at `path`; the text a read must return when it is accepted.
enum class Make { File, Directory, Fifo, DevZero, Link, Nothing };
enum class Owner { Runner, Foreign, ServerUser };

struct State
{
    const char *name;
    Make make;
    mode_t mode;
    long sizeOverBound; // bytes relative to the kind's bound; < -limit: a short text
    Owner owner;
    auth::SecretStatus status;
    auth::SecretRefusal refusal;
    bool warning;
};

constexpr long kShort = -1'000'000'000;

const State kStates[] = {
    {"owner only", Make::File, 0600, kShort, Owner::Runner, auth::SecretStatus::Ok,
     auth::SecretRefusal::None, false},
    {"group reads", Make::File, 0640, kShort, Owner::Runner, auth::SecretStatus::Ok,
     auth::SecretRefusal::None, false},
    {"group writes", Make::File, 0660, kShort, Owner::Runner, auth::SecretStatus::Ok,
     auth::SecretRefusal::None, false},
    {"everyone reads", Make::File, 0644, kShort, Owner::Runner, auth::SecretStatus::Ok,
     auth::SecretRefusal::None, true},
    {"everyone writes", Make::File, 0666, kShort, Owner::Runner, auth::SecretStatus::Refused,
     auth::SecretRefusal::WritableByOthers, false},
    {"only others write", Make::File, 0602, kShort, Owner::Runner, auth::SecretStatus::Refused,
     auth::SecretRefusal::WritableByOthers, false},
    {"owned by the server's user", Make::File, 0600, kShort, Owner::ServerUser,
     auth::SecretStatus::Ok, auth::SecretRefusal::None, false},
    {"owned by another user", Make::File, 0600, kShort, Owner::Foreign, auth::SecretStatus::Refused,
     auth::SecretRefusal::ForeignOwner, false},
    {"link to a good file", Make::Link, 0600, kShort, Owner::Runner, auth::SecretStatus::Ok,
     auth::SecretRefusal::None, false},
    {"exactly the bound", Make::File, 0600, 0, Owner::Runner, auth::SecretStatus::Ok,
     auth::SecretRefusal::None, false},
    {"one byte over the bound", Make::File, 0600, 1, Owner::Runner, auth::SecretStatus::Refused,
     auth::SecretRefusal::TooLarge, false},
    {"directory", Make::Directory, 0700, kShort, Owner::Runner, auth::SecretStatus::Refused,
     auth::SecretRefusal::NotRegularFile, false},
    {"pipe", Make::Fifo, 0600, kShort, Owner::Runner, auth::SecretStatus::Refused,
     auth::SecretRefusal::NotRegularFile, false},
    {"/dev/zero", Make::DevZero, 0, kShort, Owner::Runner, auth::SecretStatus::Refused,
     auth::SecretRefusal::NotRegularFile, false},
    {"missing", Make::Nothing, 0, kShort, Owner::Runner, auth::SecretStatus::Missing,
     auth::SecretRefusal::None, false},
};

TEST_P(SecretFileStates, AreReadOnlyWhenNoOtherUserCouldHaveChangedThem)
{
    const Kind kind = GetParam();
    for (const State &state : kStates) {
        SCOPED_TRACE(state.name);
        TempDir dir;
        const fs::path target = dir.path() / "target";
        fs::path path = dir.path() / "secret";
        const std::string text =
            state.sizeOverBound == kShort
                ? std::string("alice:secret\n")
                : std::string(kind.maxBytes + static_cast<std::size_t>(state.sizeOverBound), 'x');
        switch (state.make) {
        case Make::File:
            writeFile(path, text, state.mode);
            break;
        case Make::Link:
            writeFile(target, text, state.mode);
            ASSERT_EQ(symlink(target.c_str(), path.c_str()), 0);
            break;
        case Make::Directory:
            ASSERT_EQ(mkdir(path.c_str(), state.mode), 0);
            break;
        case Make::Fifo:
            // Opening it for reading would wait for a writer unless the open never waits.
            ASSERT_EQ(mkfifo(path.c_str(), state.mode), 0);
            break;
        case Make::DevZero:
            path = "/dev/zero";
            break;
        case Make::Nothing:
            break;
        }
        auth::SecretRules rules;
        rules.maxBytes = kind.maxBytes;
        if (state.owner != Owner::Runner) {
            // As root the file goes to nobody; any other runner owns it already and is told
            // that someone else runs the server.
            if (geteuid() == 0) {
                ASSERT_EQ(chown(path.c_str(), 65534, static_cast<gid_t>(-1)), 0);
            }
            struct stat info
            {
            };
            ASSERT_EQ(stat(path.c_str(), &info), 0);
            rules.owner = state.owner == Owner::ServerUser ? info.st_uid : info.st_uid + 1;
        }
        const auth::SecretRead read = auth::readSecretFile(path.string(), kind.what, rules);
        EXPECT_EQ(read.status, state.status) << read.message;
        EXPECT_EQ(read.refusal, state.refusal) << read.message;
        EXPECT_EQ(read.warning.has_value(), state.warning);
        if (read.ok()) {
            EXPECT_EQ(read.text, text);
        } else {
            EXPECT_NE(read.message.find(std::string(kind.what) + " " + path.string()),
                      std::string::npos)
                << read.message;
            EXPECT_EQ(read.text, "");
        }
    }
}

INSTANTIATE_TEST_SUITE_P(EachKind, SecretFileStates,
                         ::testing::Values(Kind{"users file", auth::kMaxSecretFileBytes},
                                           Kind{"TLS key", auth::kMaxTlsFileBytes},
                                           Kind{"database password file",
                                                auth::kMaxPasswordFileBytes}),
                         [](const auto &info) { return std::to_string(info.index); });

TEST(SecretFileSwap, WhatIsReadIsTheFileThatWasJudged)
{
    TempDir dir;
    const fs::path path = dir.path() / "users";
    const fs::path other = dir.path() / "other";
    writeFile(path, "judged\n", 0600);
    writeFile(other, "anyone's\n", 0666);
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(rename(other.c_str(), path.c_str()), 0);
    const auth::SecretRead held = auth::readOpenSecretFile(fd, path.string(), "users file");
    close(fd);
    ASSERT_TRUE(held.ok()) << held.message;
    EXPECT_EQ(held.text, "judged\n");
    EXPECT_EQ(auth::readSecretFile(path.string(), "users file").refusal,
              auth::SecretRefusal::WritableByOthers);
}

// A path checked and then read again by name served the world-writable file 14 times in 80.
TEST(SecretFileSwap, AFileSwappedToAndFroNeverYieldsTheWorldWritableText)
{
    TempDir dir;
    const fs::path path = dir.path() / "users";
    const fs::path other = dir.path() / "other";
    writeFile(path, "good\n", 0600);
    writeFile(other, "evil\n", 0666);
    std::atomic<bool> stop{false};
    std::atomic<int> swaps{0};
    std::thread swapper([&] {
        while (!stop &&
               renameat2(AT_FDCWD, path.c_str(), AT_FDCWD, other.c_str(), RENAME_EXCHANGE) == 0) {
            ++swaps;
        }
    });
    // The window between a check by name and the read is a few microseconds: it takes tens of
    // thousands of reads to hit it on a busy machine.
    int accepted = 0;
    int wrong = 0;
    std::string lastWrong;
    for (int i = 0; i < 50000; ++i) {
        const auth::SecretRead read = auth::readSecretFile(path.string(), "users file");
        const bool right = read.ok() ? read.text == "good\n"
                                     : read.refusal == auth::SecretRefusal::WritableByOthers;
        accepted += read.ok() ? 1 : 0;
        if (!right) {
            ++wrong;
            lastWrong = read.ok() ? "accepted " + read.text : read.message;
        }
    }
    stop = true;
    swapper.join();
    EXPECT_GT(swaps.load(), 0) << "the file system cannot swap two files";
    EXPECT_EQ(wrong, 0) << lastWrong;
    EXPECT_GT(accepted, 0);
}

} // namespace
} // namespace tarvo::server::testing
