#include "livedata/mqtt/MQTTTlsContext.h"

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pkcs12.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <array>
#include <fstream>
#include <iterator>
#include <vector>

#include "livedata/mqtt/MQTTError.h"

namespace ambrell {

namespace {

template <typename T, void (*Free)(T*)>
struct OpenSslDeleter {
    void operator()(T* object) const { Free(object); }
};
using X509Pointer = std::unique_ptr<X509, OpenSslDeleter<X509, X509_free>>;
using KeyPointer = std::unique_ptr<EVP_PKEY, OpenSslDeleter<EVP_PKEY, EVP_PKEY_free>>;
using KeyInfoPointer =
    std::unique_ptr<PKCS8_PRIV_KEY_INFO, OpenSslDeleter<PKCS8_PRIV_KEY_INFO, PKCS8_PRIV_KEY_INFO_free>>;
using Pkcs12Pointer = std::unique_ptr<PKCS12, OpenSslDeleter<PKCS12, PKCS12_free>>;

void freeCertificateStack(STACK_OF(X509) * stack) { sk_X509_pop_free(stack, X509_free); }
using CertificateStackPointer = std::unique_ptr<STACK_OF(X509), OpenSslDeleter<STACK_OF(X509), freeCertificateStack>>;

// The whole of `der` as one object of the kind `decode` reads, or null.
template <typename T, T* (*Decode)(T**, const unsigned char**, long)>
T* decodeWhole(const std::vector<std::uint8_t>& der) {
    if (der.empty()) return nullptr;
    const unsigned char* cursor = der.data();
    T* object = Decode(nullptr, &cursor, static_cast<long>(der.size()));
    return object;
}

template <typename T, int (*Encode)(const T*, unsigned char**)>
std::vector<std::uint8_t> encode(const T* object) {
    const int size = Encode(object, nullptr);
    if (size <= 0) return {};
    std::vector<std::uint8_t> der(static_cast<std::size_t>(size));
    unsigned char* cursor = der.data();
    if (Encode(object, &cursor) != size) return {};
    return der;
}

bool useIdentity(SSL_CTX* context, const MQTTClientCertificates& certificates) {
    const X509Pointer certificate(decodeWhole<X509, d2i_X509>(certificates.certificate));
    const KeyInfoPointer keyInfo(decodeWhole<PKCS8_PRIV_KEY_INFO, d2i_PKCS8_PRIV_KEY_INFO>(certificates.privateKey));
    if (!certificate || !keyInfo) return false;
    const KeyPointer key(EVP_PKCS82PKEY(keyInfo.get()));
    return key && SSL_CTX_use_certificate(context, certificate.get()) == 1 &&
           SSL_CTX_use_PrivateKey(context, key.get()) == 1 && SSL_CTX_check_private_key(context) == 1;
}

}  // namespace

platform::NSError mqttTlsSetupError() {
    auto error = makeMQTTError(kMQTTErrorSSLSetup, kMQTTErrorSSLSetupText);
    if (const unsigned long code = ERR_get_error(); code != 0) {
        std::array<char, 256> text{};
        ERR_error_string_n(code, text.data(), text.size());
        platform::NSError underlying;
        underlying.domain = "OpenSSL";
        underlying.code = static_cast<std::int64_t>(ERR_GET_REASON(code));
        underlying.userInfo[std::string(platform::NSLocalizedDescriptionKey)] = std::string(text.data());
        error.userInfo[std::string(platform::NSUnderlyingErrorKey)] =
            std::make_shared<const platform::NSError>(std::move(underlying));
    }
    ERR_clear_error();
    return error;
}

MQTTTlsContext makeMQTTTlsContext(bool verifyPeer, const MQTTClientCertificates* certificates) {
    MQTTTlsContext result;
    ERR_clear_error();
    try {
        boost::asio::ssl::context context(boost::asio::ssl::context::tls_client);
        SSL_CTX* native = context.native_handle();
        bool configured = SSL_CTX_set_min_proto_version(native, TLS1_2_VERSION) == 1;
        if (configured && verifyPeer) {
            configured = SSL_CTX_set_default_verify_paths(native) == 1;
            SSL_CTX_set_verify(native, SSL_VERIFY_PEER, nullptr);
        } else {
            SSL_CTX_set_verify(native, SSL_VERIFY_NONE, nullptr);
        }
        if (configured && certificates != nullptr) configured = useIdentity(native, *certificates);
        if (configured) {
            result.context.emplace(std::move(context));
            return result;
        }
    } catch (const boost::system::system_error&) {
        // The context itself could not be made: reported below.
    }
    result.error = mqttTlsSetupError();
    return result;
}

std::shared_ptr<const MQTTClientCertificates> importMQTTClientCertificates(const std::filesystem::path& path,
                                                                           const std::string& passphrase) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return nullptr;
    const std::vector<std::uint8_t> data{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    if (file.bad()) return nullptr;

    const Pkcs12Pointer archive(decodeWhole<PKCS12, d2i_PKCS12>(data));
    EVP_PKEY* rawKey = nullptr;
    X509* rawCertificate = nullptr;
    STACK_OF(X509)* rawAuthorities = nullptr;
    const bool parsed =
        archive && PKCS12_parse(archive.get(), passphrase.c_str(), &rawKey, &rawCertificate, &rawAuthorities) == 1;
    const KeyPointer key(rawKey);
    const X509Pointer certificate(rawCertificate);
    const CertificateStackPointer authorities(rawAuthorities);
    ERR_clear_error();
    if (!parsed || !key || !certificate) return nullptr;

    const KeyInfoPointer keyInfo(EVP_PKEY2PKCS8(key.get()));
    if (!keyInfo) return nullptr;
    MQTTClientCertificates result;
    result.privateKey = encode<PKCS8_PRIV_KEY_INFO, i2d_PKCS8_PRIV_KEY_INFO>(keyInfo.get());
    result.certificate = encode<X509, i2d_X509>(certificate.get());
    ERR_clear_error();
    if (result.privateKey.empty() || result.certificate.empty()) return nullptr;
    return std::make_shared<const MQTTClientCertificates>(std::move(result));
}

}  // namespace ambrell
