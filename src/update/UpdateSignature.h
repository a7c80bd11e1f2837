#pragma once
// Who wrote an update information file: its Ed25519 signature (libsodium) checked against the keys this
// build carries, and what the release tool needs to sign one. Also the digests a download is checked by.
#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <array>
#include <optional>
#include <span>

class QIODevice;

namespace hexaloom {

using UpdatePublicKey = std::array<unsigned char, 32>;
// libsodium's form: the 32-byte seed followed by the public key.
using UpdateSecretKey = std::array<unsigned char, 64>;

struct UpdateKeyPair
{
    UpdatePublicKey publicKey{};
    UpdateSecretKey secretKey{};
};

// The keys this build trusts: the build option HEXALOOM_UPDATE_KEYS, compiled in. No setting, file or
// command line adds one.
std::span<const UpdatePublicKey> ReleaseKeys();

// True when `block` is an update information file whose signature text is 128 lower-case hex digits
// that one of `keys` verifies over every byte of the file except that text.
bool IsSignedBy(QByteArrayView block, std::span<const UpdatePublicKey> keys);
// `block` with the signature of `key` put in; nothing when it is no information file or already holds a
// signature text.
std::optional<QByteArray> SignUpdateInfo(QByteArrayView block, const UpdateSecretKey& key);

// A fresh key pair from the system's random source; nothing when libsodium cannot start.
std::optional<UpdateKeyPair> NewUpdateKeyPair();
// Key files hold the key as lower-case hex digits on one line. Reading allows white space around them;
// a secret key is taken only when its public half is the one its seed gives.
QByteArray KeyText(std::span<const unsigned char> key);
std::optional<UpdatePublicKey> PublicKeyFromText(QByteArrayView text);
std::optional<UpdateSecretKey> SecretKeyFromText(QByteArrayView text);
UpdatePublicKey PublicHalf(const UpdateSecretKey& key);

// What a download is checked by, read from the device's current position to its end in blocks of
// 1,000,000 bytes: its size and its MD5 and SHA-256 as lower-case hex digits. Nothing on a read error.
struct FileDigests
{
    qint64 size = 0;
    QString md5;
    QString sha256;
};
std::optional<FileDigests> ReadDigests(QIODevice& device);

} // namespace hexaloom
