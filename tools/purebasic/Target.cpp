#include "Target.h"

#include <QRegularExpression>
#include <QStringList>

namespace hexaloom::pbrun {

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
    // The ports and their first versions, from PureBasic's history: 4.00 the oldest we run (the
    // language of the generated code), Windows x64 and macOS x86 from 4.30, Linux x64 from 4.40,
    // macOS x64 from 5.00, arm64 (Raspberry and Apple M1) from 6.00. ASCII mode ended with 5.50.
    if (version < 400 || version > 699)
        return QStringLiteral("pbrun runs PureBasic 4.00 to 6.x");
    if (!unicode && version >= 550)
        return QStringLiteral("PureBasic has no ASCII mode from 5.50 on");
    switch (cpu) {
    case Cpu::X86:
        if (os == Os::MacOS && version < 430)
            return QStringLiteral("PureBasic for macOS on x86 came with 4.30");
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
