#include "shell/QtPrompts.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>

namespace docuflume {
namespace {

// The texts use the classic CR LF and lone CR line breaks; Qt shows only LF as one.
QString withLineBreaks(QString text)
{
    return text.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(u'\r', u'\n');
}

} // namespace

MessageAnswer QtPrompts::message(QWidget* owner, const MessageRequest& request)
{
    QMessageBox box(owner);
    box.setWindowTitle(request.title);
    box.setText(withLineBreaks(request.text));
    box.setTextFormat(Qt::PlainText);
    box.setIcon(request.icon == MessageIcon::Warning ? QMessageBox::Warning : QMessageBox::NoIcon);
    if (request.buttons == MessageButtons::YesNo) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(QMessageBox::Yes);
    } else {
        box.setStandardButtons(QMessageBox::Ok);
    }
    const int answer = box.exec();
    if (request.buttons == MessageButtons::Ok)
        return MessageAnswer::Ok;
    return answer == QMessageBox::Yes ? MessageAnswer::Yes : MessageAnswer::No;
}

QString QtPrompts::input(QWidget* owner, const QString& prompt, const QString& title,
                         const QString& proposed)
{
    bool ok = false;
    const QString text = QInputDialog::getText(owner, title, withLineBreaks(prompt),
                                               QLineEdit::Normal, proposed, &ok);
    return ok ? text : QString();
}

QStringList QtPrompts::openFiles(QWidget* owner, const OpenFilesRequest& request)
{
    QFileDialog dialog(owner, request.title);
    dialog.setFileMode(QFileDialog::ExistingFiles);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    QStringList filters = request.filters;
#ifndef Q_OS_WIN
    // "*.*" is every file on Windows; here it would leave out names without a dot.
    filters.replaceInStrings(QStringLiteral("(*.*)"), QStringLiteral("(*)"));
#endif
    dialog.setNameFilters(filters);
    dialog.selectNameFilter(filters.value(request.filters.indexOf(request.selectedFilter)));
    if (dialog.exec() != QDialog::Accepted)
        return {};
    return dialog.selectedFiles();
}

QString QtPrompts::pickFolder(QWidget* owner, const QString& title, const QString& initialFolder)
{
    return QFileDialog::getExistingDirectory(owner, title, initialFolder,
                                             QFileDialog::ShowDirsOnly);
}

bool QtPrompts::openWithDesktop(const QUrl& url)
{
    return QDesktopServices::openUrl(url);
}

} // namespace docuflume
