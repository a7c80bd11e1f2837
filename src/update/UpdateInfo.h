#pragma once
// The update information file the update server publishes, and the small rules around it: the version
// compare, the size and date texts of the update window.
#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <array>
#include <cstdint>
#include <optional>

namespace hexaloom {

// The first four bytes of every update information file (little-endian).
inline constexpr std::uint32_t kUpdateInfoMagic = 0x6F3BC31A;

// Two of the reserved texts carry what older programs ignore and newer ones require: the SHA-256 of the
// download (64 lower-case hex digits) and the Ed25519 signature of the file (128 lower-case hex digits).
inline constexpr std::size_t kSha256Field = 0;
inline constexpr std::size_t kSignatureField = 1;

// The fields of the file in their order; the texts are UTF-8 ended by a 0 byte, the numbers
// little-endian. InfoText is whatever follows the last number: an RTF text.
struct UpdateInfo
{
    QString Name;
    QString Version; // major.minor.build
    QString DownloadUrl;
    std::int64_t FileSize = 0;
    std::uint32_t ReleaseDate = 0; // seconds since 1970-01-01 00:00:00, shown as it is (no time zone)
    QString Fingerprint;           // MD5 of the file, 32 lower-case hex digits
    QString FileName;              // name of the downloaded file, no folder
    QString InfoUrl;
    std::array<QString, 3> ReservedText;
    std::array<std::uint32_t, 3> ReservedNumber{};
    QByteArray InfoText; // empty: none
};

// Reads the fields from `block`, which must start with kUpdateInfoMagic; nothing otherwise. The block is
// read as if zero bytes followed it, so a field cut off by its end reads as far as the block goes and
// every later field as empty text or zero: nothing is ever read past the block.
std::optional<UpdateInfo> ParseUpdateInfo(QByteArrayView block);
// The file that ParseUpdateInfo reads back as `info`.
QByteArray SerializeUpdateInfo(const UpdateInfo& info);

// An information file taken apart for its signature: `message` is every byte of the file except the
// signature's text (its 0 byte stays), `signature` that text as it stands, starting at `signatureAt` in
// the file. Nothing without the magic.
struct SignedParts
{
    QByteArray message;
    QByteArray signature;
    qsizetype signatureAt = 0;
};
std::optional<SignedParts> SplitSignature(QByteArrayView block);

// Orders versions: the first three "."-separated fields right-aligned in 2, 2 and 3 digits ("0"-filled,
// a longer field cut to its leftmost digits), joined and read as a decimal number ("1.6.6" gives 106006).
int VersionNumber(const QString& version);
// "0" for sizes up to 0; else two decimals and a unit: "512.00 Byte", "1.50 KByte", up to "TByte".
QString FormatByteSize(double size);
// "dd.mm.yyyy hh:mm" of the release date, without time-zone conversion.
QString FormatReleaseDate(std::uint32_t seconds);
// The update window offers its Info button only for a web page given with "http://" (in any case).
bool HasInfoButton(const QString& infoUrl);

} // namespace hexaloom
