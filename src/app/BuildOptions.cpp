#include "BuildOptions.h"

#include "FileListModel.h"
#include "PackedBlock.h"
#include "SmallestPacker.h"

#include <optional>

namespace hexaloom {

namespace {

std::optional<int> FormatByName(const QString& name)
{
    const QString lower = name.toLower();
    if (lower == QLatin1String("hexdata"))
        return OutputHexdata;
    if (lower == QLatin1String("binpack"))
        return OutputBinpack;
    if (lower == QLatin1String("res"))
        return OutputResource;
    return std::nullopt;
}

// The packer names are the list's own (PackerTexts), in any letter case: one table for every road. A
// choice that is no packer of its own (such as one that picks per file) gets its word here too.
std::optional<int> PackerByName(const QString& name)
{
    const QStringList names = PackerTexts();
    for (int kind = 0; kind < names.size(); ++kind) {
        if (name.compare(names[kind], Qt::CaseInsensitive) == 0)
            return kind;
    }
    if (name.compare(QLatin1String("smallest"), Qt::CaseInsensitive) == 0)
        return kPackerSmallest;
    return std::nullopt;
}

} // namespace

ParsedBuildOptions ParseBuildOptions(const QStringList& givenParameters, bool windowsRules)
{
    ParsedBuildOptions parsed;
    QStringList parameters = givenParameters;
    if (windowsRules) {
        for (QString& parameter : parameters) {
            const qsizetype quote = parameter.indexOf(QLatin1Char('"'));
            if (quote >= 0 && quote == parameter.size() - 1) {
                parameter.back() = QLatin1Char('\\');
            } else if (quote >= 0) {
                parsed.error = QStringLiteral("a double quote in %1: a quoted name ending in \\ keeps its closing "
                                              "quote, and the rest of the line with it; write \"C:\\out dir\" "
                                              "or \"C:\\out dir\\\\\"")
                                   .arg(parameter);
                return parsed;
            }
        }
    }
    BuildOptions& o = parsed.options;
    auto fail = [&parsed](const QString& why) {
        parsed.error = why;
        return parsed;
    };
    bool haveCommand = false;
    QStringList createOnly; // options given that only --create takes
    bool optionsEnded = false;
    for (qsizetype i = 0; i < parameters.size(); ++i) {
        const QString& parameter = parameters[i];
        if (optionsEnded || !parameter.startsWith(QLatin1String("--"))) {
            if (haveCommand && o.command == BuildCommand::Create)
                o.inputs.append(parameter);
            else
                return fail(QStringLiteral("unexpected \"%1\"").arg(parameter));
            continue;
        }
        if (parameter == QLatin1String("--")) {
            optionsEnded = true;
            continue;
        }
        const qsizetype equals = parameter.indexOf(QLatin1Char('='));
        const QString name = equals < 0 ? parameter : parameter.left(equals);
        std::optional<QString> inlineValue;
        if (equals >= 0)
            inlineValue = parameter.mid(equals + 1);
        // A value is the text after "=" or the next parameter, which may not look like an option.
        auto value = [&](QString& into) {
            if (inlineValue) {
                into = *inlineValue;
            } else {
                if (i + 1 >= parameters.size() || parameters[i + 1].startsWith(QLatin1String("--")))
                    return false;
                into = parameters[++i];
            }
            return !into.isEmpty();
        };
        auto command = [&](BuildCommand which) {
            if (haveCommand)
                return false;
            haveCommand = true;
            o.command = which;
            return true;
        };
        const QString needsValue = QStringLiteral("%1 needs a value").arg(name);
        if (name == QLatin1String("--help") || name == QLatin1String("--version")) {
            if (inlineValue)
                return fail(QStringLiteral("%1 takes no value").arg(name));
            if (!command(name == QLatin1String("--help") ? BuildCommand::Help : BuildCommand::Version))
                return fail(QStringLiteral("%1: only one command at a time").arg(name));
        } else if (name == QLatin1String("--create") || name == QLatin1String("--list") ||
                   name == QLatin1String("--verify") || name == QLatin1String("--extract")) {
            const BuildCommand which = name == QLatin1String("--create")   ? BuildCommand::Create
                                       : name == QLatin1String("--list")   ? BuildCommand::List
                                       : name == QLatin1String("--verify") ? BuildCommand::Verify
                                                                           : BuildCommand::Extract;
            if (!command(which))
                return fail(QStringLiteral("%1: only one command at a time").arg(name));
            if (!value(o.output))
                return fail(QStringLiteral("%1 needs the output file").arg(name));
            if (which == BuildCommand::Extract) {
                if (i + 1 >= parameters.size() || parameters[i + 1].startsWith(QLatin1String("--")) ||
                    parameters[i + 1].isEmpty())
                    return fail(QStringLiteral("--extract needs the output file and a folder"));
                o.folder = parameters[++i];
            }
        } else if (name == QLatin1String("--against")) {
            // one folder or more, up to the next option
            QString first;
            if (!value(first))
                return fail(QStringLiteral("--against needs a folder"));
            o.against.append(first);
            while (!inlineValue && i + 1 < parameters.size() && !parameters[i + 1].startsWith(QLatin1String("--")) &&
                   !parameters[i + 1].isEmpty())
                o.against.append(parameters[++i]);
        } else if (name == QLatin1String("--check-update")) {
            if (!command(BuildCommand::CheckUpdate))
                return fail(QStringLiteral("%1: only one command at a time").arg(name));
            if (!value(o.url))
                return fail(QStringLiteral("--check-update needs the address of the update information"));
        } else if (name == QLatin1String("--force") || name == QLatin1String("--strict") ||
                   name == QLatin1String("--quiet")) {
            if (inlineValue)
                return fail(QStringLiteral("%1 takes no value").arg(name));
            if (name == QLatin1String("--quiet"))
                o.quiet = true;
            else
                (name == QLatin1String("--force") ? o.force : o.strict) = true;
            if (name != QLatin1String("--quiet"))
                createOnly.append(name);
        } else if (name == QLatin1String("--format") || name == QLatin1String("--packer")) {
            const bool format = name == QLatin1String("--format");
            QString text;
            if (!value(text))
                return fail(needsValue);
            const std::optional<int> chosen = format ? FormatByName(text) : PackerByName(text);
            if (!chosen)
                return fail(QStringLiteral("%1 %2: use %3")
                                .arg(name, text,
                                     format ? QStringLiteral("hexdata, binpack or res")
                                            : QStringLiteral("none, jcalg1, zip or smallest")));
            (format ? o.format : o.packer) = *chosen;
            createOnly.append(name);
        } else if (name == QLatin1String("--level")) {
            QString text;
            if (!value(text))
                return fail(needsValue);
            if (text.compare(QLatin1String("max"), Qt::CaseInsensitive) == 0)
                o.level = kPackLevelMax;
            else if (text == QLatin1String("9"))
                o.level = kPackLevelDefault;
            else
                return fail(QStringLiteral("--level %1: use 9 or max").arg(text));
            createOnly.append(name);
        } else if (name == QLatin1String("--pack")) {
            QString rule;
            if (!value(rule))
                return fail(QStringLiteral("--pack needs GLOB=PACKER"));
            const qsizetype at = rule.lastIndexOf(QLatin1Char('='));
            const std::optional<int> packer = at > 0 ? PackerByName(rule.mid(at + 1)) : std::nullopt;
            if (!packer)
                return fail(QStringLiteral("--pack %1: use GLOB=PACKER with none, jcalg1, zip or smallest").arg(rule));
            o.packRules.append({rule.left(at), *packer});
            createOnly.append(name);
        } else if (name == QLatin1String("--include") || name == QLatin1String("--exclude")) {
            QString glob;
            if (!value(glob))
                return fail(needsValue);
            (name == QLatin1String("--include") ? o.includes : o.excludes).append(glob);
            createOnly.append(name);
        } else if (name == QLatin1String("--project") || name == QLatin1String("--save-project")) {
            if (!value(name == QLatin1String("--project") ? o.project : o.saveProject))
                return fail(needsValue);
            createOnly.append(name);
        } else {
            return fail(QStringLiteral("unknown option %1").arg(name));
        }
    }
    if (!haveCommand)
        return fail(QStringLiteral("no command: give --create, --list, --verify, --extract or --check-update"));
    if (!o.against.isEmpty() && o.command != BuildCommand::Verify)
        return fail(QStringLiteral("--against goes with --verify only"));
    if (o.command != BuildCommand::Create && !createOnly.isEmpty())
        return fail(QStringLiteral("%1 goes with --create only").arg(createOnly.first()));
    if (o.command == BuildCommand::Create) {
        if (!o.project.isEmpty()) {
            if (!o.inputs.isEmpty())
                return fail(QStringLiteral("--project takes the files from the project: no INPUT as well"));
            for (const char* other : {"--packer", "--pack", "--include", "--exclude", "--save-project"}) {
                if (createOnly.contains(QLatin1String(other)))
                    return fail(QStringLiteral("%1 does not go with --project").arg(QLatin1String(other)));
            }
        } else if (o.inputs.isEmpty()) {
            return fail(QStringLiteral("--create needs INPUT files or folders, or --project"));
        }
    }
    return parsed;
}

QString BuildUsage(bool windowsRules)
{
    return QStringLiteral(
        "Usage:\n"
        "  hexaloom --create OUT [options] INPUT...     files and folders into one output\n"
        "  hexaloom --create OUT --project P.hxlm [--format F] [--force] [--strict]\n"
        "  hexaloom --list OUT                          number, constant, packer, sizes, CRC-32, name\n"
        "  hexaloom --verify OUT [--against DIR...]     read every block back and check it; with DIRs,\n"
        "                                               compare every file with the one of its name there\n"
        "  hexaloom --extract OUT DIR                   write every file back into DIR\n"
        "  hexaloom --check-update URL                  what the update check makes of URL: the version it\n"
        "                                               would offer (exit 0), or why none (exit 1)\n"
        "  hexaloom --help | --version\n"
        "\n"
        "OUT is a hexdata or binpack include (.pbi, .pb; a binpack include has its pack file OUT.binpack\n"
        "beside it) or a resource file (.res). Relative names are taken from the current folder.\n"
        "\n"
        "Options of --create:\n"
        "  --format hexdata|binpack|res   the output format; default: the project's, else res for a .res\n"
        "                                 OUT and hexdata otherwise\n"
        "  --packer none|jcalg1|zip|smallest  the packer of every file no --pack rule names (default none);\n"
        "                                 smallest: each file's smallest block, ties to none, zip, jcalg1\n"
        "  --pack GLOB=PACKER             the packer of the files GLOB matches; the last match wins\n"
        "  --level 9|max                  how hard jcalg1 and zip pack (default 9); max: smaller files, read\n"
        "                                 by the same access code, packed many times slower\n"
        "  --include GLOB                 take only the files of the folders that a GLOB matches\n"
        "  --exclude GLOB                 leave out the files of the folders that a GLOB matches\n"
        "  --project P.hxlm               the files, packers and format of a project instead of INPUTs\n"
        "  --save-project P.hxlm          also save the list as a project\n"
        "  --force                        write the output even when its bytes are unchanged\n"
        "  --strict                       files with the same name (letter case aside) fail the run\n"
        "Every command:\n"
        "  --quiet                        no progress, no \"written\"/\"unchanged\" lines\n"
        "\n"
        "Folders are walked through every subfolder in name order, so the output is the same on every\n"
        "machine; the output itself (and its pack file) is left out when it lies in one. A GLOB matches\n"
        "the file name, or with a \"/\" the path below the INPUT folder; \"*\" and \"?\" stay within a folder,\n"
        "\"**\" crosses folders, [abc] is one of the letters; letter case does not matter. The output (and\n"
        "a pack file) is only replaced when its bytes change, so build tools that compare timestamps do\n"
        "not rebuild; stdout says \"written\" or \"unchanged\". A run that cannot read every file writes\n"
        "nothing. FIFOs, devices and dangling links in folders are left out with a warning.\n"
        "\n"
        "Exit codes: 0 done; 1 failed, or a file was missing or damaged; 2 the command line is wrong.\n"
        "\n"
        "Examples:\n"
        "  hexaloom --create data.pbi --packer zip --pack %1*.png=none%1 --exclude %1*.psd%1 assets\n"
        "  hexaloom --create data.res --pack %1**/music/*=jcalg1%1 assets readme.txt\n"
        "  hexaloom --create game.pbi --project game.hxlm\n"
        "  hexaloom --verify data.pbi && hexaloom --extract data.res unpacked\n"
        "\n"
        "The program's own command line still works as it always has:\n"
        "  hexaloom [/PORTABLE] [/IGNOREPOS] [/CREATESILENT=OUT] [PROJECT.hxlm]\n")
        .arg(windowsRules ? QLatin1Char('"') : QLatin1Char('\''));
}

} // namespace hexaloom
