#pragma once
// The platform seam for the command-line road: no display, nobody to answer. Messages go to stderr,
// questions take their default answer and requesters are cancelled.
#include "Platform.h"

#include <cstdio>

namespace hexaloom {

class ConsolePlatform : public Platform
{
public:
    // `err` receives the messages; stderr when null.
    explicit ConsolePlatform(FILE* err = nullptr);

    QString OpenFileRequester(const QString& title, const QString& defaultFile, const QString& pattern,
                              int patternIndex) override;
    QStringList OpenFilesRequester(const QString& title, const QString& defaultFile, const QString& pattern,
                                   int patternIndex) override;
    QString SaveFileRequester(const QString& title, const QString& defaultFile, const QString& pattern,
                              int patternIndex) override;
    QString PathRequester(const QString& title, const QString& initialPath) override;
    void Message(const QString& title, const QString& text, MessageIcon icon) override;
    bool AskYesNo(const QString& title, const QString& text, bool defaultAnswer) override;
    bool StartProgram(const QString& program, const QStringList& arguments) override;
    bool OpenUrl(const QString& url) override;
    bool EscapePressed() override;

    // Prints one line as the messages are printed.
    void Print(const QString& line);

private:
    FILE* m_err;
};

} // namespace hexaloom
