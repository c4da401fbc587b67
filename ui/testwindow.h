#pragma once
// The shape-file library's own small window: loads a .suf file and lists its
// objects, saves what was loaded, frees it. Created hidden at start-up; no
// command of the main window shows it.

#include <QWidget>

#include "ui/dialogs.h"

class QListWidget;
class QPushButton;

namespace vesk {
struct TVESK_Object;
}

class TVESK : public QWidget {
    Q_OBJECT
  public:
    // dialogs must outlive the window.
    explicit TVESK(Dialogs& dialogs, QWidget* parent = nullptr);
    // Releases the loaded chain, if any.
    ~TVESK() override;

    TVESK(const TVESK&) = delete;
    TVESK& operator=(const TVESK&) = delete;

    // The first object of the chain the window loaded, or null. Owned by the window.
    const vesk::TVESK_Object* testModel() const { return TestModel; }

    // Components, in the order the window declares them.
    QPushButton* LoadTest = nullptr;
    FileDialogRequest OpenDialog1;
    QListWidget* ListBox1 = nullptr;
    QPushButton* EndButton = nullptr;
    QPushButton* SaveTest = nullptr;
    FileDialogRequest SaveDialog1;
    QPushButton* FreeSufTest = nullptr;

  public slots:
    // Asks for a file, releases the current chain and reads the file; lists
    // the names of its objects, or the reader's message when nothing was read.
    // An error the reader throws ends the handler with no chain loaded and the
    // list as it was. Cancelling the dialog changes nothing.
    void LoadTestClick();
    // Asks for a file name and saves the current chain (an empty file when
    // there is none); a failure replaces the list by the writer's message.
    void SaveTestClick();
    // Releases the chain and clears the list.
    void FreeSufTestClick();
    // Hides the window; the chain stays loaded.
    void EndButtonClick();

  private:
    void addRow(const QString& text);

    Dialogs& m_dialogs;
    vesk::TVESK_Object* TestModel = nullptr;
};
