#include "network/protocol/LoginDigest.h"

#include <cstring>

#include <openssl/evp.h>

#include "base/Exception.h"

LoginDigest::Bytes LoginDigest::compute(const char* password, const EncryptionKey::Bytes& key) {
    Bytes digest{};
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    unsigned int length = 0;
    bool ok = context != nullptr && EVP_DigestInit_ex(context, EVP_md5(), nullptr) == 1 &&
              EVP_DigestUpdate(context, password, std::strlen(password)) == 1 &&
              EVP_DigestUpdate(context, key.data(), key.size()) == 1 &&
              EVP_DigestFinal_ex(context, digest.data(), &length) == 1 && length == digest.size();
    EVP_MD_CTX_free(context);
    if (!ok) {
        throw Exception("Exception", QF_HERE, 0, "MD5 digest could not be computed.");
    }
    return digest;
}
