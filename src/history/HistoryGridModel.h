#pragma once
// The rows the main window's grid shows. All cell texts of a load live in
// one buffer with one end offset per cell: no object per cell, so a large
// history loads and scrolls quickly.

#include <QAbstractTableModel>
#include <QList>
#include <QString>
#include <QStringList>

class HistoryGridModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit HistoryGridModel(QObject *parent = nullptr);

    // Filling: begin with the column names, append every cell row by row.
    void beginLoad(const QStringList &headers);
    void appendCell(const QString &text) { m_text += text; m_ends.append(m_text.size()); }
    void endLoad();
    void clear();

    QString cell(int row, int column) const;
    const QStringList &headers() const { return m_headers; }

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    QStringList m_headers;
    QString m_text;
    QList<qsizetype> m_ends;
    int m_rows = 0;
};
