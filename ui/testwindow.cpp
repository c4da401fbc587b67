#include "ui/testwindow.h"

#include <QFile>
#include <QFont>
#include <QListWidget>
#include <QPushButton>

#include "shape/shape.h"
#include "base/sjis.h"
#include "shape/suf.h"

namespace {

// The window is designed by its outer size; Qt sizes the client area, so the
// frame of a classic window (4-pixel borders and a 19-pixel caption) is taken off.
constexpr int kOuterWidth = 389;
constexpr int kOuterHeight = 300;
constexpr int kFrameWidth = 2 * 4;
constexpr int kFrameHeight = 2 * 4 + 19;

QString SufFilter() {
    return QCoreApplication::translate("Talorin", "形状ファイル (*.suf)");
}

// Names and messages of the library are CP932 bytes.
QString FromCp932(const std::string& text) {
    return QString::fromStdString(vesk::Utf8FromCp932(text));
}

std::string FileNameBytes(const QString& fileName) {
    return QFile::encodeName(fileName).toStdString();
}

} // namespace

TVESK::TVESK(Dialogs& dialogs, QWidget* parent) : QWidget(parent), m_dialogs(dialogs) {
    setWindowTitle(QStringLiteral("VESK_Source"));
    QFont font(QStringLiteral("IPAPGothic"));
    font.setPixelSize(12);
    setFont(font);
    move(759, 521);
    resize(kOuterWidth - kFrameWidth, kOuterHeight - kFrameHeight);

    LoadTest = new QPushButton(QStringLiteral("LoadTest"), this);
    LoadTest->setGeometry(240, 152, 137, 33);

    OpenDialog1.filter = SufFilter();

    ListBox1 = new QListWidget(this);
    ListBox1->setGeometry(8, 8, 217, 249);
    ListBox1->setUniformItemSizes(true);

    EndButton = new QPushButton(QStringLiteral("End"), this);
    EndButton->setGeometry(240, 232, 137, 33);

    SaveTest = new QPushButton(QStringLiteral("SaveTest"), this);
    SaveTest->setGeometry(240, 192, 137, 33);
    SaveTest->setEnabled(false);

    SaveDialog1.filter = SufFilter();
    SaveDialog1.defaultSuffix = QStringLiteral("suf");

    FreeSufTest = new QPushButton(QStringLiteral("FreeSufTest"), this);
    FreeSufTest->setGeometry(240, 80, 137, 33);

    setTabOrder(LoadTest, ListBox1);
    setTabOrder(ListBox1, EndButton);
    setTabOrder(EndButton, SaveTest);
    setTabOrder(SaveTest, FreeSufTest);

    // Every click goes through RunHandler, so that an error escaping a
    // handler ends up in the error box and the window goes on.
    auto bind = [this](QPushButton* button, void (TVESK::*handler)()) {
        connect(button, &QPushButton::clicked, this, [this, handler] {
            RunHandler(m_dialogs, this, [this, handler] { (this->*handler)(); });
        });
    };
    bind(LoadTest, &TVESK::LoadTestClick);
    bind(EndButton, &TVESK::EndButtonClick);
    bind(SaveTest, &TVESK::SaveTestClick);
    bind(FreeSufTest, &TVESK::FreeSufTestClick);
}

TVESK::~TVESK() {
    vesk::FreeSuf(TestModel);
}

void TVESK::addRow(const QString& text) {
    auto* item = new QListWidgetItem(text);
    item->setSizeHint(QSize(fontMetrics().horizontalAdvance(text) + 4, 12));
    ListBox1->addItem(item);
}

void TVESK::LoadTestClick() {
    const QString fileName = m_dialogs.openFile(this, OpenDialog1);
    if (fileName.isEmpty())
        return;
    // The old chain goes first; if the reader then throws, nothing is loaded
    // and the list and SaveTest stay as they were.
    vesk::FreeSuf(TestModel);
    TestModel = vesk::LoadSuf(FileNameBytes(fileName));
    SaveTest->setEnabled(true);
    ListBox1->clear();
    if (TestModel) {
        for (const vesk::TVESK_Object* object = TestModel; object; object = object->Next)
            addRow(FromCp932(object->Name));
    } else {
        addRow(FromCp932(vesk::SufError));
    }
}

void TVESK::SaveTestClick() {
    const QString fileName = m_dialogs.saveFile(this, SaveDialog1);
    if (fileName.isEmpty())
        return;
    if (!vesk::SaveSuf(FileNameBytes(fileName), TestModel)) {
        ListBox1->clear();
        addRow(FromCp932(vesk::SufError));
    }
}

void TVESK::FreeSufTestClick() {
    vesk::FreeSuf(TestModel);
    ListBox1->clear();
}

void TVESK::EndButtonClick() {
    close();
}
