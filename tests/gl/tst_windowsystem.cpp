// The main window's answers to requests that come from the X server itself,
// as a window manager sends them, which QWidget::close() in a test bypasses.

#include <QFile>
#include <QProgressDialog>
#include <QPushButton>
#include <QTemporaryDir>
#include <QWindow>
#include <QtTest>
#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <memory>

#include "../ui/duringrun.h"
#include "../ui/fakedialogs.h"
#include "tests/support/bmp24.h"
#include "ui/backgroundwork.h"
#include "ui/mainwindow.h"

namespace {

xcb_atom_t Atom(xcb_connection_t* x, const char* name) {
    auto* reply = xcb_intern_atom_reply(
        x, xcb_intern_atom(x, 0, std::uint16_t(std::strlen(name)), name), nullptr);
    const xcb_atom_t atom = reply ? reply->atom : 0;
    std::free(reply);
    return atom;
}

// What a window manager sends when the close button in a window's title bar
// is clicked: WM_DELETE_WINDOW, from another X client.
void SendDeleteWindow(WId window) {
    xcb_connection_t* x = xcb_connect(nullptr, nullptr);
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = xcb_window_t(window);
    event.type = Atom(x, "WM_PROTOCOLS");
    event.data.data32[0] = Atom(x, "WM_DELETE_WINDOW");
    event.data.data32[1] = XCB_CURRENT_TIME;
    xcb_send_event(x, 0, event.window, XCB_EVENT_MASK_NO_EVENT,
                   reinterpret_cast<const char*>(&event));
    // A round trip: the server has sent the message before this client goes.
    std::free(xcb_get_input_focus_reply(x, xcb_get_input_focus(x), nullptr));
    xcb_disconnect(x);
}

} // namespace

class WindowSystemTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_image;

  private slots:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        m_image = m_dir.filePath(QStringLiteral("slope.bmp"));
        QFile file(m_image);
        QVERIFY(file.open(QIODevice::WriteOnly));
        const std::string bytes = testsupport::Bmp24Bytes(64, 64, [](int x, int y) {
            const auto v = std::uint8_t(2 * x + y);
            return talorin::Rgb{v, v, v};
        });
        QCOMPARE(file.write(bytes.data(), qint64(bytes.size())), qint64(bytes.size()));
    }

    // Once the progress dialog is up, the close button of the main window or
    // of the dialog cancels the generation (no save dialog follows) and then
    // closes the main window, asking only whether to keep the edited settings.
    void closeButtonsDuringAGenerationCancelAndClose_data() {
        QTest::addColumn<bool>("onDialog");
        QTest::newRow("main window") << false;
        QTest::newRow("progress dialog") << true;
    }
    void closeButtonsDuringAGenerationCancelAndClose() {
        QFETCH(bool, onDialog);

        FakeDialogs dialogs;
        TTalorin_main w(dialogs, {QStringLiteral("talorin"), m_image});
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        w.document().setDensity(16);
        w.document().setDepth(8); // 16777216 quads: seconds of work
        bool sent = false;
        During(&w, [&] {
            auto* dialog = w.findChild<QProgressDialog*>(QString::fromLatin1(kProgressDialogName));
            if (!dialog || !dialog->windowHandle() || !dialog->windowHandle()->isExposed())
                return false;
            SendDeleteWindow(onDialog ? dialog->winId() : w.winId());
            return sent = true;
        });
        w.findChild<QPushButton*>(QStringLiteral("SUFOutButton"))->click();
        QVERIFY(sent);
        QTRY_VERIFY(!w.isVisible());
        QCOMPARE(dialogs.events.size(), 1);
        QVERIFY(dialogs.events[0].startsWith(QStringLiteral("ask: ")));
        QVERIFY(!w.currentShape());
    }
};

QTEST_MAIN(WindowSystemTest)
#include "tst_windowsystem.moc"
