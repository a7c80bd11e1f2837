#include "AboutWindow.h"

#include "LanguageTable.h"
#include "OwnResourceStore.h"
#include "Platform.h"
#include "ProgramInfo.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QShortcut>
#include <QTextBrowser>
#include <QVBoxLayout>

#include <algorithm>

namespace hexaloom {

namespace {
// Index of about.html in the program's store.
constexpr int kAboutPageIndex = 21;
// The page's own description, replaced by the language's.
constexpr char kAboutEnglish[] =
    "Packs the files a PureBasic program needs at run time<br>into one include or resource file.";
} // namespace

QString AboutWindow::AboutPage()
{
    const std::optional<Bytes> page = ReadOwnResource(kAboutPageIndex, OwnResourceStore());
    if (!page)
        return {};
    QString html = QString::fromUtf8(reinterpret_cast<const char*>(page->data()), static_cast<qsizetype>(page->size()));
    html.replace(QLatin1String("##APPTITLE##"), QLatin1String(kAppName));
    html.replace(QLatin1String("##APPVERSION##"), QLatin1String(kAppVersion));
    html.replace(QLatin1String("##APPYEAR##"), QLatin1String(kAppYear));
    return html;
}

AboutWindow::AboutWindow(QWidget* parent, Platform& platform, const LanguageTable& language, const QPixmap& logo,
                         const QPixmap& donate)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("aboutWindow"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(language.LanguageText(QStringLiteral("MenuItem"), QStringLiteral("About")).remove(QLatin1Char('&')) +
                   QLatin1Char(' ') + QLatin1String(kAppName));
    setFixedSize(400, 300);

    auto* logoLabel = new QLabel(this);
    logoLabel->setObjectName(QStringLiteral("logo"));
    logoLabel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    logoLabel->setFixedSize(380, 60);
    logoLabel->setAlignment(Qt::AlignCenter);
    if (!logo.isNull()) {
        // The pictures carry no words: the subtitle and the donate button's word are drawn in the
        // chosen language.
        QPixmap band = logo.scaled(377, 57, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        QPainter painter(&band);
        QFont font(QStringLiteral("Liberation Sans"));
        font.setPixelSize(12);
        painter.setFont(font);
        painter.setPen(QColor(0x4e, 0x5a, 0x52));
        const QRect line(66, 36, 305, 18);
        painter.drawText(
            line, Qt::AlignLeft | Qt::AlignVCenter,
            QFontMetrics(font).elidedText(MessageText(&language, "AboutSubtitle"), Qt::ElideRight, line.width()));
        painter.end();
        logoLabel->setPixmap(band);
    }

    auto* pageFrame = new QFrame(this);
    pageFrame->setFrameStyle(QFrame::Box | QFrame::Plain);
    auto* page = new QTextBrowser(pageFrame);
    page->setObjectName(QStringLiteral("aboutPage"));
    page->setFrameStyle(QFrame::NoFrame);
    // Links go to the system browser; the page itself never navigates away.
    page->setOpenLinks(false);
    page->setOpenExternalLinks(false);
    QString html = AboutPage();
    // The page's words in the chosen language.
    html.replace(QStringLiteral("Version ") + QLatin1String(kAppVersion),
                 MessageText(&language, "AboutVersion").arg(QLatin1String(kAppVersion)));
    html.replace(QLatin1String(kAboutEnglish), MessageText(&language, "AboutText"));
    if (!html.isEmpty()) {
        page->setHtml(html);
        connect(page, &QTextBrowser::anchorClicked, this,
                [&platform](const QUrl& url) { platform.OpenUrl(url.toString()); });
    }
    auto* frameLayout = new QVBoxLayout(pageFrame);
    frameLayout->setContentsMargins(1, 1, 1, 1);
    frameLayout->addWidget(page);

    auto* donateButton = new QPushButton(this);
    donateButton->setObjectName(QStringLiteral("donateButton"));
    donateButton->setToolTip(MessageText(&language, "AboutDonate"));
    donateButton->setMinimumSize(60, 20);
    donateButton->setFlat(true);
    donateButton->setAutoDefault(false);
    if (!donate.isNull()) {
        QFont font(QStringLiteral("Liberation Sans"));
        font.setPixelSize(11);
        font.setBold(true);
        const QString word = MessageText(&language, "AboutDonateButton");
        // The plain band widens for a longer word.
        QPixmap face = donate.scaled(std::max(donate.width(), QFontMetrics(font).horizontalAdvance(word) + 12),
                                     donate.height(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        QPainter painter(&face);
        painter.setFont(font);
        painter.setPen(QColor(0x2e, 0x34, 0x36));
        painter.drawText(face.rect(), Qt::AlignCenter, word);
        painter.end();
        donateButton->setIcon(QIcon(face));
        donateButton->setIconSize(face.size());
        donateButton->setAccessibleName(word);
    }
    connect(donateButton, &QPushButton::clicked, this,
            [&platform] { platform.OpenUrl(QString::fromLatin1(kProjectWebPage)); });

    auto* okButton = new QPushButton(MessageText(&language, "AboutOk"), this);
    okButton->setObjectName(QStringLiteral("okButton"));
    okButton->setDefault(true);
    okButton->setMinimumWidth(60);
    connect(okButton, &QPushButton::clicked, this, &QWidget::close);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(donateButton);
    buttons->addStretch();
    buttons->addWidget(okButton);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(10, 10, 10, 10);
    layout->addWidget(logoLabel);
    layout->addWidget(pageFrame, 1);
    layout->addLayout(buttons);

    for (const Qt::Key key : {Qt::Key_Escape, Qt::Key_Return, Qt::Key_Enter})
        connect(new QShortcut(QKeySequence(key), this), &QShortcut::activated, this, &QWidget::close);
    okButton->setFocus();
}

} // namespace hexaloom
