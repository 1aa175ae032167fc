#pragma once

#include <QByteArray>
#include <QString>

// A password or PIN as typed: its bytes are wiped when it goes, so it lives no longer than the
// check that needs it. Never logged, never shown.
class Secret {
  public:
    Secret() = default;
    // Takes the text and overwrites the caller's copy (a QLineEdit's own copy is the widget's to
    // clear).
    explicit Secret(QString& text);
    explicit Secret(QByteArray bytes);
    ~Secret();
    Secret(Secret&& other) noexcept;
    Secret& operator=(Secret&& other) noexcept;
    Secret(const Secret&) = delete;
    Secret& operator=(const Secret&) = delete;

    const QByteArray& bytes() const { return m_bytes; }
    int length() const;  // in characters
    bool allDigits() const;

  private:
    void Wipe();
    QByteArray m_bytes;
};

// An Argon2id hash string of secret (libsodium's crypto_pwhash_str, interactive limits); empty
// when it could not be made (out of memory).
QString HashSecret(const Secret& secret);
// Whether secret is the one hash was made of; compares in constant time.
bool SecretMatches(const QString& hash, const Secret& secret);

// The seal key pair, derived from the owner's password and a stored salt through Argon2id: the
// desk keeps nothing secret. Empty results when it cannot be made.
struct SealKeys {
    QByteArray publicKey;  // 32 bytes
    QByteArray secretKey;  // 64 bytes, wiped when the keys go
    ~SealKeys();
};
QByteArray NewSalt();
SealKeys DeriveSealKeys(const Secret& password, const QByteArray& salt);
QByteArray SignDetached(const QByteArray& message, const SealKeys& keys);
