#include "support/VersionedCenter.h"

#include "protocol/Wire.h"

#include <regex>

namespace tarvo::test {

struct VersionedCenter::State
{
    mutable std::mutex mutex;
    int centerId = 0;
    int centerCode = 2;
    int version = 1;
    bool versioned = true;
    int tears = 0;
    bool refuseIfMatch = false;
    int notModified = 0;
    std::map<std::string, std::pair<std::string, std::string>> active; // id -> name, country
    std::map<std::string, Assignment> assigned;
    std::vector<std::string> ifMatches;
    struct Row
    {
        std::string when, user, id, action, fee;
        int duty = 0;
        std::string tag; // the center's right after the change
    };
    std::vector<Row> history; // oldest first
    int clock = 0;

    std::string tag() const { return protocol::entityTag(centerId, version); }

    void record(const std::string &user, const std::string &id, const std::string &action)
    {
        const auto it = assigned.find(id);
        ++version;
        history.push_back({"2026-12-07 09:" + std::to_string(10 + clock++), user, id, action,
                           it == assigned.end() ? "0" : it->second.fee,
                           it == assigned.end() ? 0 : it->second.duty, tag()});
    }

    // The answers in the reference server's element names, so that every reader of them reads
    // what a real server sends.
    std::string answer(const std::string &kind)
    {
        namespace e = protocol::element;
        const auto field = [](std::string_view name, const std::string &content) {
            return "<" + std::string(name) + ">" + content + "</" + std::string(name) + ">";
        };
        std::string body;
        if (kind == protocol::param::kCount) {
            int free = 0;
            for (const auto &[id, v] : active) {
                free += assigned.count(id) == 0 ? 1 : 0;
            }
            body = field(
                e::kSections[0],
                field(e::kCountRecord, field(e::kCenterCode, std::to_string(centerCode)) +
                                           field(e::kNonSelected, std::to_string(free)) +
                                           field(e::kSelected, std::to_string(assigned.size()))));
        } else if (kind == protocol::param::kActive) {
            std::string records;
            for (const auto &[id, v] : active) {
                if (assigned.count(id) == 0) {
                    records += field(e::kVendor, field(e::kId, id) + field(e::kName, v.first) +
                                                     field(e::kCountryId, v.second));
                }
            }
            body = field(e::kSections[0], "") + field(e::kSections[1], records);
        } else if (kind == protocol::param::kSelected) {
            std::string records;
            for (const auto &[id, a] : assigned) {
                const auto name = active.count(id) ? active[id].first : "Gone " + id;
                records += field(e::kVendor, field(e::kId, id) + field(e::kName, name) +
                                                 field(e::kFee, a.fee) +
                                                 field(e::kDuty, std::to_string(a.duty)));
            }
            body = field(e::kSections[0], "") + field(e::kSections[1], "") +
                   field(e::kSections[2], records);
        } else if (kind == protocol::param::kHistory) {
            std::string records;
            for (auto it = history.rbegin(); it != history.rend(); ++it) {
                records +=
                    field(e::kChange,
                          field(e::kChangedAt, it->when) + field(e::kUser, it->user) +
                              field(e::kAction, it->action) + field(e::kVendorId, it->id) +
                              field(e::kVendorName, "") + field(e::kFee, it->fee) +
                              field(e::kDuty, std::to_string(it->duty)) + field(e::kETag, it->tag));
            }
            body = field(e::kHistory, records);
        }
        return field(e::kRoot, body);
    }
};

namespace {

std::string formDecoded(const std::string &text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '+') {
            out += ' ';
        } else if (text[i] == '%' && i + 2 < text.size()) {
            out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

} // namespace

VersionedCenter::VersionedCenter(TestHttpServer &server, int centerId, int centerCode)
    : m_state(std::make_shared<State>())
{
    m_state->centerId = centerId;
    m_state->centerCode = centerCode;
    auto state = m_state;
    server.onGet("/CenterVendor.asp", [state](const RecordedRequest &request) {
        std::lock_guard lock(state->mutex);
        const auto kind = request.query.substr(0, request.query.find('='));
        if (kind == protocol::param::kActive && state->tears > 0) {
            --state->tears;
            state->assigned["9" + std::to_string(state->version)] = {"0.01", 0};
            state->record("tearer", "9" + std::to_string(state->version), "add");
        }
        Answer answer = TestHttpServer::xml(state->answer(kind));
        if (state->versioned && kind != protocol::param::kHistory) {
            if (request.header(std::string(protocol::header::kIfNoneMatch)) == state->tag()) {
                ++state->notModified;
                return Answer{
                    304, "", "text/plain", {{std::string(protocol::header::kETag), state->tag()}}};
            }
            answer.headers.push_back({std::string(protocol::header::kETag), state->tag()});
        }
        return answer;
    });
    server.onPost("/CenterVendor.asp", [state](const RecordedRequest &request) {
        std::lock_guard lock(state->mutex);
        const std::string ifMatch = request.header(std::string(protocol::header::kIfMatch));
        state->ifMatches.push_back(ifMatch);
        if (state->versioned && !ifMatch.empty() &&
            (state->refuseIfMatch || ifMatch != state->tag())) {
            const auto &last = state->history.empty() ? State::Row{} : state->history.back();
            return TestHttpServer::text("The center changed since it was loaded: " + last.user +
                                            " changed vendor " + last.id + " at " + last.when + ".",
                                        412);
        }
        static const std::regex insert(R"(VALUES \(\d+,(\d+),([^,]+),([^,]+),)");
        static const std::regex update(
            R"(CenterHandlingFee= ([^,]+), DutyBrokerageFee= ([^,]+), .* vendorID = (\d+))");
        static const std::regex remove(R"(VENDORID IN\(([\d,]+)\))");
        std::size_t at = 0;
        while (at < request.body.size()) {
            auto end = request.body.find('&', at);
            end = end == std::string::npos ? request.body.size() : end;
            const std::string statement = formDecoded(request.body.substr(at + 4, end - at - 4));
            at = end + 1;
            std::smatch m;
            if (std::regex_search(statement, m, insert)) {
                if (state->assigned.count(m[1])) {
                    return TestHttpServer::text("vendor " + m[1].str() + " is assigned", 409);
                }
                state->assigned[m[1]] = {m[2], std::stoi(m[3])};
                state->record("staff", m[1], "add");
            } else if (std::regex_search(statement, m, update)) {
                if (!state->assigned.count(m[3])) {
                    return TestHttpServer::text("vendor " + m[3].str() + " not assigned", 409);
                }
                state->assigned[m[3]] = {m[1], std::stoi(m[2])};
                state->record("staff", m[3], "update");
            } else if (std::regex_search(statement, m, remove)) {
                std::string ids = m[1].str() + ",";
                for (auto comma = ids.find(','); comma != std::string::npos;
                     comma = ids.find(',')) {
                    const std::string id = ids.substr(0, comma);
                    ids.erase(0, comma + 1);
                    state->record("staff", id, "remove");
                    state->assigned.erase(id);
                }
            }
        }
        return TestHttpServer::text("Saved");
    });
}

void VersionedCenter::addActiveVendor(const std::string &id, const std::string &name,
                                      const std::string &country)
{
    std::lock_guard lock(m_state->mutex);
    m_state->active[id] = {name, country};
}

void VersionedCenter::write(const std::string &user, const std::string &id,
                            const Assignment &assignment)
{
    std::lock_guard lock(m_state->mutex);
    m_state->assigned[id] = assignment;
    m_state->record(user, id, "update");
}

void VersionedCenter::remove(const std::string &user, const std::string &id)
{
    std::lock_guard lock(m_state->mutex);
    m_state->record(user, id, "remove");
    m_state->assigned.erase(id);
}

std::map<std::string, VersionedCenter::Assignment> VersionedCenter::assignments() const
{
    std::lock_guard lock(m_state->mutex);
    return m_state->assigned;
}

std::string VersionedCenter::etag() const
{
    std::lock_guard lock(m_state->mutex);
    return m_state->tag();
}

void VersionedCenter::setVersioned(bool versioned)
{
    std::lock_guard lock(m_state->mutex);
    m_state->versioned = versioned;
}

void VersionedCenter::tearNextLoads(int loads)
{
    std::lock_guard lock(m_state->mutex);
    m_state->tears = loads;
}

void VersionedCenter::refuseEveryIfMatch(bool refuse)
{
    std::lock_guard lock(m_state->mutex);
    m_state->refuseIfMatch = refuse;
}

std::vector<std::string> VersionedCenter::postIfMatches() const
{
    std::lock_guard lock(m_state->mutex);
    return m_state->ifMatches;
}

int VersionedCenter::conditionalGets() const
{
    std::lock_guard lock(m_state->mutex);
    return m_state->notModified;
}

} // namespace tarvo::test
