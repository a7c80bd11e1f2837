#pragma once
// A platform seam that answers from fields and records what was asked.
#include "Platform.h"

#include <QStringList>

namespace hexaloom::test {

class RecordingPlatform : public Platform
{
public:
    QString savePath;         // the requester's answer; empty cancels
    bool answer = true;       // the answer to every question
    QStringList messages;     // texts of Message calls
    QStringList questions;    // texts of AskYesNo calls
    QStringList requests;     // "defaultFile|pattern" of every save requester

    QString OpenFileRequester(const QString&, const QString&, const QString&, int) override { return {}; }
    QStringList OpenFilesRequester(const QString&, const QString&, const QString&, int) override { return {}; }
    QString SaveFileRequester(const QString&, const QString& defaultFile, const QString& pattern, int) override
    {
        requests.append(defaultFile + QLatin1Char('|') + pattern);
        return savePath;
    }
    QString PathRequester(const QString&, const QString&) override { return {}; }
    void Message(const QString&, const QString& text, MessageIcon) override { messages.append(text); }
    bool AskYesNo(const QString&, const QString& text, bool) override
    {
        questions.append(text);
        return answer;
    }
    bool StartProgram(const QString&, const QStringList&) override { return false; }
    bool OpenUrl(const QString&) override { return false; }
    bool EscapePressed() override { return false; }
};

} // namespace hexaloom::test
