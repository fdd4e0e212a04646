#include "stage/release_host/test_authority.h"

#include <openssl/bn.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <memory>
#include <stdexcept>

namespace orbitreel::release_host {

namespace {

using Key = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;
using Certificate = std::unique_ptr<X509, decltype(&X509_free)>;

[[noreturn]] void failed(const std::string& what) { throw std::runtime_error("test authority: " + what); }

Key newKey() {
    Key key(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256"), &EVP_PKEY_free);
    if (!key) failed("key generation");
    return key;
}

void addExtension(X509* certificate, X509* issuer, int nid, const std::string& value) {
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, issuer, certificate, nullptr, nullptr, 0);
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value.c_str());
    if (!extension) failed("extension " + value);
    X509_add_ext(certificate, extension, -1);
    X509_EXTENSION_free(extension);
}

Certificate newCertificate(EVP_PKEY* key, const std::string& commonName, int validDays) {
    Certificate certificate(X509_new(), &X509_free);
    if (!certificate) failed("certificate");
    X509_set_version(certificate.get(), 2);
    unsigned char serial[16];
    if (RAND_bytes(serial, sizeof serial) != 1) failed("serial");
    serial[0] &= 0x7f;
    BIGNUM* number = BN_bin2bn(serial, sizeof serial, nullptr);
    BN_to_ASN1_INTEGER(number, X509_get_serialNumber(certificate.get()));
    BN_free(number);
    X509_gmtime_adj(X509_getm_notBefore(certificate.get()), -3600);
    X509_gmtime_adj(X509_getm_notAfter(certificate.get()), 86400L * validDays);
    X509_set_pubkey(certificate.get(), key);
    X509_NAME* name = X509_get_subject_name(certificate.get());
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8, reinterpret_cast<const unsigned char*>(commonName.c_str()),
                               -1, -1, 0);
    return certificate;
}

void writePem(const std::filesystem::path& path, auto&& write) {
    FILE* file = std::fopen(path.c_str(), "w");
    if (!file) failed("cannot write " + path.string());
    bool ok = write(file);
    if (std::fclose(file) != 0 || !ok) failed("cannot write " + path.string());
}

}  // namespace

Certificates makeCertificates(const std::filesystem::path& folder, const std::vector<std::string>& names,
                              int validDays) {
    if (names.empty()) failed("no server name");
    std::filesystem::create_directories(folder);

    Key authorityKey = newKey();
    Certificate authority = newCertificate(authorityKey.get(), "Orbitreel Test Authority", validDays);
    X509_set_issuer_name(authority.get(), X509_get_subject_name(authority.get()));
    addExtension(authority.get(), authority.get(), NID_basic_constraints, "critical,CA:TRUE");
    addExtension(authority.get(), authority.get(), NID_key_usage, "critical,keyCertSign,cRLSign");
    addExtension(authority.get(), authority.get(), NID_subject_key_identifier, "hash");
    if (X509_sign(authority.get(), authorityKey.get(), EVP_sha256()) == 0) failed("signing the authority");

    Key serverKey = newKey();
    Certificate server = newCertificate(serverKey.get(), names.front(), validDays);
    X509_set_issuer_name(server.get(), X509_get_subject_name(authority.get()));
    std::string alternatives;
    for (const auto& name : names) alternatives += (alternatives.empty() ? "DNS:" : ",DNS:") + name;
    addExtension(server.get(), authority.get(), NID_subject_alt_name, alternatives);
    addExtension(server.get(), authority.get(), NID_basic_constraints, "critical,CA:FALSE");
    addExtension(server.get(), authority.get(), NID_key_usage, "critical,digitalSignature");
    addExtension(server.get(), authority.get(), NID_ext_key_usage, "serverAuth");
    addExtension(server.get(), authority.get(), NID_authority_key_identifier, "keyid:always");
    if (X509_sign(server.get(), authorityKey.get(), EVP_sha256()) == 0) failed("signing the server certificate");

    Certificates out{folder / "authority.pem", folder / "server.pem", folder / "server-key.pem"};
    writePem(out.authority, [&](FILE* f) { return PEM_write_X509(f, authority.get()) == 1; });
    writePem(out.certificate, [&](FILE* f) { return PEM_write_X509(f, server.get()) == 1; });
    writePem(out.key, [&](FILE* f) {
        return PEM_write_PrivateKey(f, serverKey.get(), nullptr, nullptr, 0, nullptr, nullptr) == 1;
    });
    std::filesystem::permissions(out.key, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    return out;
}

}  // namespace orbitreel::release_host
