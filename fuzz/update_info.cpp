// Property: any bytes parse as an update information file exactly when they begin with its magic, and
// what is read survives being written and read again unchanged.
#include "UpdateInfo.h"

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
    if (!info)
        return 0;
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
