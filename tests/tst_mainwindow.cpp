#include "fakeservices.h"
#include "settingsfolder.h"
#include "startup/frmsokutei.h"

#include <QLabel>
#include <QListView>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStatusBar>
#include <QStyle>
#include <QTest>

// The main window as built: controls, places, states and keys.
class tst_MainWindow : public QObject
{
    Q_OBJECT

private:
    struct Window
    {
        SettingsFolder folder;
        FakeServices fake;
        Station station { folder.path() };
        std::unique_ptr<frmSOKUTEI> form;

        explicit Window(bool defaults = true)
        {
            if (defaults)
                folder.writeDefaults();
            folder.linkMissingCom1();
            form = std::make_unique<frmSOKUTEI>(station, fake.services());
            form->Form_Load();
            form->show();
        }
        QPushButton *button(const char *name) const
        {
            return form->findChild<QPushButton *>(QLatin1String(name));
        }
    };

private slots:
    void shouldPlaceEveryControlAsDesigned_data();
    void shouldPlaceEveryControlAsDesigned();
    void shouldStartWithOnlyStopDisabled();
    void shouldFollowTabOrder();
    void shouldHaveFixedFrameWithoutMenuBar();
    void shouldShowOutputTypeAndSettingsInStatusBar();
    void shouldKeepPanelsWhenOutputTypeIsNoNumber();
    void shouldAnswerAccessKeys();
    void shouldBringHiddenWindowBackFromTrayMenu();
    void shouldFollowNewLinesOnlyWhenScrolledToBottom();
};

void tst_MainWindow::shouldPlaceEveryControlAsDesigned_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QRect>("twips");
    QTest::newRow("Command1") << "Command1" << "タスク(&H)" << QRect(120, 4080, 975, 375);
    QTest::newRow("cmdVER") << "cmdVER" << "ﾊﾞｰｼﾞｮﾝ情報(&A)" << QRect(1200, 4080, 1455, 375);
    QTest::newRow("cmdSAVE") << "cmdSAVE" << "ﾛｸﾞ保存(&S)" << QRect(2760, 4080, 1095, 375);
    QTest::newRow("cmdSend") << "cmdSend" << "開始(&R)" << QRect(3960, 4080, 1095, 375);
    QTest::newRow("cmdSTOP") << "cmdSTOP" << "停止(&E)" << QRect(5160, 4080, 1095, 375);
    QTest::newRow("cmd") << "cmd" << "ﾌﾟﾛﾊﾟﾃｨ(&P)" << QRect(6360, 4080, 1095, 375);
    QTest::newRow("cmdEND") << "cmdEND" << "終了（&X）" << QRect(7560, 4080, 1095, 375);
    QTest::newRow("lblJu") << "lblJu" << "" << QRect(120, 120, 8535, 3840);
}

void tst_MainWindow::shouldPlaceEveryControlAsDesigned()
{
    QFETCH(QString, name);
    QFETCH(QString, caption);
    QFETCH(QRect, twips);
    Window w;
    QWidget *control = w.form->findChild<QWidget *>(name);
    QVERIFY(control);
    if (auto *button = qobject_cast<QPushButton *>(control)) {
        QCOMPARE(button->text(), caption);
        QVERIFY(!button->isDefault());
        QVERIFY(!button->autoDefault());
    }
    // Twips to pixels at 96 dpi, to the pixel.
    const QRect expected(qRound(twips.x() / 15.0), qRound(twips.y() / 15.0),
                         qRound(twips.width() / 15.0), qRound(twips.height() / 15.0));
    QVERIFY2(qAbs(control->x() - expected.x()) <= 1 && qAbs(control->y() - expected.y()) <= 1
                     && qAbs(control->width() - expected.width()) <= 1
                     && qAbs(control->height() - expected.height()) <= 1,
             qPrintable(QStringLiteral("%1,%2 %3x%4").arg(control->x()).arg(control->y())
                                .arg(control->width()).arg(control->height())));
}

void tst_MainWindow::shouldStartWithOnlyStopDisabled()
{
    Window w;
    for (const char *name : { "Command1", "cmdVER", "cmdSAVE", "cmdSend", "cmd", "cmdEND" })
        QVERIFY2(w.button(name)->isEnabled(), name);
    QVERIFY(!w.button("cmdSTOP")->isEnabled());
    auto *log = w.form->findChild<QListView *>(QStringLiteral("lblJu"));
    QCOMPARE(log->palette().color(QPalette::Base), QColor(192, 192, 192));
    QCOMPARE(log->model()->rowCount(), 0);
}

void tst_MainWindow::shouldFollowTabOrder()
{
    Window w;
    const QStringList order { QStringLiteral("Command1"), QStringLiteral("cmdVER"),
                              QStringLiteral("cmdSAVE"), QStringLiteral("cmdSend"),
                              QStringLiteral("cmd"), QStringLiteral("cmdEND"),
                              QStringLiteral("lblJu") };
    // cmdSTOP is disabled at first and takes no focus; the rest follow in design order.
    QWidget *current = w.button("Command1");
    for (int i = 1; i < order.size(); ++i) {
        current = current->nextInFocusChain();
        while (!(current->focusPolicy() & Qt::TabFocus) || !current->isEnabled())
            current = current->nextInFocusChain();
        QCOMPARE(current->objectName(), order.at(i));
    }
}

void tst_MainWindow::shouldHaveFixedFrameWithoutMenuBar()
{
    Window w;
    const Qt::WindowFlags flags = w.form->windowFlags();
    QVERIFY(!(flags & Qt::WindowMinimizeButtonHint));
    QVERIFY(!(flags & Qt::WindowMaximizeButtonHint));
    QVERIFY(flags & Qt::WindowCloseButtonHint);
    QCOMPARE(w.form->minimumSize(), w.form->maximumSize());
    QCOMPARE(w.form->width(), 586);
    // Outer height 5300 twips, 353 pixels at 96 dpi: the client area plus the frame the
    // window manager adds, which the style's title bar and borders stand for until the
    // window is managed.
    const QStyle *style = w.form->style();
    QCOMPARE(w.form->height() + style->pixelMetric(QStyle::PM_TitleBarHeight)
                     + 2 * style->pixelMetric(QStyle::PM_DefaultFrameWidth),
             353);
    auto *bar = w.form->findChild<QStatusBar *>(QStringLiteral("StB"));
    QCOMPARE(bar->geometry().bottom(), w.form->height() - 1);
    QCOMPARE(bar->width(), w.form->width());
    QVERIFY(!w.form->findChild<QMenuBar *>());
    QCOMPARE(w.form->mnuTray()->actions().size(), 4);
    QVERIFY(w.form->mnuTray()->actions().at(2)->isSeparator());
    QCOMPARE(w.form->mnuTray()->actions().at(0)->text(), QStringLiteral("Kalo_232Cシミュレータの表示"));
    QCOMPARE(w.form->mnuTray()->actions().at(1)->text(), QStringLiteral("ラインモニタ"));
    QCOMPARE(w.form->mnuTray()->actions().at(3)->text(), QStringLiteral("Kalo_232Cシミュレータの終了"));
}

void tst_MainWindow::shouldShowOutputTypeAndSettingsInStatusBar()
{
    Window w;
    QCOMPARE(w.form->statusPanelText(1), QStringLiteral("出力ﾀｲﾌﾟ : 連続出力"));
    QCOMPARE(w.form->statusPanelText(2), QStringLiteral("通信設定 : 9600,N,8,1"));
    const auto labels = w.form->findChild<QStatusBar *>(QStringLiteral("StB"))->findChildren<QLabel *>();
    QCOMPARE(labels.size(), 2);

    w.folder.write(QStringLiteral("PROTcol.txt"), SettingsFolder::defaultProtocol("1"));
    w.folder.write(QStringLiteral("ACSet.txt"), "\"1\",\"38400\",\"N\",\"8\",\"1.5\"\r\n");
    w.form->reloadSettings();
    QCOMPARE(w.form->statusPanelText(1), QStringLiteral("出力ﾀｲﾌﾟ : 受信ごとに出力"));
    QCOMPARE(w.form->statusPanelText(2), QStringLiteral("通信設定 : 38400,N,8,1.5"));
}

void tst_MainWindow::shouldKeepPanelsWhenOutputTypeIsNoNumber()
{
    Window w;
    w.folder.write(QStringLiteral("PROTcol.txt"), SettingsFolder::defaultProtocol("x"));
    w.folder.write(QStringLiteral("ACSet.txt"), "\"1\",\"4800\",\"N\",\"8\",\"1\"\r\n");
    w.form->reloadSettings();
    QCOMPARE(w.form->statusPanelText(1), QStringLiteral("出力ﾀｲﾌﾟ : 連続出力"));
    QCOMPARE(w.form->statusPanelText(2), QStringLiteral("通信設定 : 9600,N,8,1"));
}

void tst_MainWindow::shouldAnswerAccessKeys()
{
    Window w;
    w.form->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(w.form.get()));
    w.fake.messages.answers = { false };
    // An access key clicks its button with a short animation, hence the waits.
    QTest::keyClick(w.form->windowHandle(), Qt::Key_X, Qt::AltModifier);
    QTRY_COMPARE(w.fake.messages.shown.size(), 1);
    QCOMPARE(w.fake.messages.shown.at(0).text, QStringLiteral("終了してもよろしいですか?"));
    QCOMPARE(w.fake.exit.calls, 0);

    QTest::keyClick(w.form->windowHandle(), Qt::Key_H, Qt::AltModifier);
    QTRY_VERIFY(!w.form->isVisible());
}

void tst_MainWindow::shouldBringHiddenWindowBackFromTrayMenu()
{
    Window w;
    w.button("Command1")->click();
    QVERIFY(!w.form->isVisible());
    QVERIFY(w.fake.tray.registered);
    QCOMPARE(w.fake.tray.menu, w.form->mnuTray());
    w.form->mnuTray()->findChild<QAction *>(QStringLiteral("mnuAbout"))->trigger();
    QVERIFY(w.form->isVisible());
}

void tst_MainWindow::shouldFollowNewLinesOnlyWhenScrolledToBottom()
{
    Window w;
    auto *view = w.form->findChild<QListView *>(QStringLiteral("lblJu"));
    // The list takes new lines in batches, a frame or so after they were logged.
    const auto listCaughtUp = [&] {
        return view->model()->rowCount() == w.form->log().lineCount();
    };
    QSignalSpy batches(view->model(), &QAbstractItemModel::rowsInserted);
    for (int i = 0; i < 200; ++i)
        w.form->log().appendStamped(QStringLiteral("line %1").arg(i));
    QTRY_VERIFY(listCaughtUp());
    QCOMPARE(batches.count(), 1);
    QScrollBar *bar = view->verticalScrollBar();
    QVERIFY(bar->maximum() > 0);
    QCOMPARE(bar->value(), bar->maximum());

    // Scrolled up to read: new lines do not pull the view away.
    bar->setValue(10);
    for (int i = 0; i < 50; ++i)
        w.form->log().appendStamped(QStringLiteral("more %1").arg(i));
    QTRY_VERIFY(listCaughtUp());
    QCOMPARE(bar->value(), 10);

    bar->setValue(bar->maximum());
    w.form->log().appendStamped(QStringLiteral("last"));
    QTRY_VERIFY(listCaughtUp());
    QCOMPARE(bar->value(), bar->maximum());
    // The list names control characters as the settings do; the stored line keeps the bytes.
    w.form->log().appendStampedBytes("A\r\n\x06");
    QTRY_VERIFY(listCaughtUp());
    QCOMPARE(view->model()->index(w.form->log().lineCount() - 1, 0).data().toString().mid(22),
             QStringLiteral("A[CR][LF][ACK]"));
}

QTEST_MAIN(tst_MainWindow)
#include "tst_mainwindow.moc"
