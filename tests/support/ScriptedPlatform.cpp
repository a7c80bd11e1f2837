#include "ScriptedPlatform.h"

namespace hexaloom {

QString Quoted(const QString& text)
{
    QString escaped = text;
    escaped.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    escaped.replace(QLatin1Char('"'), QStringLiteral("\\\""));
    return QLatin1Char('"') + escaped + QLatin1Char('"');
}

namespace {
QString IconName(MessageIcon icon)
{
    switch (icon) {
    case MessageIcon::Information:
        return QStringLiteral("Information");
    case MessageIcon::Warning:
        return QStringLiteral("Warning");
    case MessageIcon::Error:
        return QStringLiteral("Error");
    case MessageIcon::None:
        break;
    }
    return QStringLiteral("None");
}

QString RequesterLine(const char* name, const QString& title, const QString& defaultFile, const QString& pattern,
                      int patternIndex)
{
    return QString::fromLatin1(name) + QStringLiteral("(%1, %2, %3, %4)")
                                           .arg(Quoted(title), Quoted(defaultFile), Quoted(pattern))
                                           .arg(patternIndex);
}
} // namespace

QStringList ScriptedPlatform::callsOf(const QString& name) const
{
    QStringList result;
    for (const QString& call : m_calls)
        if (call.startsWith(name + QLatin1Char('(')))
            result.append(call);
    return result;
}

QString ScriptedPlatform::next()
{
    return m_answers.isEmpty() ? QString() : m_answers.takeFirst();
}

QString ScriptedPlatform::OpenFileRequester(const QString& title, const QString& defaultFile, const QString& pattern,
                                            int patternIndex)
{
    const QString answer = next();
    m_calls.append(RequesterLine("OpenFileRequester", title, defaultFile, pattern, patternIndex) + " -> " +
                   Quoted(answer));
    return answer;
}

QStringList ScriptedPlatform::OpenFilesRequester(const QString& title, const QString& defaultFile,
                                                 const QString& pattern, int patternIndex)
{
    const QString answer = next();
    m_calls.append(RequesterLine("OpenFilesRequester", title, defaultFile, pattern, patternIndex) + " -> " +
                   Quoted(answer));
    return answer.isEmpty() ? QStringList() : answer.split(QLatin1Char('\n'));
}

QString ScriptedPlatform::SaveFileRequester(const QString& title, const QString& defaultFile, const QString& pattern,
                                            int patternIndex)
{
    const QString answer = next();
    m_calls.append(RequesterLine("SaveFileRequester", title, defaultFile, pattern, patternIndex) + " -> " +
                   Quoted(answer));
    return answer;
}

QString ScriptedPlatform::PathRequester(const QString& title, const QString& initialPath)
{
    const QString answer = next();
    m_calls.append(
        QStringLiteral("PathRequester(%1, %2) -> %3").arg(Quoted(title), Quoted(initialPath), Quoted(answer)));
    return answer;
}

void ScriptedPlatform::Message(const QString& title, const QString& text, MessageIcon icon)
{
    m_messageTexts.append(text);
    m_calls.append(QStringLiteral("Message(%1, %2, %3)").arg(Quoted(title), Quoted(text), IconName(icon)));
}

bool ScriptedPlatform::AskYesNo(const QString& title, const QString& text, bool defaultAnswer)
{
    m_questionTexts.append(text);
    bool result = defaultAnswer;
    if (!m_answers.isEmpty())
        result = next().compare(QLatin1String("yes"), Qt::CaseInsensitive) == 0;
    m_calls.append(QStringLiteral("AskYesNo(%1, %2, %3) -> %4")
                       .arg(Quoted(title), Quoted(text), defaultAnswer ? QStringLiteral("yes") : QStringLiteral("no"),
                            result ? QStringLiteral("yes") : QStringLiteral("no")));
    return result;
}

SaveAnswer ScriptedPlatform::AskSaveChanges(const QString& title, const QString& text)
{
    m_questionTexts.append(text);
    const QString answer = m_answers.isEmpty() ? QStringLiteral("cancel") : next().toLower();
    m_calls.append(QStringLiteral("AskSaveChanges(%1, %2) -> %3").arg(Quoted(title), Quoted(text), answer));
    if (answer == QLatin1String("save"))
        return SaveAnswer::Save;
    return answer == QLatin1String("discard") ? SaveAnswer::Discard : SaveAnswer::Cancel;
}

bool ScriptedPlatform::WarnProceed(const QString& title, const QString& text, const QString& proceed)
{
    m_questionTexts.append(text);
    const bool result = m_answers.isEmpty() || next().compare(QLatin1String("yes"), Qt::CaseInsensitive) == 0;
    m_calls.append(
        QStringLiteral("WarnProceed(%1, %2, %3) -> %4")
            .arg(Quoted(title), Quoted(text), Quoted(proceed), result ? QStringLiteral("yes") : QStringLiteral("no")));
    return result;
}

bool ScriptedPlatform::StartProgram(const QString& program, const QStringList& arguments)
{
    QStringList quoted;
    for (const QString& argument : arguments)
        quoted.append(Quoted(argument));
    m_calls.append(QStringLiteral("StartProgram(%1, [%2])").arg(Quoted(program), quoted.join(QStringLiteral(", "))));
    return m_startResult;
}

bool ScriptedPlatform::OpenUrl(const QString& url)
{
    m_calls.append(QStringLiteral("OpenUrl(%1)").arg(Quoted(url)));
    return m_openResult;
}

bool ScriptedPlatform::EscapePressed()
{
    // Polls are frequent; only the one that reports the key is worth a line.
    if (m_escapeAfter < 0)
        return false;
    if (m_escapeAfter > 0) {
        --m_escapeAfter;
        return false;
    }
    m_calls.append(QStringLiteral("EscapePressed() -> yes"));
    return true;
}

} // namespace hexaloom
