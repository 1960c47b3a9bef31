#pragma once
// Checks the certificate chain a server presented (DER, the server's own first) against the
// system's trusted authorities (OpenSSL's default paths, which $SSL_CERT_FILE and
// $SSL_CERT_DIR override) and the host name the person gave.
#include <string>
#include <vector>

namespace tindale::store {

// Empty when the chain is trusted for `host`; otherwise why it is not, in a sentence.
std::string CheckServerCertificate(const std::vector<std::string>& derChain,
                                   const std::string& host);

}  // namespace tindale::store
