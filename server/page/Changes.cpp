#include "page/Changes.h"

#include "page/Answers.h"
#include "protocol/Fee.h"

namespace tarvo::server::page {

namespace {

// A stored name on one line of valid UTF-8, so that it cannot forge a line of its own.
std::string oneLine(const std::string &text)
{
    std::string out = xmlText(text);
    for (char &c : out) {
        if (c == '\n' || c == '\r' || c == '\t') {
            c = ' ';
        }
    }
    return out;
}

// As the user typed it: 0.125 is "12.50%".
std::string percent(double fraction)
{
    return protocol::percentText(fraction) + "%";
}

std::string line(const store::AssignmentChange &change)
{
    std::string vendor = "vendor " + std::to_string(change.vendorId);
    if (!change.vendorName.empty()) {
        vendor += " (" + oneLine(change.vendorName) + ")";
    }
    const std::string fees = " fee " + percent(change.fee) + ", duty " + (change.duty ? "1" : "0");
    std::string what;
    if (change.action == "add") {
        what = "added " + vendor + " with" + fees;
    } else if (change.action == "update") {
        what = "changed " + vendor + " to" + fees;
    } else {
        what = "removed " + vendor;
    }
    const std::string who = change.user.empty() ? "Someone" : oneLine(change.user);
    return who + " " + what + " at " + oneLine(change.changedAt) + ".";
}

} // namespace

std::string changedSinceText(std::int64_t centerId, std::int64_t since,
                             const std::vector<store::AssignmentChange> &newestFirst)
{
    std::string text =
        "Nothing was saved: center " + std::to_string(centerId) + " changed since it was loaded.";
    std::size_t named = 0;
    for (const store::AssignmentChange &change : newestFirst) {
        // Rows older than versions carry none and predate every tag.
        if (change.version == 0 || change.version <= since) {
            break;
        }
        if (named == kChangesNamed) {
            return text + "\n...and earlier changes.";
        }
        // Appended apart: GCC 12 at -O3 misreads "\n" + a temporary as an overlapping copy.
        text += '\n';
        text += line(change);
        ++named;
    }
    if (named == 0) {
        text += "\nNo audit row names the change: a program outside this server made it.";
    }
    return text;
}

} // namespace tarvo::server::page
