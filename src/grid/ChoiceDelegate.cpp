#include "ChoiceDelegate.h"

#include <QComboBox>
#include <QSignalBlocker>
#include <QTimer>

namespace hexaloom {

ChoiceDelegate::ChoiceDelegate(QStringList items, QObject* parent)
    : QStyledItemDelegate(parent), m_items(std::move(items))
{
}

QWidget* ChoiceDelegate::createEditor(QWidget* parent, const QStyleOptionViewItem&, const QModelIndex&) const
{
    auto* combo = new QComboBox(parent);
    combo->setObjectName(QStringLiteral("choiceEditor"));
    combo->addItems(m_items);
    // The choice lands in the model at once, so a click on Create right after it sees it.
    connect(combo, &QComboBox::currentIndexChanged, this, [this, combo] {
        auto* self = const_cast<ChoiceDelegate*>(this);
        emit self->commitData(combo);
        emit self->closeEditor(combo);
    });
    if (m_popupNext) {
        m_popupNext = false;
        QTimer::singleShot(0, combo, [combo] {
            if (combo->isVisible())
                combo->showPopup();
        });
    }
    return combo;
}

void ChoiceDelegate::setEditorData(QWidget* editor, const QModelIndex& index) const
{
    auto* combo = static_cast<QComboBox*>(editor);
    // Showing the cell's text is no choice.
    const QSignalBlocker blocker(combo);
    combo->setCurrentIndex(static_cast<int>(m_items.indexOf(index.data(Qt::EditRole).toString())));
}

void ChoiceDelegate::setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const
{
    const auto* combo = static_cast<QComboBox*>(editor);
    if (combo->currentIndex() < 0)
        return;
    const QString text = combo->currentText();
    if (text == index.data(Qt::EditRole).toString())
        return;
    if (model->setData(index, text, Qt::EditRole))
        emit chosen(index);
}

} // namespace hexaloom
