// gearvane-gui's window, laid out as gearvane-tray's: the lever and the game's gear, the
// shifting settings, the gates and learning, the status lines; and the tray icon.
#ifndef GEARVANE_GUI_WINDOW_H
#define GEARVANE_GUI_WINDOW_H

#include <QJsonArray>
#include <QJsonObject>
#include <QTimer>
#include <QWidget>

class Connection;
class DaemonStart;
class KeyField;
class NumberBox;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QSystemTrayIcon;
class QToolButton;
class QTreeWidget;

class Window : public QWidget {
    Q_OBJECT
public:
    explicit Window(QWidget *parent = nullptr);
    // Whether the desktop has a tray, where the window goes when it is closed.
    bool HasTray() const { return tray != nullptr; }
    // Connects to the daemon now and whenever it comes back.
    void Connect();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    QGroupBox *MakeLeverBox();
    QGroupBox *MakeShiftingBox();
    QGroupBox *MakeGatesBox();
    void MakeTray();

    void OnMessage(const QJsonObject &message);
    void OnConnected(bool connected);
    void ShowBanner(const QString &text, const QString &button);
    void ShowSettings(const QJsonObject &s);
    void ShowLever(const QJsonObject &l);
    void ShowGame(const QJsonObject &g);
    void ShowLearning(const QJsonObject &l);
    void ShowGates();
    void ShowLearnButtons();
    void ShowTooltip();
    void AddStatus(const QString &text, qint64 time);

    void Set(const QString &key, const QJsonValue &value);
    void Learn(const QString &action);
    void SetGameGear(int gear);
    void ChoosePlate(int index);
    void OpenPicker();
    void StartDaemon();
    void Refused(const QString &error);
    void ShowWindow();

    Connection *connection;
    DaemonStart *starter;
    QTimer startWait;  // runs only after a click on Start, while gearvane comes up

    QWidget *banner, *contents, *shifting;
    QLabel *bannerText;
    QPushButton *startButton;
    QLabel *leverName, *leverWhy, *leverGear, *gameGear, *gameSource;
    QPushButton *chooseButton;
    QToolButton *gearButton;
    QMenu *gearMenu;
    QComboBox *maxGear, *plate;
    NumberBox *hold, *gap;
    KeyField *upKey, *downKey;
    QTreeWidget *gates;
    QLabel *prompt;
    QPushButton *learnButton, *skipButton, *doneButton, *cancelButton;
    QPlainTextEdit *status;
    QCheckBox *autostart;
    QSystemTrayIcon *tray = nullptr;

    // The daemon's state as last sent.
    QJsonObject settings, lever, game, learning;
    QJsonArray devices;
    QString lastGate;   // the gate map last in force, for going back to it from a plate
    QString ended;      // why the daemon said goodbye
    QString learnEnd;   // how learning ended, until it starts again
    bool compatible = true;
};

#endif
