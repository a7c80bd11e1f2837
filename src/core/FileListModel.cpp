#include "FileListModel.h"

#include "PackedBlock.h"
#include "Paths.h"

#include <QFileInfo>

#include <algorithm>
#include <array>

namespace hexaloom {

namespace {
// The packers' names, indexed by kind: the list shows them, projects and the command line name packers by
// them, and the window offers them in this order.
constexpr std::array<QLatin1StringView, 3> kPackerNames = {QLatin1StringView("none"), QLatin1StringView("jCalg1"),
                                                           QLatin1StringView("zip")};
static_assert(PackerNone == 0 && PackerJcalg1 == 1 && PackerZip == 2, "kPackerNames is indexed by kind");
} // namespace

int PackerKindFromText(const QString& text)
{
    const auto named = std::find(kPackerNames.begin(), kPackerNames.end(), text);
    return named != kPackerNames.end() ? static_cast<int>(named - kPackerNames.begin()) : PackerNone;
}

QString PackerText(int kind)
{
    return kind >= 0 && kind < int(kPackerNames.size()) ? QString(kPackerNames[std::size_t(kind)]) : QString();
}

QStringList PackerTexts()
{
    QStringList texts;
    for (const QLatin1StringView name : kPackerNames)
        texts.append(QString(name));
    return texts;
}

QString FileSizeText(const QString& path)
{
    return QString::number(QFileInfo(path).size());
}

FileListModel::FileListModel(QObject* parent) : QAbstractTableModel(parent) {}

int FileListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_entries.size());
}

int FileListModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant FileListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || !checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    if (role == PathRole)
        return m_entries.at(index.row()).path;
    if (role != Qt::DisplayRole && role != Qt::EditRole)
        return {};
    return CellText(index.column(), index.row());
}

bool FileListModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return false;
    if (role == PathRole)
        return SetCellText(PathColumn, index.row(), value.toString());
    if (role != Qt::EditRole && role != Qt::DisplayRole)
        return false;
    if (index.column() != PackerColumn && index.column() != SizeColumn)
        return false;
    return SetCellText(index.column(), index.row(), value.toString());
}

Qt::ItemFlags FileListModel::flags(const QModelIndex& index) const
{
    // Views ask about the root (an invalid index) too.
    if (!index.isValid() || !checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return Qt::NoItemFlags;
    Qt::ItemFlags result = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
    // Only the packer is chosen by the user; the other cells follow from the file.
    if (index.column() == PackerColumn)
        result |= Qt::ItemIsEditable;
    return result;
}

QVariant FileListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole && role != Qt::EditRole)
        return {};
    if (orientation == Qt::Horizontal) {
        if (section < 0 || section >= ColumnCount)
            return {};
        return m_headers[section];
    }
    if (section < 0 || section >= rowCount())
        return {};
    return QString::number(section + 1);
}

bool FileListModel::setHeaderData(int section, Qt::Orientation orientation, const QVariant& value, int role)
{
    if (orientation != Qt::Horizontal || section < 0 || section >= ColumnCount ||
        (role != Qt::DisplayRole && role != Qt::EditRole))
        return false;
    m_headers[section] = value.toString();
    emit headerDataChanged(orientation, section, section);
    return true;
}

bool FileListModel::removeRows(int row, int count, const QModelIndex& parent)
{
    if (parent.isValid() || row < 0 || count <= 0 || row + count > rowCount())
        return false;
    // Rows are positions, like the lines of a grid: the contents below move up into the freed places
    // (their numbers stay with the positions) and the last rows go away. Told to views that way, the
    // number column never contradicts a row that a view believes has merely moved.
    const int oldCount = rowCount();
    const int newCount = oldCount - count;
    if (row < newCount) {
        for (int r = row; r < newCount; ++r)
            m_entries[r] = m_entries[r + count];
        emit dataChanged(index(row, 0), index(newCount - 1, ColumnCount - 1));
    }
    beginRemoveRows(parent, newCount, oldCount - 1);
    m_entries.resize(newCount);
    endRemoveRows();
    return true;
}

int FileListModel::AddFileRow(const QString& path, int packer, const QString& sizeText)
{
    DataEntry entry;
    entry.path = path;
    entry.packer = PackerText(packer);
    entry.size = sizeText.isEmpty() ? FileSizeText(path) : sizeText;
    const int row = rowCount();
    beginInsertRows(QModelIndex(), row, row);
    m_entries.append(entry);
    endInsertRows();
    emit rowAdded(path);
    return row;
}

QString FileListModel::CellText(int column, int row) const
{
    if (row < 0 || row >= rowCount())
        return {};
    const DataEntry& e = m_entries.at(row);
    switch (column) {
    case PathColumn:
        return e.path;
    case NumberColumn:
        return QString::number(row + 1);
    case PackerColumn:
        return e.packer;
    case SizeColumn:
        return e.size;
    case FileColumn:
        return FileNamePart(e.path);
    default:
        return {};
    }
}

bool FileListModel::SetCellText(int column, int row, const QString& text)
{
    if (row < 0 || row >= rowCount())
        return false;
    DataEntry& e = m_entries[row];
    int first = column;
    int last = column;
    switch (column) {
    case PathColumn:
        e.path = text;
        first = last = FileColumn;
        break;
    case PackerColumn:
        e.packer = text;
        break;
    case SizeColumn:
        e.size = text;
        break;
    default:
        return false;
    }
    emit dataChanged(index(row, first), index(row, last));
    return true;
}

bool FileListModel::SwapRows(int a, int b)
{
    if (a < 0 || b < 0 || a >= rowCount() || b >= rowCount())
        return false;
    if (a == b)
        return true;
    m_entries.swapItemsAt(a, b);
    emit dataChanged(index(a, 0), index(a, ColumnCount - 1));
    emit dataChanged(index(b, 0), index(b, ColumnCount - 1));
    return true;
}

void FileListModel::Clear()
{
    beginResetModel();
    m_entries.clear();
    endResetModel();
}

} // namespace hexaloom
