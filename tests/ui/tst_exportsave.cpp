// Saving the terrain from the window in the other formats: the save dialog
// lists them after .suf, and the typed extension or the selected filter
// decides what is written.

#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

#include "fakedialogs.h"
#include "greybmp.h"
#include "base/sjis.h"
#include "ui/mainwindow.h"
#include "windowcontrols.h"

namespace {

// The fake, answering with a selected filter as well.
class FilterDialogs : public FakeDialogs {
  public:
    QString filterAnswer;
    SaveChoice saveFileAs(QWidget* parent, const FileDialogRequest& request) override {
        return {saveFile(parent, request), filterAnswer};
    }
};

QByteArray Contents(const QString& file) {
    QFile f(file);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

class TestExportSave : public QObject {
    Q_OBJECT

  private:
    FilterDialogs dialogs;
    std::unique_ptr<QTemporaryDir> dir;
    QString image;

    QString path(const QString& name) const { return dir->filePath(name); }

    std::unique_ptr<TTalorin_main> start() {
        auto w =
            std::make_unique<TTalorin_main>(dialogs, QStringList{QStringLiteral("talorin"), image});
        w->show();
        QCoreApplication::processEvents();
        return w;
    }

    // Generates at depth 2 (density 4: 256 quads on 17 x 17 points) and saves
    // under the answer of the fake dialog.
    void save(TTalorin_main& w, const QString& answer, const QString& filter = QString()) {
        dialogs.saveAnswers = {answer};
        dialogs.filterAnswer = filter;
        Controls(w).SUFOutButton->click();
        QVERIFY2(dialogs.errors.isEmpty(), qPrintable(dialogs.errors.join('\n')));
    }

  private slots:
    void initTestCase() { QApplication::setQuitOnLastWindowClosed(false); }

    void init() {
        dialogs = FilterDialogs();
        dir = std::make_unique<QTemporaryDir>();
        QVERIFY(dir->isValid());
        image = path(QStringLiteral("hill.bmp"));
        WriteGreyBmp(image, 40, 30, [](int x, int y) { return x * 3 + y * 2; });
    }

    void dialogListsSufFirstThenTheOtherFormats() {
        auto w = start();
        const FileDialogRequest request = w->saveRequest();
        QCOMPARE(request.filter, QStringLiteral("Quiro形状ファイル (*.suf)"));
        QCOMPARE(request.defaultSuffix, QStringLiteral("suf"));
        QStringList suffixes;
        for (const QString& f : request.moreFilters)
            suffixes << FilterSuffix(f);
        QCOMPARE(suffixes, (QStringList{"obj", "stl", "ply", "glb"}));

        // The real dialog: .suf selected first; choosing another filter makes
        // its extension the one a bare name gets.
        const std::unique_ptr<QFileDialog> dialog = MakeFileDialog(w.get(), request, true);
        QCOMPARE(dialog->nameFilters(), QStringList{request.filter} + request.moreFilters);
        QCOMPARE(dialog->selectedNameFilter(), request.filter);
        QCOMPARE(dialog->defaultSuffix(), QStringLiteral("suf"));
        emit dialog->filterSelected(request.moreFilters[1]);
        QCOMPARE(dialog->defaultSuffix(), QStringLiteral("stl"));
    }

    void typedExtensionDecidesTheFormat() {
        auto w = start();
        save(*w, path(QStringLiteral("t.STL")), w->saveRequest().filter); // .suf selected
        const QByteArray stl = Contents(path(QStringLiteral("t.STL")));
        QVERIFY(!stl.startsWith("solid"));
        QCOMPARE(stl.size(), 84 + 50 * 512); // 256 quads, two triangles each

        save(*w, path(QStringLiteral("t.obj")));
        const QByteArray obj = Contents(path(QStringLiteral("t.obj")));
        QCOMPARE(obj.count("\nv "), 17 * 17);
        QCOMPARE(obj.count("\nf "), 256);
        QVERIFY(obj.contains("\nmtllib t.mtl\n"));
        QVERIFY(Contents(path(QStringLiteral("t.mtl"))).contains("\nmap_Kd hill.bmp\n"));

        save(*w, path(QStringLiteral("t.suf")));
        QVERIFY(Contents(path(QStringLiteral("t.suf"))).startsWith("obj suf hill {\r\n"));
    }

    void selectedFilterDecidesForANameWithoutAKnownExtension() {
        auto w = start();
        const QStringList filters = w->saveRequest().moreFilters;
        save(*w, path(QStringLiteral("terrain")), filters[2]); // PLY
        QVERIFY(Contents(path(QStringLiteral("terrain.ply")))
                    .startsWith("ply\nformat binary_little_endian 1.0\n"));
        save(*w, path(QStringLiteral("terrain.v2")), filters[3]); // glb, name kept
        QVERIFY(Contents(path(QStringLiteral("terrain.v2"))).startsWith("glTF"));
        // The next dialog proposes the file written.
        QCOMPARE(w->saveRequest().proposedName, path(QStringLiteral("terrain.v2")));
    }

    void failedExportIsReported() {
        auto w = start();
        const QString missing = path(QStringLiteral("no/such.glb"));
        dialogs.saveAnswers = {missing};
        Controls(*w).SUFOutButton->click();
        QCOMPARE(dialogs.errors.size(), 1);
        QVERIFY2(dialogs.errors[0].startsWith(QStringLiteral("ファイル ") + missing +
                                              QStringLiteral(" に書き込めませんでした")),
                 qPrintable(dialogs.errors[0]));
    }
};

QTEST_MAIN(TestExportSave)
#include "tst_exportsave.moc"
