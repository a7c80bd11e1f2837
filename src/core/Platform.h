#pragma once
// The one seam to the user and the desktop: requesters, message boxes and questions, starting a
// program, opening a URL and the Escape poll. The window implements it with dialogs, the command-line
// road with the console (ConsolePlatform), tests with a script that records every call.
#include <QString>
#include <QStringList>

namespace hexaloom {

enum class MessageIcon { None, Information, Warning, Error };
enum class SaveAnswer { Save, Discard, Cancel };

class Platform
{
public:
    virtual ~Platform() = default;

    // Patterns are pairs "shown text|pattern;pattern|shown text|pattern"; the index picks the first shown.
    // Each returns an empty text (or list) when the user cancels.
    virtual QString OpenFileRequester(const QString& title, const QString& defaultFile, const QString& pattern,
                                      int patternIndex) = 0;
    virtual QStringList OpenFilesRequester(const QString& title, const QString& defaultFile, const QString& pattern,
                                           int patternIndex) = 0;
    virtual QString SaveFileRequester(const QString& title, const QString& defaultFile, const QString& pattern,
                                      int patternIndex) = 0;
    virtual QString PathRequester(const QString& title, const QString& initialPath) = 0;

    virtual void Message(const QString& title, const QString& text, MessageIcon icon = MessageIcon::None) = 0;
    // A message with a long list: `details` one item a line, shown scrollable where the seam can.
    virtual void MessageWithDetails(const QString& title, const QString& text, const QString& details, MessageIcon icon)
    {
        Message(title, text + QLatin1Char('\n') + details, icon);
    }
    // A Yes/No question; where nobody can answer, `defaultAnswer` is taken.
    virtual bool AskYesNo(const QString& title, const QString& text, bool defaultAnswer) = 0;
    // Save, discard or cancel, before unsaved work would go; where nobody can answer, nothing goes.
    virtual SaveAnswer AskSaveChanges(const QString& /*title*/, const QString& /*text*/) { return SaveAnswer::Cancel; }

    // A warning that offers to go on (the button `proceed`) or to cancel; true goes on. Where nobody can
    // answer it is told and the work goes on.
    virtual bool WarnProceed(const QString& title, const QString& text, const QString& /*proceed*/)
    {
        Message(title, text, MessageIcon::Warning);
        return true;
    }

    // Starts a program without waiting for it.
    virtual bool StartProgram(const QString& program, const QStringList& arguments) = 0;
    virtual bool OpenUrl(const QString& url) = 0;
    // True while the Escape key is held down (stops a long folder scan).
    virtual bool EscapePressed() = 0;
};

} // namespace hexaloom
