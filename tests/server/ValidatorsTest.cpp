// Entity tags and the If-Match / If-None-Match lists, and the reason a stale commit is given.
#include "page/Validators.h"

#include "page/Changes.h"

#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <vector>

namespace tarvo::server {
namespace {

TEST(EntityTags, ListsAreStarOrQuotedTagsAndTagsCompareAsExactStrings)
{
    using Tags = std::optional<std::vector<std::string>>; // empty: malformed; {"*"}: any
    const std::pair<std::string, Tags> lists[] = {
        {" \"a\" ,, W/\"b\",\t\"\" ,", Tags{{"\"a\"", "W/\"b\"", "\"\""}}},
        {" * ", Tags{{"*"}}},
        {"*, \"a\"", std::nullopt},
        {"c12-v5", std::nullopt},
        {"\"a b\"", std::nullopt},
        {"w/\"a\"", std::nullopt},
        {" , ", std::nullopt},
    };
    for (const auto &[value, tags] : lists) {
        const auto parsed = page::parseEntityTags(value);
        EXPECT_EQ(parsed ? Tags(parsed->any ? std::vector<std::string>{"*"} : parsed->tags)
                         : std::nullopt,
                  tags)
            << value;
    }

    const std::string tag = page::entityTag(12, 1733580000000000);
    EXPECT_EQ(tag, "\"c12-v1733580000000000\"");
    EXPECT_EQ(page::versionOfTag(tag, 12), 1733580000000000);
    EXPECT_EQ(page::versionOfTag(page::entityTag(-5, 3), -5), 3);
    for (const char *other :
         {"\"c012-v5\"", "\"c12-v05\"", "\"c12-v-5\"", "\"c12-v\"", "W/\"c12-v5\"", "\"x\""}) {
        EXPECT_EQ(page::versionOfTag(other, 12), std::nullopt) << other;
    }
    EXPECT_EQ(page::versionOfTag(tag, 13), std::nullopt) << "another center's";
}

store::AssignmentChange change(const char *action, std::int64_t version, const char *user = "alice")
{
    return {26, "Acme\nFreight", "2026-12-07 16:40:12", user, action, 0.125, true, version};
}

TEST(ChangedSinceText, NamesTheChangesAfterTheLoadedVersionNewestFirst)
{
    const std::string head = "Nothing was saved: center 3 changed since it was loaded.";
    struct Case
    {
        std::vector<store::AssignmentChange> newest;
        std::int64_t since;
        std::string text;
    };
    const std::string update =
        "\nalice changed vendor 26 (Acme Freight) to fee 12.50%, duty 1 at 2026-12-07 16:40:12.";
    const std::string nobody = "\nNo audit row names the change: a program outside this server "
                               "made it.";
    const std::vector<Case> cases = {
        {{change("update", 9), change("remove", 8, ""), change("add", 7)},
         7,
         head + update + "\nSomeone removed vendor 26 (Acme Freight) at 2026-12-07 16:40:12."},
        {{change("add", 9)},
         0,
         head + "\nalice added vendor 26 (Acme Freight) with fee 12.50%, duty 1 at "
                "2026-12-07 16:40:12."},
        {{change("update", 9), change("update", 8), change("update", 7), change("update", 6)},
         5,
         head + update + update + update + "\n...and earlier changes."},
        {{change("update", 9)}, 9, head + nobody},
        {{change("update", 0)}, 0, head + nobody},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(page::changedSinceText(3, c.since, c.newest), c.text);
    }
}

} // namespace
} // namespace tarvo::server
