// The store on PostgreSQL, for several servers on one database: a fixed pool of connections
// per process, reconnection after the database restarts, and batches that collide with
// concurrent ones retried a few times.
#pragma once

#include "store/Store.h"

#include <memory>
#include <string>

namespace tarvo::server::store {

class PgStore final : public Store
{
public:
    // Connects once, creating the schema when missing. Throws StoreError, whose text never
    // holds the password.
    PgStore(std::string uri, const StoreOptions &options);
    ~PgStore() override;

    StoreResult read(const std::function<void(StoreReader &)> &reads) override;
    BatchResult apply(const std::vector<statement::Statement> &statements,
                      const BatchContext &context) override;
    FillResult fill(const Records &records, FillMode mode) override;
    StoreResult enableVersionTriggers(bool on) override;
    StoreResult ping() override;
    StoreFigures figures() const override;
    std::string location() const override;

private:
    struct Private;
    std::unique_ptr<Private> const d;
};

} // namespace tarvo::server::store
