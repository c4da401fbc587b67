#include <QFile>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include "fakedialogs.h"
#include "shape/shape.h"
#include "ui/testwindow.h"

namespace {

// Three objects; the second is named 山 (mountain) in CP932 bytes.
const QByteArray kThreeObjects = "obj suf first {\r\n"
                                 "atr BodyM\r\n"
                                 "prim poly (\r\n"
                                 "    0 0 0\r\n"
                                 "    1 0 12.5\r\n"
                                 "    0 1 0\r\n"
                                 ")\r\n"
                                 "}\r\n"
                                 "obj suf \x8e\x52 {\r\n"
                                 "}\r\n"
                                 "obj suf third {\r\n"
                                 "}\r\n";

// Keywords are case-sensitive: the reader reports an unknown format on line 2.
const QByteArray kUnknownFormat = "/* upper case */\r\nobj SUF x {\r\n}\r\n";

// A number the reader cannot convert: an error the reader lets through.
const QByteArray kBadNumber = "obj suf a {\r\nprim poly (\r\n    0 zero 0\r\n)\r\n}\r\n";

QStringList Rows(const QListWidget* list) {
    QStringList rows;
    for (int i = 0; i < list->count(); ++i)
        rows << list->item(i)->text();
    return rows;
}

int ObjectCount(const vesk::TVESK_Object* chain) {
    int n = 0;
    for (; chain; chain = chain->Next)
        ++n;
    return n;
}

} // namespace

class TestWindowTest : public QObject {
    Q_OBJECT

  private:
    QTemporaryDir m_dir;
    QString path(const QString& name) const { return m_dir.filePath(name); }
    QString writeFile(const QString& name, const QByteArray& bytes) {
        QFile f(path(name));
        if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
            qFatal("cannot write test file");
        return f.fileName();
    }
    static QByteArray readFile(const QString& name) {
        QFile f(name);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }
    // Shows the window and clicks a button as the user would.
    static void click(QPushButton* button) { QTest::mouseClick(button, Qt::LeftButton); }
    static void show(TVESK& window) {
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
    }

  private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    void startsWithItsLayout() {
        FakeDialogs dialogs;
        TVESK window(dialogs);
        QCOMPARE(window.windowTitle(), QStringLiteral("VESK_Source"));
        QCOMPARE(window.pos(), QPoint(759, 521));
        QCOMPARE(window.font().pixelSize(), 12);
        QCOMPARE(window.LoadTest->geometry(), QRect(240, 152, 137, 33));
        QCOMPARE(window.EndButton->geometry(), QRect(240, 232, 137, 33));
        QCOMPARE(window.SaveTest->geometry(), QRect(240, 192, 137, 33));
        QCOMPARE(window.FreeSufTest->geometry(), QRect(240, 80, 137, 33));
        QCOMPARE(window.ListBox1->geometry(), QRect(8, 8, 217, 249));
        QCOMPARE(window.LoadTest->text(), QStringLiteral("LoadTest"));
        QCOMPARE(window.EndButton->text(), QStringLiteral("End"));
        QCOMPARE(window.SaveTest->text(), QStringLiteral("SaveTest"));
        QCOMPARE(window.FreeSufTest->text(), QStringLiteral("FreeSufTest"));
        QVERIFY(!window.SaveTest->isEnabled());
        QVERIFY(window.LoadTest->isEnabled());
        QCOMPARE(window.ListBox1->count(), 0);
        QVERIFY(!window.testModel());
        QVERIFY(!window.isVisible()); // created hidden

        // Tab order: LoadTest, ListBox1, End, SaveTest, FreeSufTest (the focus
        // chain also holds the list's inner widgets, which are skipped).
        const QList<QWidget*> components = {window.LoadTest, window.ListBox1, window.EndButton,
                                            window.SaveTest, window.FreeSufTest};
        QList<QWidget*> order{window.LoadTest};
        for (QWidget* w = window.LoadTest->nextInFocusChain(); w != window.LoadTest;
             w = w->nextInFocusChain())
            if (components.contains(w))
                order << w;
        QCOMPARE(order, components);
    }

    void loadListsObjectsInFileOrder() {
        FakeDialogs dialogs;
        dialogs.openAnswers << writeFile("three.suf", kThreeObjects);
        TVESK window(dialogs);
        show(window);
        click(window.LoadTest);
        QCOMPARE(Rows(window.ListBox1), QStringList({QStringLiteral("first"), QStringLiteral("山"),
                                                     QStringLiteral("third")}));
        QCOMPARE(ObjectCount(window.testModel()), 3);
        QVERIFY(window.SaveTest->isEnabled());
        QVERIFY(dialogs.errors.isEmpty());
        QCOMPARE(dialogs.openRequests.size(), 1);
        QCOMPARE(dialogs.openRequests[0].filter, QStringLiteral("形状ファイル (*.suf)"));
    }

    void readerFailureShowsItsMessageAsTheOnlyRow() {
        FakeDialogs dialogs;
        dialogs.openAnswers << writeFile("three.suf", kThreeObjects)
                            << writeFile("unknown.suf", kUnknownFormat);
        TVESK window(dialogs);
        show(window);
        click(window.LoadTest);
        click(window.LoadTest);
        QCOMPARE(Rows(window.ListBox1),
                 QStringList{QStringLiteral("2行において未知の形式の形状ファイルです。")});
        QVERIFY(!window.testModel());
        QVERIFY(window.SaveTest->isEnabled());
        QVERIFY(dialogs.errors.isEmpty());
    }

    void fileWithoutObjectsShowsOneEmptyRow() {
        FakeDialogs dialogs;
        dialogs.openAnswers << writeFile("empty.suf", "/* nothing */\r\n");
        TVESK window(dialogs);
        show(window);
        click(window.LoadTest);
        QCOMPARE(Rows(window.ListBox1), QStringList{QString()});
        QVERIFY(!window.testModel());
    }

    void errorTheReaderLetsThroughGoesToTheErrorBox() {
        FakeDialogs dialogs;
        dialogs.openAnswers << writeFile("bad.suf", kBadNumber)
                            << writeFile("three.suf", kThreeObjects)
                            << writeFile("bad.suf", kBadNumber) << path("missing.suf");
        TVESK window(dialogs);
        show(window);

        // First load fails: SaveTest stays disabled, nothing is listed.
        click(window.LoadTest);
        QCOMPARE(dialogs.errors,
                 QStringList{QStringLiteral("'zero' は浮動小数点数ではありません.")});
        QVERIFY(!window.SaveTest->isEnabled());
        QCOMPARE(window.ListBox1->count(), 0);
        QVERIFY(!window.testModel());

        // After a good load, a failing one releases the model but keeps the rows.
        click(window.LoadTest);
        QCOMPARE(ObjectCount(window.testModel()), 3);
        click(window.LoadTest);
        QCOMPARE(dialogs.errors.size(), 2);
        QVERIFY(!window.testModel());
        QCOMPARE(window.ListBox1->count(), 3);
        QVERIFY(window.SaveTest->isEnabled());

        // A file that cannot be opened is reported the same way.
        click(window.LoadTest);
        QCOMPARE(dialogs.errors.size(), 3);
        QCOMPARE(window.ListBox1->count(), 3);
    }

    void saveWritesTheLoadedModelBack() {
        FakeDialogs dialogs;
        const QString source = writeFile("three.suf", kThreeObjects);
        const QString target = path("three-saved.suf");
        dialogs.openAnswers << source;
        dialogs.saveAnswers << target;
        TVESK window(dialogs);
        show(window);
        click(window.LoadTest);
        click(window.SaveTest);
        QCOMPARE(readFile(target), kThreeObjects);
        QCOMPARE(window.ListBox1->count(), 3); // success leaves the list alone
        QCOMPARE(dialogs.saveRequests.size(), 1);
        QCOMPARE(dialogs.saveRequests[0].filter, QStringLiteral("形状ファイル (*.suf)"));
        QCOMPARE(dialogs.saveRequests[0].defaultSuffix, QStringLiteral("suf"));
    }

    void saveAfterAFailedLoadWritesAnEmptyFile() {
        FakeDialogs dialogs;
        dialogs.openAnswers << writeFile("unknown.suf", kUnknownFormat);
        const QString target = writeFile("old.suf", "old contents\r\n");
        dialogs.saveAnswers << target;
        TVESK window(dialogs);
        show(window);
        click(window.LoadTest);
        const QStringList rows = Rows(window.ListBox1);
        click(window.SaveTest);
        QCOMPARE(readFile(target), QByteArray());
        QCOMPARE(Rows(window.ListBox1), rows);
    }

    void saveAfterFreeWritesAnEmptyFile() {
        FakeDialogs dialogs;
        dialogs.openAnswers << writeFile("three.suf", kThreeObjects);
        const QString target = path("freed.suf");
        dialogs.saveAnswers << target;
        TVESK window(dialogs);
        show(window);
        click(window.LoadTest);
        click(window.FreeSufTest);
        QVERIFY(!window.testModel());
        QCOMPARE(window.ListBox1->count(), 0);
        QVERIFY(window.SaveTest->isEnabled());
        click(window.SaveTest);
        QCOMPARE(readFile(target), QByteArray());
    }

    void failedSaveShowsTheWritersMessage() {
        FakeDialogs dialogs;
        dialogs.openAnswers << writeFile("three.suf", kThreeObjects);
        const QString target = path("no-such-folder/out.suf");
        dialogs.saveAnswers << target;
        TVESK window(dialogs);
        show(window);
        click(window.LoadTest);
        click(window.SaveTest);
        const QStringList rows = Rows(window.ListBox1);
        QCOMPARE(rows.size(), 1);
        QVERIFY2(rows[0].contains(target), qPrintable(rows[0])); // names the file
        QVERIFY(!QFile::exists(target));
        QCOMPARE(ObjectCount(window.testModel()), 3); // the model is not touched
    }

    void cancellingADialogChangesNothing() {
        FakeDialogs dialogs;
        TVESK window(dialogs);
        show(window);
        click(window.LoadTest); // cancelled
        QVERIFY(!window.SaveTest->isEnabled());
        QCOMPARE(window.ListBox1->count(), 0);
        QCOMPARE(dialogs.openRequests.size(), 1);

        dialogs.openAnswers << writeFile("three.suf", kThreeObjects);
        click(window.LoadTest);
        const vesk::TVESK_Object* model = window.testModel();
        click(window.LoadTest); // cancelled: the model stays loaded
        QCOMPARE(window.testModel(), model);
        QCOMPARE(window.ListBox1->count(), 3);
        click(window.SaveTest); // cancelled
        QCOMPARE(dialogs.saveRequests.size(), 1);
        QCOMPARE(window.testModel(), model);
        QCOMPARE(window.ListBox1->count(), 3);
        QVERIFY(window.SaveTest->isEnabled());
        QVERIFY(dialogs.errors.isEmpty());
    }

    void endHidesTheWindowAndKeepsTheModel() {
        FakeDialogs dialogs;
        dialogs.openAnswers << writeFile("three.suf", kThreeObjects);
        TVESK window(dialogs);
        show(window);
        click(window.LoadTest);
        click(window.EndButton);
        QVERIFY(!window.isVisible());
        QCOMPARE(ObjectCount(window.testModel()), 3);
        QCOMPARE(window.ListBox1->count(), 3);
    }
};

QTEST_MAIN(TestWindowTest)
#include "tst_testwindow.moc"
