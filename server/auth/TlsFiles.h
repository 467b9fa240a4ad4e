// The certificate and key of an HTTPS server, read and checked before serving, so that a
// wrong file stops the start with a reason instead of failing every handshake.
#pragma once

#include <string>
#include <vector>

namespace tarvo::server::auth {

struct TlsFiles
{
    bool ok = false;
    std::string certificatePem; // the chain, server certificate first
    std::string keyPem;
    std::string message;               // why the files cannot serve; empty when ok
    std::vector<std::string> warnings; // a key every user may read
};

// Reads both PEM files as secrets are read (the chain may be public); fails when either is
// missing, refused, no PEM of its kind, or when the key does not belong to the certificate.
TlsFiles loadTlsFiles(const std::string &certificatePath, const std::string &keyPath);

} // namespace tarvo::server::auth
