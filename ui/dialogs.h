#pragma once
// Every modal dialog, message box and the beep go through this interface, so
// that tests can drive the windows headless with a fake in its place.

#include <QCoreApplication>
#include <QString>
#include <QStringList>
#include <exception>
#include <functional>
#include <memory>

class QFileDialog;
class QWidget;
struct OutputOptions;

struct FileDialogRequest {
    QString filter;          // e.g. "BMPファイル (*.bmp)"; several entries apart by ";;"
    QStringList moreFilters; // listed after filter, e.g. other formats to save in
    QString defaultSuffix;   // added to a name typed without an extension
    QString proposedName;    // file name proposed (may be a full path)
    QString initialFolder;   // empty: the platform's choice
    bool fileMustExist = false;
    bool folderMustExist = false; // a name in a folder that does not exist is refused
    bool confirmOverwrite = false;
};

class Dialogs {
  public:
    virtual ~Dialogs() = default;
    // The chosen full file name, or an empty string when the user cancels.
    virtual QString openFile(QWidget* parent, const FileDialogRequest& request) = 0;
    virtual QString saveFile(QWidget* parent, const FileDialogRequest& request) = 0;
    // A save dialog that also tells which filter was selected when the name
    // was chosen (empty when not known). By default saveFile's name alone.
    struct SaveChoice {
        QString fileName; // empty when the user cancels
        QString filter;
    };
    virtual SaveChoice saveFileAs(QWidget* parent, const FileDialogRequest& request) {
        return {saveFile(parent, request), QString()};
    }
    // The plain box: the text, an OK button, no icon, the application title as caption.
    virtual void message(QWidget* parent, const QString& text) = 0;
    // The error box for an error that escaped a handler: error icon, OK, the
    // application title as caption. text is shown as given.
    virtual void error(QWidget* parent, const QString& text) = 0;
    // The default alert beep.
    virtual void beep() = 0;
    // The output options dialog (ui/outputoptions.h): true, with options
    // replaced, when the user confirmed; false leaves them as they were.
    virtual bool outputOptions(QWidget* parent, OutputOptions& options) = 0;
    // Unsaved changes: whether to save them first (保存 / 保存しない /
    // キャンセル), text saying what would be lost.
    enum class SaveAnswer { Save, Discard, Cancel };
    virtual SaveAnswer askSave(QWidget* parent, const QString& text) = 0;
};

// The real dialogs, on Qt's widgets.
Dialogs& RealDialogs();

// The real file dialog for a request, not yet shown (RealDialogs runs it).
std::unique_ptr<QFileDialog> MakeFileDialog(QWidget* parent, const FileDialogRequest& request,
                                            bool save);

// The extension a filter names ("stl" for "STL (*.stl)"); empty when none.
QString FilterSuffix(const QString& filter);

// The text an error box shows for an error's message: "." appended when the
// text ends in a character that sorts after ".".
QString ErrorBoxText(const QString& text);

// Runs one event handler; an error that escapes it (talorin::Error or any
// std::exception) ends it and is shown in the error box. The program goes on.
void RunHandler(Dialogs& dialogs, QWidget* parent, const std::function<void()>& handler);

// The application title, the caption of every box.
inline QString ApplicationTitle() {
    return QCoreApplication::translate("Talorin", "Talorin-地面形状生成支援プログラム");
}
