#include "ConsolePlatform.h"

#include <QProcess>
#include <QUrl>

#include <cstdio>

namespace hexaloom {

ConsolePlatform::ConsolePlatform(FILE* err) : m_err(err ? err : stderr) {}

QString ConsolePlatform::OpenFileRequester(const QString&, const QString&, const QString&, int)
{
    return {};
}

QStringList ConsolePlatform::OpenFilesRequester(const QString&, const QString&, const QString&, int)
{
    return {};
}

QString ConsolePlatform::SaveFileRequester(const QString&, const QString&, const QString&, int)
{
    return {};
}

QString ConsolePlatform::PathRequester(const QString&, const QString&)
{
    return {};
}

void ConsolePlatform::Message(const QString& title, const QString& text, MessageIcon icon)
{
    QString prefix = title.isEmpty() ? QString() : title + QStringLiteral(": ");
    if (icon == MessageIcon::Error)
        prefix += QStringLiteral("error: ");
    else if (icon == MessageIcon::Warning)
        prefix += QStringLiteral("warning: ");
    // Texts may carry line breaks; indent the continuation so each message stays one block.
    QString body = text;
    body.replace(QLatin1Char('\n'), QStringLiteral("\n    "));
    Print(prefix + body);
}

bool ConsolePlatform::AskYesNo(const QString& title, const QString& text, bool defaultAnswer)
{
    Message(title, text + (defaultAnswer ? QStringLiteral(" [yes]") : QStringLiteral(" [no]")), MessageIcon::None);
    return defaultAnswer;
}

bool ConsolePlatform::StartProgram(const QString& program, const QStringList& arguments)
{
    return QProcess::startDetached(program, arguments);
}

bool ConsolePlatform::OpenUrl(const QString& url)
{
    // Without a desktop session there is nothing to show the page; say where it is instead.
    Print(QStringLiteral("see ") + QUrl(url).toString());
    return false;
}

bool ConsolePlatform::EscapePressed()
{
    return false;
}

void ConsolePlatform::Print(const QString& line)
{
    const QByteArray bytes = line.toLocal8Bit();
    std::fprintf(m_err, "%s\n", bytes.constData());
    std::fflush(m_err);
}

} // namespace hexaloom
