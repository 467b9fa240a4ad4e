// Parses arbitrary bytes as a server answer and reads the tree the way a load does, checking
// that a failed parse leaves no document element, that reads by position agree with the child
// counts and with the one-walk reading of records, and that every count and text is what
// pugixml's tree with a node for every text holds. Any answer must end in a tree or a clear
// error, never in a crash.
#include "net/QueryDocument.h"

#include <cstddef>
#include <cstdint>
#include <pugixml.hpp>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

using tarvo::net::AnswerError;
using tarvo::net::AnswerNode;
using tarvo::net::QueryDocument;
using tarvo::net::RecordFields;

namespace {

// Bounds the walk so that one input costs little however large its tree is.
constexpr std::size_t kMaxVisits = 1024;

void check(bool condition)
{
    if (!condition)
        __builtin_trap();
}

// The same answer as a tree with a node for every text: what every read must match.
constexpr unsigned kReferenceFlags = pugi::parse_cdata | pugi::parse_escapes | pugi::parse_eol |
                                     pugi::parse_comments | pugi::parse_pi | pugi::parse_fragment;

std::size_t referenceCount(pugi::xml_node node)
{
    std::size_t count = 0;
    for (pugi::xml_node c = node.first_child(); c; c = c.next_sibling())
        ++count;
    return count;
}

// Every text below node in document order, gathered by pugixml's own tree walk.
std::string descendantText(pugi::xml_node node)
{
    struct Texts : pugi::xml_tree_walker
    {
        std::string text;
        bool for_each(pugi::xml_node &d) override
        {
            if (d.type() == pugi::node_pcdata || d.type() == pugi::node_cdata)
                text += d.value();
            return true;
        }
    } texts;
    node.traverse(texts);
    return texts.text;
}

std::string referenceText(pugi::xml_node node)
{
    if (node.type() != pugi::node_element && node.type() != pugi::node_document)
        return node.value();
    return descendantText(node);
}

// The records of node read in one walk agree with reading each field by position.
void checkRecords(const AnswerNode &node)
{
    constexpr std::size_t kept = 3;
    std::size_t records = 0;
    node.forEachRecord<kept>(1, [&](const RecordFields<kept> &fields, std::size_t position) {
        check(position == records++);
        const AnswerNode record = node.child(position, "record");
        check(fields.count() == record.childCount());
        for (std::size_t k = 0; k < kept && k < fields.count(); ++k) {
            const AnswerNode field = record.child(k, "field");
            check(fields[k].filled == field.hasChildren());
            check(fields[k].text == (k >= 1                ? field.lastChildText()
                                     : field.hasChildren() ? field.firstChildText("field")
                                                           : std::string()));
        }
    });
    check(records == node.childCount());
}

void readNode(const AnswerNode &node, pugi::xml_node reference,
              std::vector<std::pair<AnswerNode, pugi::xml_node>> &pending)
{
    const std::size_t count = node.childCount();
    check(count == referenceCount(reference));
    check(node.text() == referenceText(reference));
    check(node.name() == std::string_view(reference.name()));
    checkRecords(node);
    check(node.lastChildText().empty() || count > 0);
    try {
        (void)node.firstChildText("first child");
        check(count > 0);
    } catch (const AnswerError &) {
        check(count == 0);
    }
    pugi::xml_node referenceChild = reference.first_child();
    for (std::size_t i = 0; i < count; ++i, referenceChild = referenceChild.next_sibling())
        pending.emplace_back(node.child(i, "child"), referenceChild);
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
    std::string body(reinterpret_cast<const char *>(data), size);
    pugi::xml_document reference;
    check(static_cast<bool>(
        reference.load_buffer_inplace(body.data(), body.size(), kReferenceFlags)));
    std::vector<std::pair<AnswerNode, pugi::xml_node>> pending{
        {doc.documentElement(), reference.document_element()}};
    for (std::size_t visits = 0; !pending.empty() && visits < kMaxVisits; ++visits) {
        const auto [node, referenceNode] = pending.back();
        pending.pop_back();
        readNode(node, referenceNode, pending);
    }
    return 0;
}
