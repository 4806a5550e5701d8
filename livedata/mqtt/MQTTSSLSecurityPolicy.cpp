#include "livedata/mqtt/MQTTSSLSecurityPolicy.h"

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "platform/Paths.h"

namespace ambrell {

namespace {

using Bytes = MQTTSSLSecurityPolicy::Bytes;

struct X509Free {
    void operator()(X509* certificate) const { X509_free(certificate); }
};
struct StoreFree {
    void operator()(X509_STORE* store) const { X509_STORE_free(store); }
};
struct StoreContextFree {
    void operator()(X509_STORE_CTX* context) const { X509_STORE_CTX_free(context); }
};
struct StackFree {
    void operator()(STACK_OF(X509) * stack) const { sk_X509_pop_free(stack, X509_free); }
};
using Certificate = std::unique_ptr<X509, X509Free>;
using Store = std::unique_ptr<X509_STORE, StoreFree>;

Certificate certificateFrom(const Bytes& der) {
    if (der.empty()) return nullptr;
    const unsigned char* cursor = der.data();
    Certificate certificate(d2i_X509(nullptr, &cursor, static_cast<long>(der.size())));
    // Bytes after the certificate make it another thing than a certificate.
    if (certificate && cursor != der.data() + der.size()) certificate.reset();
    return certificate;
}

Bytes derOf(X509* certificate) {
    unsigned char* out = nullptr;
    const int length = i2d_X509(certificate, &out);
    if (length <= 0) return {};
    Bytes bytes(out, out + length);
    OPENSSL_free(out);
    return bytes;
}

// The DER SubjectPublicKeyInfo; empty when there is no usable key.
Bytes publicKeyOf(const Bytes& der) {
    const auto certificate = certificateFrom(der);
    if (!certificate) return {};
    EVP_PKEY* key = X509_get0_pubkey(certificate.get());
    if (key == nullptr) return {};
    unsigned char* out = nullptr;
    const int length = i2d_PUBKEY(key, &out);
    if (length <= 0) return {};
    Bytes bytes(out, out + length);
    OPENSSL_free(out);
    return bytes;
}

// How a chain is judged: as a TLS server for a domain (purpose, and the name
// when one is given), or as a chain of certificates alone.
struct TrustPolicy {
    bool server = false;
    std::optional<std::string> domain;
};

// A chain the trust store vouches for under the policy, the equivalent of
// the platform's "proceed" and "unspecified" results. Without `anchors`
// the system store is used; with them, only they are trusted, each in its
// own right (an intermediate or a leaf may be an anchor).
bool evaluate(const MQTTServerTrust& trust, const TrustPolicy& policy, const std::vector<Bytes>* anchors) {
    if (trust.certificates.empty()) return false;
    const auto leaf = certificateFrom(trust.certificates.front());
    if (!leaf) return false;
    std::unique_ptr<STACK_OF(X509), StackFree> untrusted(sk_X509_new_null());
    if (!untrusted) return false;
    for (std::size_t i = 1; i < trust.certificates.size(); ++i) {
        auto certificate = certificateFrom(trust.certificates[i]);
        if (!certificate) return false;
        if (sk_X509_push(untrusted.get(), certificate.get()) <= 0) return false;
        (void)certificate.release();
    }

    Store store(X509_STORE_new());
    if (!store) return false;
    if (anchors == nullptr) {
        if (X509_STORE_set_default_paths(store.get()) != 1) return false;
    } else {
        for (const auto& der : *anchors) {
            const auto anchor = certificateFrom(der);
            if (anchor) X509_STORE_add_cert(store.get(), anchor.get());
        }
        X509_STORE_set_flags(store.get(), X509_V_FLAG_PARTIAL_CHAIN);
    }

    std::unique_ptr<X509_STORE_CTX, StoreContextFree> context(X509_STORE_CTX_new());
    if (!context || X509_STORE_CTX_init(context.get(), store.get(), leaf.get(), untrusted.get()) != 1) return false;
    if (policy.server) {
        X509_STORE_CTX_set_purpose(context.get(), X509_PURPOSE_SSL_SERVER);
        if (policy.domain) {
            X509_VERIFY_PARAM* parameters = X509_STORE_CTX_get0_param(context.get());
            // An address literal is matched against the certificate's
            // addresses, a name against its names.
            if (X509_VERIFY_PARAM_set1_ip_asc(parameters, policy.domain->c_str()) != 1) {
                ERR_clear_error();
                if (policy.domain->empty() ||
                    X509_VERIFY_PARAM_set1_host(parameters, policy.domain->data(), policy.domain->size()) != 1) {
                    return false;
                }
            }
        }
    }
    const bool trusted = X509_verify_cert(context.get()) == 1;
    ERR_clear_error();
    return trusted;
}

Bytes readFile(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) return {};
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

MQTTServerTrust MQTTServerTrust::fromConnection(const ssl_st* ssl) {
    MQTTServerTrust trust;
    if (ssl == nullptr) return trust;
    // On the client side the chain holds the server's own certificate first.
    STACK_OF(X509)* chain = SSL_get_peer_cert_chain(ssl);
    if (chain == nullptr) return trust;
    for (int i = 0; i < sk_X509_num(chain); ++i) {
        auto der = derOf(sk_X509_value(chain, i));
        if (!der.empty()) trust.certificates.push_back(std::move(der));
    }
    return trust;
}

std::shared_ptr<MQTTSSLSecurityPolicy> MQTTSSLSecurityPolicy::defaultPolicy() {
    return std::make_shared<MQTTSSLSecurityPolicy>();
}

std::shared_ptr<MQTTSSLSecurityPolicy> MQTTSSLSecurityPolicy::policyWithPinningMode(std::uint64_t mode) {
    auto policy = std::make_shared<MQTTSSLSecurityPolicy>();
    policy->setSSLPinningMode(mode);
    policy->setPinnedCertificates(defaultPinnedCertificates());
    return policy;
}

const std::vector<Bytes>& MQTTSSLSecurityPolicy::defaultPinnedCertificates() {
    static const std::vector<Bytes> certificates = [] {
        std::vector<std::filesystem::path> files;
        std::error_code error;
        for (std::filesystem::directory_iterator entry(platform::Paths::resources(), error), end;
             !error && entry != end; entry.increment(error)) {
            if (entry->path().extension() == ".cer" && entry->is_regular_file(error)) files.push_back(entry->path());
        }
        std::sort(files.begin(), files.end());
        std::vector<Bytes> contents;
        for (const auto& file : files) {
            auto bytes = readFile(file);
            if (!bytes.empty()) contents.push_back(std::move(bytes));
        }
        return contents;
    }();
    return certificates;
}

void MQTTSSLSecurityPolicy::setPinnedCertificates(std::optional<std::vector<Bytes>> certificates) {
    pinnedPublicKeys_.clear();
    if (!certificates) {
        pinnedCertificates_.reset();
        return;
    }
    std::vector<Bytes> unique;
    for (auto& certificate : *certificates) {
        if (std::find(unique.begin(), unique.end(), certificate) == unique.end())
            unique.push_back(std::move(certificate));
    }
    for (const auto& certificate : unique) {
        auto key = publicKeyOf(certificate);
        if (!key.empty()) pinnedPublicKeys_.push_back(std::move(key));
    }
    pinnedCertificates_ = std::move(unique);
}

bool MQTTSSLSecurityPolicy::evaluateServerTrust(const MQTTServerTrust& serverTrust,
                                                const std::optional<std::string>& domain) const {
    const TrustPolicy policy{validatesDomainName_, validatesDomainName_ ? domain : std::nullopt};
    if (SSLPinningMode_ == kPinningNone) {
        return allowInvalidCertificates_ || evaluate(serverTrust, policy, nullptr);
    }
    if (SSLPinningMode_ != kPinningPublicKey && SSLPinningMode_ != kPinningCertificate) return false;
    if (!evaluate(serverTrust, policy, nullptr) && !allowInvalidCertificates_) return false;
    const auto& chain = serverTrust.certificates;

    if (SSLPinningMode_ == kPinningPublicKey) {
        std::vector<Bytes> serverKeys;
        for (const auto& certificate : chain) {
            auto key = publicKeyOf(certificate);
            if (!key.empty()) serverKeys.push_back(std::move(key));
        }
        if (!validatesCertificateChain_ && !serverKeys.empty()) serverKeys.resize(1);
        // Each server certificate counts once, however many pins share its
        // key: otherwise two pins of one key would stand in for an unpinned
        // certificate of the chain.
        const auto matches = std::count_if(serverKeys.begin(), serverKeys.end(), [&](const Bytes& key) {
            return std::find(pinnedPublicKeys_.begin(), pinnedPublicKeys_.end(), key) != pinnedPublicKeys_.end();
        });
        if (matches == 0) return false;
        return !validatesCertificateChain_ || static_cast<std::size_t>(matches) == chain.size();
    }

    const std::vector<Bytes> none;
    const auto& pinned = pinnedCertificates_ ? *pinnedCertificates_ : none;
    if (!evaluate(serverTrust, policy, &pinned)) return false;
    if (!validatesCertificateChain_) return true;
    return std::all_of(chain.begin(), chain.end(), [&](const Bytes& certificate) {
        return std::find(pinned.begin(), pinned.end(), certificate) != pinned.end();
    });
}

}  // namespace ambrell
