#include "namelistmodel.h"

void NameListModel::setNames(GatewayList names) {
    beginResetModel();
    std::swap(m_Names, names);
    endResetModel();
    // The old names are freed here, after the views have let go of them.
}

int NameListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(m_Names.size());
}

QVariant NameListModel::data(const QModelIndex& index, int role) const {
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    if (role == Qt::DisplayRole || role == Qt::EditRole)
        return m_Names.at(index.row());
    return {};
}

Qt::ItemFlags NameListModel::flags(const QModelIndex& index) const {
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemNeverHasChildren;
}

QVariant NameListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (section == 0 && orientation == Qt::Horizontal && role == Qt::DisplayRole)
        return m_Heading;
    return {};
}
