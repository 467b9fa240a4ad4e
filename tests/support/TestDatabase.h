// A fresh database of either engine for one test: a file in a temporary folder, or a
// schema of its own in the PostgreSQL cluster that ./scripts/test starts, so that tests run
// side by side. The engine comes from TARVO_TEST_ENGINE ("postgresql" or "sqlite", the
// default); the cluster from TARVO_TEST_PG, a libpq URI.
#pragma once

#include "store/Records.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tarvo::server::testing {

enum class Engine { Sqlite, Postgres };

Engine engineUnderTest();

class TestDatabase
{
public:
    // Throws std::runtime_error saying what is missing, for example TARVO_TEST_PG.
    explicit TestDatabase(Engine engine = engineUnderTest());
    ~TestDatabase();
    TestDatabase(const TestDatabase &) = delete;
    TestDatabase &operator=(const TestDatabase &) = delete;

    Engine engine() const;
    // What --db takes and Store::open opens.
    const std::string &location() const;

    // Writes the records in one transaction through the engine's store. Throws.
    void add(const store::Records &records);
    void addCenter(const store::Center &center) { add({{center}, {}, {}}); }
    void addVendor(const store::Vendor &vendor) { add({{}, {vendor}, {}}); }
    void addAssignment(const store::Assignment &assignment) { add({{}, {}, {assignment}}); }

    // Raw SQL, for what the store has no call for; throws on failure.
    void execute(const std::string &sql);
    // Every row's columns as text (NULL as "").
    std::vector<std::vector<std::string>> rows(const std::string &sql);

    std::optional<store::Assignment> assignment(std::int64_t centerId, std::int64_t vendorId);
    // Ordered by center, then vendor.
    std::vector<store::Assignment> assignments();
    // The names of the tables, sorted.
    std::vector<std::string> tables();

private:
    struct Private;
    std::unique_ptr<Private> const d;
};

} // namespace tarvo::server::testing
