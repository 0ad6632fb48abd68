#include "history/HistoryGridModel.h"

QString history::GridPage::cell(int row, int column, int columns) const
{
    if (row < 0 || row >= rows || column < 0 || column >= columns)
        return {};
    const qsizetype k = qsizetype(row) * columns + column;
    if (k >= ends.size())
        return {};
    const qsizetype start = k == 0 ? 0 : ends[k - 1];
    return text.mid(start, ends[k] - start);
}

history::HistoryGridModel::HistoryGridModel(QObject *parent) : QAbstractTableModel(parent) {}

history::HistoryGridModel::~HistoryGridModel() = default;

void history::HistoryGridModel::beginLoad(const QStringList &headers)
{
    beginResetModel();
    m_headers = headers;
    m_text.clear();
    m_ends.clear();
    m_rows = 0;
    m_source.reset();
    m_pages.clear();
    m_recent.clear();
    m_startKeys.clear();
    m_endKeys.clear();
    m_pagesRead = 0;
}

void history::HistoryGridModel::endLoad()
{
    const qsizetype columns = m_headers.size();
    m_rows = columns > 0 ? int(m_ends.size() / columns) : 0;
    m_ends.resize(qsizetype(m_rows) * columns); // a partial row is dropped
    m_text.squeeze();
    m_ends.squeeze();
    endResetModel();
}

void history::HistoryGridModel::clear()
{
    beginLoad({});
    endLoad();
}

void history::HistoryGridModel::setPaged(const QStringList &headers, int rows, std::unique_ptr<history::GridPageSource> source,
                                         history::GridPage firstPage)
{
    beginLoad(headers);
    m_rows = headers.isEmpty() ? 0 : rows;
    m_source = std::move(source);
    m_pagesRead = 1;
    keep(0, std::move(firstPage));
    endResetModel();
}

void history::HistoryGridModel::keep(int index, history::GridPage page) const
{
    if (page.rows == kPageRows && !page.lastKey.isEmpty())
        m_startKeys.insert(index + 1, page.lastKey);
    if (index > 0 && !page.firstKey.isEmpty())
        m_endKeys.insert(index - 1, page.firstKey);
    m_pages.insert(index, std::move(page));
    m_recent.removeOne(index);
    m_recent.append(index);
    while (m_recent.size() > kKeptPages)
        m_pages.remove(m_recent.takeFirst());
}

history::GridPage history::HistoryGridModel::readPage(int index) const
{
    ++m_pagesRead;
    const int count = qMin(kPageRows, m_rows - index * kPageRows);
    const int lastPage = (m_rows - 1) / kPageRows;
    const int lastPageRows = m_rows - lastPage * kPageRows;
    if (index == 0)
        return m_source->after({}, count);
    if (const auto it = m_startKeys.constFind(index); it != m_startKeys.cend())
        return m_source->after(*it, count);
    if (const auto it = m_endKeys.constFind(index); it != m_endKeys.cend())
        return m_source->before(*it, count);
    if (index == lastPage)
        return m_source->before({}, count);
    // A jump: from the nearest page whose start (or end) is known, or from
    // the end, step over the pages in between by their keys alone,
    // remembering where each starts (or ends).
    int from = 0;
    for (auto it = m_startKeys.cbegin(); it != m_startKeys.cend(); ++it)
        if (it.key() < index && it.key() > from)
            from = it.key();
    int to = lastPage;
    for (auto it = m_endKeys.cbegin(); it != m_endKeys.cend(); ++it)
        if (it.key() > index && it.key() < to)
            to = it.key();
    if (index - from <= to - index) {
        const QList<QVariantList> keys = m_source->boundaries(from == 0 ? QVariantList() : m_startKeys.value(from),
                                                              true, kPageRows, kPageRows, index - from);
        for (int k = 0; k < keys.size(); ++k)
            m_startKeys.insert(from + k + 1, keys[k]);
        if (const auto it = m_startKeys.constFind(index); it != m_startKeys.cend())
            return m_source->after(*it, count);
    } else {
        const bool fromEnd = to == lastPage;
        const QList<QVariantList> keys =
            m_source->boundaries(fromEnd ? QVariantList() : m_endKeys.value(to), false,
                                 fromEnd ? lastPageRows : kPageRows, kPageRows, to - index);
        for (int k = 0; k < keys.size(); ++k)
            m_endKeys.insert(to - k - 1, keys[k]);
        if (const auto it = m_endKeys.constFind(index); it != m_endKeys.cend())
            return m_source->before(*it, count);
    }
    return {}; // the rows are gone (deleted by someone else meanwhile)
}

const history::GridPage &history::HistoryGridModel::page(int index) const
{
    if (const auto it = m_pages.constFind(index); it != m_pages.cend()) {
        if (m_recent.constLast() != index) {
            m_recent.removeOne(index);
            m_recent.append(index);
        }
        return *it;
    }
    keep(index, readPage(index));
    return m_pages[index];
}

QString history::HistoryGridModel::cell(int row, int column) const
{
    if (row < 0 || row >= m_rows || column < 0 || column >= m_headers.size())
        return {};
    const int columns = int(m_headers.size());
    if (m_source)
        return page(row / kPageRows).cell(row % kPageRows, column, columns);
    const qsizetype k = qsizetype(row) * columns + column;
    const qsizetype start = k == 0 ? 0 : m_ends[k - 1];
    return m_text.mid(start, m_ends[k] - start);
}

int history::HistoryGridModel::rowCount(const QModelIndex &parent) const { return parent.isValid() ? 0 : m_rows; }

int history::HistoryGridModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_headers.size());
}

QVariant history::HistoryGridModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || role != Qt::DisplayRole)
        return {};
    return cell(index.row(), index.column());
}

QVariant history::HistoryGridModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole)
        return {};
    if (orientation == Qt::Horizontal)
        return section >= 0 && section < m_headers.size() ? QVariant(m_headers[section]) : QVariant();
    return section + 1;
}
