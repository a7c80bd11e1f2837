// Property: any bytes parse as an update information file exactly when they begin with its magic, and
// what is read survives being written and read again unchanged. Taken apart for its signature, the file
// is the signed bytes with the signature's text put back at its place; checking the signature never fails
// on the way.
#include "UpdateInfo.h"
#include "UpdateSignature.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace hexaloom;
    const QByteArrayView bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const std::optional<UpdateInfo> info = ParseUpdateInfo(bytes);
    const std::uint8_t magic[4] = {0x1A, 0xC3, 0x3B, 0x6F};
    if (info.has_value() != (size >= 4 && std::memcmp(data, magic, 4) == 0))
        std::abort();
    const std::optional<SignedParts> parts = SplitSignature(bytes);
    if (parts.has_value() != info.has_value())
        std::abort();
    if (!info)
        return 0;
    QByteArray whole = parts->message;
    whole.insert(parts->signatureAt, parts->signature);
    if (whole != bytes || parts->signature.contains('\0') ||
        QString::fromUtf8(parts->signature) != info->ReservedText[kSignatureField])
        std::abort();
    IsSignedBy(bytes, ReleaseKeys());
    const std::optional<UpdateInfo> again = ParseUpdateInfo(SerializeUpdateInfo(*info));
    if (!again || again->Name != info->Name || again->Version != info->Version ||
        again->DownloadUrl != info->DownloadUrl || again->FileSize != info->FileSize ||
        again->ReleaseDate != info->ReleaseDate || again->Fingerprint != info->Fingerprint ||
        again->FileName != info->FileName || again->InfoUrl != info->InfoUrl ||
        again->ReservedText != info->ReservedText || again->ReservedNumber != info->ReservedNumber ||
        again->InfoText != info->InfoText)
        std::abort();
    VersionNumber(info->Version);
    FormatByteSize(static_cast<double>(info->FileSize));
    return 0;
}
