// The POST body of the page as it streams in: an application/x-www-form-urlencoded body read
// with the HTTP library's post processor, keeping the values of the SQL fields in order.
#pragma once

#include "HttpServer.h"
#include "Protocol.h"

#include <memory>

namespace tarvo::server {

class FormReader : public BodyReader
{
public:
    // Null when the library cannot read the connection's body as a form. A request without
    // Content-Type is read as a form.
    static std::unique_ptr<FormReader> create(MHD_Connection *connection,
                                              std::size_t maxStatements = kMaxStatements);
    ~FormReader() override;
    FormReader(const FormReader &) = delete;
    FormReader &operator=(const FormReader &) = delete;

    // Refuses (false) as soon as the body is malformed or carries more than the most
    // statements; what was read so far is then dropped.
    bool feed(const char *data, std::size_t size) override;
    void finish() override;

    // After finish(): the statements, or why the body was refused.
    const FormParse &result() const;

private:
    struct Private;
    explicit FormReader(std::unique_ptr<Private> d);
    std::unique_ptr<Private> const d;
};

} // namespace tarvo::server
