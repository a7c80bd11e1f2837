#include "FileGridModel.h"

#include "Artwork.h"
#include "FileListModel.h"

#include <QColor>
#include <QLocale>

namespace hexaloom {

namespace {
const QColor kLightGreen(205, 253, 173);
}

FileGridModel::FileGridModel(const Artwork& art, QObject* parent) : QIdentityProxyModel(parent), m_art(art) {}

void FileGridModel::setCurrentRow(int row)
{
    if (row == m_currentRow)
        return;
    const int old = m_currentRow;
    m_currentRow = row;
    restyleRow(old);
    restyleRow(row);
}

void FileGridModel::restyleRow(int row)
{
    if (row < 0 || row >= rowCount())
        return;
    emit dataChanged(index(row, 0), index(row, FileListModel::ColumnCount - 1),
                     {Qt::FontRole, Qt::BackgroundRole, Qt::ForegroundRole});
}

QVariant FileGridModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid())
        return {};
    const int column = index.column();
    const bool green = column == FileListModel::NumberColumn || index.row() == m_currentRow;
    switch (role) {
    case Qt::FontRole:
        if (column == FileListModel::NumberColumn)
            return m_art.fonts[FontMono];
        return m_art.fonts[index.row() == m_currentRow ? FontBold : FontNormal];
    case Qt::BackgroundRole:
        return green ? QVariant(kLightGreen) : QVariant();
    case Qt::ForegroundRole:
        // Dark text on the light green whatever the desktop's colours.
        return green ? QVariant(QColor(Qt::black)) : QVariant();
    case Qt::TextAlignmentRole:
        if (column == FileListModel::NumberColumn || column == FileListModel::SizeColumn)
            return QVariant(Qt::AlignRight | Qt::AlignVCenter);
        return QVariant(Qt::AlignLeft | Qt::AlignVCenter);
    case Qt::DisplayRole:
        if (column == FileListModel::SizeColumn) {
            // Shown with the language's thousands separators; the cell itself keeps the plain digits.
            const QString text = QIdentityProxyModel::data(index, role).toString();
            bool number = false;
            const qlonglong bytes = text.toLongLong(&number);
            return number ? QLocale().toString(bytes) : text;
        }
        return QIdentityProxyModel::data(index, role);
    default:
        return QIdentityProxyModel::data(index, role);
    }
}

} // namespace hexaloom
