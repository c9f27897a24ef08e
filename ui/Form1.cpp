#include "ui/Form1.h"

#include "BuildConfig.h"

#include "convert/ExportDocument.h"
#include "doclist/DocumentList.h"
#include "shell/ErrorTrap.h"
#include "ui/Colours.h"
#include "ui/Design.h"
#include "ui/FrameBox.h"
#include "ui/ProgressBar.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QDropEvent>
#include <QFileInfo>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QStyle>
#include <QTableView>
#include <QToolTip>

namespace docuflume {
namespace {

// The screen bands in which a drag scrolls the list by one entry.
constexpr int kScrollUpBelow = 305;
constexpr int kScrollDownFrom = 365;

const QString kListTip =
    QStringLiteral("Drag and drop files here. Double-click item to remove it. Move | line to "
                   "right and out of window to reveal full names.");

QFont arialBold(qreal points)
{
    QFont font(QStringLiteral("Arial"));
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(points);
    font.setWeight(QFont::Bold);
    return font;
}

// Names a control after its design name and puts it in its design place.
template <typename Widget>
Widget* placed(Widget* widget, const char* name, const design::Place& place)
{
    widget->setObjectName(QLatin1String(name));
    widget->setGeometry(design::pixels(place));
    return widget;
}

// The list takes only the paths of what is dropped, never the files themselves: it answers
// "copied" (or "linked"), never "moved", which would let the source delete the user's
// documents. A source that offers nothing but a move is refused.
Qt::DropAction dropTakenAs(const QDropEvent& event)
{
    if (event.possibleActions() & Qt::CopyAction)
        return Qt::CopyAction;
    if (event.possibleActions() & Qt::LinkAction)
        return Qt::LinkAction;
    return Qt::IgnoreAction;
}

} // namespace

Form1::Form1(const Platform& platform, QWidget* parent)
    : QWidget(parent), m_platform(platform), m_applicationTitle(design::kProductName)
{
    setObjectName(QStringLiteral("Form1"));
    buildDesign();
    setTabOrder();
    wireHandlers();
}

Form1::~Form1() = default;

void Form1::buildDesign()
{
    using namespace design;

    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(pixels(kClientWidth), pixels(kClientHeight));
    setFont(arialBold(kWindowFontPoints));
    setBackgroundColour(this, Qt::white);

    m_documents = new DocumentList(this);
    // A table view with one column and no row header is the report view: its rows cost a
    // fixed height each, so appending stays cheap however long the list grows.
    ListView1 = placed(new QTableView(this), "ListView1", kListView1);
    ListView1->setModel(m_documents);
    ListView1->setShowGrid(false);
    ListView1->setWordWrap(false);
    ListView1->setCornerButtonEnabled(false);
    ListView1->setSelectionMode(QAbstractItemView::SingleSelection);
    ListView1->setSelectionBehavior(QAbstractItemView::SelectRows);
    ListView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ListView1->setTextElideMode(Qt::ElideNone); // long paths are cut off, not shortened
    ListView1->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    ListView1->verticalHeader()->hide();
    ListView1->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    QHeaderView* header = ListView1->horizontalHeader();
    header->setStretchLastSection(false);
    header->setSectionsMovable(false);
    header->setHighlightSections(false);
    header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    ListView1->setFont(arialBold(kListFontPoints));
    ListView1->verticalHeader()->setDefaultSectionSize(ListView1->fontMetrics().height() + 4);
    ListView1->setToolTip(kListTip);
    ListView1->setAcceptDrops(true);
    ListView1->setDragEnabled(false);
    // Reordering by dragging is the window's own (ListView1_MouseMove): while a button is
    // held over it, the list neither scrolls by itself near its edges (its auto-scroll is
    // off from the press to the release; the rest of the time it keeps the current entry in
    // view) nor lets its selection follow the pointer (eventFilter takes those moves).
    ListView1->setDragDropMode(QAbstractItemView::DropOnly);

    auto makeButton = [this](QPushButton*& button, const char* name, const QString& caption,
                             const Place& place, QWidget* container = nullptr) {
        button = placed(new QPushButton(caption, container ? container : this), name, place);
        button->setFont(arialBold(kButtonFontPoints));
        QPalette palette = button->palette();
        palette.setColor(QPalette::Button, Qt::white);
        palette.setColor(QPalette::ButtonText, QApplication::palette().color(QPalette::ButtonText));
        button->setPalette(palette);
    };
    makeButton(PushButton1, "PushButton1", QStringLiteral("Add Word File(s)"), kPushButton1);
    makeButton(PushButton4, "PushButton4", QStringLiteral("Add All Word Files In Folder"),
               kPushButton4);
    makeButton(PushButton3, "PushButton3", QStringLiteral("Clear List"), kPushButton3);
    makeButton(PushButton5, "PushButton5", QStringLiteral("Load Sample/Example Files"),
               kPushButton5);

    Frame1 = placed(new FrameBox(QStringLiteral("Output Options"), this), "Frame1", kFrame1);
    Option1 = placed(new QRadioButton(QStringLiteral("Normal"), Frame1), "Option1", kOption1);
    Option2 = placed(new QRadioButton(QStringLiteral("Filtered"), Frame1), "Option2", kOption2);
    Frame2 = placed(new FrameBox(QStringLiteral("Save Results To This Folder"), this), "Frame2",
                    kFrame2);
    for (QWidget* widget : std::initializer_list<QWidget*>{Frame1, Option1, Option2, Frame2})
        setBackgroundColour(widget, Qt::white);
    Option1->setChecked(true);

    Text1 = placed(new QLineEdit(Frame2), "Text1", kText1);
    Text1->setPalette(QApplication::palette(Text1)); // the system's own text-box colours

    makeButton(PushButton7, "PushButton7", QStringLiteral("..."), kPushButton7, Frame2);

    makeButton(PushButton2, "PushButton2", QStringLiteral("Start Converting To HTML"),
               kPushButton2);

    ProgressBar1 = placed(new ProgressBar(this), "ProgressBar1", kProgressBar1);
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    ProgressBar1->setTextVisible(true);
    ProgressBar1->setAlignment(Qt::AlignCenter);
    {
        QPalette palette = ProgressBar1->palette();
        const QColor buttonText = QApplication::palette().color(QPalette::ButtonText);
        palette.setColor(QPalette::Base, Qt::white);
        palette.setColor(QPalette::Window, Qt::white);
        palette.setColor(QPalette::Text, buttonText);
        palette.setColor(QPalette::WindowText, buttonText);
        ProgressBar1->setPalette(palette);
    }
    setProgressText(QStringLiteral("Progress Bar"));

    // Pointer feedback needs the moves without a button held, too.
    setMouseTracking(true);
    for (QWidget* widget :
         {static_cast<QWidget*>(this), static_cast<QWidget*>(PushButton1),
          static_cast<QWidget*>(PushButton2), static_cast<QWidget*>(PushButton3),
          static_cast<QWidget*>(PushButton4), static_cast<QWidget*>(PushButton5),
          static_cast<QWidget*>(PushButton7), static_cast<QWidget*>(Frame1),
          static_cast<QWidget*>(Frame2), static_cast<QWidget*>(Text1), ListView1->viewport()})
        watchPointer(widget);
}

void Form1::setTabOrder()
{
    // Frames take no focus and the progress bar shows only, so both are passed over.
    ProgressBar1->setFocusPolicy(Qt::NoFocus);
    const QList<QWidget*> order = {ListView1,   Option2,     Option1,     PushButton1, PushButton4,
                                   PushButton2, PushButton3, PushButton5, Text1,       PushButton7};
    for (qsizetype i = 1; i < order.size(); ++i)
        QWidget::setTabOrder(order[i - 1], order[i]);
}

void Form1::wireHandlers()
{
    connect(PushButton1, &QPushButton::clicked, this, &Form1::PushButton1_Click);
    connect(PushButton2, &QPushButton::clicked, this, &Form1::PushButton2_Click);
    connect(PushButton3, &QPushButton::clicked, this, &Form1::PushButton3_Click);
    connect(PushButton4, &QPushButton::clicked, this, &Form1::PushButton4_Click);
    connect(PushButton5, &QPushButton::clicked, this, &Form1::PushButton5_Click);
    // The view reports a press on an entry after it has made that entry the current one.
    connect(ListView1, &QAbstractItemView::pressed, this, [this] { ListView1_ItemClick(); });
    ListView1->installEventFilter(this);
    connect(PushButton7, &QPushButton::clicked, this, &Form1::PushButton7_Click);
    // An option's click comes when it becomes the selected one, by the user or by code.
    connect(Option1, &QRadioButton::toggled, this, [this](bool on) {
        if (on)
            Option1_Click();
    });
    connect(Option2, &QRadioButton::toggled, this, [this](bool on) {
        if (on)
            Option2_Click();
    });
    connect(Text1, &QLineEdit::textChanged, this, &Form1::Text1_Change);
}

QString Form1::programFile(const QString& name) const
{
    const bool installed = m_platform.programFolder.isEmpty();
    const QString beside =
        (installed ? QCoreApplication::applicationDirPath() : m_platform.programFolder) + u'/' +
        name;
    QString dataFolder = m_platform.dataFolder;
    if (dataFolder.isEmpty() && installed)
        dataFolder = QCoreApplication::applicationDirPath() +
                     QStringLiteral("/" DOCUFLUME_DATA_FROM_PROGRAM);
    if (dataFolder.isEmpty() || QFileInfo::exists(beside))
        return beside;
    const QString inData = QDir::cleanPath(dataFolder + u'/' + name);
    // Neither: the name beside the program, as the handlers report a missing file.
    return QFileInfo::exists(inData) ? inData : beside;
}

void Form1::closeEvent(QCloseEvent* event)
{
    QWidget::closeEvent(event);
    Form_Unload();
}

void Form1::watchPointer(QWidget* widget)
{
    widget->setMouseTracking(true);
    widget->installEventFilter(this);
}

namespace {

QString HandlerName(const char* function)
{
    // "void docuflume::Form1::PushButton2_Click()" (GCC, Clang) or
    // "void __cdecl docuflume::Form1::PushButton2_Click(void)" (MSVC).
    const QString signature = QString::fromLatin1(function);
    const qsizetype start = signature.indexOf(QLatin1String("Form1::"));
    const qsizetype end = signature.indexOf(u'(', start);
    if (start < 0 || end < 0)
        return signature;
    return signature.mid(start + 7, end - start - 7);
}

} // namespace

ErrorTrap Form1::trap(std::source_location caller)
{
    // The place the error box names: the project, its date and this window, then the
    // handler. Users quote it to support, so it stays exactly as it has always read.
    return ErrorTrap(
        m_platform.prompts, this,
        QStringLiteral("in Quarnel2021/08/31.Form1.%1 ").arg(HandlerName(caller.function_name())));
}

MessageAnswer Form1::MsgBox(const QString& text, MessageButtons buttons)
{
    return m_platform.prompts.message(this, {text, m_applicationTitle, MessageIcon::None, buttons});
}

std::optional<int> Form1::SelectedFileFormat() const
{
    if (Option1->isChecked())
        return HtmlNormal;
    if (Option2->isChecked())
        return HtmlFiltered;
    return std::nullopt;
}

void Form1::setMousePointer(int value)
{
    m_mousePointer = value;
    QCursor cursor;
    switch (value) {
    case PointerArrow:
        cursor = QCursor(Qt::ArrowCursor);
        break;
    case PointerHourglass:
        cursor = QCursor(Qt::WaitCursor);
        break;
    case PointerCustom:
        cursor = m_mouseIcon.value_or(QCursor(Qt::PointingHandCursor));
        break;
    default:
        unsetCursor();
        Text1->setCursor(Qt::IBeamCursor);
        return;
    }
    // The text box keeps its own pointer otherwise; the window's pointer covers it too.
    setCursor(cursor);
    Text1->setCursor(cursor);
}

void Form1::setMouseIcon(const QCursor& cursor)
{
    m_mouseIcon = cursor;
    if (m_mousePointer == PointerCustom)
        setMousePointer(PointerCustom);
}

void Form1::setProgressText(const QString& text)
{
    ProgressBar1->setText(text);
}

QString Form1::progressText() const
{
    return ProgressBar1->text();
}

void Form1::applyHoverRule(int pointer)
{
    if (m_mousePointer != PointerHourglass)
        setMousePointer(pointer);
}

void Form1::PushButton1_MouseMove()
{
    applyHoverRule(PointerCustom);
}
void Form1::PushButton2_MouseMove()
{
    applyHoverRule(PointerCustom);
}
void Form1::PushButton3_MouseMove()
{
    applyHoverRule(PointerCustom);
}
void Form1::PushButton4_MouseMove()
{
    applyHoverRule(PointerCustom);
}
void Form1::PushButton5_MouseMove()
{
    applyHoverRule(PointerCustom);
}
void Form1::PushButton7_MouseMove()
{
    applyHoverRule(PointerCustom);
}
void Form1::Form_MouseMove()
{
    applyHoverRule(PointerDefault);
}
void Form1::Frame1_MouseMove()
{
    applyHoverRule(PointerDefault);
}
void Form1::Frame2_MouseMove()
{
    applyHoverRule(PointerDefault);
}
void Form1::Text1_MouseMove()
{
    applyHoverRule(PointerDefault);
}

void Form1::ListView1_MouseMove(Qt::MouseButtons, Qt::KeyboardModifiers, QPoint position)
{
    applyHoverRule(PointerDefault);
    dragStep(position, m_lastScreenY);
}

// The entry under the pointer changes places with the dragged one, which stays current; in
// the screen bands near the list's ends the list scrolls by one entry.
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

// Delete and a double-click remove the current entry, except while the hourglass shows.
void Form1::removeCurrentEntry()
{
    if (m_mousePointer == PointerHourglass || m_documents->DocumentCount() == 0)
        return;
    const QModelIndex current = ListView1->currentIndex();
    if (!current.isValid())
        return;
    m_documents->RemoveDocument(current.row() + 1);
}

bool Form1::dispatchMouseMove(QObject* watched, QMouseEvent* event)
{
    const QPoint position = event->position().toPoint();
    // A move a child did not take travels on to its parent; each control reports only the
    // moves over itself, not over the controls it holds.
    auto overItself = [&](QWidget* widget) { return widget->childAt(position) == nullptr; };

    if (watched == PushButton1)
        PushButton1_MouseMove();
    else if (watched == PushButton2)
        PushButton2_MouseMove();
    else if (watched == PushButton3)
        PushButton3_MouseMove();
    else if (watched == PushButton4)
        PushButton4_MouseMove();
    else if (watched == PushButton5)
        PushButton5_MouseMove();
    else if (watched == PushButton7)
        PushButton7_MouseMove();
    else if (watched == Frame1 && overItself(Frame1))
        Frame1_MouseMove();
    else if (watched == Frame2 && overItself(Frame2))
        Frame2_MouseMove();
    else if (watched == Text1)
        Text1_MouseMove();
    else if (watched == ListView1->viewport()) {
        m_lastScreenY = qRound(event->globalPosition().y());
        ListView1_MouseMove(event->buttons(), event->modifiers(), position);
    } else if (watched == this && overItself(this))
        Form_MouseMove();
    else
        return false;
    return true;
}

bool Form1::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::MouseMove: {
        auto* move = static_cast<QMouseEvent*>(event);
        dispatchMouseMove(watched, move);
        if (watched == ListView1->viewport() && move->buttons() != Qt::NoButton)
            return true;
        break;
    }
    case QEvent::MouseButtonPress:
        if (watched == ListView1->viewport()) {
            ListView1->setAutoScroll(false);
            ListView1_MouseDown();
        }
        break;
    case QEvent::MouseButtonRelease:
        if (watched == ListView1->viewport()) {
            ListView1_MouseUp();
            ListView1->setAutoScroll(true);
        }
        break;
    case QEvent::MouseButtonDblClick:
        if (watched == ListView1->viewport())
            ListView1_DblClick();
        break;
    case QEvent::KeyPress:
        if (watched == ListView1) {
            const auto* key = static_cast<QKeyEvent*>(event);
            // In a list, Home and End go to its first and last entry (a table's go to the
            // row's first and last column, of which this one has only one).
            if ((key->key() == Qt::Key_Home || key->key() == Qt::Key_End) &&
                !(key->modifiers() & Qt::ControlModifier)) {
                QKeyEvent toEnd(QEvent::KeyPress, key->key(),
                                key->modifiers() | Qt::ControlModifier);
                QCoreApplication::sendEvent(ListView1, &toEnd);
                return true;
            }
            ListView1_KeyDown(key->key() == Qt::Key_Delete ? 46 : 0, key->modifiers());
        }
        break;
    case QEvent::DragEnter:
    case QEvent::DragMove:
        if (watched == ListView1->viewport()) {
            auto* drag = static_cast<QDragMoveEvent*>(event);
            const Qt::DropAction taken = dropTakenAs(*drag);
            if (taken != Qt::IgnoreAction && ListView1_OLEDragOver(drag->mimeData())) {
                drag->setDropAction(taken);
                drag->accept();
            } else {
                drag->ignore(); // the pointer shows that nothing can be dropped here
            }
            return true;
        }
        break;
    case QEvent::Drop:
        if (watched == ListView1->viewport()) {
            auto* drop = static_cast<QDropEvent*>(event);
            const Qt::DropAction taken = dropTakenAs(*drop);
            if (taken == Qt::IgnoreAction) {
                drop->ignore();
                return true;
            }
            drop->setDropAction(taken);
            drop->accept();
            ListView1_OLEDragDrop(drop->mimeData());
            return true;
        }
        break;
    case QEvent::ToolTip:
        // The items have no tips of their own; the list's tip shows over all of it.
        if (watched == ListView1->viewport()) {
            QToolTip::showText(static_cast<QHelpEvent*>(event)->globalPos(), ListView1->toolTip(),
                               ListView1);
            return true;
        }
        break;
    default:
        break;
    }
    return QWidget::eventFilter(watched, event);
}

void Form1::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (m_placed)
        return;
    m_placed = true;
    if (const QScreen* screen = this->screen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
    ListView1->setFocus();
}

} // namespace docuflume
