#include "startedprogram.h"
#include "startup/windowtexts.h"
#include "version_dialog/frmabout.h"

#include <QAbstractScrollArea>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QTest>

// The tray icon, moving the main window, and the version dialog.
class tst_WindowHandling : public QObject
{
    Q_OBJECT

private:
    using Program = StartedProgram;

    static QImage picture(const QIcon &icon) { return icon.pixmap(32, 32).toImage(); }

private slots:
    void shouldSwapIconAndTipOnStartAndStopWithOneIcon();
    void shouldRemoveIconOnEveryConfirmedEnd_data();
    void shouldRemoveIconOnEveryConfirmedEnd();
    void shouldMoveWindowByItsBareSurfaceOnly();
    void shouldBringCoveredWindowForwardFromTray();
    void shouldShowVersionDialogWithItsTexts();
    void shouldKeepOneVersionDialogAndCloseWithKeys_data();
    void shouldKeepOneVersionDialogAndCloseWithKeys();
    void shouldOpenMakerPageOnlyAfterYes();
};

void tst_WindowHandling::shouldSwapIconAndTipOnStartAndStopWithOneIcon()
{
    Program p;
    QCOMPARE(p.fake.tray.currentTip, QStringLiteral("停止中"));
    QCOMPARE(picture(p.fake.tray.currentIcon), picture(p.main()->windowIcon()));
    const QImage running = picture(QIcon(QStringLiteral(KALO_BIN_DIR "/Telp.ico")));
    const QImage stopped = picture(QIcon(QStringLiteral(KALO_BIN_DIR "/Telp5.ico")));
    QVERIFY(!running.isNull() && !stopped.isNull() && running != stopped);

    for (int cycle = 0; cycle < 20; ++cycle) {
        p.button("cmdSend")->click();
        QCOMPARE(p.fake.tray.currentTip, QStringLiteral("起動中"));
        QCOMPARE(picture(p.main()->windowIcon()), running);
        QCOMPARE(picture(p.fake.tray.currentIcon), running);
        p.button("cmdSTOP")->click();
        QCOMPARE(p.fake.tray.currentTip, QStringLiteral("停止中"));
        QCOMPARE(picture(p.fake.tray.currentIcon), stopped);
    }
    QCOMPARE(p.fake.tray.registrations, 41);
    QCOMPARE(p.fake.tray.removals, 0);
}

void tst_WindowHandling::shouldRemoveIconOnEveryConfirmedEnd_data()
{
    QTest::addColumn<int>("way");
    QTest::newRow("end button") << 0;
    QTest::newRow("tray menu, window hidden") << 1;
    QTest::newRow("close box") << 2;
}

void tst_WindowHandling::shouldRemoveIconOnEveryConfirmedEnd()
{
    QFETCH(int, way);
    Program p;
    p.fake.messages.answers = { true };
    if (way == 0) {
        p.button("cmdEND")->click();
    } else if (way == 1) {
        p.button("Command1")->click();
        QVERIFY(!p.main()->isVisible());
        p.main()->mnuTray()->findChild<QAction *>(QStringLiteral("mnuEnd"))->trigger();
        QVERIFY(!p.main()->isVisible());
    } else {
        p.main()->close();
    }
    QVERIFY(!p.fake.tray.registered);
    QCOMPARE(p.fake.exit.calls, 1);
    QVERIFY(!p.main()->MSComm1().portOpen());
}

void tst_WindowHandling::shouldMoveWindowByItsBareSurfaceOnly()
{
    Program p;
    frmSOKUTEI *w = p.main();
    QVERIFY(QTest::qWaitForWindowExposed(w));
    const QPoint start = w->pos();
    // Between two buttons: bare surface.
    const QPoint bare(76, 284);
    QVERIFY(w->childAt(bare) == nullptr);
    QTest::mousePress(w, Qt::LeftButton, {}, bare);
    QTest::mouseMove(w, bare + QPoint(40, 30));
    QTest::mouseRelease(w, Qt::LeftButton, {}, bare + QPoint(40, 30));
    QCOMPARE(w->pos(), start + QPoint(40, 30));

    // On a control nothing moves.
    const QPoint moved = w->pos();
    QWidget *log = w->findChild<QAbstractScrollArea *>(QStringLiteral("lblJu"))->viewport();
    QTest::mousePress(log, Qt::LeftButton, {}, log->rect().center());
    QTest::mouseMove(w, bare + QPoint(40, 30));
    QTest::mouseRelease(log, Qt::LeftButton, {}, log->rect().center());
    QTest::mousePress(w->findChild<QPushButton *>(QStringLiteral("cmdVER")), Qt::RightButton);
    QCOMPARE(w->pos(), moved);

    // Start brings it back to the centre.
    p.button("cmdSend")->click();
    const QRect screen = w->screen()->geometry();
    QCOMPARE(w->frameGeometry().center().x() / 2, screen.center().x() / 2);
    p.button("cmdSTOP")->click();
}

// The window is open but covered by another: the icon's right press and its 表示 item both
// bring it to the front, not only a hidden one.
void tst_WindowHandling::shouldBringCoveredWindowForwardFromTray()
{
    Program p;
    frmSOKUTEI *w = p.main();
    QVERIFY(QTest::qWaitForWindowExposed(w));
    p.button("cmdVER")->click();
    frmAbout *cover = p.startup->versionDialog();
    for (const auto &bringBack : { std::function<void()>(p.fake.tray.menuRequested),
                                   std::function<void()>([&] { w->mnuTray()->actions().at(0)->trigger(); }) }) {
        cover->activateWindow();
        QTRY_VERIFY(cover->isActiveWindow());
        QVERIFY(!w->isActiveWindow());
        bringBack();
        QTRY_VERIFY(w->isActiveWindow());
    }
}

void tst_WindowHandling::shouldShowVersionDialogWithItsTexts()
{
    Program p;
    p.button("cmdVER")->click();
    frmAbout *about = p.startup->versionDialog();
    QVERIFY(about && about->isVisible());
    QVERIFY(!about->isModal());
    QVERIFY(p.main()->isVisible());
    QCOMPARE(about->windowTitle(), QStringLiteral("ﾊﾞｰｼﾞｮﾝ情報(&A)..."));
    QCOMPARE(about->findChild<QLabel *>(QStringLiteral("lblVersion"))->text(),
             QStringLiteral("Kalo_RS232Cシミュレータ Ver 1.01 Version.1.0.1"));
    const QString description = about->findChild<QLabel *>(QStringLiteral("lblDescription"))->text();
    QCOMPARE(description.split(QLatin1Char('\n')).size(), 8);
    QVERIFY(description.startsWith(QStringLiteral("RS232Cｹｰﾌﾞﾙを使用してｼﾘｱﾙ通信のﾃｽﾄを行うためのものです。\n■機能\n")));
    QVERIFY(description.endsWith(QStringLiteral("*ｹｰﾌﾞﾙはｸﾛｽｹｰﾌﾞﾙを使用して下さい。")));
    QVERIFY(about->findChild<QLabel *>(QStringLiteral("Label4"))->text().startsWith(
            QStringLiteral("────────使用承諾 および 免責────────\n")));
    QCOMPARE(about->findChild<QLabel *>(QStringLiteral("Label2"))->text(), QStringLiteral("URL"));
    QCOMPARE(about->findChild<QLabel *>(QStringLiteral("Label2"))->palette().color(QPalette::WindowText),
             QColor(0, 0, 255));
    QCOMPARE(about->size(), QSize(330, 355));
    const QRect screen = about->screen()->geometry();
    // Centred to within the frame the platform adds after the dialog was placed.
    QVERIFY(qAbs(about->frameGeometry().center().x() - screen.center().x()) <= 3);
    QVERIFY(qAbs(about->frameGeometry().center().y() - screen.center().y()) <= 3);
    // The dialog is out of reach while communicating.
    p.button("cmdSend")->click();
    QVERIFY(!p.button("cmdVER")->isEnabled());
    p.button("cmdSTOP")->click();
}

void tst_WindowHandling::shouldKeepOneVersionDialogAndCloseWithKeys_data()
{
    QTest::addColumn<int>("key");
    QTest::newRow("Enter") << int(Qt::Key_Return);
    QTest::newRow("Esc") << int(Qt::Key_Escape);
    QTest::newRow("OK") << 0;
}

void tst_WindowHandling::shouldKeepOneVersionDialogAndCloseWithKeys()
{
    QFETCH(int, key);
    Program p;
    p.button("cmdVER")->click();
    QPointer<frmAbout> first = p.startup->versionDialog();
    p.button("cmdVER")->click();
    QCOMPARE(p.startup->versionDialog(), first.data());
    int open = 0;
    for (QWidget *w : QApplication::topLevelWidgets())
        open += qobject_cast<frmAbout *>(w) ? 1 : 0;
    QCOMPARE(open, 1);

    if (key == 0) {
        first->findChild<QPushButton *>(QStringLiteral("cmdOK"))->click();
    } else {
        first->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(first.data()));
        QTest::keyClick(first.data(), Qt::Key(key));
    }
    // Closed and destroyed; the next opening makes a new one.
    QTRY_VERIFY(first.isNull());
    p.button("cmdVER")->click();
    QVERIFY(p.startup->versionDialog() != nullptr);
}

void tst_WindowHandling::shouldOpenMakerPageOnlyAfterYes()
{
    Program p;
    p.button("cmdVER")->click();
    frmAbout *about = p.startup->versionDialog();
    QLabel *link = about->findChild<QLabel *>(QStringLiteral("Label3"));
    QCOMPARE(link->text(), QStringLiteral("http://"));

    p.fake.messages.answers = { false };
    QTest::mouseClick(link, Qt::LeftButton);
    QCOMPARE(p.fake.messages.shown.last().kind, QStringLiteral("yesNo"));
    QCOMPARE(p.fake.messages.shown.last().title, QStringLiteral("接続画面"));
    QCOMPARE(p.fake.messages.shown.last().text, QStringLiteral("ｲﾝﾀｰﾈｯﾄに接続しますか？"));
    QVERIFY(p.fake.urls.opened.isEmpty());

    p.fake.messages.answers = { true };
    QTest::mouseClick(link, Qt::LeftButton);
    QCOMPARE(p.fake.urls.opened, QList<QUrl> { QUrl(Texts::makerUrl()) });

    // A browser that cannot start is told, and the program goes on.
    p.fake.urls.works = false;
    p.fake.messages.answers = { true };
    QTest::mouseClick(link, Qt::LeftButton);
    QCOMPARE(p.fake.messages.shown.last().kind, QStringLiteral("warning"));
    QVERIFY(about->isVisible());
}

QTEST_MAIN(tst_WindowHandling)
#include "tst_windowhandling.moc"
