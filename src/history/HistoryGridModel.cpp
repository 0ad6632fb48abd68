#include "history/HistoryGridModel.h"

HistoryGridModel::HistoryGridModel(QObject *parent) : QAbstractTableModel(parent) {}

void HistoryGridModel::beginLoad(const QStringList &headers)
{
    beginResetModel();
    m_headers = headers;
    m_text.clear();
    m_ends.clear();
    m_rows = 0;
}

void HistoryGridModel::endLoad()
{
    const qsizetype columns = m_headers.size();
    m_rows = columns > 0 ? int(m_ends.size() / columns) : 0;
    m_ends.resize(qsizetype(m_rows) * columns); // a partial row is dropped
    m_text.squeeze();
    m_ends.squeeze();
    endResetModel();
}

void HistoryGridModel::clear()
{
    beginLoad({});
    endLoad();
}

QString HistoryGridModel::cell(int row, int column) const
{
    if (row < 0 || row >= m_rows || column < 0 || column >= m_headers.size())
        return {};
    const qsizetype k = qsizetype(row) * m_headers.size() + column;
    const qsizetype start = k == 0 ? 0 : m_ends[k - 1];
    return m_text.mid(start, m_ends[k] - start);
}

int HistoryGridModel::rowCount(const QModelIndex &parent) const { return parent.isValid() ? 0 : m_rows; }

int HistoryGridModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_headers.size());
}

QVariant HistoryGridModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || role != Qt::DisplayRole)
        return {};
    return cell(index.row(), index.column());
}

QVariant HistoryGridModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole)
        return {};
    if (orientation == Qt::Horizontal)
        return section >= 0 && section < m_headers.size() ? QVariant(m_headers[section]) : QVariant();
    return section + 1;
}
