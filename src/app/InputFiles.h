#pragma once
// The files named on the build-script command line: files as they are, folders walked as the window
// walks them (ScanDirectory: sorted by name, code unit by code unit), so the same tree gives the same
// list everywhere.
#include <QList>
#include <QRegularExpression>
#include <QString>
#include <QStringList>

namespace hexaloom {

// A file pattern: "*" and "?" within one folder, "**" across folders, "[abc]" one of the characters
// ("[!abc]" none of them); letter case does not matter. Without a "/" it matches the file name, with
// one the path below the INPUT folder.
class Glob
{
public:
    explicit Glob(const QString& pattern);
    bool Matches(const QString& relativePath) const;
    // A "[" without its "]": taken as the character itself, which is seldom what was meant.
    bool malformed() const { return m_malformed; }

private:
    QRegularExpression m_expression;
    bool m_wholePath = false;
    bool m_malformed = false;
};

struct InputFile
{
    QString path;     // absolute, as the list holds it
    QString relative; // below its INPUT folder, "/" between folders; the file name for a file INPUT
    qint64 size = 0;  // its length when it was found
};

struct InputFiles
{
    QList<InputFile> files;
    QString error;          // an INPUT that is missing, or a folder that cannot be listed
    QStringList warnings{}; // what the folders hold that is no file (FIFOs, devices, dangling links)
};

// Relative INPUTs are taken from the current folder. --include and --exclude filter the files found in
// folders; a file named as an INPUT is always taken.
InputFiles CollectInputFiles(const QStringList& inputs, const QStringList& includes, const QStringList& excludes);

} // namespace hexaloom
