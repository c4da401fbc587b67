#include "ui/dialogs.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>

namespace {

QString RunFileDialog(QWidget* parent, const FileDialogRequest& request,
                      QFileDialog::AcceptMode mode) {
    // No title of its own: the platform's open and save titles show.
    QFileDialog dialog(parent);
    dialog.setAcceptMode(mode);
    dialog.setFileMode(request.fileMustExist ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    dialog.setNameFilter(request.filter);
    dialog.setDefaultSuffix(request.defaultSuffix);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, !request.confirmOverwrite);
    if (!request.initialFolder.isEmpty())
        dialog.setDirectory(request.initialFolder);
    if (!request.proposedName.isEmpty())
        dialog.selectFile(request.proposedName);
    if (dialog.exec() != QDialog::Accepted)
        return {};
    const QStringList files = dialog.selectedFiles();
    return files.isEmpty() ? QString() : files.first();
}

// Without a parent the box is centred on the screen; exec() makes it modal
// for the whole application.
void ShowBox(QMessageBox::Icon icon, const QString& text) {
    QMessageBox box(icon, kApplicationTitle, text, QMessageBox::Ok);
    box.exec();
}

class QtDialogs final : public Dialogs {
  public:
    QString openFile(QWidget* parent, const FileDialogRequest& request) override {
        return RunFileDialog(parent, request, QFileDialog::AcceptOpen);
    }
    QString saveFile(QWidget* parent, const FileDialogRequest& request) override {
        return RunFileDialog(parent, request, QFileDialog::AcceptSave);
    }
    void message(QWidget*, const QString& text) override { ShowBox(QMessageBox::NoIcon, text); }
    void error(QWidget*, const QString& text) override { ShowBox(QMessageBox::Critical, text); }
    void beep() override { QApplication::beep(); }
};

} // namespace

Dialogs& RealDialogs() {
    static QtDialogs dialogs;
    return dialogs;
}

QString ErrorBoxText(const QString& text) {
    if (text.isEmpty())
        return text;
    // Compare the last code point, a surrogate pair taken as one.
    char32_t last = text.back().unicode();
    if (text.size() >= 2 && text.back().isLowSurrogate() && text[text.size() - 2].isHighSurrogate())
        last = QChar::surrogateToUcs4(text[text.size() - 2], text.back());
    return last > U'.' ? text + u'.' : text;
}

void RunHandler(Dialogs& dialogs, QWidget* parent, const std::function<void()>& handler) {
    try {
        handler();
    } catch (const std::exception& e) {
        // talorin::Error and every other standard error carry their text in what().
        dialogs.error(parent, ErrorBoxText(QString::fromUtf8(e.what())));
    }
}
