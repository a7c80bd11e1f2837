#include "EditableGrid.h"

#include "ChoiceDelegate.h"

#include <QDir>
#include <QDragEnterEvent>
#include <QHeaderView>
#include <QHelpEvent>
#include <QMimeData>
#include <QToolTip>
#include <QUrl>

namespace hexaloom {

namespace {
QStringList LocalPaths(const QMimeData* mime)
{
    QStringList paths;
    if (!mime || !mime->hasUrls())
        return paths;
    for (const QUrl& url : mime->urls()) {
        if (url.isLocalFile())
            paths.append(QDir::toNativeSeparators(url.toLocalFile()));
    }
    return paths;
}
} // namespace

EditableGrid::EditableGrid(QWidget* parent) : QTableView(parent)
{
    // The current cell is the grid's only mark; the model draws it.
    setSelectionMode(QAbstractItemView::NoSelection);
    setShowGrid(false);
    setWordWrap(false);
    setTextElideMode(Qt::ElideRight);
    setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed);
    verticalHeader()->hide();
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    horizontalHeader()->setStretchLastSection(true);
    horizontalHeader()->setSectionsClickable(true);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    setAcceptDrops(true);
    viewport()->setAcceptDrops(true);
    setDragDropMode(QAbstractItemView::DropOnly);
    setDropIndicatorShown(false);
    // A title click reports the column; it neither selects the column nor moves the current cell.
    disconnect(horizontalHeader(), &QHeaderView::sectionPressed, this, nullptr);
    disconnect(horizontalHeader(), &QHeaderView::sectionEntered, this, nullptr);
    connect(horizontalHeader(), &QHeaderView::sectionClicked, this, &EditableGrid::titleClicked);
    // One click on a drop-down cell opens its list.
    connect(this, &QAbstractItemView::clicked, this, [this](const QModelIndex& index) {
        auto* choice = qobject_cast<ChoiceDelegate*>(itemDelegateForColumn(index.column()));
        if (choice && (index.flags() & Qt::ItemIsEditable)) {
            choice->popupNextEditor();
            if (!edit(index, QAbstractItemView::AllEditTriggers, nullptr))
                choice->popupNextEditor();
        }
    });
}

void EditableGrid::setModel(QAbstractItemModel* model)
{
    QTableView::setModel(model);
    if (!selectionModel())
        return;
    connect(selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current) { emit currentRowChanged(current.isValid() ? current.row() : -1); });
}

void EditableGrid::setChoiceColumn(int column, const QStringList& items)
{
    auto* delegate = new ChoiceDelegate(items, this);
    connect(delegate, &ChoiceDelegate::chosen, this,
            [this](const QModelIndex& index) { emit cellChosen(index.row(), index.column()); });
    setItemDelegateForColumn(column, delegate);
}

void EditableGrid::setRowHeight(int height)
{
    verticalHeader()->setMinimumSectionSize(1);
    verticalHeader()->setDefaultSectionSize(height);
}

void EditableGrid::setTitleHeight(int height)
{
    horizontalHeader()->setFixedHeight(height);
}

int EditableGrid::currentRow() const
{
    const QModelIndex current = currentIndex();
    return current.isValid() ? current.row() : -1;
}

void EditableGrid::setCurrentCell(int column, int row)
{
    if (!model())
        return;
    const QModelIndex index = model()->index(row, column);
    if (!index.isValid())
        return;
    selectionModel()->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
    scrollTo(index);
}

bool EditableGrid::isCutOff(const QModelIndex& index) const
{
    const QString text = index.data(Qt::DisplayRole).toString();
    if (text.isEmpty())
        return false;
    const QVariant font = index.data(Qt::FontRole);
    const QFontMetrics metrics(font.isValid() ? font.value<QFont>() : this->font());
    // The item delegate keeps this margin on either side of a text.
    const int margin = style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, this) + 1;
    return metrics.horizontalAdvance(text) > visualRect(index).width() - 2 * margin;
}

bool EditableGrid::viewportEvent(QEvent* event)
{
    if (event->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(event);
        const QModelIndex index = indexAt(help->pos());
        if (index.isValid() && isCutOff(index))
            QToolTip::showText(help->globalPos(), index.data(Qt::DisplayRole).toString(), viewport(),
                               visualRect(index));
        else
            QToolTip::hideText();
        return true;
    }
    return QTableView::viewportEvent(event);
}

void EditableGrid::dragEnterEvent(QDragEnterEvent* event)
{
    if (LocalPaths(event->mimeData()).isEmpty())
        return event->ignore();
    event->setDropAction(Qt::CopyAction);
    event->accept();
}

void EditableGrid::dragMoveEvent(QDragMoveEvent* event)
{
    if (LocalPaths(event->mimeData()).isEmpty())
        return event->ignore();
    event->setDropAction(Qt::CopyAction);
    event->accept();
}

void EditableGrid::dropEvent(QDropEvent* event)
{
    const QStringList paths = LocalPaths(event->mimeData());
    if (paths.isEmpty())
        return event->ignore();
    event->setDropAction(Qt::CopyAction);
    event->accept();
    emit filesDropped(paths);
}

} // namespace hexaloom
