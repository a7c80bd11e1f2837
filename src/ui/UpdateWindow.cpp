#include "UpdateWindow.h"

#include "LanguageTable.h"
#include "Platform.h"
#include "RtfReader.h"
#include "UpdateInfo.h"
#include "UpdateService.h"

#include <QDir>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTextBrowser>

namespace hexaloom {

UpdateWindow::UpdateWindow(QWidget* parent, UpdateService& service, Platform& platform, const LanguageTable& language,
                           const UpdateInfo& info)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("updateWindow"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(language.LanguageText(QStringLiteral("Messages"), QStringLiteral("NewUpdate")));
    setFixedSize(300, 350);

    auto* fields = new QGridLayout;
    fields->setColumnMinimumWidth(0, 100);
    fields->setColumnStretch(1, 1);
    const auto addField = [this, fields, &language](const char* key, const char* name, const QString& text) {
        const int row = fields->rowCount();
        fields->addWidget(new QLabel(MessageText(&language, key), this), row, 0);
        auto* field = new QLineEdit(text, this);
        field->setObjectName(QLatin1String(name));
        field->setReadOnly(true);
        field->setCursorPosition(0);
        fields->addWidget(field, row, 1);
    };
    addField("UpdateName", "nameField", info.Name);
    addField("UpdateVersion", "versionField", info.Version);
    addField("UpdateDate", "releaseDateField", FormatReleaseDate(info.ReleaseDate));
    addField("UpdateSize", "fileSizeField", FormatByteSize(static_cast<double>(info.FileSize)));

    auto* infoText = new QTextBrowser(this);
    infoText->setObjectName(QStringLiteral("infoText"));
    infoText->setOpenLinks(false);
    infoText->setLineWrapMode(QTextEdit::WidgetWidth);
    if (!info.InfoText.isEmpty())
        infoText->setHtml(RtfToHtml(info.InfoText));

    auto* downloadButton = new QPushButton(MessageText(&language, "UpdateDownload"), this);
    downloadButton->setObjectName(QStringLiteral("downloadButton"));
    downloadButton->setDefault(true);
    // A download started from an earlier window is still writing the same file.
    downloadButton->setEnabled(!service.isDownloading());
    connect(downloadButton, &QPushButton::clicked, this, [&service, downloadButton] {
        if (service.StartDownload())
            downloadButton->setEnabled(false);
    });
    connect(&service, &UpdateService::downloadFinished, downloadButton,
            [downloadButton] { downloadButton->setEnabled(true); });

    auto* closeButton = new QPushButton(MessageText(&language, "UpdateClose"), this);
    closeButton->setObjectName(QStringLiteral("closeButton"));
    closeButton->setAutoDefault(false);
    connect(closeButton, &QPushButton::clicked, this, &QWidget::close);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(downloadButton);
    buttons->addStretch();
    if (HasInfoButton(info.InfoUrl)) {
        auto* infoButton = new QPushButton(MessageText(&language, "UpdateInfo"), this);
        infoButton->setObjectName(QStringLiteral("infoButton"));
        infoButton->setAutoDefault(false);
        connect(infoButton, &QPushButton::clicked, this, [&platform, url = info.InfoUrl] { platform.OpenUrl(url); });
        buttons->addWidget(infoButton);
        buttons->addStretch();
    }
    buttons->addWidget(closeButton);

    auto* progress = new QProgressBar(this);
    progress->setObjectName(QStringLiteral("progressBar"));
    progress->setRange(0, 100);
    progress->setValue(0);
    progress->setTextVisible(false);
    connect(&service, &UpdateService::downloadProgress, progress, &QProgressBar::setValue);
    // Where the new version went, once it is there.
    auto* saved = new QLabel(this);
    saved->setObjectName(QStringLiteral("savedLabel"));
    saved->setTextInteractionFlags(Qt::TextSelectableByMouse);
    saved->hide();
    connect(&service, &UpdateService::downloadFinished, saved, [saved, &service, &language](bool ok) {
        if (!ok)
            return;
        saved->setText(MessageText(&language, "DownloadSaved")
                           .arg(QDir::toNativeSeparators(service.downloadPath(service.updateInfo()))));
        saved->show();
    });

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(5, 5, 5, 5);
    layout->setSpacing(4);
    layout->addLayout(fields);
    layout->addWidget(new QLabel(MessageText(&language, "UpdateInfoText"), this));
    layout->addWidget(infoText, 1);
    layout->addLayout(buttons);
    layout->addWidget(progress);
    layout->addWidget(saved);
}

} // namespace hexaloom
