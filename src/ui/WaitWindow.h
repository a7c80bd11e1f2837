#pragma once
// The wait window: a frameless box centred over the main window while long work runs, with the wait
// text, the work's progress and a Cancel button (Escape does the same).
#include <QDialog>

class QLabel;
class QProgressBar;
class QPushButton;

namespace hexaloom {

class WaitWindow : public QDialog
{
    Q_OBJECT
public:
    explicit WaitWindow(QWidget* mainWindow);

    void setText(const QString& text);
    // A range of 0..0 shows that the work goes on without telling how far it is.
    void setProgressRange(int minimum, int maximum);
    void setProgressValue(int value);

signals:
    void cancelRequested();

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    // Escape and the close request stop the work; the window closes when the work has ended.
    void reject() override;

private:
    QLabel* m_text;
    QProgressBar* m_progress;
    QPushButton* m_cancel;
};

} // namespace hexaloom
