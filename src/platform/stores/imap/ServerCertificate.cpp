#include "platform/stores/imap/ServerCertificate.h"

#include <arpa/inet.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

#include <memory>

namespace tindale::store {

namespace {

struct Free {
    void operator()(X509* p) const { X509_free(p); }
    void operator()(X509_STORE* p) const { X509_STORE_free(p); }
    void operator()(X509_STORE_CTX* p) const { X509_STORE_CTX_free(p); }
    void operator()(STACK_OF(X509) * p) const { sk_X509_pop_free(p, X509_free); }
};

X509* Decode(const std::string& der) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(der.data());
    return d2i_X509(nullptr, &bytes, static_cast<long>(der.size()));
}

bool IsAddress(const std::string& host) {
    unsigned char buffer[16];
    return inet_pton(AF_INET, host.c_str(), buffer) == 1 ||
           inet_pton(AF_INET6, host.c_str(), buffer) == 1;
}

}  // namespace

std::string CheckServerCertificate(const std::vector<std::string>& derChain,
                                   const std::string& host) {
    if (derChain.empty()) return "the server presented no certificate";
    std::unique_ptr<X509, Free> leaf(Decode(derChain[0]));
    if (!leaf) return "the server's certificate could not be read";
    std::unique_ptr<STACK_OF(X509), Free> intermediates(sk_X509_new_null());
    for (size_t i = 1; i < derChain.size(); ++i)
        if (X509* cert = Decode(derChain[i])) sk_X509_push(intermediates.get(), cert);
    std::unique_ptr<X509_STORE, Free> trusted(X509_STORE_new());
    std::unique_ptr<X509_STORE_CTX, Free> context(X509_STORE_CTX_new());
    if (!trusted || !context || X509_STORE_set_default_paths(trusted.get()) != 1 ||
        X509_STORE_CTX_init(context.get(), trusted.get(), leaf.get(), intermediates.get()) != 1)
        return "the system's trusted certificates could not be loaded";
    X509_VERIFY_PARAM* param = X509_STORE_CTX_get0_param(context.get());
    X509_VERIFY_PARAM_set_purpose(param, X509_PURPOSE_SSL_SERVER);
    if (IsAddress(host))
        X509_VERIFY_PARAM_set1_ip_asc(param, host.c_str());
    else
        X509_VERIFY_PARAM_set1_host(param, host.c_str(), host.size());
    if (X509_verify_cert(context.get()) == 1) return {};
    int error = X509_STORE_CTX_get_error(context.get());
    return std::string("the server's certificate is not trusted for ") + host + ": " +
           X509_verify_cert_error_string(error);
}

}  // namespace tindale::store
