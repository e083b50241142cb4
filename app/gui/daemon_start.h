// Starting the daemon for a user who has none running: as the systemd user unit where
// there is one, otherwise as a program of its own that outlives the window.
#ifndef GEARVANE_GUI_DAEMON_START_H
#define GEARVANE_GUI_DAEMON_START_H

#include <QFileSystemWatcher>
#include <QObject>
#include <QString>

class DaemonStart : public QObject {
    Q_OBJECT
public:
    explicit DaemonStart(QObject *parent = nullptr);

    // Starts gearvane, then reports how that went with Started or Failed. Whether it then
    // runs is for the socket to show: call Check once it has had time to come up.
    void Start();
    // Says through Failed why gearvane has not come up, as far as its log tells.
    void Check();

signals:
    void Started(const QString &how);
    void Failed(const QString &why);

private:
    void StartDirectly();
    void StartUnit();

    bool viaSystemd = false;
    QString log;  // where a gearvane started directly writes its mistakes
    QFileSystemWatcher logWatch;  // so that a mistake shows as soon as it is written
};

#endif
