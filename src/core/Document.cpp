#include "Document.h"

#include "AppSettings.h"
#include "Paths.h"
#include "Settings.h"
#include "Version.h"

#include <algorithm>

namespace hexaloom {

QString ProjectTitle(const QString& projectFile)
{
    // The project's name is its file name less the five characters of ".hxlm".
    return QLatin1String(kAppName) + QStringLiteral(" - ") + projectFile.left(std::max<qsizetype>(0, projectFile.size() - 5));
}

Document::Document(AppSettings& settings, QObject* parent) : QObject(parent), m_settings(settings) {}

void Document::setOutputFormat(int format)
{
    format = ValidOutputFormat(format);
    if (format == m_outputFormat)
        return;
    m_outputFormat = format;
    emit outputFormatChanged(format);
}

QString Document::projectDir() const
{
    return m_settings.projectdir;
}

QString Document::projectFile() const
{
    return m_settings.projectfile;
}

void Document::setProjectPath(const QString& path)
{
    m_settings.projectdir = FolderPart(path);
    m_settings.projectfile = FileNamePart(path);
}

QString Document::windowTitle() const
{
    return m_windowTitle;
}

void Document::setWindowTitle(const QString& title)
{
    if (title == m_windowTitle)
        return;
    m_windowTitle = title;
    emit windowTitleChanged(title);
}

bool Document::saveSettings()
{
    emit aboutToSaveSettings();
    m_settings.lastoutput = static_cast<std::int8_t>(m_outputFormat);
    return SaveSettings(m_settings, m_settingsFilePath);
}

} // namespace hexaloom
