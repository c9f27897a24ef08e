// Removing, clearing and reordering the documents on the list itself.

#include "doclist/DocumentList.h"
#include "shell/ErrorTrap.h"
#include "ui/Form1.h"

#include <QTableView>

namespace docuflume {
namespace {

constexpr int kDeleteKey = 46;

} // namespace

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
    ErrorTrap line = trap();
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

void Form1::ListView1_MouseUp()
{
    DragActive = false;
    ListView1->viewport()->setCursor(Qt::ArrowCursor);
}

} // namespace docuflume
