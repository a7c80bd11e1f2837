#pragma once
// Edits a cell by choosing one of a fixed list of texts from a drop-down. The choice is stored the moment
// it is made (not when the editor loses focus), and only when it differs from the cell's text.
#include <QStringList>
#include <QStyledItemDelegate>

namespace hexaloom {

class ChoiceDelegate : public QStyledItemDelegate
{
    Q_OBJECT
public:
    ChoiceDelegate(QStringList items, QObject* parent = nullptr);

    // The next editor opens its list at once (set for an edit started by a click).
    void popupNextEditor() { m_popupNext = true; }

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    void setEditorData(QWidget* editor, const QModelIndex& index) const override;
    void setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const override;

signals:
    // A new text was stored in the cell.
    void chosen(const QModelIndex& index) const;

private:
    QStringList m_items;
    mutable bool m_popupNext = false;
};

} // namespace hexaloom
