#include "HelpWindow.h"
#include "LanguageTable.h"
#include "ScreenFit.h"

#include "AppSettings.h"
#include "HelpPageStore.h"

#include <QShortcut>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

namespace hexaloom {

QString HelpWindow::BuiltInHelpPage()
{
    // The store holds the help page alone, as its first entry.
    const std::optional<Bytes> page = ReadOwnResource(1, HelpPageStore());
    if (!page)
        return {};
    return QString::fromUtf8(reinterpret_cast<const char*>(page->data()), static_cast<qsizetype>(page->size()));
}

HelpWindow::HelpWindow(AppSettings& settings, const QString& page, const LanguageTable* language, QWidget* parent)
    : QWidget(parent, Qt::Window), m_settings(settings), m_view(new QTextBrowser(this))
{
    setObjectName(QStringLiteral("helpWindow"));
    setAttribute(Qt::WA_DeleteOnClose);
    // Closing the main window ends the program even while this window is open.
    setAttribute(Qt::WA_QuitOnClose, false);
    setWindowTitle(MessageText(language, "HelpTitle"));

    m_view->setObjectName(QStringLiteral("helpPage"));
    m_view->setFrameStyle(QFrame::NoFrame);
    // The page never leaves itself, and links open nothing else either.
    m_view->setOpenLinks(false);
    m_view->setOpenExternalLinks(false);
    if (page.isEmpty())
        m_view->setHtml(BuiltInHelpPage());
    else
        m_view->setSource(QUrl::fromLocalFile(page), QTextDocument::HtmlResource);
    m_view->document()->setDocumentMargin(10);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_view);

    connect(new QShortcut(QKeySequence(Qt::Key_Escape), this), &QShortcut::activated, this, &QWidget::close);

    // Read both before the first move or resize stores anything.
    // Wholly on a screen that is there now.
    const bool placed = m_settings.frmHelp_x != kUnsetPosition && m_settings.frmHelp_y != kUnsetPosition;
    const QRect stored = FitStoredGeometry(QRect(placed ? m_settings.frmHelp_x : 0, placed ? m_settings.frmHelp_y : 0,
                                                 m_settings.frmHelp_w, m_settings.frmHelp_h));
    resize(stored.width(), stored.height());
    if (placed)
        move(stored.x(), stored.y());
}

void HelpWindow::moveEvent(QMoveEvent* event)
{
    QWidget::moveEvent(event);
    storeGeometry();
}

void HelpWindow::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    storeGeometry();
}

void HelpWindow::storeGeometry()
{
    // Only the normal state is kept: a maximised window must come back at its own size.
    if (!isVisible() || (windowState() & (Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen)))
        return;
    m_settings.frmHelp_x = x();
    m_settings.frmHelp_y = y();
    m_settings.frmHelp_w = width();
    m_settings.frmHelp_h = height();
}

} // namespace hexaloom
