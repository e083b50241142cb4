// systemctl --user start gearvane, or gearvane itself with its mistakes in a small log.
#include "daemon_start.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

namespace {

// The last lines of a program's output, for a message.
QString LastLines(const QByteArray &text, int count)
{
    QStringList lines = QString::fromLocal8Bit(text).trimmed().split('\n');
    return lines.mid(qMax(0, lines.size() - count)).join('\n');
}

}  // namespace

DaemonStart::DaemonStart(QObject *parent) : QObject(parent)
{
    connect(&logWatch, &QFileSystemWatcher::fileChanged, this, &DaemonStart::Check);
}

void DaemonStart::Start()
{
    // The unit is there when gearvane's package is installed and a user systemd runs.
    QString systemctl = QStandardPaths::findExecutable("systemctl");
    if (systemctl.isEmpty()) {
        StartDirectly();
        return;
    }
    auto *probe = new QProcess(this);
    connect(probe, &QProcess::finished, this, [this, probe](int code, QProcess::ExitStatus status) {
        probe->deleteLater();
        bool loaded = status == QProcess::NormalExit && code == 0 && probe->readAllStandardOutput().trimmed() == "loaded";
        loaded ? StartUnit() : StartDirectly();
    });
    connect(probe, &QProcess::errorOccurred, this, [this, probe](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart) {
            probe->deleteLater();
            StartDirectly();
        }
    });
    probe->start(systemctl, {"--user", "show", "--property=LoadState", "--value", "gearvane.service"});
}

void DaemonStart::StartUnit()
{
    viaSystemd = true;
    auto *start = new QProcess(this);
    start->setProcessChannelMode(QProcess::MergedChannels);
    connect(start, &QProcess::finished, this, [this, start](int code, QProcess::ExitStatus status) {
        start->deleteLater();
        if (status == QProcess::NormalExit && code == 0)
            emit Started(tr("systemctl --user start gearvane"));
        else
            emit Failed(LastLines(start->readAll(), 3));
    });
    start->start(QStandardPaths::findExecutable("systemctl"), {"--user", "start", "gearvane.service"});
}

void DaemonStart::StartDirectly()
{
    viaSystemd = false;
    // The gearvane beside this program first, so that a build tree starts its own.
    QString sibling = QCoreApplication::applicationDirPath() + "/gearvane";
    QString program = QFileInfo(sibling).isExecutable() ? sibling : QStandardPaths::findExecutable("gearvane");
    if (program.isEmpty()) {
        emit Failed(tr("gearvane is not installed: there is no gearvane program to start."));
        return;
    }
    // Its status lines come through the socket; with --quiet only its mistakes reach the
    // log, which so stays small.
    QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    log = runtime.isEmpty() ? QString() : runtime + "/gearvane/gearvane.log";
    QProcess process;
    process.setProgram(program);
    process.setArguments({"--quiet"});
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(log.isEmpty() ? QProcess::nullDevice() : log);
    if (process.startDetached()) {
        if (!log.isEmpty())
            logWatch.addPath(log);
        emit Started(program);
    }
    else
        emit Failed(tr("%1 could not be started: %2").arg(program, process.errorString()));
}

void DaemonStart::Check()
{
    if (!logWatch.files().isEmpty())
        logWatch.removePaths(logWatch.files());
    if (!viaSystemd) {
        QFile file(log);
        QString said = file.open(QIODevice::ReadOnly) ? LastLines(file.readAll(), 3) : QString();
        emit Failed(said.isEmpty() ? tr("gearvane was started but has not opened its control socket.") : said);
        return;
    }
    auto *journal = new QProcess(this);
    connect(journal, &QProcess::finished, this, [this, journal] {
        journal->deleteLater();
        QString said = LastLines(journal->readAllStandardOutput(), 3);
        emit Failed(said.isEmpty() ? tr("gearvane was started but has not opened its control socket: "
                                        "journalctl --user -u gearvane may say why.")
                                   : said);
    });
    journal->start("journalctl", {"--user", "--unit=gearvane.service", "--lines=3", "--output=cat", "--no-pager"});
}
