// Removing, clearing and reordering the documents on the list itself.

#include "doclist/DocumentList.h"
#include "shell/ErrorTrap.h"
#include "ui/Form1.h"

#include <QTableView>

namespace docuflume {
namespace {

const QString kPushButton3 = QStringLiteral("in Quarnel2021/08/31.Form1.PushButton3_Click ");
constexpr int kDeleteKey = 46;

// The screen bands in which a drag scrolls the list by one entry.
constexpr int kScrollUpBelow = 305;
constexpr int kScrollDownFrom = 365;

} // namespace

void Form1::removeCurrentEntry()
{
    if (m_mousePointer == PointerHourglass || m_documents->DocumentCount() == 0)
        return;
    const QModelIndex current = ListView1->currentIndex();
    if (!current.isValid())
        return;
    m_documents->RemoveDocument(current.row() + 1);
}

void Form1::ListView1_KeyDown(int keyCode, Qt::KeyboardModifiers)
{
    // Shift or Ctrl with Delete remove as well; no other key removes anything.
    if (keyCode == kDeleteKey)
        removeCurrentEntry();
}

void Form1::ListView1_DblClick()
{
    removeCurrentEntry();
}

void Form1::PushButton3_Click()
{
    ErrorTrap line = trap(kPushButton3);
    line(100, [&] {
        if (m_mousePointer != PointerHourglass)
            m_documents->Clear();
    });
}

void Form1::ListView1_MouseDown()
{
    DragActive = true;
}

void Form1::ListView1_ItemClick()
{
    const QPixmap image(programFile(QStringLiteral("drag.ico")));
    if (!image.isNull())
        m_dragImage = QCursor(image);
    if (m_dragImage)
        ListView1->viewport()->setCursor(*m_dragImage);
    // The list never hands its entries to a drag-and-drop transfer of its own.
    ListView1->setDragEnabled(false);
    DraggedEntry = ListView1->currentIndex();
}

void Form1::dragStep(QPoint position, int screenY)
{
    if (!DragActive)
        return;
    const QModelIndex under = ListView1->indexAt(position);
    if (!under.isValid() || !DraggedEntry.isValid())
        return;
    const int draggedPosition = DraggedEntry.row() + 1;
    const int underPosition = under.row() + 1;
    const QString dragged = m_documents->DocumentText(draggedPosition);
    if (m_documents->DocumentText(underPosition) == dragged)
        return;
    m_documents->SetDocumentText(draggedPosition, m_documents->DocumentText(underPosition));
    m_documents->SetDocumentText(underPosition, dragged);
    ListView1->setCurrentIndex(under);
    DraggedEntry = under;

    if (screenY < kScrollUpBelow && underPosition >= 2)
        ListView1->scrollTo(m_documents->index(underPosition - 2));
    else if (screenY >= kScrollDownFrom && underPosition + 1 <= m_documents->DocumentCount())
        ListView1->scrollTo(m_documents->index(underPosition));
}

void Form1::ListView1_MouseUp()
{
    DragActive = false;
    ListView1->viewport()->setCursor(Qt::ArrowCursor);
}

} // namespace docuflume
