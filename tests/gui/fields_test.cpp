// The number box applies a typed value once the user is done, never on each keystroke; the
// autostart entry is written, read and removed.
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QVBoxLayout>

#include "autostart.h"
#include "fields.h"

class FieldsTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        window = new QWidget;
        auto *layout = new QVBoxLayout(window);
        box = new NumberBox(1, 1000);
        other = new NumberBox(0, 1000);
        layout->addWidget(box);
        layout->addWidget(other);
        window->show();
        QVERIFY(QTest::qWaitForWindowActive(window));
        box->Show(40);
        box->setFocus();
        box->selectAll();
    }

    void cleanup() { delete window; }

    void TypingAppliesOnlyAfterAPause()
    {
        QSignalSpy chosen(box, &NumberBox::Chosen);
        QTest::keyClicks(box, "100");
        QTest::qWait(300);
        QCOMPARE(chosen.count(), 0);
        // The daemon's echo of another change while the user types leaves the typing be.
        box->Show(45);
        QCOMPARE(box->text(), QString("100"));
        QTRY_COMPARE(chosen.count(), 1);
        QCOMPARE(chosen[0][0].toInt(), 100);
    }

    void EnterAppliesAtOnceAndLeavingDoesNotRepeatIt()
    {
        QSignalSpy chosen(box, &NumberBox::Chosen);
        QTest::keyClicks(box, "60");
        QTest::keyClick(box, Qt::Key_Return);
        QCOMPARE(chosen.count(), 1);
        other->setFocus();
        QTest::qWait(600);
        QCOMPARE(chosen.count(), 1);
    }

    void LeavingWithNoValuePutsBackTheOneInForce()
    {
        QSignalSpy chosen(box, &NumberBox::Chosen);
        QTest::keyClick(box, Qt::Key_Backspace);
        other->setFocus();
        QTest::qWait(600);
        QCOMPARE(chosen.count(), 0);
        QCOMPARE(box->text(), QString("40"));
    }

    void AutostartEntryStartsTheWindowHidden()
    {
        QTemporaryDir config;
        qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
        QString error;
        QVERIFY(!AutostartOn());
        QVERIFY(SetAutostart(true, &error));
        QVERIFY(AutostartOn());
        QFile entry(config.path() + "/autostart/gearvane-gui.desktop");
        QVERIFY(entry.open(QIODevice::ReadOnly));
        QVERIFY(entry.readAll().contains("gui_tests\" --hidden\n"));
        entry.close();
        // A desktop's own switch turns it off without removing it.
        QVERIFY(entry.open(QIODevice::Append));
        entry.write("Hidden=true\n");
        entry.close();
        QVERIFY(!AutostartOn());
        QVERIFY(SetAutostart(false, &error));
        QVERIFY(!entry.exists());
    }

private:
    QWidget *window;
    NumberBox *box, *other;
};

QTEST_MAIN(FieldsTest)
#include "fields_test.moc"
