#pragma once
// Update information signed the way the release tool signs it, with keys the tests make for each run:
// the release key's secret half is never needed.
#include "UpdateInfo.h"
#include "UpdateSignature.h"

#include <QCryptographicHash>

namespace hexaloom {

// The team's key in the tests, and a stranger's.
inline const UpdateKeyPair& TestUpdateKey()
{
    static const UpdateKeyPair pair = NewUpdateKeyPair().value();
    return pair;
}
inline const UpdateKeyPair& StrangerUpdateKey()
{
    static const UpdateKeyPair pair = NewUpdateKeyPair().value();
    return pair;
}

inline QString Sha256Hex(const QByteArray& bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

// The file of `info`, signed by `key`.
inline QByteArray SignedInfo(const UpdateInfo& info, const UpdateKeyPair& key = TestUpdateKey())
{
    return SignUpdateInfo(SerializeUpdateInfo(info), key.secretKey).value();
}

} // namespace hexaloom
