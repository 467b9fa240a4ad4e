// The page /CenterVendor.asp without its HTTP transport: turns a query or a form's fields into
// a status, a content type and an answer text, and says what to write into the request log.
#pragma once

#include "auth/Users.h"
#include "ops/RequestNote.h"
#include "page/Protocol.h"
#include "page/Validators.h"
#include "store/Store.h"

#include <cstddef>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace tarvo::server::page {

struct PageAnswer
{
    int status = 200;
    std::string contentType; // empty for a 304, which has no body
    std::string body;
    std::string detail;    // for the log only: what failed behind a 500, a refused statement
    ops::RequestNote note; // the center, the SQL fields received, a refusal, what was applied
    std::vector<std::pair<std::string, std::string>> headers{}; // besides Content-Type
};

class CenterVendorPage
{
public:
    // `now` gives the time that GETDATE() stands for, as "YYYY-MM-DD HH:MM:SS"; by default
    // the local time when the request is applied.
    explicit CenterVendorPage(store::Store &store, std::function<std::string()> now = {});

    // One of the three XML answers or the center's history, or for centers=1 the list of the
    // centers the caller may read; 404 with a short text for an unknown center or a
    // malformed query, 403 for a center outside the caller's. A center's answers carry its
    // version as ETag; while If-None-Match names it they are 304 without a body instead.
    // Never throws: a database that is busy or cannot be reached answers 503, any other
    // database failure 500 with an empty body and the failure in `detail`.
    PageAnswer query(const std::vector<std::pair<std::string, std::string>> &params,
                     const auth::Caller &caller = {}, const Conditions &conditions = {});

    // Applies the SQL fields of a form body, all or none. 200 with a one-line summary; 400
    // for a malformed body, no SQL field or a statement of another shape; 409 when the batch
    // conflicts with the database; 403, with nothing applied, when any statement names a
    // center outside the caller's; 413 for too many statements. The audit rows name the
    // caller. Never throws; a database failure answers like query().
    // With If-Match: 400 unless the batch writes exactly one center, and 412 with nothing
    // applied when that center is at none of the versions named, checked inside the write
    // transaction and before any conflict (refusals come 400, 403, 412, 409). Without it,
    // versions play no part.
    // `mayCommit` is asked before anything of the batch can be committed: false answers 503
    // with nothing saved, as the server is stopping.
    PageAnswer save(const FormParse &form, const auth::Caller &caller = {},
                    std::function<bool()> mayCommit = {}, const Conditions &conditions = {});

    // For a load balancer: 200 "ok" while the database answers, 503 while it does not.
    PageAnswer health();

private:
    PageAnswer centerList(const auth::Caller &caller);
    // The 412 answer for center `centerId`, whose caller loaded the highest of `versions`.
    PageAnswer changedSinceLoad(std::int64_t centerId, const std::vector<std::int64_t> &versions);

    store::Store &m_store;
    std::function<std::string()> m_now;
};

// "YYYY-MM-DD HH:MM:SS" in local time.
std::string localTimestamp();

inline constexpr const char *kXmlType = "text/xml; charset=utf-8";
inline constexpr const char *kTextType = "text/plain; charset=utf-8";

} // namespace tarvo::server::page
