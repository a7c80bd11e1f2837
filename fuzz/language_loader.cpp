// Property: after loading any language file, every built-in key answers exactly what the settings
// store reads for it from the same bytes, with the English text as the default.
#include "LanguageTable.h"
#include "PrefsFile.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace hexaloom;
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    LanguageTable table;
    table.LoadLanguageBytes(bytes);
    PrefsFile prefs;
    prefs.Parse(bytes);
    QString group;
    for (const BuiltinText& pair : BuiltinTexts()) {
        const QString name = QString::fromLatin1(pair.name);
        if (name == QLatin1String("_END_"))
            break;
        if (name == QLatin1String("_GROUP_")) {
            group = QString::fromLatin1(pair.text);
            prefs.Group(group);
            continue;
        }
        const QString expected = prefs.ReadString(name, QString::fromUtf8(pair.text));
        if (table.LanguageText(group, name) != expected)
            std::abort();
    }
    if (table.LanguageText(QStringLiteral("Grid"), QStringLiteral("NoSuchKey")) != QLatin1String(kStringNotFound))
        std::abort();
    return 0;
}
