#include "Target.h"

#include <QRegularExpression>
#include <QStringList>

#include <algorithm>
#include <iterator>

namespace hexaloom::pbrun {

namespace {

QString VersionName(int version)
{
    return QStringLiteral("%1.%2").arg(version / 100).arg(version % 100, 2, 10, QLatin1Char('0'));
}

// The releases from 4.00 (the oldest the generated code is written for) on, as the sections of
// PureBasic's history name them: nothing between them was released.
const int kReleases[] = {400, 401, 402, 410, 420, 430, 431, 440, 441, 450, 451, 460, 461, 500, 510, 511,
                         520, 521, 522, 523, 524, 530, 531, 540, 541, 542, 543, 544, 545, 546, 550, 551,
                         560, 561, 562, 570, 571, 572, 573, 600, 601, 602, 603, 604, 610, 611, 612};

QString Releases()
{
    QStringList names;
    for (int v : kReleases)
        names << VersionName(v);
    return names.join(QStringLiteral(", "));
}

} // namespace

QString Target::name() const
{
    const char* osName = os == Os::Windows ? "windows" : os == Os::Linux ? "linux" : "macos";
    const char* cpuName = cpu == Cpu::X86 ? "x86" : cpu == Cpu::X64 ? "x64" : "arm64";
    return QStringLiteral("%1.%2-%3-%4-%5")
        .arg(version / 100)
        .arg(version % 100, 2, 10, QLatin1Char('0'))
        .arg(QLatin1String(osName), QLatin1String(cpuName), QLatin1String(unicode ? "unicode" : "ascii"));
}

QString Target::Validate() const
{
    // The ports and their first versions, from PureBasic's history: Windows x64 ("Full 64-bit version
    // of PureBasic (Windows)") and macOS x86 ("MacOS X x86 support") from 4.30, Linux x64 from 4.40,
    // macOS x64 from 5.00, arm64 ("Apple M1 support", "Raspberry support (32-bit and 64-bit)") from 6.00,
    // which also removed the "x86 version of PureBasic for OS X". ASCII mode ended with 5.50.
    if (std::find(std::begin(kReleases), std::end(kReleases), version) == std::end(kReleases))
        return QStringLiteral("PureBasic had no version %1; pbrun runs %2").arg(VersionName(version), Releases());
    if (!unicode && version >= 550)
        return QStringLiteral("PureBasic has no ASCII mode from 5.50 on");
    const QString forMac = version >= 600   ? QStringLiteral("x64 and arm64")
                           : version >= 500 ? QStringLiteral("x86 and x64")
                           : version >= 430 ? QStringLiteral("x86")
                                            : QStringLiteral("no processor pbrun runs (PowerPC only)");
    switch (cpu) {
    case Cpu::X86:
        if (os == Os::MacOS && version < 430)
            return QStringLiteral("PureBasic for macOS on x86 came with 4.30");
        if (os == Os::MacOS && version >= 600)
            return QStringLiteral("PureBasic 6.00 removed the x86 version for macOS; %1 for macOS is %2")
                .arg(VersionName(version), forMac);
        break;
    case Cpu::X64:
        if (os == Os::Windows && version < 430)
            return QStringLiteral("PureBasic for Windows x64 came with 4.30");
        if (os == Os::Linux && version < 440)
            return QStringLiteral("PureBasic for Linux x64 came with 4.40");
        if (os == Os::MacOS && version < 500)
            return QStringLiteral("PureBasic for macOS x64 came with 5.00");
        break;
    case Cpu::Arm64:
        if (os == Os::Windows)
            return QStringLiteral("PureBasic has no Windows arm64 version");
        if (version < 600)
            return QStringLiteral("PureBasic for arm64 came with 6.00");
        break;
    }
    return {};
}

std::optional<Target> Target::Parse(const QString& text, QString* error)
{
    static const QRegularExpression form(
        QStringLiteral("^(\\d)\\.(\\d\\d)-(windows|linux|macos)-(x86|x64|arm64)-(unicode|ascii)$"),
        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = form.match(text);
    if (!m.hasMatch()) {
        if (error)
            *error = QStringLiteral("target \"%1\" is not of the form 6.12-windows-x64-unicode").arg(text);
        return std::nullopt;
    }
    Target t;
    t.version = m.captured(1).toInt() * 100 + m.captured(2).toInt();
    const QString os = m.captured(3).toLower();
    t.os = os == u"windows" ? Os::Windows : os == u"linux" ? Os::Linux : Os::MacOS;
    const QString cpu = m.captured(4).toLower();
    t.cpu = cpu == u"x86" ? Cpu::X86 : cpu == u"x64" ? Cpu::X64 : Cpu::Arm64;
    t.unicode = m.captured(5).compare(u"unicode", Qt::CaseInsensitive) == 0;
    const QString why = t.Validate();
    if (!why.isEmpty()) {
        if (error)
            *error = QStringLiteral("target %1: %2").arg(text, why);
        return std::nullopt;
    }
    return t;
}

} // namespace hexaloom::pbrun
