// The query document: one server answer fetched by a blocking GET and parsed into a tree that
// is read by position. Whitespace-only text between elements is dropped; comments and
// processing instructions count as nodes; a document type declaration is skipped, never
// fetched. No widget dependency.
#pragma once

#include "net/Failure.h"

#include <array>
#include <chrono>
#include <cstddef>
#include <limits>
#include <memory>
#include <pugixml.hpp>
#include <stdexcept>
#include <string>
#include <string_view>

namespace tarvo::net {

struct FetchOptions
{
    std::chrono::milliseconds connectTimeout{10'000};
    std::chrono::milliseconds totalTimeout{120'000};
};

// A read of an answer that does not have the expected layout.
class AnswerError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

class AnswerNode;

// One field of a record as a walk over the record's child nodes read it.
struct FieldText
{
    std::string_view text; // of the chosen child node; "" when the field has none
    bool filled = false;   // the field has at least one child node
};

namespace detail {
// Whether a node handle is empty, without a call into the library (its operator bool is not
// inline, and a walk tests every step): the handle's pointer, reached through the member the
// library leaves open to derived classes.
struct Handle : pugi::xml_node
{
    static bool empty(const pugi::xml_node &node) { return node.*(&Handle::_root) == nullptr; }
};

inline constexpr std::size_t npos = std::numeric_limits<std::size_t>::max();
struct RecordShape
{
    std::size_t count = 0;       // every child node of the record
    std::size_t overflow = npos; // first position at or past the kept ones with a child node
};
// Reads the first `kept` fields of record into fields (texts joined into scratch where the
// document does not hold them in one piece); the rest are only counted.
RecordShape readFields(pugi::xml_node record, std::size_t lastChildFrom, FieldText *fields,
                       std::string *scratch, std::size_t kept);
// The errors of a read that misses: no child at position (of count), or no child node at all.
[[noreturn]] void throwMissingChild(std::size_t position, const char *what, std::size_t count);
[[noreturn]] void throwNoChild(const char *what);
} // namespace detail

// The first N fields of one record, read in one walk over its child nodes. A field's text is
// its first child node's text, or from position lastChildFrom on its last child node's (what
// stays when every child is copied in turn). The texts point into the document, or into this
// object where a text had to be joined: valid while both live and until the next record is
// read into it.
template <std::size_t N> class RecordFields
{
public:
    static constexpr std::size_t npos = detail::npos;

    // Replaces the last record's fields with those of record; the texts of the last one end.
    void read(pugi::xml_node record, std::size_t lastChildFrom)
    {
        m_shape = detail::readFields(record, lastChildFrom, m_fields.data(), m_scratch.data(), N);
    }
    // A record without fields.
    void clear()
    {
        m_shape = {};
        m_fields.fill(FieldText{});
    }

    // Every child node of the record, also those past the N kept.
    std::size_t count() const { return m_shape.count; }

    // Field k's text; throws AnswerError naming `what` when the record has no field k or the
    // field has no child node, in the words AnswerNode::child and firstChildText use.
    // Surprise: k must be below N (std::out_of_range otherwise).
    std::string_view text(std::size_t k, const char *what) const
    {
        if (k >= N)
            throw std::out_of_range("field " + std::to_string(k) + " is not kept");
        if (k >= m_shape.count)
            detail::throwMissingChild(k, what, m_shape.count);
        if (!m_fields[k].filled)
            detail::throwNoChild(what);
        return m_fields[k].text;
    }

    // Field k as read: not filled (and "") when it is missing or has no child node.
    const FieldText &operator[](std::size_t k) const { return m_fields.at(k); }

    // The first position at or past N whose field has a child node, npos when none has:
    // content beyond what the caller keeps.
    std::size_t overflow() const { return m_shape.overflow; }

private:
    detail::RecordShape m_shape;
    std::array<FieldText, N> m_fields{};
    std::array<std::string, N> m_scratch;
};

class QueryDocument
{
public:
    QueryDocument();
    ~QueryDocument();
    QueryDocument(QueryDocument &&) noexcept;
    QueryDocument &operator=(QueryDocument &&) noexcept;

    // Blocks the calling thread until the answer has arrived or failed. Never throws: a
    // connection error, a time-out, an HTTP status of 400 or more or a body that is not
    // well-formed leaves a document without a document element. Credentials come from the URL's
    // user information or ~/.netrc (see net::applyAddress); error() never shows them.
    static QueryDocument fetch(const std::string &url, const FetchOptions &options = {});

    // Parses a body; a body that is not well-formed gives no document element (never a partial
    // tree).
    static QueryDocument parse(std::string_view body);

    bool hasDocumentElement() const;

    // Why there is no document element (empty when there is one); for people and logs only.
    const std::string &error() const;

    // The same as values: kind None when there is a document element, BadAnswer when the body
    // (or no body at all) gave none. Surprise: BadAnswer carries no status, though an answer
    // (below 400) did arrive.
    const Failure &failure() const;

    // The answer's ETag exactly as sent, quotes included; "" when it carried none. Surprise:
    // kept also when the body failed to parse, since the tag names the server's state, not the
    // body's form.
    const std::string &etag() const;

    // Throws AnswerError when there is no document element.
    AnswerNode documentElement() const;

private:
    // Parses body where it lies: the texts of the tree point into it.
    static QueryDocument parseInPlace(std::string &&body);

    std::unique_ptr<std::string> m_body;
    std::unique_ptr<pugi::xml_document> m_doc;
    std::string m_error;
    Failure m_failure;
    std::string m_etag;
};

// A node of a query document; every accessor that can miss throws AnswerError.
//
// The tree keeps an element's leading text (text before any other child node) in the element
// itself, which saves building and walking a node per field; an AnswerNode shows that text as
// the element's first child node, a text node like any other, so positions and texts read as
// in a tree with a node for every text.
class AnswerNode
{
public:
    explicit AnswerNode(pugi::xml_node node) : m_node(node) {}

    std::size_t childCount() const;
    // The element's name; "" for other nodes.
    std::string_view name() const { return m_leading ? std::string_view() : m_node.name(); }
    bool hasChildren() const;

    // Child at a 0-based position; throws AnswerError naming `what` when there is none.
    AnswerNode child(std::size_t position, const char *what) const;

    // Whole text content: an element's text descendants joined, another node's own value.
    std::string text() const;

    // Text of the first child node; throws AnswerError when the node has no child.
    std::string firstChildText(const char *what) const;

    // Text of the last child node, or "" when the node has none.
    std::string lastChildText() const;

    // The same texts without a copy where the document holds them in one piece: the view
    // points into the document, or into scratch when the text had to be joined. Valid while
    // both live.
    std::string_view textView(std::string &scratch) const;
    std::string_view firstChildView(const char *what, std::string &scratch) const;
    std::string_view lastChildView(std::string &scratch) const;

    // Calls visit(child, position) for every child node in document order: one walk, where
    // child(position) for each position would restart or look up its place every time.
    template <typename Visit> void forEachChild(Visit &&visit) const
    {
        std::size_t position = 0;
        if (hasLeadingText()) {
            visit(leadingText(), position++);
        }
        for (pugi::xml_node c = realChildren(); c; c = c.next_sibling()) {
            visit(AnswerNode(c), position++);
        }
    }

    // Calls visit(fields, position) for every child node (a record) in document order, its
    // first N fields read in one walk each: where child(k) and firstChildText for every field
    // would cost a dozen look-ups per field. lastChildFrom as in RecordFields.
    template <std::size_t N, typename Visit>
    void forEachRecord(std::size_t lastChildFrom, Visit &&visit) const
    {
        RecordFields<N> fields;
        std::size_t position = 0;
        if (hasLeadingText()) {
            // A text node as a record: no fields.
            fields.clear();
            visit(static_cast<const RecordFields<N> &>(fields), position++);
        }
        for (pugi::xml_node c = realChildren(); !detail::Handle::empty(c); c = c.next_sibling()) {
            fields.read(c, lastChildFrom);
            visit(static_cast<const RecordFields<N> &>(fields), position++);
        }
    }

private:
    // The text held in element as its first child node.
    AnswerNode leadingText() const
    {
        AnswerNode text(m_node);
        text.m_leading = true;
        return text;
    }
    bool hasLeadingText() const;
    // The first child node the tree holds as a node (null for the leading text itself).
    pugi::xml_node realChildren() const;

    pugi::xml_node m_node;
    bool m_leading = false; // this is m_node's leading text, not m_node
};

} // namespace tarvo::net
