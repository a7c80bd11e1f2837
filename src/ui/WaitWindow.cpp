#include "WaitWindow.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace hexaloom {

WaitWindow::WaitWindow(QWidget* mainWindow)
    : QDialog(mainWindow, Qt::Dialog | Qt::FramelessWindowHint), m_text(new QLabel), m_progress(new QProgressBar),
      m_cancel(nullptr)
{
    setObjectName(QStringLiteral("frmWait"));
    // The window never takes the keyboard from the main window (disabled behind it): shown and hidden
    // again within milliseconds, a window that asked for the keyboard got it from the window manager
    // only after it had gone, and the keys then went to the hidden window for good. Escape reaches it
    // through the application instead (eventFilter).
    setAttribute(Qt::WA_ShowWithoutActivating);
    // Without a frame the window needs an edge of its own.
    auto* frame = new QFrame;
    frame->setFrameStyle(QFrame::Panel | QFrame::Raised);
    frame->setLineWidth(2);
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(frame);

    m_text->setObjectName(QStringLiteral("txtWait"));
    m_progress->setObjectName(QStringLiteral("prgWait"));
    m_progress->setTextVisible(false);
    m_progress->setRange(0, 0);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Cancel);
    m_cancel = buttons->button(QDialogButtonBox::Cancel);
    m_cancel->setObjectName(QStringLiteral("btnCancel"));
    connect(buttons, &QDialogButtonBox::rejected, this, &WaitWindow::reject);

    auto* layout = new QVBoxLayout(frame);
    layout->setContentsMargins(10, 10, 10, 8);
    layout->addWidget(m_text);
    layout->addWidget(m_progress);
    layout->addWidget(buttons);
    setFixedWidth(280);
}

void WaitWindow::setText(const QString& text)
{
    m_text->setText(text);
}

void WaitWindow::setProgressRange(int minimum, int maximum)
{
    m_progress->setRange(minimum, maximum);
}

void WaitWindow::setProgressValue(int value)
{
    m_progress->setValue(value);
}

void WaitWindow::showEvent(QShowEvent* event)
{
    m_cancel->setEnabled(true);
    adjustSize();
    if (QWidget* owner = parentWidget())
        move(owner->frameGeometry().center() - rect().center());
    QDialog::showEvent(event);
    qApp->installEventFilter(this);
}

void WaitWindow::hideEvent(QHideEvent* event)
{
    qApp->removeEventFilter(this);
    QDialog::hideEvent(event);
}

bool WaitWindow::eventFilter(QObject* watched, QEvent* event)
{
    // Escape pressed in the main window (or here) stops the work.
    if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
        if (const auto* widget = qobject_cast<QWidget*>(watched);
            widget && (widget->window() == this || widget->window() == parentWidget())) {
            reject();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void WaitWindow::reject()
{
    // Asked once; the work stops at its next step.
    if (!m_cancel->isEnabled())
        return;
    m_cancel->setEnabled(false);
    emit cancelRequested();
}

} // namespace hexaloom
