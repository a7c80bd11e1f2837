#pragma once
// The list of files as one model: the grid is a view over it, the project file, Create and the size
// calculation read and write it. Holds no widget.
#include <QAbstractTableModel>
#include <QList>
#include <QString>
#include <QStringList>

namespace hexaloom {

// One row of the list. The row's number is its position (from 1); it is not stored.
struct DataEntry
{
    QString path;   // full path of the source file, exactly as added
    QString packer; // "none", "jCalg1", "zip" (any other text reads as kind 0)
    QString size;   // decimal byte count, kSizePending while a packed size is still to be computed
};

// The size column's text while a row's packed size is still being counted.
inline constexpr QLatin1String kSizePending("---");

// Output formats, in the order of the format chooser.
enum OutputFormat : int { OutputResource = 0, OutputHexdata = 1, OutputBinpack = 2 };
// The format a stored or chosen value stands for: any value but the three reads as the first entry, so
// no setting or chooser can hold a format that Create cannot write and a project cannot store.
inline int ValidOutputFormat(int format)
{
    return format >= OutputResource && format <= OutputBinpack ? format : OutputResource;
}

// "none" 0, "jCalg1" 1, "zip" 2; any other text 0.
int PackerKindFromText(const QString& text);
// 0..2 give "none", "jCalg1", "zip"; any other kind an empty text.
QString PackerText(int kind);
// Every packer's text, in the order of their kinds.
QStringList PackerTexts();
// The decimal size in bytes of a file as the size column shows it (0 for a file that is missing).
QString FileSizeText(const QString& path);

class FileListModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    // Visible columns; the full path is the hidden column -1 (also available as PathRole).
    enum Column : int { NumberColumn = 0, PackerColumn = 1, SizeColumn = 2, FileColumn = 3, ColumnCount = 4 };
    static constexpr int PathColumn = -1;
    enum Role : int { PathRole = Qt::UserRole + 1 };

    explicit FileListModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    bool setHeaderData(int section, Qt::Orientation orientation, const QVariant& value,
                       int role = Qt::EditRole) override;
    // Removes rows by moving the contents below them up and dropping the last rows (see FileListModel.cpp).
    bool removeRows(int row, int count, const QModelIndex& parent = QModelIndex()) override;

    // Appends a row. An empty size text becomes the file's current size in bytes; packer 0..2 becomes
    // "none"/"jCalg1"/"zip", any other value an empty packer text. Returns the new row's index and
    // emits rowAdded(path) for the status bar.
    int AddFileRow(const QString& path, int packer, const QString& sizeText);
    // Cell text by (column, row): -1 path, 0 number, 1 packer, 2 size, 3 file name. Empty when out of range.
    QString CellText(int column, int row) const;
    // Sets the path (-1), packer (1) or size (2) text of a row; the number and file name follow from them.
    bool SetCellText(int column, int row, const QString& text);
    // Exchanges two rows' contents; the numbers stay with the positions.
    bool SwapRows(int a, int b);
    void Clear();

    const QList<DataEntry>& entries() const { return m_entries; }
    const DataEntry& entry(int row) const { return m_entries.at(row); }

signals:
    void rowAdded(const QString& path);

private:
    QList<DataEntry> m_entries;
    QString m_headers[ColumnCount];
};

} // namespace hexaloom
