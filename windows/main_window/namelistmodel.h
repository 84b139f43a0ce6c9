#pragma once

#include "answers.h"

#include <QAbstractListModel>

// The names of one gateway list, one row each, in answer order, empty names kept. A
// refresh replaces them all with one reset, so a long list costs no per-row items.
class NameListModel : public QAbstractListModel {
    Q_OBJECT
public:
    using QAbstractListModel::QAbstractListModel;

    void setNames(GatewayList names);
    // The list's heading, which assistive technology reads as its column's header.
    void setHeading(const QString& heading) { m_Heading = heading; }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

private:
    GatewayList m_Names;
    QString m_Heading;
};
