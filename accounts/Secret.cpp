#include "accounts/Secret.h"

#include <sodium.h>

#include <algorithm>

namespace {

bool Ready() {
    static const bool ready = sodium_init() >= 0;
    return ready;
}

void WipeBytes(QByteArray& bytes) {
    if (!bytes.isEmpty() && !bytes.isDetached()) {  // shared: only our reference goes
        bytes = QByteArray();
        return;
    }
    if (!bytes.isEmpty()) sodium_memzero(bytes.data(), size_t(bytes.size()));
    bytes.clear();
}

}  // namespace

Secret::Secret(QString& text) : m_bytes(text.toUtf8()) {
    if (!text.isEmpty() && text.isDetached())
        sodium_memzero(text.data(), size_t(text.size()) * sizeof(QChar));
    text.clear();
}

Secret::Secret(QByteArray bytes) : m_bytes(std::move(bytes)) {}

Secret::~Secret() { Wipe(); }

Secret::Secret(Secret&& other) noexcept : m_bytes(std::move(other.m_bytes)) {}

Secret& Secret::operator=(Secret&& other) noexcept {
    if (this != &other) {
        Wipe();
        m_bytes = std::move(other.m_bytes);
    }
    return *this;
}

void Secret::Wipe() { WipeBytes(m_bytes); }

int Secret::length() const { return int(QString::fromUtf8(m_bytes).size()); }

bool Secret::allDigits() const {
    return std::all_of(m_bytes.cbegin(), m_bytes.cend(),
                       [](char c) { return c >= '0' && c <= '9'; });
}

QString HashSecret(const Secret& secret) {
    if (!Ready()) return {};
    char hash[crypto_pwhash_STRBYTES];
    if (crypto_pwhash_str(hash, secret.bytes().constData(),
                          static_cast<unsigned long long>(secret.bytes().size()),
                          crypto_pwhash_OPSLIMIT_INTERACTIVE,
                          crypto_pwhash_MEMLIMIT_INTERACTIVE) != 0)
        return {};
    return QString::fromLatin1(hash);
}

bool SecretMatches(const QString& hash, const Secret& secret) {
    if (!Ready()) return false;
    const QByteArray stored = hash.toLatin1();
    return crypto_pwhash_str_verify(stored.constData(), secret.bytes().constData(),
                                    static_cast<unsigned long long>(secret.bytes().size())) == 0;
}

SealKeys::~SealKeys() { WipeBytes(secretKey); }

QByteArray NewSalt() {
    if (!Ready()) return {};
    QByteArray salt(crypto_pwhash_SALTBYTES, '\0');
    randombytes_buf(salt.data(), size_t(salt.size()));
    return salt;
}

SealKeys DeriveSealKeys(const Secret& password, const QByteArray& salt) {
    SealKeys keys;
    if (!Ready() || salt.size() != crypto_pwhash_SALTBYTES) return keys;
    unsigned char seed[crypto_sign_SEEDBYTES];
    if (crypto_pwhash(seed, sizeof seed, password.bytes().constData(),
                      static_cast<unsigned long long>(password.bytes().size()),
                      reinterpret_cast<const unsigned char*>(salt.constData()),
                      crypto_pwhash_OPSLIMIT_INTERACTIVE, crypto_pwhash_MEMLIMIT_INTERACTIVE,
                      crypto_pwhash_ALG_ARGON2ID13) != 0)
        return keys;
    keys.publicKey = QByteArray(crypto_sign_PUBLICKEYBYTES, '\0');
    keys.secretKey = QByteArray(crypto_sign_SECRETKEYBYTES, '\0');
    crypto_sign_seed_keypair(reinterpret_cast<unsigned char*>(keys.publicKey.data()),
                             reinterpret_cast<unsigned char*>(keys.secretKey.data()), seed);
    sodium_memzero(seed, sizeof seed);
    return keys;
}

QByteArray SignDetached(const QByteArray& message, const SealKeys& keys) {
    if (keys.secretKey.size() != crypto_sign_SECRETKEYBYTES) return {};
    QByteArray signature(crypto_sign_BYTES, '\0');
    crypto_sign_detached(reinterpret_cast<unsigned char*>(signature.data()), nullptr,
                         reinterpret_cast<const unsigned char*>(message.constData()),
                         static_cast<unsigned long long>(message.size()),
                         reinterpret_cast<const unsigned char*>(keys.secretKey.constData()));
    return signature;
}
