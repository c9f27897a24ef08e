#pragma once

#include "shell/Platform.h"
#include "shell/Prompts.h"

#include <QCursor>
#include <QPersistentModelIndex>
#include <QWidget>

#include <optional>
#include <source_location>

class QGroupBox;
class QLineEdit;
class QMimeData;
class QPushButton;
class QRadioButton;
class QTableView;

namespace docuflume {

class DocumentList;
class ProgressBar;
class ErrorTrap;

// The program's one working window. Its controls carry their design names, which are also
// their object names; its event handlers carry the names the team knows them by.
class Form1 final : public QWidget
{
    Q_OBJECT

public:
    // The window pointer values.
    enum Pointer : int {
        PointerDefault = 0,
        PointerArrow = 1,
        PointerHourglass = 11,
        PointerCustom = 99,
    };

    explicit Form1(const Platform& platform, QWidget* parent = nullptr);
    ~Form1() override;

    // The handlers, by the subsystem they serve. Each lives in its subsystem's folder, in a
    // file whose name begins with "Form1_"; the rest of those folders is logic that knows
    // nothing of the window.

    // Start-up and end: app/Form1_Startup.cpp. Form_Load runs once before the window is
    // first shown; when it finds no word processor the program is to end instead (see
    // endRequested()). Closing the window ends the program at once, also during a run.
    void Form_Load();
    bool endRequested() const { return m_endRequested; }
    void Form_Unload();
    void SetApplicationTitle();
    void OpenHomePageByChance();

    // The output flavour and folder, stored as they change: app/Form1_OutputOptions.cpp.
    void Option1_Click();
    void Option2_Click();
    void Text1_Change();
    void PushButton7_Click();

    // "Load Sample/Example Files": app/Form1_Samples.cpp.
    void PushButton5_Click();
    void AddSampleDocuments(DocumentList& list);

    // The Start button, converting every listed document into the output folder:
    // convert/Form1_BatchRun.cpp.
    void PushButton2_Click();
    bool isConverting() const { return Converting; }

    // "Add Word File(s)", the Open File dialog: doclist/Form1_AddFiles.cpp.
    void PushButton1_Click();
    // "Add All Word Files In Folder", a folder tree scanned for one extension:
    // doclist/Form1_AddFolderTree.cpp.
    void PushButton4_Click();
    // Drag-and-drop onto the list: only a list of files is taken; dropped folders bring
    // every file of their tree. doclist/Form1_DropIntake.cpp.
    bool ListView1_OLEDragOver(const QMimeData* dragged);
    void ListView1_OLEDragDrop(const QMimeData* dragged);
    // Files and folders the program was started with, taken as if dropped onto the list.
    void AddPathsAsDropped(const QStringList& paths);
    // Editing on the list: Delete or a double-click removes the current entry, "Clear List"
    // empties it (neither while the hourglass shows); dragging an entry moves it.
    // doclist/Form1_ListEditing.cpp.
    void ListView1_KeyDown(int keyCode, Qt::KeyboardModifiers modifiers);
    void ListView1_DblClick();
    void PushButton3_Click();
    void ListView1_MouseDown();
    void ListView1_ItemClick();
    void ListView1_MouseUp();
    bool isDragActive() const { return DragActive; }

    // The window's look: ui/Form1_WindowSkin.cpp.
    void ApplyWindowSkin();

    // Pointer-move handlers, the hand over push buttons, the arrow elsewhere, the hourglass
    // left alone; over the list a held button also drags the entry: ui/Form1.cpp.
    void PushButton1_MouseMove();
    void PushButton2_MouseMove();
    void PushButton3_MouseMove();
    void PushButton4_MouseMove();
    void PushButton5_MouseMove();
    void PushButton7_MouseMove();
    void Form_MouseMove();
    void Frame1_MouseMove();
    void Frame2_MouseMove();
    void Text1_MouseMove();
    void ListView1_MouseMove(Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers,
                             QPoint position);

    // The window's state, for the handlers and the tests (ui/Form1.cpp).

    // The save format of the flavour the option buttons show now; nothing when neither is on.
    std::optional<int> SelectedFileFormat() const;

    int MousePointer() const { return m_mousePointer; }
    void setMousePointer(int value);
    // The image the custom pointer (99) shows; without one a pointing hand stands in.
    void setMouseIcon(const QCursor& cursor);
    bool hasMouseIcon() const { return m_mouseIcon.has_value(); }

    // The title of every message box that names none of its own.
    const QString& ApplicationTitle() const { return m_applicationTitle; }

    DocumentList& documents() { return *m_documents; }
    const DocumentList& documents() const { return *m_documents; }

    // The text shown on the progress bar, taken literally.
    void setProgressText(const QString& text);
    QString progressText() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void buildDesign();
    void setTabOrder();
    void watchPointer(QWidget* widget);
    bool dispatchMouseMove(QObject* watched, QMouseEvent* event);
    void wireHandlers();
    void removeCurrentEntry();
    void dragStep(QPoint position, int screenY);
    // A file the program ships beside itself.
    QString programFile(const QString& name) const;
    void applyHoverRule(int pointer);
    // The trap of the handler that calls it (see shell/ErrorTrap.h), named after it: the
    // compiler gives the name, so a handler's box can never name another.
    ErrorTrap trap(std::source_location caller = std::source_location::current());
    // A message box under the application title, without an icon.
    MessageAnswer MsgBox(const QString& text, MessageButtons buttons = MessageButtons::Ok);

    Platform m_platform;
    DocumentList* m_documents = nullptr;
    QString m_applicationTitle;
    int m_mousePointer = PointerDefault;
    std::optional<QCursor> m_mouseIcon;
    bool m_placed = false;
    bool Converting = false;
    bool DragActive = false;
    bool m_expandingDrop = false;       // a dropped folder's tree is being added
    QPersistentModelIndex DraggedEntry; // survives moves; invalid once its entry is gone
    std::optional<QCursor> m_dragImage;
    int m_lastScreenY = 0; // where on the screen the pointer was at the last move
    bool m_endRequested = false;
    QString m_lastFolderDot; // the output folder picker's last folder

    QTableView* ListView1 = nullptr;
    QPushButton* PushButton1 = nullptr;
    QPushButton* PushButton2 = nullptr;
    QPushButton* PushButton3 = nullptr;
    QPushButton* PushButton4 = nullptr;
    QPushButton* PushButton5 = nullptr;
    QPushButton* PushButton7 = nullptr;
    QGroupBox* Frame1 = nullptr;
    QGroupBox* Frame2 = nullptr;
    QRadioButton* Option1 = nullptr;
    QRadioButton* Option2 = nullptr;
    QLineEdit* Text1 = nullptr;
    ProgressBar* ProgressBar1 = nullptr;
};

} // namespace docuflume
