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
class GatesBox;
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
    void MakeTray();

    void OnMessage(const QJsonObject &message);
    void OnConnected(bool connected);
    void ShowBanner(const QString &text, const QString &button);
    void ShowSettings(const QJsonObject &s);
    void ShowLever(const QJsonObject &l);
    void ShowGame(const QJsonObject &g);
    void ShowTooltip();
    void AddStatus(const QString &text, qint64 time);

    void Set(const QString &key, const QJsonValue &value);
    void Learn(const QString &action);
    void SetGameGear(int gear);
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
    QComboBox *maxGear;
    NumberBox *hold, *gap;
    KeyField *upKey, *downKey;
    GatesBox *gatesBox;
    QPlainTextEdit *status;
    QCheckBox *autostart;
    QSystemTrayIcon *tray = nullptr;

    // The daemon's state as last sent.
    QJsonObject settings, lever, game;
    QJsonArray devices;
    QString ended;  // why the daemon said goodbye
    bool compatible = true;
};

#endif
