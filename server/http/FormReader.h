// A form body as it streams in: application/x-www-form-urlencoded, read with libmicrohttpd's
// post processor, keeping the values of the fields a route asked for in body order. Inside
// the HTTP layer; routes see only the HttpForm it results in.
#pragma once

#include "http/HttpServer.h"

#include <cstddef>
#include <memory>

struct MHD_Connection;

namespace tarvo::server::http {

class FormReader
{
public:
    // Null when the library cannot read the connection's body as a form. A request without
    // Content-Type is read as a form.
    static std::unique_ptr<FormReader> create(MHD_Connection *connection, const FormFields &fields);
    ~FormReader();
    FormReader(const FormReader &) = delete;
    FormReader &operator=(const FormReader &) = delete;

    // Refuses (false) as soon as the body is malformed or carries more than the most kept
    // fields; what was read so far is then dropped. Pieces may end anywhere, inside an
    // escape too.
    bool feed(const char *data, std::size_t size);
    void finish();

    // After finish(), or after feed() refused: the values, or why the body was refused.
    const HttpForm &result() const;

private:
    struct Private;
    explicit FormReader(std::unique_ptr<Private> d);
    std::unique_ptr<Private> const d;
};

} // namespace tarvo::server::http
