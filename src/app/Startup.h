#pragma once
// Start-up without windows: working folder, command line, settings, language and the list of languages;
// and the silent road, which loads the project named on the command line and turns it into output.
#include "AppSettings.h"
#include "CommandLine.h"
#include "LanguageTable.h"
#include "Settings.h"
#include "UpdateSignature.h"

#include <QString>
#include <QStringList>

#include <vector>

namespace hexaloom {

class Platform;

// The program-wide records, owned by the application and passed by reference.
struct StartupState
{
    QString programPath; // the executable
    QString programDir;  // its folder, with a trailing separator
    CommandLine commandLine;
    AppSettings settings;
    QString settingsPath;
    QString settingsProblem; // why the settings file was not read; told once on the interactive road
    LanguageTable language;
    QStringList languageNames; // names of lang/*.lng without the extension
    // The keys the update check trusts: the ones this build carries. Nothing the program reads (settings,
    // files, command line) changes them; tests that sign with keys of their own put those here.
    std::vector<UpdatePublicKey> updateKeys{ReleaseKeys().begin(), ReleaseKeys().end()};
};

// The folder of the language files: lang/ in the program's folder (a copied or portable program), else
// share/hexaloom/lang/ beside the folder of an installed one (bin/). With a trailing separator.
QString LanguageFolder(const QString& programDir);
// The language file of a language name: <name>.lng in LanguageFolder; empty for English.
QString LanguageFilePath(const QString& programDir, const QString& language);
// Names of the files *.lng in LanguageFolder, without ".lng", sorted; empty when none.
QStringList ListLanguageNames(const QString& programDir);

// Makes the program's folder the current directory, applies the parameters (the program's own path
// already dropped), loads the settings (/IGNOREPOS then forgets the main window's position), the
// language and the list of languages.
void PrepareStartup(StartupState& state, const QString& programPath, const QStringList& parameters,
                    const DisplayInfo& display = {});

// Tells the user, once, what start-up could not do: a settings file that exists but could not be read
// (its values are not used and it is not written at the end). The interactive road calls it with the
// window's platform once the window is there.
void TellStartupProblems(StartupState& state, Platform& platform);

// True when /CREATESILENT= names an output (with or without a usable project file).
bool WantsSilentRoad(const StartupState& state);

// The project the command line names, as a path to open: a readable one from its folder, one that cannot
// be read as given (absolute, so that opening it names it and says why); in the system's separators; empty
// when none was named.
QString ProjectToOpen(const CommandLine& line);

// The silent road: loads the project into a document without any window, reports on the platform what
// was loaded and writes the output named by /CREATESILENT=. Exit code 0 when every listed file was loaded
// and written, 1 otherwise; a project that cannot be read or is refused gives 1 and nothing is written.
int RunSilent(StartupState& state, Platform& platform);

} // namespace hexaloom
