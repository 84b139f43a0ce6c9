#pragma once

#include <QStyledItemDelegate>

// Draws a tree's names as the view does; a name the view cuts short shows whole in its
// tooltip, as plain text, so that two long names that differ near the end can be told
// apart. A name shown whole has no tooltip.
class NameDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override;
};
