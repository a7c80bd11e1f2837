#include "UpdateSignature.h"

#include "UpdateInfo.h"
#include "UpdateKeys.h"

#include <QCryptographicHash>
#include <QIODevice>

#include <sodium.h>

#include <algorithm>
#include <vector>

namespace hexaloom {

namespace {
static_assert(sizeof(UpdatePublicKey) == crypto_sign_PUBLICKEYBYTES);
static_assert(sizeof(UpdateSecretKey) == crypto_sign_SECRETKEYBYTES);

// libsodium picks its implementations and seeds its random source here; safe to call again and from
// several threads.
bool SodiumReady()
{
    return sodium_init() >= 0;
}

// Exactly `bytes` bytes as lower-case hex digits; nothing for any other text. Upper case is refused so
// that one signature has one spelling.
template <std::size_t N>
std::optional<std::array<unsigned char, N>> FromHex(QByteArrayView text)
{
    if (text.size() != qsizetype(2 * N) ||
        !std::all_of(text.begin(), text.end(), [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); }))
        return std::nullopt;
    const QByteArray bytes = QByteArray::fromHex(text.toByteArray());
    std::array<unsigned char, N> out{};
    std::copy(bytes.begin(), bytes.end(), out.begin());
    return out;
}

template <std::size_t N>
std::optional<std::array<unsigned char, N>> KeyFromText(QByteArrayView text)
{
    return FromHex<N>(text.trimmed());
}
} // namespace

std::span<const UpdatePublicKey> ReleaseKeys()
{
    // The build checked every text; one that still does not read would be left out, never replaced.
    static const std::vector<UpdatePublicKey> keys = [] {
        std::vector<UpdatePublicKey> read;
        for (const char* text : kReleaseKeyTexts)
            if (const std::optional<UpdatePublicKey> key = PublicKeyFromText(text))
                read.push_back(*key);
        return read;
    }();
    return keys;
}

bool IsSignedBy(QByteArrayView block, std::span<const UpdatePublicKey> keys)
{
    const std::optional<SignedParts> parts = SplitSignature(block);
    if (!parts || !SodiumReady())
        return false;
    const auto signature = FromHex<crypto_sign_BYTES>(parts->signature);
    if (!signature)
        return false;
    const auto* message = reinterpret_cast<const unsigned char*>(parts->message.constData());
    return std::any_of(keys.begin(), keys.end(), [&](const UpdatePublicKey& key) {
        return crypto_sign_verify_detached(signature->data(), message,
                                           static_cast<unsigned long long>(parts->message.size()), key.data()) == 0;
    });
}

std::optional<QByteArray> SignUpdateInfo(QByteArrayView block, const UpdateSecretKey& key)
{
    const std::optional<SignedParts> parts = SplitSignature(block);
    if (!parts || !parts->signature.isEmpty() || !SodiumReady())
        return std::nullopt;
    std::array<unsigned char, crypto_sign_BYTES> signature{};
    if (crypto_sign_detached(signature.data(), nullptr,
                             reinterpret_cast<const unsigned char*>(parts->message.constData()),
                             static_cast<unsigned long long>(parts->message.size()), key.data()) != 0)
        return std::nullopt;
    QByteArray signed_ = parts->message;
    signed_.insert(parts->signatureAt, KeyText(signature).trimmed());
    return signed_;
}

std::optional<UpdateKeyPair> NewUpdateKeyPair()
{
    if (!SodiumReady())
        return std::nullopt;
    UpdateKeyPair pair;
    if (crypto_sign_keypair(pair.publicKey.data(), pair.secretKey.data()) != 0)
        return std::nullopt;
    return pair;
}

QByteArray KeyText(std::span<const unsigned char> key)
{
    return QByteArray(reinterpret_cast<const char*>(key.data()), static_cast<qsizetype>(key.size())).toHex() + '\n';
}

std::optional<UpdatePublicKey> PublicKeyFromText(QByteArrayView text)
{
    return KeyFromText<crypto_sign_PUBLICKEYBYTES>(text);
}

std::optional<UpdateSecretKey> SecretKeyFromText(QByteArrayView text)
{
    const std::optional<UpdateSecretKey> key = KeyFromText<crypto_sign_SECRETKEYBYTES>(text);
    if (!key || !SodiumReady())
        return std::nullopt;
    // A damaged file would sign with a public half that matches nothing; rebuild the pair from the seed.
    UpdateKeyPair fromSeed;
    if (crypto_sign_seed_keypair(fromSeed.publicKey.data(), fromSeed.secretKey.data(), key->data()) != 0 ||
        fromSeed.secretKey != *key)
        return std::nullopt;
    return key;
}

UpdatePublicKey PublicHalf(const UpdateSecretKey& key)
{
    UpdatePublicKey half{};
    crypto_sign_ed25519_sk_to_pk(half.data(), key.data());
    return half;
}

std::optional<FileDigests> ReadDigests(QIODevice& device)
{
    QCryptographicHash md5(QCryptographicHash::Md5);
    QCryptographicHash sha256(QCryptographicHash::Sha256);
    FileDigests digests;
    while (!device.atEnd()) {
        const QByteArray block = device.read(1000000);
        if (block.isEmpty())
            return std::nullopt;
        md5.addData(block);
        sha256.addData(block);
        digests.size += block.size();
    }
    digests.md5 = QString::fromLatin1(md5.result().toHex());
    digests.sha256 = QString::fromLatin1(sha256.result().toHex());
    return digests;
}

} // namespace hexaloom
