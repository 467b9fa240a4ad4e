// One center served as the page serves it with versions, in the protocol's element names and tag
// form: for the control's tests, which build without the server, and for what the reference
// server will not do on request (tear a load, refuse every If-Match). ETag on every answer, 304 on
// a matching If-None-Match, If-Match on a POST checked (412 with a plain-text reason), the three
// statement shapes applied to an in-memory table, and the center's history. Another writer can
// change it at any time, also between the answers of one load.
#pragma once

#include "support/TestHttpServer.h"

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace tarvo::test {

class VersionedCenter
{
public:
    struct Assignment
    {
        std::string fee; // as a fraction, written as the statements write it: "0.09"
        int duty = 0;
        bool operator==(const Assignment &) const = default;
    };

    // Serves /CenterVendor.asp of `server` for center `centerId` (code `centerCode`).
    VersionedCenter(TestHttpServer &server, int centerId, int centerCode = 2);

    void addActiveVendor(const std::string &id, const std::string &name,
                         const std::string &country);
    // Another writer's change: moves the version and leaves a history row naming `user`.
    void write(const std::string &user, const std::string &id, const Assignment &assignment);
    void remove(const std::string &user, const std::string &id);

    std::map<std::string, Assignment> assignments() const;
    std::string etag() const;
    // Off: no ETag, If-None-Match and If-Match ignored, as an older server.
    void setVersioned(bool versioned);
    // Before each of the next `loads` answers to `active=1`, another writer changes the center.
    void tearNextLoads(int loads);
    // Every POST with If-Match is refused with 412 whatever the version (a center that never
    // stops changing).
    void refuseEveryIfMatch(bool refuse);

    // The If-Match of every POST in order ("" when it had none).
    std::vector<std::string> postIfMatches() const;
    int conditionalGets() const; // GETs that were answered 304

private:
    struct State;
    std::shared_ptr<State> m_state;
};

} // namespace tarvo::test
