#include "Startup.h"

#include "ConsolePlatform.h"
#include "CreateOutput.h"
#include "Document.h"
#include "Paths.h"
#include "Platform.h"
#include "ProjectCommands.h"
#include "Version.h"

#include <QDir>
#include <QFileInfo>

namespace hexaloom {

namespace {
QString FormatName(int format)
{
    switch (format) {
    case OutputResource:
        return QStringLiteral("resource file");
    case OutputHexdata:
        return QStringLiteral("hexdata include");
    case OutputBinpack:
        return QStringLiteral("binpack include");
    default:
        return QStringLiteral("format %1").arg(format);
    }
}
} // namespace

QString LanguageFolder(const QString& programDir)
{
    const QString beside = WithSeparator(WithSeparator(programDir) + QStringLiteral("lang"));
    const QString installed =
        WithSeparator(QDir::cleanPath(WithSeparator(programDir) + QStringLiteral("../share/hexaloom/lang")));
    return QFileInfo(beside).isDir() || !QFileInfo(installed).isDir() ? beside : installed;
}

QString LanguageFilePath(const QString& programDir, const QString& language)
{
    // With no language chosen there is no file to read, not even one called ".lng".
    if (language.isEmpty())
        return {};
    return LanguageFolder(programDir) + language + QStringLiteral(".lng");
}

QStringList ListLanguageNames(const QString& programDir)
{
    QStringList names;
    const QDir dir(LanguageFolder(programDir));
    // Case-sensitive, so every name listed is one that LanguageFilePath finds again; a file named just
    // ".lng" would stand for English, which needs no file.
    const QFileInfoList files =
        dir.entryInfoList({QStringLiteral("*.lng")}, QDir::Files | QDir::CaseSensitive, QDir::Name);
    for (const QFileInfo& file : files)
        if (file.fileName().size() > 4)
            names.append(file.fileName().chopped(4));
    return names;
}

void PrepareStartup(StartupState& state, const QString& programPath, const QStringList& parameters,
                    const DisplayInfo& display)
{
    state.programPath = programPath;
    state.programDir = WithSeparator(QFileInfo(programPath).absolutePath());
    // Relative names (lang/, a portable settings file, names on the command line) mean the program's folder.
    QDir::setCurrent(state.programDir);

    state.commandLine = ParseParameters(parameters);
    state.settings.portable = state.commandLine.portable;
    state.settings.ignorepos = state.commandLine.ignorepos;
    state.settings.projectdir = state.commandLine.projectdir;
    state.settings.projectfile = state.commandLine.projectfile;

    state.settingsPath = SettingsFilePath(state.settings, state.programDir);
    QString error;
    if (!LoadSettings(state.settings, state.settingsPath, display, &error))
        state.settingsProblem = QStringLiteral("The settings file \"%1\" could not be read: %2\nThe default settings "
                                               "are used, and the file is left as it is: settings changed now "
                                               "are not saved.")
                                    .arg(state.settingsPath, error);
    if (state.settings.ignorepos) {
        state.settings.frmMain_x = kUnsetPosition;
        state.settings.frmMain_y = kUnsetPosition;
    }
    state.language.LoadLanguage(LanguageFilePath(state.programDir, state.settings.language));
    state.languageNames = ListLanguageNames(state.programDir);
}

void TellStartupProblems(StartupState& state, Platform& platform)
{
    if (state.settingsProblem.isEmpty())
        return;
    platform.Message(QLatin1String(kAppName), state.settingsProblem, MessageIcon::Warning);
    state.settingsProblem.clear();
}

bool WantsSilentRoad(const StartupState& state)
{
    // Without a project it still ends on the console, not in a window that a build would wait for.
    return !state.commandLine.silentoutput.isEmpty();
}

QString ProjectToOpen(const CommandLine& line)
{
    if (!line.projectfile.isEmpty())
        return QDir::toNativeSeparators(line.projectdir + line.projectfile);
    // Named but not readable: opening it says why.
    return line.unreadableProject.isEmpty()
               ? QString()
               : QDir::toNativeSeparators(QFileInfo(line.unreadableProject).absoluteFilePath());
}

int RunSilent(StartupState& state, Platform& platform)
{
    Document document(state.settings);
    document.setSettingsFilePath(state.settingsPath);
    document.setProgramPath(state.programPath);
    document.setOutputFormat(state.settings.lastoutput);

    const QString project = ProjectToOpen(state.commandLine);
    if (project.isEmpty()) {
        platform.Message(QLatin1String(kAppName),
                         QStringLiteral("/CREATESILENT= needs a project file (*.hxlm); none was named; nothing "
                                        "was written."),
                         MessageIcon::Error);
        return 1;
    }
    // Opening names the project and says what is wrong with it; the message of an unreadable one carries
    // the system's reason too.
    const OpenProjectReport report = OpenProject(document, platform, project);
    if (report.result != OpenProjectResult::Loaded) {
        const bool told = report.result == OpenProjectResult::Unreadable || report.reason.isEmpty();
        platform.Message(QLatin1String(kAppName),
                         told ? QStringLiteral("nothing was written.")
                              : QStringLiteral("nothing was written (%1).").arg(report.reason),
                         MessageIcon::Error);
        return 1;
    }

    const FileListModel& model = document.model();
    platform.Message(QLatin1String(kAppName),
                     QStringLiteral("loaded \"%1\": %2 file(s), %3, output \"%4\"")
                         .arg(project)
                         .arg(model.rowCount())
                         .arg(FormatName(document.outputFormat()), state.commandLine.silentoutput),
                     MessageIcon::None);
    for (int row = 0; row < model.rowCount(); ++row) {
        platform.Message(QString(),
                         QStringLiteral("  %1  %2  %3  %4")
                             .arg(model.CellText(FileListModel::NumberColumn, row), 4)
                             .arg(model.CellText(FileListModel::PackerColumn, row), -6)
                             .arg(model.CellText(FileListModel::SizeColumn, row), 10)
                             .arg(model.CellText(FileListModel::PathColumn, row)),
                         MessageIcon::None);
    }
    CreateOptions options;
    options.language = &state.language;
    // Packed as the window would pack the list.
    options.level = PackLevel(state.settings);
    const CreateResult created = CreateOutput(document, platform, state.commandLine.silentoutput, options);
    if (created.status == CreateStatus::Written || created.status == CreateStatus::MissingFiles)
        platform.Message(QLatin1String(kAppName), QStringLiteral("wrote \"%1\"").arg(created.path),
                         MessageIcon::None);
    return report.missing == 0 && created.status == CreateStatus::Written ? 0 : 1;
}

} // namespace hexaloom
