#pragma once

#include <QAbstractListModel>
#include <QStringList>

namespace docuflume {

// The documents the next run converts: one row per document, its text the document's full
// path. Rows are appended, never sorted, and the same path may stand in several rows.
// Positions in the public operations are 1-based.
class DocumentList final : public QAbstractListModel
{
    Q_OBJECT

public:
    explicit DocumentList(QObject* parent = nullptr);

    void AddDocument(const QString& path);
    int DocumentCount() const;
    bool ContainsDocument(const QString& text) const;
    // The text of the row at `position` (1 to DocumentCount()); throws a Failure outside.
    QString DocumentText(int position) const;
    void SetDocumentText(int position, const QString& text);
    void RemoveDocument(int position);
    void Clear();

    // The single column header; the list shows no header text until it is added.
    void AddColumnHeader(const QString& caption);
    int columnHeaderCount() const { return m_headers.size(); }

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    void checkPosition(int position) const;

    QStringList m_rows;
    QStringList m_headers;
};

} // namespace docuflume
