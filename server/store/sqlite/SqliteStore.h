// The store on one SQLite file: the embedded default for a single office. Writers take the
// file's write lock in turn; readers each read their own snapshot beside them.
#pragma once

#include "store/Store.h"

#include <memory>
#include <string>

namespace tarvo::server::store {

class SqliteStore final : public Store
{
public:
    // Opens the file, creating it and its schema when missing. Throws StoreError.
    SqliteStore(std::string path, const StoreOptions &options);
    ~SqliteStore() override;

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
