// The post processor hands a field's value over in pieces and cannot tell the first piece of
// a field from a later one reliably (an escape cut at a network boundary yields an empty first
// piece), so the body is passed to it one field at a time: every "&" ends a field. The escapes
// are checked here too, since the processor keeps a broken "%" as it is.
#include "http/FormReader.h"

#include "text/AsciiCase.h"

#include <cstring>
#include <microhttpd.h>

namespace tarvo::server::http {

namespace {

// The longest field name the processor keeps; longer ones make the body malformed.
constexpr std::size_t kNameBuffer = 1024;

bool isHex(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

} // namespace

struct FormReader::Private
{
    MHD_PostProcessor *processor = nullptr;
    FormFields fields;
    int hexDigitsDue = 0; // after a "%"
    bool inField = false; // the processor has delivered the current field's name
    bool keptField = false;
    std::string value;
    HttpForm result;

    bool refused() const { return result.status != HttpForm::Status::Ok; }

    void refuse(HttpForm::Status status, std::string message)
    {
        result.status = status;
        result.message = std::move(message);
        result.values.clear();
    }

    void process(const char *data, std::size_t size)
    {
        if (size > 0 && !refused() && MHD_post_process(processor, data, size) != MHD_YES) {
            refuse(HttpForm::Status::Malformed, "the body is not form-URL-encoded");
        }
    }

    void endField()
    {
        if (!inField || refused()) {
            inField = false;
            return;
        }
        inField = false;
        if (!keptField) {
            return;
        }
        if (result.values.size() == fields.most) {
            refuse(HttpForm::Status::TooManyFields,
                   "more than " + std::to_string(fields.most) + " " + fields.name + " fields");
            return;
        }
        result.values.push_back(std::move(value));
        value.clear();
    }

    static MHD_Result field(void *cls, MHD_ValueKind, const char *key, const char *, const char *,
                            const char *, const char *data, std::uint64_t, std::size_t size)
    {
        auto *self = static_cast<Private *>(cls);
        if (!self->inField) {
            self->inField = true;
            self->keptField = text::equalsIgnoringCase(key, self->fields.name);
            self->value.clear();
        }
        if (self->keptField && size > 0) {
            self->value.append(data, size);
        }
        return MHD_YES;
    }
};

std::unique_ptr<FormReader> FormReader::create(MHD_Connection *connection, const FormFields &fields)
{
    if (MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_CONTENT_TYPE) ==
        nullptr) {
        MHD_set_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_CONTENT_TYPE,
                                 MHD_HTTP_POST_ENCODING_FORM_URLENCODED);
    }
    auto d = std::make_unique<Private>();
    d->fields = fields;
    d->processor = MHD_create_post_processor(connection, kNameBuffer, &Private::field, d.get());
    if (d->processor == nullptr) {
        return nullptr;
    }
    return std::unique_ptr<FormReader>(new FormReader(std::move(d)));
}

FormReader::FormReader(std::unique_ptr<Private> p) : d(std::move(p)) {}

FormReader::~FormReader()
{
    if (d->processor != nullptr) {
        MHD_destroy_post_processor(d->processor);
    }
}

bool FormReader::feed(const char *data, std::size_t size)
{
    const char *end = data + size;
    const char *start = data; // the part not yet handed to the processor
    const char *next = data;
    const char *amp = nullptr;
    while (next < end && !d->refused()) {
        if (d->hexDigitsDue > 0) {
            if (!isHex(*next)) {
                d->refuse(HttpForm::Status::Malformed,
                          "the body is not form-URL-encoded: a % is not followed by two hex "
                          "digits");
                break;
            }
            --d->hexDigitsDue;
            ++next;
            continue;
        }
        if (amp == nullptr || amp < next) {
            amp = static_cast<const char *>(
                std::memchr(next, '&', static_cast<std::size_t>(end - next)));
            amp = amp != nullptr ? amp : end;
        }
        if (const void *percent = std::memchr(next, '%', static_cast<std::size_t>(amp - next))) {
            next = static_cast<const char *>(percent) + 1;
            d->hexDigitsDue = 2;
            continue;
        }
        if (amp == end) {
            break;
        }
        d->process(start, static_cast<std::size_t>(amp + 1 - start));
        d->endField();
        start = next = amp + 1;
    }
    d->process(start, static_cast<std::size_t>(end - start));
    return !d->refused();
}

void FormReader::finish()
{
    if (d->refused()) {
        return;
    }
    if (d->hexDigitsDue > 0) {
        d->refuse(HttpForm::Status::Malformed,
                  "the body is not form-URL-encoded: a % is not followed by two hex digits");
        return;
    }
    // A last field without "&" is complete only once the processor sees its end.
    d->process("&", 1);
    d->endField();
}

const HttpForm &FormReader::result() const
{
    return d->result;
}

} // namespace tarvo::server::http
