#pragma once
// The editable grid control: a table view over any table model with fixed-height rows, no grid lines,
// a last column that fills the width, a current cell instead of a selection, drop-down cells, tips
// for cut-off texts and files dropped on it. What a cell looks like comes from the model's roles.
#include <QStringList>
#include <QTableView>

namespace hexaloom {

class EditableGrid : public QTableView
{
    Q_OBJECT
public:
    explicit EditableGrid(QWidget* parent = nullptr);

    void setModel(QAbstractItemModel* model) override;

    // Cells of this column are edited by choosing one of `items` (the model must flag them editable).
    void setChoiceColumn(int column, const QStringList& items);
    void setRowHeight(int height);
    void setTitleHeight(int height);

    // The current row, -1 when there is none.
    int currentRow() const;
    // Makes a cell current and scrolls it into view; a cell outside the grid is ignored.
    void setCurrentCell(int column, int row);

signals:
    // Local files or folders dropped on the grid, in the order they came.
    void filesDropped(const QStringList& paths);
    void titleClicked(int column);
    // The user chose a new text for a drop-down cell; it is already in the model.
    void cellChosen(int row, int column);
    void currentRowChanged(int row);

protected:
    bool viewportEvent(QEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    bool isCutOff(const QModelIndex& index) const;
};

} // namespace hexaloom
