#include "ui/dialogs.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>

#include "ui/outputoptions.h"

namespace {

// Qt's own dialog accepts a name in a folder that does not exist; this one
// keeps the dialog open and says so when the request wants the folder to exist.
class FileDialog final : public QFileDialog {
  public:
    FileDialog(QWidget* parent, bool folderMustExist)
        : QFileDialog(parent), m_folderMustExist(folderMustExist) {}

  protected:
    void accept() override {
        const QStringList files = selectedFiles();
        if (m_folderMustExist && !files.isEmpty()) {
            const QString folder = QFileInfo(files.first()).absolutePath();
            if (!QFileInfo(folder).isDir()) {
                // Not modal for the program: the dialog's own loop goes on under it.
                auto* box =
                    new QMessageBox(QMessageBox::Warning, windowTitle(),
                                    QFileDialog::tr("%1\nDirectory not found.\nPlease verify the "
                                                    "correct directory name was given.")
                                        .arg(folder),
                                    QMessageBox::Ok, this);
                box->setAttribute(Qt::WA_DeleteOnClose);
                box->open();
                return;
            }
        }
        QFileDialog::accept();
    }

  private:
    bool m_folderMustExist;
};

Dialogs::SaveChoice RunFileDialog(QWidget* parent, const FileDialogRequest& request, bool save) {
    const std::unique_ptr<QFileDialog> dialog = MakeFileDialog(parent, request, save);
    if (dialog->exec() != QDialog::Accepted)
        return {};
    const QStringList files = dialog->selectedFiles();
    return {files.isEmpty() ? QString() : files.first(), dialog->selectedNameFilter()};
}

// Without a parent the box is centred on the screen; exec() makes it modal
// for the whole application.
void ShowBox(QMessageBox::Icon icon, const QString& text) {
    QMessageBox box(icon, ApplicationTitle(), text, QMessageBox::Ok);
    box.exec();
}

class QtDialogs final : public Dialogs {
  public:
    QString openFile(QWidget* parent, const FileDialogRequest& request) override {
        return RunFileDialog(parent, request, false).fileName;
    }
    QString saveFile(QWidget* parent, const FileDialogRequest& request) override {
        return RunFileDialog(parent, request, true).fileName;
    }
    SaveChoice saveFileAs(QWidget* parent, const FileDialogRequest& request) override {
        return RunFileDialog(parent, request, true);
    }
    void message(QWidget*, const QString& text) override { ShowBox(QMessageBox::NoIcon, text); }
    void error(QWidget*, const QString& text) override { ShowBox(QMessageBox::Critical, text); }
    void beep() override { QApplication::beep(); }
    bool outputOptions(QWidget* parent, OutputOptions& options) override {
        return RunOutputOptionsDialog(parent, options);
    }
    SaveAnswer askSave(QWidget*, const QString& text) override {
        QMessageBox box(QMessageBox::Warning, ApplicationTitle(), text);
        QPushButton* save = box.addButton(QCoreApplication::translate("Talorin", "保存"), QMessageBox::AcceptRole);
        QPushButton* discard =
            box.addButton(QCoreApplication::translate("Talorin", "保存しない"), QMessageBox::DestructiveRole);
        QPushButton* cancel = box.addButton(QCoreApplication::translate("Talorin", "キャンセル"), QMessageBox::RejectRole);
        box.setDefaultButton(save);
        box.setEscapeButton(cancel);
        box.exec();
        if (box.clickedButton() == save)
            return SaveAnswer::Save;
        return box.clickedButton() == discard ? SaveAnswer::Discard : SaveAnswer::Cancel;
    }
};

} // namespace

Dialogs& RealDialogs() {
    static QtDialogs dialogs;
    return dialogs;
}

std::unique_ptr<QFileDialog> MakeFileDialog(QWidget* parent, const FileDialogRequest& request,
                                            bool save) {
    // No title of its own: the platform's open and save titles show.
    auto dialog = std::make_unique<FileDialog>(parent, request.folderMustExist);
    dialog->setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog->setFileMode(request.fileMustExist ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    dialog->setNameFilters(request.filter.split(QStringLiteral(";;")) + request.moreFilters);
    dialog->setDefaultSuffix(request.defaultSuffix);
    // A name typed without an extension gets the one of the selected filter.
    if (!request.moreFilters.isEmpty()) {
        QFileDialog* const d = dialog.get();
        QObject::connect(d, &QFileDialog::filterSelected, d, [d](const QString& filter) {
            if (const QString suffix = FilterSuffix(filter); !suffix.isEmpty())
                d->setDefaultSuffix(suffix);
        });
    }
    dialog->setOption(QFileDialog::DontConfirmOverwrite, !request.confirmOverwrite);
    if (!request.initialFolder.isEmpty())
        dialog->setDirectory(request.initialFolder);
    if (!request.proposedName.isEmpty())
        dialog->selectFile(request.proposedName);
    return dialog;
}

QString FilterSuffix(const QString& filter) {
    const qsizetype star = filter.indexOf(QStringLiteral("(*."));
    if (star < 0)
        return {};
    const qsizetype end = filter.indexOf(QRegularExpression(QStringLiteral("[ ;)]")), star + 3);
    return filter.mid(star + 3, end < 0 ? -1 : end - star - 3);
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
