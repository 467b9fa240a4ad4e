#include "net/QueryDocument.h"

#include "net/Curl.h"

#include <algorithm>
#include <cstdint>
#include <curl/curl.h>
#include <mutex>
#include <unordered_map>
#include <utility>

namespace tarvo::net {

namespace {

// Whitespace-only text is dropped (no parse_ws_pcdata); comments and processing instructions
// become nodes; no parse_doctype, so a document type declaration is skipped and its entities
// are never resolved; parse_fragment keeps stray top-level content so that it can be refused.
// parse_embed_pcdata keeps an element's leading text in the element instead of a node of its
// own (AnswerNode shows it as that node): a tenth less parsing and half the nodes to walk.
constexpr unsigned kParseFlags = pugi::parse_cdata | pugi::parse_escapes | pugi::parse_eol |
                                 pugi::parse_wconv_attribute | pugi::parse_comments |
                                 pugi::parse_pi | pugi::parse_fragment | pugi::parse_embed_pcdata;

constexpr long kMaxRedirects = 5;

// The most an answer's Content-Length may reserve up front; a longer answer still arrives, in
// steps, so a header that claims too much costs no more than this.
constexpr curl_off_t kMaxReserve = 16 * 1024 * 1024;

// An answer's body, sized once from its Content-Length: growing it step by step copies a
// large answer about once more than the bytes themselves.
struct Download
{
    CURL *handle = nullptr;
    std::string body;
    bool sized = false;
};

std::size_t appendToDownload(char *data, std::size_t size, std::size_t count, void *target)
{
    auto &download = *static_cast<Download *>(target);
    if (!download.sized) {
        download.sized = true;
        curl_off_t length = -1;
        if (curl_easy_getinfo(download.handle, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) ==
                CURLE_OK &&
            length > 0) {
            download.body.reserve(static_cast<std::size_t>(std::min(length, kMaxReserve)));
        }
    }
    download.body.append(data, size * count);
    return size * count;
}

struct EasyHandle
{
    CURL *handle = curl_easy_init();
    ~EasyHandle() { curl_easy_cleanup(handle); }
    EasyHandle() = default;
    EasyHandle(const EasyHandle &) = delete;
    EasyHandle &operator=(const EasyHandle &) = delete;
};

std::string transportError(CURLcode code, const char *detail, const std::string &url,
                           const FetchOptions &options)
{
    const std::string why = detail[0] != '\0' ? detail : curl_easy_strerror(code);
    switch (code) {
    case CURLE_OPERATION_TIMEDOUT:
        return "timed out fetching " + url + " (connect limit " +
               std::to_string(options.connectTimeout.count()) + " ms, total limit " +
               std::to_string(options.totalTimeout.count()) + " ms): " + why;
    case CURLE_COULDNT_CONNECT:
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
        return "could not connect to " + url + ": " + why;
    default:
        return "could not fetch " + url + ": " + why;
    }
}

// Documents owned by a QueryDocument, each with a serial that is never reused. The position
// cache below trusts a remembered node only while its document is still registered, so a
// freed tree whose memory was reused by another document can never be walked.
struct LiveDocuments
{
    std::mutex mutex;
    std::unordered_map<const void *, std::uint64_t> serials;
    std::uint64_t next = 1;

    static LiveDocuments &instance()
    {
        static LiveDocuments live;
        return live;
    }

    void add(const pugi::xml_document &doc)
    {
        std::lock_guard lock(mutex);
        serials[doc.internal_object()] = next++;
    }

    void remove(const pugi::xml_document &doc)
    {
        std::lock_guard lock(mutex);
        serials.erase(doc.internal_object());
    }

    std::uint64_t serialOf(pugi::xml_node documentNode)
    {
        std::lock_guard lock(mutex);
        const auto found = serials.find(documentNode.internal_object());
        return found == serials.end() ? 0 : found->second;
    }
};

// Reading a section record by record asks for positions 0, 1, 2, ... of one parent; without a
// remembered place every call would walk from the first child again (quadratic in the rows).
struct PositionCache
{
    std::uint64_t serial = 0;
    pugi::xml_node parent;
    std::size_t position = 0;
    pugi::xml_node node;
    std::size_t count = 0;
    bool countKnown = false;
};

// A few parents at once, so that counting a record's fields does not evict its section.
struct PositionCaches
{
    static constexpr std::size_t kSlots = 4;
    PositionCache slots[kSlots];
    std::size_t nextVictim = 0;
};

thread_local PositionCaches t_caches;

// Short walks (the fields of a record) are cheaper than the registry look-up.
constexpr std::size_t kCacheFrom = 16;

// Counts at most `limit` children (all of them when limit is 0).
std::size_t countChildren(pugi::xml_node node, std::size_t limit = 0)
{
    std::size_t count = 0;
    for (pugi::xml_node child = node.first_child(); child; child = child.next_sibling()) {
        ++count;
        if (count == limit)
            break;
    }
    return count;
}

PositionCache *cacheFor(pugi::xml_node parent)
{
    const std::uint64_t serial = LiveDocuments::instance().serialOf(parent.root());
    if (serial == 0)
        return nullptr;
    for (PositionCache &slot : t_caches.slots) {
        if (slot.serial == serial && slot.parent == parent)
            return &slot;
    }
    PositionCache &slot = t_caches.slots[t_caches.nextVictim];
    t_caches.nextVictim = (t_caches.nextVictim + 1) % PositionCaches::kSlots;
    slot = PositionCache{serial, parent, 0, parent.first_child(), 0, false};
    return &slot;
}

pugi::xml_node walkFromFirst(pugi::xml_node parent, std::size_t position)
{
    pugi::xml_node found = parent.first_child();
    for (std::size_t i = 0; i < position && found; ++i)
        found = found.next_sibling();
    return found;
}

std::string describeParseFailure(const pugi::xml_parse_result &result)
{
    return std::string("answer is not well-formed XML: ") + result.description() + " at offset " +
           std::to_string(result.offset);
}

// The parser accepts several top-level elements and stray top-level text; an answer like that is
// not well-formed, so it is refused here. Returns "" when the document is acceptable.
std::string checkTopLevel(const pugi::xml_document &doc)
{
    std::size_t elements = 0;
    for (pugi::xml_node node = doc.first_child(); node; node = node.next_sibling()) {
        if (node.type() == pugi::node_element)
            ++elements;
        else if (node.type() == pugi::node_pcdata || node.type() == pugi::node_cdata)
            return "answer is not well-formed XML: text outside the document element";
    }
    if (elements == 0)
        return "answer has no document element";
    if (elements > 1)
        return "answer is not well-formed XML: more than one top-level element";
    return {};
}

} // namespace

QueryDocument::QueryDocument()
    : m_error("no answer has been loaded"), m_failure{FailureKind::BadAnswer}
{}

QueryDocument::~QueryDocument()
{
    if (m_doc)
        LiveDocuments::instance().remove(*m_doc);
}

QueryDocument::QueryDocument(QueryDocument &&other) noexcept
    : m_body(std::move(other.m_body)), m_doc(std::move(other.m_doc)),
      m_error(std::move(other.m_error)), m_failure(other.m_failure), m_etag(std::move(other.m_etag))
{}

QueryDocument &QueryDocument::operator=(QueryDocument &&other) noexcept
{
    if (this != &other) {
        if (m_doc)
            LiveDocuments::instance().remove(*m_doc);
        m_doc = std::move(other.m_doc);
        m_body = std::move(other.m_body);
        m_error = std::move(other.m_error);
        m_failure = other.m_failure;
        m_etag = std::move(other.m_etag);
    }
    return *this;
}

QueryDocument QueryDocument::fetch(const std::string &url, const FetchOptions &options)
{
    net::initOnce();
    const std::string shown = net::shownUrl(url);
    QueryDocument failed;
    EasyHandle easy;
    if (easy.handle == nullptr) {
        failed.m_error = "could not fetch " + shown + ": libcurl could not start a request";
        failed.m_failure = {FailureKind::NotStarted, CURLE_FAILED_INIT};
        return failed;
    }
    Download download;
    download.handle = easy.handle;
    char detail[CURL_ERROR_SIZE] = {};
    CURL *h = easy.handle;
    net::applyAddress(h, net::splitAddress(url));
    curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(h, CURLOPT_MAXREDIRS, kMaxRedirects);
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS,
                     static_cast<long>(options.connectTimeout.count()));
    curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, static_cast<long>(options.totalTimeout.count()));
    // Time-outs must not use signals: the caller may be any thread of a Qt application.
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &appendToDownload);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &download);
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, detail);

    const CURLcode code = curl_easy_perform(h);
    if (code != CURLE_OK) {
        failed.m_error = transportError(code, detail, shown, options);
        failed.m_failure = {net::kindOf(code), code};
        return failed;
    }
    long status = 0;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
    if (status >= 400) {
        failed.m_error = "HTTP " + std::to_string(status) + " from " + shown;
        failed.m_failure = {FailureKind::HttpStatus, CURLE_OK, static_cast<int>(status)};
        return failed;
    }
    QueryDocument doc = parseInPlace(std::move(download.body));
    // The last answer's header: a redirect's own tag says nothing about the page.
    curl_header *etag = nullptr;
    if (curl_easy_header(h, "ETag", 0, CURLH_HEADER, -1, &etag) == CURLHE_OK && etag != nullptr) {
        doc.m_etag = etag->value;
    }
    if (!doc.hasDocumentElement())
        doc.m_error += " (from " + shown + ")";
    return doc;
}

QueryDocument QueryDocument::parse(std::string_view body)
{
    return parseInPlace(std::string(body));
}

QueryDocument QueryDocument::parseInPlace(std::string &&body)
{
    QueryDocument result;
    // The body lives on the heap beside the tree, so moving the document moves no text.
    auto kept = std::make_unique<std::string>(std::move(body));
    auto doc = std::make_unique<pugi::xml_document>();
    const pugi::xml_parse_result parsed =
        doc->load_buffer_inplace(kept->data(), kept->size(), kParseFlags);
    if (!parsed) {
        result.m_error = describeParseFailure(parsed);
        return result;
    }
    if (std::string problem = checkTopLevel(*doc); !problem.empty()) {
        result.m_error = std::move(problem);
        return result;
    }
    LiveDocuments::instance().add(*doc);
    result.m_doc = std::move(doc);
    result.m_body = std::move(kept);
    result.m_error.clear();
    result.m_failure = {};
    return result;
}

bool QueryDocument::hasDocumentElement() const
{
    return m_doc && m_doc->document_element();
}

const std::string &QueryDocument::error() const
{
    return m_error;
}

const Failure &QueryDocument::failure() const
{
    return m_failure;
}

const std::string &QueryDocument::etag() const
{
    return m_etag;
}

AnswerNode QueryDocument::documentElement() const
{
    if (!hasDocumentElement())
        throw AnswerError(m_error.empty() ? std::string("answer has no document element")
                                          : m_error);
    return AnswerNode(m_doc->document_element());
}

namespace {

// What value() gives for a node without one. An element whose value is anything else holds its
// leading text (parse_embed_pcdata); told apart by address, so that an empty leading text (a
// character reference to 0) still counts as a node.
const char *const kNoValue = pugi::xml_node().value();

// The value first: most elements have no leading text, and then one call tells.
bool holdsLeadingText(pugi::xml_node node)
{
    return node.value() != kNoValue && node.type() == pugi::node_element;
}

} // namespace

bool AnswerNode::hasLeadingText() const
{
    return !m_leading && holdsLeadingText(m_node);
}

pugi::xml_node AnswerNode::realChildren() const
{
    return m_leading ? pugi::xml_node() : m_node.first_child();
}

bool AnswerNode::hasChildren() const
{
    return hasLeadingText() || realChildren();
}

std::size_t AnswerNode::childCount() const
{
    if (m_leading)
        return 0;
    const std::size_t lead = holdsLeadingText(m_node) ? 1 : 0;
    if (const std::size_t few = countChildren(m_node, kCacheFrom); few < kCacheFrom)
        return lead + few;
    PositionCache *cache = cacheFor(m_node);
    if (cache == nullptr)
        return lead + countChildren(m_node);
    if (!cache->countKnown) {
        cache->count = countChildren(m_node);
        cache->countKnown = true;
    }
    return lead + cache->count;
}

AnswerNode AnswerNode::child(std::size_t position, const char *what) const
{
    if (m_leading)
        detail::throwMissingChild(position, what, 0);
    const std::size_t lead = holdsLeadingText(m_node) ? 1 : 0;
    if (lead == 1 && position == 0)
        return leadingText();
    // Positions of the nodes the tree holds.
    const std::size_t real = position - lead;
    pugi::xml_node found;
    if (real < kCacheFrom) {
        found = walkFromFirst(m_node, real);
    } else if (PositionCache *cache = cacheFor(m_node); cache != nullptr) {
        if (cache->position > real || !cache->node) {
            cache->position = 0;
            cache->node = m_node.first_child();
        }
        while (cache->node && cache->position < real) {
            cache->node = cache->node.next_sibling();
            ++cache->position;
        }
        found = cache->node;
    } else {
        found = walkFromFirst(m_node, real);
    }
    if (!found)
        detail::throwMissingChild(position, what, lead + countChildren(m_node));
    return AnswerNode(found);
}

std::string AnswerNode::text() const
{
    const pugi::xml_node_type type = m_node.type();
    if (m_leading || (type != pugi::node_element && type != pugi::node_document))
        return m_node.value();
    // An element's value is its leading text (or ""), which comes before its children.
    std::string out = m_node.value();
    // Iterative walk: a hostile answer may nest deeper than the stack allows.
    pugi::xml_node current = m_node.first_child();
    while (current) {
        const pugi::xml_node_type t = current.type();
        if (t == pugi::node_pcdata || t == pugi::node_cdata || t == pugi::node_element)
            out += current.value();
        if (current.first_child()) {
            current = current.first_child();
            continue;
        }
        while (current != m_node && !current.next_sibling())
            current = current.parent();
        if (current == m_node)
            break;
        current = current.next_sibling();
    }
    return out;
}

std::string AnswerNode::firstChildText(const char *what) const
{
    if (hasLeadingText())
        return m_node.value();
    const pugi::xml_node first = realChildren();
    if (!first)
        detail::throwNoChild(what);
    return AnswerNode(first).text();
}

std::string AnswerNode::lastChildText() const
{
    std::string scratch;
    return std::string(lastChildView(scratch));
}

std::string_view AnswerNode::textView(std::string &scratch) const
{
    const pugi::xml_node_type type = m_node.type();
    if (m_leading || (type != pugi::node_element && type != pugi::node_document))
        return m_node.value();
    const pugi::xml_node first = m_node.first_child();
    // The leading text alone, or "".
    if (!first)
        return m_node.value();
    // Text nodes never have children, so a lone one is the whole text.
    if (!holdsLeadingText(m_node) && !first.next_sibling() &&
        (first.type() == pugi::node_pcdata || first.type() == pugi::node_cdata))
        return first.value();
    scratch = text();
    return scratch;
}

std::string_view AnswerNode::firstChildView(const char *what, std::string &scratch) const
{
    if (hasLeadingText())
        return m_node.value();
    const pugi::xml_node first = realChildren();
    if (!first)
        detail::throwNoChild(what);
    return AnswerNode(first).textView(scratch);
}

std::string_view AnswerNode::lastChildView(std::string &scratch) const
{
    if (m_leading)
        return {};
    if (const pugi::xml_node last = m_node.last_child())
        return AnswerNode(last).textView(scratch);
    return hasLeadingText() ? std::string_view(m_node.value()) : std::string_view();
}

namespace detail {

void throwMissingChild(std::size_t position, const char *what, std::size_t count)
{
    throw AnswerError("missing " + std::string(what) + " at position " + std::to_string(position) +
                      " (the node has " + std::to_string(count) + " child nodes)");
}

void throwNoChild(const char *what)
{
    throw AnswerError("missing " + std::string(what) + ": the node has no child node");
}

namespace {

// One field's text: of its first child node, or of its last one. Two or three calls into the
// tree for the usual field, a single text held in the element.
FieldText readField(pugi::xml_node field, bool last, std::string &scratch)
{
    const char *const lead = field.value();
    if (lead == kNoValue) {
        // An element without leading text, or a node without a value and without children.
        const pugi::xml_node chosen = last ? field.last_child() : field.first_child();
        return Handle::empty(chosen) ? FieldText{}
                                     : FieldText{AnswerNode(chosen).textView(scratch), true};
    }
    // A text, comment or processing instruction as a field has no child node.
    if (field.type() != pugi::node_element)
        return {};
    if (last) {
        if (const pugi::xml_node lastChild = field.last_child(); !Handle::empty(lastChild))
            return {AnswerNode(lastChild).textView(scratch), true};
    }
    return {lead, true};
}

} // namespace

RecordShape readFields(pugi::xml_node record, std::size_t lastChildFrom, FieldText *fields,
                       std::string *scratch, std::size_t kept)
{
    RecordShape shape;
    std::size_t k = 0;
    // A leading text is field 0, a field without child nodes.
    if (holdsLeadingText(record)) {
        if (kept > 0)
            fields[0] = FieldText{};
        k = 1;
    }
    for (pugi::xml_node field = record.first_child(); !Handle::empty(field);
         field = field.next_sibling(), ++k) {
        if (k < kept)
            fields[k] = readField(field, k >= lastChildFrom, scratch[k]);
        else if (shape.overflow == npos && AnswerNode(field).hasChildren())
            shape.overflow = k;
    }
    for (std::size_t rest = k; rest < kept; ++rest)
        fields[rest] = FieldText{};
    shape.count = k;
    return shape;
}

} // namespace detail

} // namespace tarvo::net
