#include "auth/TlsFiles.h"

#include "auth/SecretFiles.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <gnutls/gnutls.h>
#include <memory>
#include <sstream>

namespace tarvo::server::auth {

namespace {

// A key or chain is a few KiB; a bound keeps /dev/zero from being read until memory ends.
bool readFile(const std::string &path, const std::string &what, bool isPublic, std::string &into,
              TlsFiles &files)
{
    SecretRules rules;
    rules.maxBytes = kMaxTlsFileBytes;
    rules.mayBePublic = isPublic;
    SecretRead read = readSecretFile(path, what, rules);
    if (!read.ok()) {
        files.message = std::move(read.message);
        return false;
    }
    if (read.warning) {
        files.warnings.push_back(std::move(*read.warning));
    }
    into = std::move(read.text);
    return true;
}

gnutls_datum_t datum(std::string &text)
{
    return {reinterpret_cast<unsigned char *>(text.data()), static_cast<unsigned>(text.size())};
}

} // namespace

TlsFiles loadTlsFiles(const std::string &certificatePath, const std::string &keyPath)
{
    TlsFiles files;
    if (!readFile(certificatePath, "TLS certificate", true, files.certificatePem, files) ||
        !readFile(keyPath, "TLS key", false, files.keyPem, files)) {
        return files;
    }
    // The HTTP library serves with GnuTLS: whatever GnuTLS accepts here, it serves.
    gnutls_certificate_credentials_t raw = nullptr;
    if (gnutls_certificate_allocate_credentials(&raw) != GNUTLS_E_SUCCESS) {
        files.message = "cannot start GnuTLS";
        return files;
    }
    const std::unique_ptr<gnutls_certificate_credentials_st,
                          decltype(&gnutls_certificate_free_credentials)>
        credentials(raw, gnutls_certificate_free_credentials);
    gnutls_datum_t certificate = datum(files.certificatePem);
    gnutls_datum_t key = datum(files.keyPem);
    const int rc = gnutls_certificate_set_x509_key_mem(credentials.get(), &certificate, &key,
                                                       GNUTLS_X509_FMT_PEM);
    if (rc < 0) {
        files.message = rc == GNUTLS_E_CERTIFICATE_KEY_MISMATCH
                            ? "the key in " + keyPath + " does not belong to the certificate in " +
                                  certificatePath
                            : certificatePath + " and " + keyPath +
                                  " are no PEM certificate and key: " + gnutls_strerror(rc);
        return files;
    }
    files.ok = true;
    return files;
}

} // namespace tarvo::server::auth
