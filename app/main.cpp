// The program entry: the application with its title, the main window, the
// hidden shape-file test window, and the event loop.

#include <QApplication>
#include <QLibraryInfo>
#include <QTranslator>

#include "base/messages.h"
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

    // The language is chosen once, here, before any thread starts. Japanese
    // is the source; English comes from the translation built into the ui
    // library. Qt's own dialogs (open, save, overwrite confirmation) follow:
    // in Japanese through Qt's translations, in English as they are.
    QTranslator translator;
    QTranslator qtTranslator;
    if (talorin::ProgramLanguage() == talorin::Language::English) {
        if (translator.load(QStringLiteral(":/i18n/talorin_en.qm")))
            QApplication::installTranslator(&translator);
    } else if (qtTranslator.load(QStringLiteral("qtbase_ja"),
                                 QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        QApplication::installTranslator(&qtTranslator);
    }

    // Created first, so closing it ends the program.
    TTalorin_main Talorin_main(RealDialogs(), QCoreApplication::arguments());
    // Created hidden; nothing in the program shows it.
    TVESK VESK(RealDialogs());

    Talorin_main.show();
    return app.exec();
}
