// The autostart entry, written whole or removed.
#include "autostart.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QStandardPaths>

namespace {

QString EntryPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + "/autostart/gearvane-gui.desktop";
}

// A program's path as one argument of Exec=: quoted, with the characters that the
// desktop entry's quoting rules escape.
QString ExecArgument(const QString &path)
{
    static const QString special = "\"`$\\";
    QString quoted = "\"";
    for (QChar c : path) {
        if (special.contains(c))
            quoted += '\\';
        quoted += c;
    }
    quoted += '"';
    // Exec= is a string value too, whose own escapes double each backslash.
    return quoted.replace("\\", "\\\\").replace("%", "%%");
}

}  // namespace

bool AutostartOn()
{
    QFile file(EntryPath());
    if (!file.open(QIODevice::ReadOnly))
        return false;
    for (const QByteArray &line : file.readAll().split('\n')) {
        QByteArray t = line.trimmed().replace(" ", "");
        if (t == "Hidden=true" || t == "X-GNOME-Autostart-enabled=false")
            return false;
    }
    return true;
}

bool SetAutostart(bool on, QString *error)
{
    QString path = EntryPath();
    if (!on) {
        if (!QFile::exists(path) || QFile::remove(path))
            return true;
        *error = QCoreApplication::translate("gearvane", "%1 could not be removed").arg(path);
        return false;
    }
    QDir().mkpath(QFileInfo(path).path());
    QSaveFile file(path);
    QString text = "[Desktop Entry]\n"
                   "Type=Application\n"
                   "Name=gearvane\n"
                   "Comment=The window of gearvane, in the tray\n"
                   "Exec=" + ExecArgument(QCoreApplication::applicationFilePath()) + " --hidden\n"
                   "Icon=gearvane\n"
                   "Terminal=false\n"
                   "X-GNOME-Autostart-enabled=true\n";
    if (file.open(QIODevice::WriteOnly) && file.write(text.toUtf8()) == text.toUtf8().size() && file.commit())
        return true;
    *error = QCoreApplication::translate("gearvane", "%1: %2").arg(path, file.errorString());
    return false;
}
