// "Add Word File(s)": documents picked in the Open File dialog.

#include "doclist/AddFiles.h"
#include "doclist/DocumentList.h"
#include "shell/ErrorTrap.h"
#include "shell/PathHelpers.h"
#include "ui/Form1.h"

namespace docuflume {

void Form1::PushButton1_Click()
{
    ErrorTrap line = trap();
    line.setHandler([this](const Failure& failure, int) {
        if (failure.number() != Failure::BufferTooSmall)
            return ErrorTrap::Outcome::Report;
        MsgBox(QStringLiteral("You've selected too many files to add.\r\rPlease try adding via "
                              "the \"Add All\" button."));
        return ErrorTrap::Outcome::Leave;
    });

    OpenFilesRequest request;
    QString result;
    line(104, [&] { result.clear(); });
    line(106, [&] { /* several files may be picked: the dialog always allows it */ });
    line(108, [&] {
        request.title = QStringLiteral("Add File(s) - Hold Ctrl to select multiple files");
    });
    line(110, [&] {
        request.filters = {QStringLiteral("Word Documents (*.do*)"),
                           QStringLiteral("All Files (*.*)")};
        request.selectedFilter = request.filters.first();
    });
    line(112, [&] {
        result = OpenFileResult(m_platform.prompts.openFiles(this, request));
        if (result.size() >= kFileNameBufferSize)
            throw Failure(Failure::BufferTooSmall,
                          QStringLiteral("The file name buffer is too small."));
    });
    if (line.when(114, [&] { return result.isEmpty(); }))
        return;
    QStringList pieces;
    line(116, [&] { pieces = result.split(QChar(0)); });
    const int last = int(pieces.size()) - 1;
    if (line.when(118, [&] { return last == 0; })) {
        QString path;
        line(120, [&] { path = pieces.value(0); });
        line(122, [&] { m_documents->AddDocument(path); });
        return;
    }
    for (int i = 1; i <= last; ++i) {
        QString path;
        // Without a folder in common, each piece is a full path already.
        line(136,
             [&] { path = pieces[0].isEmpty() ? pieces[i] : pieces[0] + kSeparator + pieces[i]; });
        line(138, [&] { path = CollapseDoubleBackslashes(path); });
        line(140, [&] { m_documents->AddDocument(path); });
    }
}

} // namespace docuflume
