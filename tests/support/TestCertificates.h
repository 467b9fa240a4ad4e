// A throwaway certificate authority and a server certificate it signed for 127.0.0.1 and
// localhost, made when a test runs. The authority's certificate is written to a file for clients
// (CURL_CA_BUNDLE); the keys never leave memory.
#pragma once

#include <memory>
#include <string>

struct x509_st;
struct evp_pkey_st;

namespace tarvo::test {

class TestCertificates
{
public:
    // Throws std::runtime_error when OpenSSL or the file system fails.
    TestCertificates();
    // Removes the authority's file.
    ~TestCertificates();
    TestCertificates(const TestCertificates &) = delete;
    TestCertificates &operator=(const TestCertificates &) = delete;

    // PEM file of the authority's certificate.
    const std::string &caFile() const;
    // Owned by this object; valid while it lives.
    x509_st *serverCertificate() const;
    evp_pkey_st *serverKey() const;

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

} // namespace tarvo::test
