#pragma once
// The rows the main window's grid shows. A small load keeps all its cell
// texts in one buffer with one end offset per cell: no object per cell. A
// large history is not read up front: the model knows its row count and
// asks a page source for the rows the view needs, a page at a time, keeping
// the pages it read last.

#include <QAbstractTableModel>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVariantList>

#include <functional>
#include <memory>

namespace history {

// The cells of consecutive rows, with the sort key of the first and last row.
struct GridPage {
    QString text;
    QList<qsizetype> ends; // end offset of each cell, row by row
    QVariantList firstKey, lastKey;
    int rows = 0;
    QString cell(int row, int column, int columns) const;
};

// Where a paged model gets its rows: up to count rows after a key (an empty
// key: from the first row), or before it (an empty key: up to the last row),
// in grid order either way. Stepping reads only the keys of the rows after
// (forward) or before a key, and returns the keys of the firstAt-th row read,
// and of every every-th row from there, count keys at most.
class GridPageSource {
public:
    virtual ~GridPageSource() = default;
    virtual GridPage after(const QVariantList &key, int count) = 0;
    virtual GridPage before(const QVariantList &key, int count) = 0;
    virtual QList<QVariantList> boundaries(const QVariantList &key, bool forward, int firstAt, int every,
                                           int count) = 0;
};

class HistoryGridModel : public QAbstractTableModel {
    Q_OBJECT
public:
    static constexpr int kPageRows = 200;
    static constexpr int kKeptPages = 48;

    explicit HistoryGridModel(QObject *parent = nullptr);
    ~HistoryGridModel() override;

    // Filling: begin with the column names, append every cell row by row.
    void beginLoad(const QStringList &headers);
    void appendCell(const QString &text) { m_text += text; m_ends.append(m_text.size()); }
    void endLoad();
    void clear();
    // Paged: rows rows, read from source when shown. firstPage is page 0.
    void setPaged(const QStringList &headers, int rows, std::unique_ptr<GridPageSource> source,
                  GridPage firstPage);

    QString cell(int row, int column) const;
    const QStringList &headers() const { return m_headers; }
    bool paged() const { return m_source != nullptr; }
    // Pages read from the source since the last load (the first one included).
    int pagesRead() const { return m_pagesRead; }

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    const GridPage &page(int index) const;
    GridPage readPage(int index) const;
    void keep(int index, GridPage page) const;

    QStringList m_headers;
    QString m_text;
    QList<qsizetype> m_ends;
    int m_rows = 0;

    std::unique_ptr<GridPageSource> m_source;
    mutable QHash<int, GridPage> m_pages;
    mutable QList<int> m_recent;                 // page numbers, most recently used last
    mutable QHash<int, QVariantList> m_startKeys; // page -> key of the row before its first row
    mutable QHash<int, QVariantList> m_endKeys;   // page -> key of the row after its last row
    mutable int m_pagesRead = 0;
};

} // namespace history
