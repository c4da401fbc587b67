// The program entry: the application with its title, the main window, the
// hidden shape-file test window, and the event loop.

#include <QApplication>
#include <QLibraryInfo>
#include <QTranslator>

#include "ui/dialogs.h"
#include "ui/mainwindow.h"
#include "ui/memoryreuse.h"
#include "ui/testwindow.h"

int main(int argc, char* argv[]) {
    KeepFreedMemoryForReuse();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("talorin"));
    // The title goes on every box explicitly (see Dialogs). It is not set as
    // the display name, which X11 would append to every window caption.

    // The window speaks Japanese; so should Qt's own dialogs (open, save,
    // overwrite confirmation). Without the translations they stay in English.
    QTranslator qtTranslator;
    if (qtTranslator.load(QStringLiteral("qtbase_ja"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&qtTranslator);

    // Created first, so closing it ends the program.
    TTalorin_main Talorin_main(RealDialogs(), QCoreApplication::arguments());
    // Created hidden; nothing in the program shows it.
    TVESK VESK(RealDialogs());

    Talorin_main.show();
    return app.exec();
}
