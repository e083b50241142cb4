// The window's end of the control socket.
#include "connection.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>

#include <sys/stat.h>

namespace {

// A line longer than this is no line of the daemon's: the connection is dropped.
const qint64 MaxLine = 4 << 20;

}  // namespace

Connection::Connection(QObject *parent) : QObject(parent)
{
    retry.setSingleShot(true);
    retry.setInterval(200);
    connect(&retry, &QTimer::timeout, this, &Connection::TryConnect);
    connect(&watcher, &QFileSystemWatcher::directoryChanged, this, [this] {
        Watch();
        // A socket that a gearvane ending has not removed yet refuses: try a few times, as
        // a new one may follow.
        retriesLeft = 5;
        TryConnect();
    });
    connect(&socket, &QLocalSocket::connected, this, [this] {
        retry.stop();
        emit ConnectedChanged(true);
    });
    connect(&socket, &QLocalSocket::readyRead, this, &Connection::OnReadable);
    connect(&socket, &QLocalSocket::disconnected, this, &Connection::OnDisconnected);
    connect(&socket, &QLocalSocket::errorOccurred, this, [this] {
        if (Connected())
            return;
        if (retriesLeft > 0) {
            retriesLeft--;
            retry.start();
        } else {
            emit ConnectedChanged(false);
        }
    });
}

Connection::~Connection()
{
    // The socket says it disconnected as it goes, and the requests' askers may be gone
    // already: no one is left to hear either.
    socket.disconnect(this);
    pending.clear();
}

QString Connection::SocketPath()
{
    QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    return runtime.isEmpty() ? QString() : runtime + "/gearvane/control";
}

void Connection::Start()
{
    Watch();
    TryConnect();
}

void Connection::Watch()
{
    QString path = SocketPath();
    if (path.isEmpty())
        return;
    // The daemon takes a folder that the user owns with mode 0700, so the window may make it
    // first, and watch it rather than all of XDG_RUNTIME_DIR. A folder that is removed drops
    // out of the watch, and is made and watched again.
    QString folder = QFileInfo(path).path();
    if (watcher.directories().contains(folder))
        return;
    mkdir(QFile::encodeName(folder).constData(), 0700);
    if (!watcher.directories().isEmpty())
        watcher.removePaths(watcher.directories());
    watcher.addPath(QFileInfo(folder).isDir() ? folder : QFileInfo(folder).path());
}

void Connection::TryConnect()
{
    QString path = SocketPath();
    if (socket.state() != QLocalSocket::UnconnectedState || path.isEmpty() || !QFileInfo::exists(path))
        return;
    socket.connectToServer(path);
}

void Connection::Send(QJsonObject request, Done done)
{
    if (!Connected()) {
        if (done)
            done(false, tr("gearvane is not running"));
        return;
    }
    qint64 id = nextId++;
    request["id"] = id;
    if (done)
        pending.insert(id, done);
    socket.write(QJsonDocument(request).toJson(QJsonDocument::Compact) + '\n');
}

void Connection::OnReadable()
{
    while (socket.canReadLine()) {
        QByteArray line = socket.readLine();
        QJsonObject message = QJsonDocument::fromJson(line).object();
        QString type = message["type"].toString();
        if (type != "reply") {
            if (!type.isEmpty())
                emit Message(message);
            continue;
        }
        Done done = pending.take(message["id"].toInteger(-1));
        if (done)
            done(message["ok"].toBool(), message["error"].toString());
    }
    if (socket.bytesAvailable() > MaxLine)
        socket.abort();
}

void Connection::FailPending(const QString &reason)
{
    QHash<qint64, Done> failed;
    failed.swap(pending);
    for (const Done &done : failed)
        done(false, reason);
}

void Connection::OnDisconnected()
{
    FailPending(tr("gearvane went away before it answered"));
    emit ConnectedChanged(false);
    // A daemon that restarts makes its socket anew, which the folder's watch sees; one that
    // is there already (the window was slow) is taken at once.
    retriesLeft = 0;
    QTimer::singleShot(0, this, &Connection::TryConnect);
}
