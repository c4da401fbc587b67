#pragma once
// A stand-in for the real dialogs in window tests: records every box and
// dialog in order, counts beeps, and answers the file dialogs from scripts.

#include <QList>
#include <QString>
#include <QStringList>

#include "ui/dialogs.h"
#include "ui/outputoptions.h"

class FakeDialogs : public Dialogs {
  public:
    // Answers of the next open and save dialogs, first in first out; an empty
    // answer, or none left, is a cancelled dialog.
    QStringList openAnswers;
    QStringList saveAnswers;

    // What the windows asked for, in order.
    QList<FileDialogRequest> openRequests;
    QList<FileDialogRequest> saveRequests;
    QStringList messages; // plain boxes
    QStringList errors;   // error boxes
    int beeps = 0;
    // Everything in the order it happened: "open", "save", "message: <text>",
    // "error: <text>", "beep".
    QStringList events;

    QString openFile(QWidget*, const FileDialogRequest& request) override {
        openRequests.append(request);
        events.append(QStringLiteral("open"));
        return openAnswers.isEmpty() ? QString() : openAnswers.takeFirst();
    }
    QString saveFile(QWidget*, const FileDialogRequest& request) override {
        saveRequests.append(request);
        events.append(QStringLiteral("save"));
        return saveAnswers.isEmpty() ? QString() : saveAnswers.takeFirst();
    }
    void message(QWidget*, const QString& text) override {
        messages.append(text);
        events.append(QStringLiteral("message: ") + text);
    }
    void error(QWidget*, const QString& text) override {
        errors.append(text);
        events.append(QStringLiteral("error: ") + text);
    }
    void beep() override {
        ++beeps;
        events.append(QStringLiteral("beep"));
    }

    // Answers of the next output options dialogs, first in first out; none
    // left is a cancelled dialog.
    QList<OutputOptions> optionsAnswers;
    bool outputOptions(QWidget*, OutputOptions& options) override {
        events.append(QStringLiteral("options"));
        if (optionsAnswers.isEmpty())
            return false;
        options = optionsAnswers.takeFirst();
        return true;
    }

    // Answers of the next save questions, first in first out; none left
    // answers 保存しない, so that a test that does not care can close.
    QList<SaveAnswer> askSaveAnswers;
    SaveAnswer askSave(QWidget*, const QString& text) override {
        events.append(QStringLiteral("ask: ") + text);
        return askSaveAnswers.isEmpty() ? SaveAnswer::Discard : askSaveAnswers.takeFirst();
    }

    // Forgets what was recorded (the scripts stay).
    void clearRecord() {
        openRequests.clear();
        saveRequests.clear();
        messages.clear();
        errors.clear();
        beeps = 0;
        events.clear();
    }
};
