// Feeds arbitrary text to the server's statement parser: it must never crash or hang, accept
// only the three shapes with values it can bind, and read a statement written back in the
// control's own form as the same statement.
#include "logic/Statements.h"
#include "logic/ValueForms.h"
#include "page/StatementParser.h"
#include "protocol/Statements.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>

using namespace tarvo;
using server::page::StatementParser;
using server::statement::DeleteAssignments;
using server::statement::InsertAssignment;
using server::statement::UpdateAssignment;

namespace {

void require(bool condition, const char *what)
{
    if (!condition) {
        std::fprintf(stderr, "fuzz_statement_parser: %s\n", what);
        std::abort();
    }
}

// The fee as the control writes it: the general number form loses digits beyond 15, so the
// statement read back must carry exactly that rounding, nothing else.
std::string written(double fee)
{
    return logic::generalNumber(fee);
}
double readBack(double fee)
{
    return std::strtod(written(fee).c_str(), nullptr);
}

template <typename Change> std::string rewrite(const Change &change)
{
    const std::string center = std::to_string(change.centerId);
    const std::string vendor = std::to_string(change.vendorId);
    const char *duty = change.duty ? "1" : "0";
    if constexpr (std::is_same_v<Change, tarvo::server::statement::InsertAssignment>) {
        return protocol::statement::insertText(center, vendor, written(change.fee), duty);
    } else {
        return protocol::statement::updateText(center, vendor, written(change.fee), duty);
    }
}

template <typename Change> void checkChange(const Change &change)
{
    require(std::isfinite(change.fee), "accepted a fee that is not finite");
    const auto again = tarvo::server::page::StatementParser::parse(rewrite(change));
    require(again.ok, "refused the control's own form of an accepted statement");
    const auto *same = std::get_if<Change>(&again.statement);
    require(same != nullptr, "the control's own form changed the statement's shape");
    require(same->centerId == change.centerId && same->vendorId == change.vendorId,
            "the control's own form changed an id");
    require(same->duty == change.duty, "the control's own form changed the duty flag");
    require(same->fee == readBack(change.fee), "the control's own form changed the fee");
}

void checkDelete(const tarvo::server::statement::DeleteAssignments &removal)
{
    require(!removal.vendorIds.empty(), "accepted a delete without vendor ids");
    std::string ids;
    for (const std::int64_t id : removal.vendorIds) {
        ids += std::to_string(id);
        ids += ',';
    }
    ids.pop_back();
    const auto again = tarvo::server::page::StatementParser::parse(
        protocol::statement::deleteText(std::to_string(removal.centerId), ids));
    require(again.ok, "refused the control's own form of an accepted delete");
    const auto *same = std::get_if<tarvo::server::statement::DeleteAssignments>(&again.statement);
    require(same != nullptr && *same == removal, "the control's own form changed the delete");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    const auto result = tarvo::server::page::StatementParser::parse(text);
    if (!result.ok) {
        require(!result.message.empty(), "refused a statement without a reason");
        return 0;
    }
    require(result.message.empty(), "accepted a statement with a reason to refuse it");
    std::visit(
        [](const auto &statement) {
            using Shape = std::decay_t<decltype(statement)>;
            if constexpr (std::is_same_v<Shape, tarvo::server::statement::DeleteAssignments>) {
                checkDelete(statement);
            } else {
                checkChange(statement);
            }
        },
        result.statement);
    return 0;
}
