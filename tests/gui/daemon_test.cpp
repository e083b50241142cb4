// The window against the real gearvane --simulate: the device picker, learning three gears,
// the maximum gear saved to the config file, and the game's gear set. With
// GEARVANE_SCREENSHOTS=FOLDER it also saves the main window, the picker and Learn half-way.
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <QTreeWidget>

#include "device_picker.h"
#include "window.h"

class DaemonTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(folder.isValid());
        QDir(folder.path()).mkpath("run");
        QFile::setPermissions(folder.path() + "/run", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        qputenv("XDG_RUNTIME_DIR", (folder.path() + "/run").toUtf8());
        qputenv("XDG_CONFIG_HOME", (folder.path() + "/xdg").toUtf8());
        qputenv("HOME", folder.path().toUtf8());
        daemon.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        daemon.start(GEARVANE_PROGRAM, {"--simulate"});
        QVERIFY(daemon.waitForStarted());
        window.resize(720, 560);
        window.show();
        window.Connect();
        QTRY_VERIFY_WITH_TIMEOUT(Shown().contains("gearvane simulated lever"), 5000);
    }

    void cleanupTestCase()
    {
        daemon.closeWriteChannel();
        if (!daemon.waitForFinished(5000))
            daemon.kill();
    }

    void PickerShowsLiveInputAndChoosingSavesTheDevice()
    {
        Click(&window, "Choose…");
        DevicePicker *picker = window.findChild<DevicePicker *>();
        QVERIFY(picker);
        auto *list = picker->findChild<QTreeWidget *>();
        QTRY_COMPARE(list->topLevelItemCount(), 1);
        QTRY_COMPARE(list->topLevelItem(0)->text(1), QString("nothing held"));
        Type("press 5");
        QTRY_COMPARE(list->topLevelItem(0)->text(1), QString("button 5"));
        picker->resize(640, 220);
        Shot(picker, "gearvane-gui-picker.png");
        Type("release 5");
        list->setCurrentItem(list->topLevelItem(0));
        Click(picker, "Use as the lever");
        QTRY_VERIFY(!window.findChild<DevicePicker *>());
        QVERIFY(Config().contains("device = \"gearvane simulated lever\"\n"));
    }

    void LearnsThreeGearsAndTheReset()
    {
        Click(&window, "Learn gates");
        QTRY_VERIFY(Shown().contains("1st gear: move the lever there"));
        Type("press 13");
        Type("release 13");
        Type("press 14");
        QTRY_VERIFY(Shown().contains("3rd gear: move the lever there"));
        Shot(&window, "gearvane-gui-learn.png");
        Type("release 14");
        Type("press 15");
        QTRY_VERIFY(Shown().contains("4th gear: move the lever there"));
        Click(&window, "Done");
        QTRY_VERIFY(Shown().contains("press the button that tells gearvane"));
        Type("press 11");
        QTRY_VERIFY(Shown().contains("The gates are learned and saved."));
        QVERIFY(Config().contains("gate = \"1=13,2=14,3=15,reset=11\"\n"));
        Type("release 11");
        // The new map is in force: 3rd is held, and the lever shows it.
        QTRY_COMPARE(LeverGear(), QString("3"));
    }

    void MaxGearIsSavedToTheConfigFile()
    {
        QComboBox *maxGear = nullptr;
        for (auto *box : window.findChildren<QComboBox *>())
            if (box->itemText(0) == "4th gear")
                maxGear = box;
        QVERIFY(maxGear);
        maxGear->setCurrentIndex(1);
        emit maxGear->activated(1);
        QTRY_VERIFY(Config().contains("max-gear = 5\n"));
        QTRY_COMPARE(maxGear->currentText(), QString("5th gear"));
    }

    void SetsTheGamesGear()
    {
        auto *button = window.findChild<QToolButton *>();
        QVERIFY(button && button->menu());
        for (QAction *action : button->menu()->actions())
            if (action->text().contains("2nd"))
                action->trigger();
        // The game's gear passes 2nd in a tap's time: its status line stays.
        QTRY_VERIFY(StatusLines().contains("the game is taken to be in 2nd"));
        // The lever is in 3rd: from 2nd, one tap takes the game there.
        QTRY_VERIFY(Shown().contains("taken to be in 3rd"));
        QVERIFY(Shown().contains("counted from the taps sent"));
        Shot(&window, "gearvane-gui.png");
    }

private:
    void Type(const char *line)
    {
        daemon.write(QByteArray(line) + "\n");
        daemon.waitForBytesWritten();
        QTest::qWait(50);
    }

    static void Click(QWidget *in, const QString &text)
    {
        for (auto *b : in->findChildren<QPushButton *>())
            if (b->text().remove('&') == text && b->isVisible()) {
                QVERIFY2(b->isEnabled(), qPrintable(text + " is disabled"));
                QTest::mouseClick(b, Qt::LeftButton);
                return;
            }
        QFAIL(qPrintable("no button " + text));
    }

    // The text of every visible label, joined.
    QString Shown()
    {
        QStringList texts;
        for (auto *label : window.findChildren<QLabel *>())
            if (label->isVisible())
                texts << label->text();
        return texts.join(" | ");
    }

    QString StatusLines()
    {
        auto *lines = window.findChild<QPlainTextEdit *>();
        return lines ? lines->toPlainText() : QString();
    }

    QString LeverGear()
    {
        QLabel *biggest = nullptr;
        for (auto *label : window.findChildren<QLabel *>())
            if (!biggest || label->font().pointSizeF() > biggest->font().pointSizeF())
                biggest = label;
        return biggest ? biggest->text() : QString();
    }

    QString Config()
    {
        QFile file(folder.path() + "/xdg/gearvane/gearvane.conf");
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }

    static void Shot(QWidget *widget, const char *name)
    {
        QString shots = qEnvironmentVariable("GEARVANE_SCREENSHOTS");
        if (!shots.isEmpty())
            QVERIFY(widget->grab().save(shots + "/" + name));
    }

    QTemporaryDir folder;
    QProcess daemon;
    Window window;
};

QTEST_MAIN(DaemonTest)
#include "daemon_test.moc"
