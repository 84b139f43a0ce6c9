#include "selfsignedcertificate.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <memory>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <stdexcept>

namespace {

void check(bool ok, const char* what) {
    if (!ok)
        throw std::runtime_error(std::string("making the test certificate failed: ") + what);
}

void addExtension(X509* cert, int nid, const char* value) {
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, cert, cert, nullptr, nullptr, 0);
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
    check(ext != nullptr, "extension");
    X509_add_ext(cert, ext, -1);
    X509_EXTENSION_free(ext);
}

} // namespace

SelfSignedCertificate::SelfSignedCertificate(const std::string& commonName) {
    std::string pattern = (std::filesystem::temp_directory_path() / "corvala-cert-XXXXXX").string();
    check(mkdtemp(pattern.data()) != nullptr, "temporary folder");
    m_folder = pattern;
    m_certificateFile = m_folder + "/cert.pem";
    m_keyFile = m_folder + "/key.pem";

    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(EVP_EC_gen("P-256"), EVP_PKEY_free);
    check(key != nullptr, "key");
    std::unique_ptr<X509, decltype(&X509_free)> cert(X509_new(), X509_free);
    X509_set_version(cert.get(), 2);
    // Distinct serials, so no two certificates made in one run look like the same one.
    static std::atomic<long> serial{static_cast<long>(std::time(nullptr))};
    ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), ++serial);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), 7 * 24 * 3600);
    X509_set_pubkey(cert.get(), key.get());
    X509_NAME* name = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>(commonName.c_str()), -1, -1,
                               0);
    X509_set_issuer_name(cert.get(), name);
    addExtension(cert.get(), NID_basic_constraints, "critical,CA:TRUE");
    // Names under whm.invalid stand for the many hosts one gateway may be asked to reach.
    addExtension(cert.get(), NID_subject_alt_name, "IP:127.0.0.1,DNS:*.whm.invalid");
    check(X509_sign(cert.get(), key.get(), EVP_sha256()) > 0, "signature");

    std::unique_ptr<FILE, decltype(&std::fclose)> certOut(
        std::fopen(m_certificateFile.c_str(), "w"), std::fclose);
    check(certOut && PEM_write_X509(certOut.get(), cert.get()) == 1, "certificate file");
    std::unique_ptr<FILE, decltype(&std::fclose)> keyOut(std::fopen(m_keyFile.c_str(), "w"),
                                                         std::fclose);
    check(keyOut && PEM_write_PrivateKey(keyOut.get(), key.get(), nullptr, nullptr, 0, nullptr,
                                         nullptr) == 1,
          "key file");
}

SelfSignedCertificate::~SelfSignedCertificate() {
    std::error_code ignored;
    std::filesystem::remove_all(m_folder, ignored);
}
