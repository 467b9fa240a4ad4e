#include "support/TestCertificates.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <stdexcept>

namespace tarvo::test {

namespace {

void check(bool ok, const char *what)
{
    if (!ok)
        throw std::runtime_error(std::string("test certificates: ") + what + " failed");
}

EVP_PKEY *newKey()
{
    EVP_PKEY *key = EVP_EC_gen("P-256");
    check(key != nullptr, "key generation");
    return key;
}

void addExtension(X509 *cert, X509V3_CTX &context, int nid, const char *value)
{
    X509_EXTENSION *extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value);
    check(extension != nullptr && X509_add_ext(cert, extension, -1) == 1, "extension");
    X509_EXTENSION_free(extension);
}

// Issued by `issuer` (self-signed when it is null), valid from an hour ago for a day.
X509 *newCertificate(EVP_PKEY *key, const char *commonName, long serial, X509 *issuer,
                     EVP_PKEY *issuerKey)
{
    X509 *cert = X509_new();
    check(cert != nullptr, "X509_new");
    X509_set_version(cert, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert), serial);
    X509_gmtime_adj(X509_getm_notBefore(cert), -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert), 86400);
    X509_set_pubkey(cert, key);
    X509_NAME *name = X509_get_subject_name(cert);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char *>(commonName), -1, -1, 0);
    X509_set_issuer_name(cert, issuer != nullptr ? X509_get_subject_name(issuer) : name);
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, issuer != nullptr ? issuer : cert, cert, nullptr, nullptr, 0);
    if (issuer == nullptr) {
        addExtension(cert, context, NID_basic_constraints, "critical,CA:TRUE");
        addExtension(cert, context, NID_key_usage, "critical,keyCertSign,cRLSign");
    } else {
        addExtension(cert, context, NID_basic_constraints, "CA:FALSE");
        addExtension(cert, context, NID_subject_alt_name, "IP:127.0.0.1,DNS:localhost");
        addExtension(cert, context, NID_ext_key_usage, "serverAuth");
    }
    check(X509_sign(cert, issuerKey != nullptr ? issuerKey : key, EVP_sha256()) > 0, "signing");
    return cert;
}

} // namespace

struct TestCertificates::Impl
{
    EVP_PKEY *caKey = nullptr;
    X509 *caCert = nullptr;
    EVP_PKEY *serverKey = nullptr;
    X509 *serverCert = nullptr;
    std::filesystem::path folder;
    std::string caFile;
    std::string serverCertificateFile;
    std::string serverKeyFile;

    ~Impl()
    {
        X509_free(serverCert);
        EVP_PKEY_free(serverKey);
        X509_free(caCert);
        EVP_PKEY_free(caKey);
        std::error_code ignored;
        if (!folder.empty())
            std::filesystem::remove_all(folder, ignored);
    }
};

TestCertificates::TestCertificates() : m_impl(std::make_unique<Impl>())
{
    Impl &impl = *m_impl;
    impl.caKey = newKey();
    impl.caCert = newCertificate(impl.caKey, "Tarvo test authority", 1, nullptr, nullptr);
    impl.serverKey = newKey();
    impl.serverCert = newCertificate(impl.serverKey, "127.0.0.1", 2, impl.caCert, impl.caKey);

    std::string pattern = (std::filesystem::temp_directory_path() / "tarvo-tls-XXXXXX").string();
    check(::mkdtemp(pattern.data()) != nullptr, "mkdtemp");
    impl.folder = pattern;
    impl.caFile = (impl.folder / "ca.pem").string();
    impl.serverCertificateFile = (impl.folder / "server.pem").string();
    impl.serverKeyFile = (impl.folder / "server-key.pem").string();
    const auto write = [](const std::string &path, auto &&pem) {
        std::FILE *file = std::fopen(path.c_str(), "w");
        check(file != nullptr, "opening a PEM file");
        const bool written = pem(file) == 1;
        std::fclose(file);
        check(written, "writing a PEM file");
    };
    write(impl.caFile, [&](std::FILE *f) { return PEM_write_X509(f, impl.caCert); });
    write(impl.serverCertificateFile,
          [&](std::FILE *f) { return PEM_write_X509(f, impl.serverCert); });
    write(impl.serverKeyFile, [&](std::FILE *f) {
        return PEM_write_PrivateKey(f, impl.serverKey, nullptr, nullptr, 0, nullptr, nullptr);
    });
}

TestCertificates::~TestCertificates() = default;

const std::string &TestCertificates::caFile() const
{
    return m_impl->caFile;
}

const std::string &TestCertificates::serverCertificateFile() const
{
    return m_impl->serverCertificateFile;
}

const std::string &TestCertificates::serverKeyFile() const
{
    return m_impl->serverKeyFile;
}

x509_st *TestCertificates::serverCertificate() const
{
    return m_impl->serverCert;
}

evp_pkey_st *TestCertificates::serverKey() const
{
    return m_impl->serverKey;
}

} // namespace tarvo::test
