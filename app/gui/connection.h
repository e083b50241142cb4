// The daemon's control socket from a window's side: connecting, connecting again whenever
// the daemon comes back, and one JSON object a line both ways.
#ifndef GEARVANE_GUI_CONNECTION_H
#define GEARVANE_GUI_CONNECTION_H

#include <QFileSystemWatcher>
#include <QHash>
#include <QJsonObject>
#include <QLocalSocket>
#include <QObject>
#include <QTimer>

#include <functional>

// The protocol version this client speaks (docs/control-protocol.md).
enum { CONTROL_PROTOCOL = 1 };

class Connection : public QObject {
    Q_OBJECT
public:
    using Done = std::function<void(bool ok, const QString &error)>;

    explicit Connection(QObject *parent = nullptr);
    ~Connection() override;

    // $XDG_RUNTIME_DIR/gearvane/control, or empty when XDG_RUNTIME_DIR is not set.
    static QString SocketPath();

    // Connects when the socket is there, and from then on whenever it appears: the folder
    // is watched with inotify, so waiting for the daemon costs no wake-ups.
    void Start();
    bool Connected() const { return socket.state() == QLocalSocket::ConnectedState; }
    bool Connecting() const { return socket.state() == QLocalSocket::ConnectingState; }

    // Sends a request with an id of its own. `done`, if given, gets the reply, or false
    // with a reason when the connection ends first or there is none.
    void Send(QJsonObject request, Done done = {});

signals:
    // Each event the daemon sends, replies left out.
    void Message(const QJsonObject &message);
    // True once connected; false when the connection ends or an attempt finds no daemon.
    void ConnectedChanged(bool connected);

private:
    void Watch();
    void TryConnect();
    void OnReadable();
    void OnDisconnected();
    void FailPending(const QString &reason);

    QLocalSocket socket;
    QFileSystemWatcher watcher;
    QTimer retry;        // runs only for a moment after the socket appeared
    int retriesLeft = 0;
    qint64 nextId = 1;
    QHash<qint64, Done> pending;
};

#endif
