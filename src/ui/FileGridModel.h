#pragma once
// How the file grid draws the list: the number column in the mono font on light green, the current
// row bold on light green, numbers and sizes right-aligned. A view of the document's model that adds
// these roles; the rows and texts are the model's own.
#include <QFont>
#include <QIdentityProxyModel>

#include <array>

namespace hexaloom {

struct Artwork;

class FileGridModel : public QIdentityProxyModel
{
    Q_OBJECT
public:
    explicit FileGridModel(const Artwork& art, QObject* parent = nullptr);

    int currentRow() const { return m_currentRow; }
    void setCurrentRow(int row);

    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

private:
    void restyleRow(int row);

    const Artwork& m_art;
    int m_currentRow = -1;
};

} // namespace hexaloom
