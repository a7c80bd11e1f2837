#pragma once
// The About window: the logo, the About page from the program's store with its title, version and year
// filled in, a donate button and Ok. Links in the page open in the system browser; the page stays.
// Not modal; Escape and Return close it.
#include <QDialog>
#include <QPixmap>
#include <QString>

namespace hexaloom {

class LanguageTable;
class Platform;

class AboutWindow : public QDialog
{
    Q_OBJECT
public:
    AboutWindow(QWidget* parent, Platform& platform, const LanguageTable& language, const QPixmap& logo,
                const QPixmap& donate);

    // The About page with its placeholders replaced; empty when the store does not give it.
    static QString AboutPage();
};

} // namespace hexaloom
