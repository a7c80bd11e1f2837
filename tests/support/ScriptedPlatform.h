#pragma once
// The platform seam for tests: every call is recorded as one readable line, and requesters and
// questions take their answers, in order, from a script. An exhausted script cancels requesters and
// gives questions their default answer.
#include "Platform.h"

#include <QStringList>

namespace hexaloom {

class ScriptedPlatform : public Platform
{
public:
    // Queues the next answer: a path for a requester ("" cancels), several paths joined by "\n" for the
    // multi-file requester, "yes" or "no" for a question, "save", "discard" or "cancel" for the question
    // before unsaved work would go.
    void Answer(const QString& answer) { m_answers.append(answer); }
    // EscapePressed answers false `polls` times, then true.
    void PressEscapeAfter(int polls) { m_escapeAfter = polls; }
    void SetStartResult(bool started) { m_startResult = started; }
    void SetOpenResult(bool opened) { m_openResult = opened; }

    const QStringList& calls() const { return m_calls; }
    // The calls of one kind, e.g. "Message".
    QStringList callsOf(const QString& name) const;
    // The texts of the messages shown and of the questions asked, in order.
    const QStringList& messageTexts() const { return m_messageTexts; }
    const QStringList& questionTexts() const { return m_questionTexts; }
    int answersLeft() const { return static_cast<int>(m_answers.size()); }
    void clear()
    {
        m_calls.clear();
        m_messageTexts.clear();
        m_questionTexts.clear();
    }

    QString OpenFileRequester(const QString& title, const QString& defaultFile, const QString& pattern,
                              int patternIndex) override;
    QStringList OpenFilesRequester(const QString& title, const QString& defaultFile, const QString& pattern,
                                   int patternIndex) override;
    QString SaveFileRequester(const QString& title, const QString& defaultFile, const QString& pattern,
                              int patternIndex) override;
    QString PathRequester(const QString& title, const QString& initialPath) override;
    void Message(const QString& title, const QString& text, MessageIcon icon) override;
    bool AskYesNo(const QString& title, const QString& text, bool defaultAnswer) override;
    SaveAnswer AskSaveChanges(const QString& title, const QString& text) override;
    // "yes" goes on, "no" cancels; an exhausted script goes on.
    bool WarnProceed(const QString& title, const QString& text, const QString& proceed) override;
    bool StartProgram(const QString& program, const QStringList& arguments) override;
    bool OpenUrl(const QString& url) override;
    bool EscapePressed() override;

private:
    QString next();

    QStringList m_calls;
    QStringList m_messageTexts;
    QStringList m_questionTexts;
    QStringList m_answers;
    int m_escapeAfter = -1;
    bool m_startResult = true;
    bool m_openResult = true;
};

// A text quoted for the call log: "text", with a quote or backslash inside escaped.
QString Quoted(const QString& text);

} // namespace hexaloom
