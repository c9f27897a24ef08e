#include "doclist/DocumentList.h"

#include "shell/Failure.h"

namespace docuflume {

DocumentList::DocumentList(QObject* parent) : QAbstractListModel(parent) {}

void DocumentList::AddDocument(const QString& path)
{
    const int row = m_rows.size();
    beginInsertRows({}, row, row);
    m_rows.append(path);
    endInsertRows();
}

int DocumentList::DocumentCount() const
{
    return m_rows.size();
}

bool DocumentList::ContainsDocument(const QString& text) const
{
    return m_rows.contains(text, Qt::CaseSensitive);
}

QString DocumentList::DocumentText(int position) const
{
    checkPosition(position);
    return m_rows.at(position - 1);
}

void DocumentList::SetDocumentText(int position, const QString& text)
{
    checkPosition(position);
    m_rows[position - 1] = text;
    const QModelIndex changed = index(position - 1);
    Q_EMIT dataChanged(changed, changed, {Qt::DisplayRole});
}

void DocumentList::RemoveDocument(int position)
{
    checkPosition(position);
    beginRemoveRows({}, position - 1, position - 1);
    m_rows.removeAt(position - 1);
    endRemoveRows();
}

void DocumentList::Clear()
{
    if (m_rows.isEmpty())
        return;
    beginResetModel();
    m_rows.clear();
    endResetModel();
}

void DocumentList::AddColumnHeader(const QString& caption)
{
    m_headers.append(caption);
    Q_EMIT headerDataChanged(Qt::Horizontal, 0, 0);
}

int DocumentList::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : m_rows.size();
}

QVariant DocumentList::data(const QModelIndex& index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    if (role == Qt::DisplayRole)
        return m_rows.at(index.row());
    return {};
}

QVariant DocumentList::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section != 0)
        return {};
    return m_headers.isEmpty() ? QString() : m_headers.first();
}

Qt::ItemFlags DocumentList::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::ItemIsDropEnabled;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
}

void DocumentList::checkPosition(int position) const
{
    if (position < 1 || position > m_rows.size())
        throw Failure(Failure::InvalidArgument, QStringLiteral("Index out of bounds"));
}

} // namespace docuflume
