#pragma once
// The Help window: a resizable view of the current language's help page or the built-in one. Links do
// nothing; Escape closes it. Its normal-state geometry comes from and goes to the settings (frmHelp_*).
#include <QString>
#include <QWidget>

class QTextBrowser;

namespace hexaloom {

class LanguageTable;

struct AppSettings;

class HelpWindow : public QWidget
{
    Q_OBJECT
public:
    // `page` is an HTML file; empty for the built-in help page. Top-level: it does not stay above the
    // main window.
    // `language` names the window; the built-in English without one.
    HelpWindow(AppSettings& settings, const QString& page, const LanguageTable* language = nullptr,
               QWidget* parent = nullptr);

    // The built-in help page; empty when the program's store does not give it.
    static QString BuiltInHelpPage();

protected:
    void moveEvent(QMoveEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void storeGeometry();

    AppSettings& m_settings;
    QTextBrowser* m_view;
};

} // namespace hexaloom
