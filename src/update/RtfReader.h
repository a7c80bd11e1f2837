#pragma once
// A small RTF reader for the update window's info text: paragraphs, bold, italic and underline, the
// characters of \'xx (in the document's ANSI code page) and \uN. Tables, pictures, fonts and colours are
// left out. Text that is not RTF is taken as plain text.
#include <QByteArrayView>
#include <QList>
#include <QString>

namespace hexaloom {

struct RtfRun
{
    QString text; // "\n" stands for a line break inside the paragraph, "\t" for a tab
    bool bold = false;
    bool italic = false;
    bool underline = false;

    bool sameFormat(const RtfRun& other) const
    {
        return bold == other.bold && italic == other.italic && underline == other.underline;
    }
};

using RtfParagraph = QList<RtfRun>;

// The paragraphs of the text, which ends at the first 0 byte. RTF when it begins with "{\rtf" (after
// blanks); otherwise plain text (UTF-8 when valid, else Windows-1252) with one paragraph per line.
// Empty paragraphs at the end are dropped.
QList<RtfParagraph> ReadRtf(QByteArrayView data);
// The same text as HTML for a rich-text view.
QString RtfToHtml(QByteArrayView data);

} // namespace hexaloom
