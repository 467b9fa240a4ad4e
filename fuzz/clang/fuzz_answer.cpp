// Parses arbitrary bytes as a server answer and reads the tree the way a load does, checking
// that a failed parse leaves no document element and that reads by position agree with the
// child counts. Any answer must end in a tree or a clear error, never in a crash.
#include "net/QueryDocument.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

using tarvo::net::AnswerError;
using tarvo::net::AnswerNode;
using tarvo::net::QueryDocument;

namespace {

// Bounds the walk so that one input costs little however large its tree is.
constexpr std::size_t kMaxVisits = 1024;

void check(bool condition)
{
    if (!condition)
        __builtin_trap();
}

void readNode(const AnswerNode &node, std::vector<AnswerNode> &pending)
{
    const std::size_t count = node.childCount();
    (void)node.text();
    check(node.lastChildText().empty() || count > 0);
    try {
        (void)node.firstChildText("first child");
        check(count > 0);
    } catch (const AnswerError &) {
        check(count == 0);
    }
    for (std::size_t i = 0; i < count; ++i)
        pending.push_back(node.child(i, "child"));
    try {
        (void)node.child(count, "child");
        check(false);
    } catch (const AnswerError &) {
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QueryDocument doc =
        QueryDocument::parse(std::string_view(reinterpret_cast<const char *>(data), size));
    if (!doc.hasDocumentElement()) {
        check(!doc.error().empty());
        try {
            (void)doc.documentElement();
            check(false);
        } catch (const AnswerError &e) {
            check(std::string(e.what()) == doc.error());
        }
        return 0;
    }
    check(doc.error().empty());
    std::vector<AnswerNode> pending{doc.documentElement()};
    for (std::size_t visits = 0; !pending.empty() && visits < kMaxVisits; ++visits) {
        const AnswerNode node = pending.back();
        pending.pop_back();
        readNode(node, pending);
    }
    return 0;
}
