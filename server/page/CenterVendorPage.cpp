#include "page/CenterVendorPage.h"

#include "auth/Access.h"
#include "page/Answers.h"
#include "page/Changes.h"
#include "page/Protocol.h"
#include "page/StatementParser.h"

#include <algorithm>
#include <ctime>
#include <set>

namespace tarvo::server::page {

namespace {

constexpr std::size_t kLoggedStatement = 80;

PageAnswer text(int status, std::string body)
{
    PageAnswer answer;
    answer.status = status;
    answer.contentType = kTextType;
    answer.body = std::move(body);
    return answer;
}

// A database that cannot answer is the server's fault, never the request's.
PageAnswer databaseFailure(const store::StoreResult &failure, bool saving)
{
    const std::string lead = saving ? "Nothing was saved: " : "";
    if (failure.status == store::StoreStatus::Busy) {
        return text(503, lead + "the database is busy; try again.");
    }
    if (failure.status == store::StoreStatus::Unavailable) {
        return text(503, lead + "the database cannot be reached; try again.");
    }
    PageAnswer answer = text(500, {});
    answer.detail = "database error: " + failure.message;
    return answer;
}

std::string centerOfBatch(const std::vector<statement::Statement> &statements)
{
    std::set<std::int64_t> centers;
    for (const statement::Statement &statement : statements) {
        std::visit([&centers](const auto &s) { centers.insert(s.centerId); }, statement);
    }
    if (centers.empty()) {
        return {};
    }
    return centers.size() == 1 ? std::to_string(*centers.begin()) : "several";
}

ops::StatementAction actionOf(const statement::Statement &statement)
{
    if (std::holds_alternative<statement::InsertAssignment>(statement)) {
        return ops::StatementAction::Add;
    }
    return std::holds_alternative<statement::UpdateAssignment>(statement)
               ? ops::StatementAction::Update
               : ops::StatementAction::Remove;
}

} // namespace

std::string localTimestamp()
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char buffer[32];
    const std::size_t size = std::strftime(buffer, sizeof buffer, "%Y-%m-%d %H:%M:%S", &local);
    return std::string(buffer, size);
}

CenterVendorPage::CenterVendorPage(store::Store &store, std::function<std::string()> now)
    : m_store(store), m_now(now ? std::move(now) : localTimestamp)
{}

PageAnswer CenterVendorPage::query(const std::vector<std::pair<std::string, std::string>> &params,
                                   const auth::Caller &caller, const Conditions &conditions)
{
    if (asksForCenters(params)) {
        return centerList(caller);
    }
    const QueryParse parsed = parseQuery(params);
    if (!parsed.ok) {
        return text(404, "Malformed query: " + parsed.message + ".");
    }
    const QueryRequest &request = parsed.request;
    const std::string center = std::to_string(request.centerId);
    if (!caller.centers.allows(request.centerId)) {
        PageAnswer answer =
            text(403, "Refused: " + caller.user + " may not read center " + center + ".");
        answer.note.center = center;
        answer.note.refusal = ops::Refusal::Rights;
        return answer;
    }
    // A malformed If-None-Match matches nothing: the full answer is never wrong.
    const std::optional<EntityTags> unlessTags =
        conditions.ifNoneMatch ? parseEntityTags(*conditions.ifNoneMatch) : std::nullopt;
    PageAnswer answer;
    std::string tag;
    bool unchanged = false;
    // The version and the answer come from one snapshot, so the tag describes this body.
    const store::StoreResult read = m_store.read([&](store::StoreReader &db) {
        const std::optional<std::int64_t> version = db.centerVersion(request.centerId);
        if (!version) {
            return; // an unknown center
        }
        tag = entityTag(request.centerId, *version);
        if (unlessTags && anyTagMatches(*unlessTags, tag)) {
            unchanged = true; // the lists are not read: polling stays cheap
            return;
        }
        switch (request.section) {
        case Section::Count:
            if (const auto counts = db.centerCounts(request.centerId)) {
                answer.body = countAnswer(*counts);
            }
            break;
        case Section::Active:
        case Section::Selected: {
            ListAnswer list(request.section);
            if (request.section == Section::Active) {
                db.forEachActiveNotSelected(
                    request.centerId,
                    [&list](const store::ActiveVendorRow &row) { list.add(row); });
            } else {
                db.forEachSelected(request.centerId,
                                   [&list](const store::SelectedVendorRow &row) { list.add(row); });
            }
            answer.body = list.text();
            break;
        }
        case Section::History: {
            std::vector<store::AssignmentChange> changes;
            db.forEachChange(
                request.centerId, request.limit,
                [&changes](const store::AssignmentChange &change) { changes.push_back(change); });
            answer.body = historyAnswer(request.centerId, changes);
            break;
        }
        }
    });
    if (!read.ok()) {
        answer = databaseFailure(read, false);
        answer.note.center = center;
        return answer;
    }
    if (unchanged) {
        answer.status = 304;
    } else if (answer.body.empty()) {
        answer = text(404, "Unknown center " + center + ".");
    } else {
        answer.status = 200;
        answer.contentType = kXmlType;
    }
    if (!tag.empty() && answer.status != 404) {
        // no-cache: a cache in between asks again each time rather than show an old load.
        answer.headers = {{"ETag", tag}, {"Cache-Control", "no-cache"}};
    }
    answer.note.center = center;
    return answer;
}

PageAnswer CenterVendorPage::centerList(const auth::Caller &caller)
{
    std::vector<store::Center> centers;
    const store::StoreResult read = m_store.read([&](store::StoreReader &db) {
        db.forEachCenter([&](const store::Center &center) {
            if (caller.centers.allows(center.id)) {
                centers.push_back(center);
            }
        });
    });
    if (!read.ok()) {
        return databaseFailure(read, false);
    }
    PageAnswer answer;
    answer.contentType = kXmlType;
    answer.body = centersAnswer(centers);
    return answer;
}

PageAnswer CenterVendorPage::save(const FormParse &form, const auth::Caller &caller,
                                  std::function<bool()> mayCommit, const Conditions &conditions)
{
    if (form.status == FormParse::Status::TooManyStatements) {
        PageAnswer answer = text(413, "Nothing was saved: " + form.message + ".");
        answer.note.statements = kMaxStatements + 1;
        answer.note.refusal = ops::Refusal::Size;
        return answer;
    }
    if (form.status == FormParse::Status::Malformed || form.statements.empty()) {
        PageAnswer answer = text(400, form.status == FormParse::Status::Malformed
                                          ? "Nothing was saved: " + form.message + "."
                                          : "Nothing was saved: the request carries no SQL field.");
        answer.note.refusal = ops::Refusal::Shape;
        return answer;
    }

    std::vector<statement::Statement> statements;
    statements.reserve(form.statements.size());
    for (std::size_t i = 0; i < form.statements.size(); ++i) {
        ParseResult parsed = StatementParser::parse(form.statements[i]);
        if (!parsed.ok) {
            PageAnswer answer = text(400, "Nothing was saved: statement " + std::to_string(i + 1) +
                                              " was refused: " + parsed.message + ".");
            answer.note.statements = form.statements.size();
            answer.note.center = centerOfBatch(statements);
            answer.note.refusal = ops::Refusal::Shape;
            // The operator sees the start of what was sent; a statement may be megabytes.
            answer.detail = "statement " + std::to_string(i + 1) +
                            " begins: " + form.statements[i].substr(0, kLoggedStatement);
            return answer;
        }
        statements.push_back(std::move(parsed.statement));
    }

    std::optional<store::VersionCondition> condition;
    if (conditions.ifMatch) {
        auto refused = [&](const std::string &why) {
            PageAnswer answer = text(400, "Nothing was saved: " + why + ".");
            answer.note.statements = statements.size();
            answer.note.center = centerOfBatch(statements);
            answer.note.refusal = ops::Refusal::Shape;
            return answer;
        };
        const std::optional<EntityTags> tags = parseEntityTags(*conditions.ifMatch);
        if (!tags) {
            return refused("If-Match must be * or a list of entity tags");
        }
        const std::string center = centerOfBatch(statements);
        if (center == "several") {
            return refused("a commit with If-Match must change exactly one center");
        }
        // "*" holds for any version of a center that exists; the batch checks that.
        if (!tags->any) {
            const std::int64_t centerId = std::stoll(center);
            condition = store::VersionCondition{centerId, {}};
            for (const std::string &tag : tags->tags) {
                if (const auto version = versionOfTag(tag, centerId)) {
                    condition->versions.push_back(*version);
                }
            }
        }
    }

    if (const auto forbidden = auth::forbiddenCenter(statements, caller.centers)) {
        PageAnswer answer =
            text(403, "Nothing was saved: " + caller.user + " may not change center " +
                          std::to_string(*forbidden) + ".");
        answer.note.statements = statements.size();
        answer.note.center = centerOfBatch(statements);
        answer.note.refusal = ops::Refusal::Rights;
        return answer;
    }

    PageAnswer answer;
    bool withheld = false;
    store::BatchContext context{m_now(), caller.user};
    context.ifVersion = condition;
    if (mayCommit) {
        context.mayCommit = [&withheld, &mayCommit] {
            withheld = !mayCommit();
            return !withheld;
        };
    }
    const store::BatchResult result = m_store.apply(statements, context);
    const store::BatchOutcome &outcome = result.outcome;
    if (!result.ok() && withheld) {
        answer = text(503, "Nothing was saved: the server is stopping; try again.");
    } else if (!result.ok()) {
        answer = databaseFailure(result, true);
    } else if (outcome.status == store::BatchOutcome::Status::Stale) {
        answer = changedSinceLoad(condition->centerId, condition->versions);
    } else if (outcome.status == store::BatchOutcome::Status::Conflict) {
        answer = text(409, "Nothing was saved: statement " +
                               std::to_string(outcome.failedStatement + 1) +
                               " conflicts with the database: " + outcome.message +
                               ". Someone may have changed it since the lists were "
                               "loaded; reload and try again.");
        answer.note.refusal = ops::Refusal::Conflict;
    } else {
        answer = text(200, "Saved: " + std::to_string(outcome.added) + " added, " +
                               std::to_string(outcome.updated) + " updated, " +
                               std::to_string(outcome.removed) + " removed.");
        for (const statement::Statement &statement : statements) {
            ++answer.note.applied[static_cast<std::size_t>(actionOf(statement))];
        }
    }
    answer.note.statements = statements.size();
    answer.note.center = centerOfBatch(statements);
    return answer;
}

PageAnswer CenterVendorPage::changedSinceLoad(std::int64_t centerId,
                                              const std::vector<std::int64_t> &versions)
{
    const std::int64_t since =
        versions.empty() ? 0 : *std::max_element(versions.begin(), versions.end());
    std::vector<store::AssignmentChange> newest;
    // One row more than is named, to know whether earlier ones follow. A failed read leaves
    // only the first line: the refusal itself stands.
    m_store.read([&](store::StoreReader &db) {
        db.forEachChange(
            centerId, kChangesNamed + 1,
            [&newest](const store::AssignmentChange &change) { newest.push_back(change); });
    });
    PageAnswer answer = text(412, changedSinceText(centerId, since, newest));
    answer.note.refusal = ops::Refusal::Stale;
    return answer;
}

PageAnswer CenterVendorPage::health()
{
    return m_store.ping().ok() ? text(200, "ok") : text(503, "unavailable");
}

} // namespace tarvo::server::page
