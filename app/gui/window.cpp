// The window: its controls, what the daemon's events show in them, and what a click asks of
// the daemon. Every change goes through the daemon, which checks, saves and applies it; the
// window shows only what the daemon says is in force.
#include "window.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDateTime>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QToolButton>
#include <QVBoxLayout>

#include "autostart.h"
#include "connection.h"
#include "daemon_start.h"
#include "device_picker.h"
#include "fields.h"
#include "gates_box.h"
#include "texts.h"

Window::Window(QWidget *parent) : QWidget(parent)
{
    setWindowTitle("gearvane");
    connection = new Connection(this);
    starter = new DaemonStart(this);
    startWait.setSingleShot(true);
    startWait.setInterval(8000);

    gearMenu = new QMenu(tr("Set the game's gear"), this);
    for (int gear : {-1, 0, 1, 2, 3, 4, 5, 6, 7}) {
        QAction *action = gearMenu->addAction(tr("The game is in %1").arg(GearLong(gear)));
        connect(action, &QAction::triggered, this, [this, gear] { SetGameGear(gear); });
    }

    banner = new QWidget;
    auto *bannerLayout = new QHBoxLayout(banner);
    bannerText = new QLabel;
    bannerText->setWordWrap(true);
    bannerText->setTextInteractionFlags(Qt::TextSelectableByMouse);
    startButton = new QPushButton(tr("&Start gearvane"));
    bannerLayout->addWidget(bannerText, 1);
    bannerLayout->addWidget(startButton);
    banner->setBackgroundRole(QPalette::AlternateBase);
    banner->setAutoFillBackground(true);

    contents = new QWidget;
    auto *grid = new QGridLayout(contents);
    grid->setContentsMargins(0, 0, 0, 0);
    auto *left = new QVBoxLayout;
    left->addWidget(MakeLeverBox());
    shifting = MakeShiftingBox();
    left->addWidget(shifting);
    grid->addLayout(left, 0, 0);
    gatesBox = new GatesBox;
    grid->addWidget(gatesBox, 0, 1);
    auto *statusBox = new QGroupBox(tr("Status"));
    auto *statusLayout = new QVBoxLayout(statusBox);
    status = new QPlainTextEdit;
    status->setReadOnly(true);
    status->setMaximumBlockCount(200);
    status->setFixedHeight(status->fontMetrics().lineSpacing() * 6 + 10);
    statusLayout->addWidget(status);
    grid->addWidget(statusBox, 1, 0, 1, 2);
    grid->setColumnStretch(1, 1);
    grid->setRowStretch(0, 1);

    autostart = new QCheckBox(tr("Start at &log-in"));
    autostart->setChecked(AutostartOn());
    auto *hide = new QPushButton(tr("H&ide"));
    auto *quit = new QPushButton(tr("&Quit"));
    quit->setToolTip(tr("Closes this window; gearvane itself goes on shifting."));
    auto *footer = new QHBoxLayout;
    footer->addWidget(autostart);
    footer->addStretch(1);
    footer->addWidget(hide);
    footer->addWidget(quit);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(banner);
    layout->addWidget(contents, 1);
    layout->addLayout(footer);

    MakeTray();
    hide->setVisible(tray != nullptr);

    connect(gatesBox, &GatesBox::Set, this, [this](const QString &key, const QString &value) { Set(key, value); });
    connect(gatesBox, &GatesBox::Learn, this, &Window::Learn);
    connect(connection, &Connection::Message, this, &Window::OnMessage);
    connect(connection, &Connection::ConnectedChanged, this, &Window::OnConnected);
    connect(startButton, &QPushButton::clicked, this, &Window::StartDaemon);
    connect(starter, &DaemonStart::Started, this, [this] { startWait.start(); });
    connect(starter, &DaemonStart::Failed, this, [this](const QString &why) {
        startWait.stop();
        if (!connection->Connected())
            ShowBanner(tr("gearvane did not start:\n%1").arg(why), tr("Try &again"));
    });
    connect(&startWait, &QTimer::timeout, starter, &DaemonStart::Check);
    connect(autostart, &QCheckBox::toggled, this, [this](bool on) {
        QString error;
        if (!SetAutostart(on, &error)) {
            AddStatus(tr("autostart not changed: %1").arg(error), QDateTime::currentMSecsSinceEpoch());
            QSignalBlocker block(autostart);
            autostart->setChecked(!on);
        }
    });
    connect(hide, &QPushButton::clicked, this, &QWidget::hide);
    connect(quit, &QPushButton::clicked, qApp, &QApplication::quit);

    OnConnected(false);
    ShowBanner(tr("Looking for gearvane…"), QString());
}

QGroupBox *Window::MakeLeverBox()
{
    auto *box = new QGroupBox(tr("Lever"));
    auto *layout = new QVBoxLayout(box);
    auto *top = new QHBoxLayout;
    leverName = new QLabel;
    leverName->setWordWrap(true);
    chooseButton = new QPushButton(tr("&Choose…"));
    chooseButton->setToolTip(tr("Choose the device that is the lever"));
    top->addWidget(leverName, 1);
    top->addWidget(chooseButton);
    layout->addLayout(top);
    leverWhy = new QLabel;
    leverWhy->setWordWrap(true);
    layout->addWidget(leverWhy);
    leverGear = new QLabel("-");
    QFont big = leverGear->font();
    big.setPointSizeF(big.pointSizeF() * 5);
    big.setBold(true);
    leverGear->setFont(big);
    leverGear->setAlignment(Qt::AlignCenter);
    layout->addWidget(leverGear);
    gameGear = new QLabel;
    gameGear->setAlignment(Qt::AlignCenter);
    gameSource = new QLabel;
    gameSource->setAlignment(Qt::AlignCenter);
    gameSource->setForegroundRole(QPalette::PlaceholderText);
    layout->addWidget(gameGear);
    layout->addWidget(gameSource);
    gearButton = new QToolButton;
    gearButton->setText(tr("Set the &game's gear"));
    gearButton->setMenu(gearMenu);
    gearButton->setPopupMode(QToolButton::InstantPopup);
    layout->addWidget(gearButton, 0, Qt::AlignCenter);
    connect(chooseButton, &QPushButton::clicked, this, &Window::OpenPicker);
    return box;
}

QGroupBox *Window::MakeShiftingBox()
{
    auto *box = new QGroupBox(tr("Shifting"));
    auto *form = new QFormLayout(box);
    maxGear = new QComboBox;
    for (int gear = 4; gear <= 7; gear++)
        maxGear->addItem(GearLong(gear));
    hold = new NumberBox(1, 1000);
    gap = new NumberBox(0, 1000);
    upKey = new KeyField(tr("shift up"));
    downKey = new KeyField(tr("shift down"));
    form->addRow(tr("&Maximum gear"), maxGear);
    form->addRow(tr("&Hold (ms)"), hold);
    form->addRow(tr("G&ap (ms)"), gap);
    form->addRow(tr("&Up key"), upKey);
    form->addRow(tr("&Down key"), downKey);
    connect(maxGear, &QComboBox::activated, this, [this](int index) { Set("max-gear", index + 4); });
    connect(hold, &NumberBox::Chosen, this, [this](int ms) { Set("hold-ms", ms); });
    connect(gap, &NumberBox::Chosen, this, [this](int ms) { Set("gap-ms", ms); });
    connect(upKey, &KeyField::Chosen, this, [this](const QString &key) { Set("up-key", key); });
    connect(downKey, &KeyField::Chosen, this, [this](const QString &key) { Set("down-key", key); });
    return box;
}

void Window::MakeTray()
{
    if (!QSystemTrayIcon::isSystemTrayAvailable())
        return;
    tray = new QSystemTrayIcon(QApplication::windowIcon(), this);
    auto *menu = new QMenu(this);
    connect(menu->addAction(tr("&Show gearvane")), &QAction::triggered, this, &Window::ShowWindow);
    menu->addMenu(gearMenu);
    menu->addSeparator();
    connect(menu->addAction(tr("&Quit")), &QAction::triggered, qApp, &QApplication::quit);
    tray->setContextMenu(menu);
    connect(tray, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
            isVisible() && isActiveWindow() ? hide() : ShowWindow();
    });
    tray->show();
}

void Window::Connect()
{
    if (Connection::SocketPath().isEmpty()) {
        ShowBanner(tr("XDG_RUNTIME_DIR is not set, so gearvane offers no control socket here."), QString());
        return;
    }
    connection->Start();
    if (!connection->Connected() && !connection->Connecting())
        OnConnected(false);
}

void Window::ShowWindow()
{
    show();
    raise();
    activateWindow();
}

void Window::closeEvent(QCloseEvent *event)
{
    // With a tray the window goes there; without one, closing it ends it.
    if (tray) {
        hide();
        event->ignore();
    }
}

void Window::ShowBanner(const QString &text, const QString &button)
{
    bannerText->setText(text);
    startButton->setText(button);
    startButton->setVisible(!button.isEmpty());
    startButton->setEnabled(true);
    banner->setVisible(!text.isEmpty());
}

void Window::OnConnected(bool connected)
{
    contents->setEnabled(connected);
    gearMenu->setEnabled(connected);
    if (connected) {
        startWait.stop();
        status->clear();
        ended.clear();
        compatible = true;
        ShowBanner(QString(), QString());
        // The controls were disabled until now, so the focus is on none of them: give it to
        // one that no arrow key changes.
        if (!contents->isAncestorOf(focusWidget()))
            chooseButton->setFocus();
        return;
    }
    lever = game = settings = QJsonObject();
    // Nothing is in force that the window knows of: the fields show no value.
    maxGear->setCurrentIndex(-1);
    hold->clear();
    gap->clear();
    upKey->Show(QString());
    downKey->Show(QString());
    gatesBox->ShowSettings(settings);
    gatesBox->ShowLearning(QJsonObject());
    ShowLever(lever);
    ShowGame(game);
    ShowBanner(ended.isEmpty() ? tr("gearvane is not running, so nothing shifts.") : tr("gearvane has stopped (%1), so nothing shifts.").arg(ended),
               tr("&Start gearvane"));
    ShowTooltip();
}

void Window::OnMessage(const QJsonObject &m)
{
    QString type = m["type"].toString();
    if (type == "hello") {
        int protocol = m["protocol"].toInt();
        compatible = protocol == CONTROL_PROTOCOL;
        contents->setEnabled(compatible);
        gearMenu->setEnabled(compatible);
        if (!compatible)
            ShowBanner(tr("This gearvane (%1) speaks version %2 of the control protocol, and this window version %3: "
                          "install gearvane and gearvane-gui of the same version.")
                           .arg(m["version"].toString())
                           .arg(protocol)
                           .arg(int(CONTROL_PROTOCOL)),
                       QString());
        setWindowTitle(m["simulate"].toBool() ? tr("gearvane (simulated lever)") : "gearvane");
        shifting->setToolTip(tr("Saved to %1").arg(m["config"].toString()));
    } else if (type == "settings") {
        ShowSettings(m);
    } else if (type == "devices") {
        devices = m["devices"].toArray();
    } else if (type == "lever") {
        ShowLever(m);
    } else if (type == "game") {
        ShowGame(m);
    } else if (type == "learning") {
        gatesBox->ShowLearning(m);
    } else if (type == "status") {
        AddStatus(m["text"].toString(), m["time"].toInteger());
    } else if (type == "bye") {
        ended = m["reason"].toString();
    }
}

void Window::ShowSettings(const QJsonObject &s)
{
    settings = s;
    maxGear->setCurrentIndex(s["max-gear"].toInt() - 4);
    hold->Show(s["hold-ms"].toInt());
    gap->Show(s["gap-ms"].toInt());
    upKey->Show(s["up-key"].toString());
    downKey->Show(s["down-key"].toString());
    // What the command line sets cannot be changed here: it wins over the config file.
    QStringList fixed;
    for (const QJsonValue &key : s["fixed"].toArray())
        fixed << key.toString();
    const QString why = tr("Set on gearvane's command line, which wins over the config file");
    auto fix = [&](QWidget *w, bool isFixed) {
        w->setEnabled(!isFixed);
        w->setToolTip(isFixed ? why : QString());
    };
    fix(maxGear, fixed.contains("max-gear"));
    fix(hold, fixed.contains("hold-ms"));
    fix(gap, fixed.contains("gap-ms"));
    fix(upKey, fixed.contains("up-key"));
    fix(downKey, fixed.contains("down-key"));
    fix(chooseButton, fixed.contains("device"));
    gatesBox->ShowSettings(s);
}

void Window::ShowLever(const QJsonObject &l)
{
    lever = l;
    bool attached = l["attached"].toBool();
    if (attached) {
        leverName->setText(l["name"].toString());
        leverGear->setText(GearFigure(l["gear"].toInt()));
        leverWhy->setText(l["reset"].toBool() ? tr("reset held") : QString());
    } else {
        QString waiting = l["waiting"].toString();
        leverName->setText(l.isEmpty()          ? QString()
                           : waiting.isEmpty() ? tr("Waiting for a lever: plug it in, or choose it.")
                                               : tr("Waiting for “%1”").arg(waiting));
        leverGear->setText("-");
        leverWhy->setText(l["why"].toString());
    }
    leverWhy->setVisible(!leverWhy->text().isEmpty());
    gatesBox->ShowLever(attached);
    ShowGame(game);
}

void Window::ShowGame(const QJsonObject &g)
{
    game = g;
    // With no lever and nothing said about the game, "the game is in neutral" would mislead.
    bool say = !g.isEmpty() && (lever["attached"].toBool() || g["source"] != "start");
    gameGear->setText(say ? GameText(g) : QString());
    gameSource->setText(say ? GameSourceText(g) : QString());
    ShowTooltip();
}

void Window::ShowTooltip()
{
    if (!tray)
        return;
    if (!connection->Connected()) {
        tray->setToolTip(tr("gearvane is not running"));
        return;
    }
    QString text = "gearvane";
    if (lever["attached"].toBool())
        text += "\n" + tr("lever: %1").arg(GearLong(lever["gear"].toInt()));
    else
        text += "\n" + tr("waiting for a lever");
    if (!gameGear->text().isEmpty())
        text += "\n" + gameGear->text();
    tray->setToolTip(text);
}

void Window::AddStatus(const QString &text, qint64 time)
{
    QString when = time > 0 ? QDateTime::fromMSecsSinceEpoch(time).toString("HH:mm:ss ") : QString();
    status->appendPlainText(when + text);
}

void Window::Set(const QString &key, const QJsonValue &value)
{
    connection->Send({{"type", "set"}, {"settings", QJsonObject{{key, value}}}},
                     [this](bool ok, const QString &error) {
                         if (!ok)
                             Refused(error);
                     });
}

void Window::Refused(const QString &error)
{
    AddStatus(tr("not changed: %1").arg(error), QDateTime::currentMSecsSinceEpoch());
    hold->Revert();
    gap->Revert();
    ShowSettings(settings);
}

void Window::Learn(const QString &action)
{
    connection->Send({{"type", "learn"}, {"action", action}}, [this](bool ok, const QString &error) {
        if (!ok)
            gatesBox->Say(error);
    });
}

void Window::SetGameGear(int gear)
{
    connection->Send({{"type", "set-gear"}, {"gear", gear}}, [this](bool ok, const QString &error) {
        if (!ok)
            AddStatus(tr("the game's gear not set: %1").arg(error), QDateTime::currentMSecsSinceEpoch());
    });
}

void Window::OpenPicker()
{
    auto *picker = new DevicePicker(connection, devices, this);
    picker->setAttribute(Qt::WA_DeleteOnClose);
    picker->open();
}

void Window::StartDaemon()
{
    startButton->setEnabled(false);
    bannerText->setText(tr("Starting gearvane…"));
    starter->Start();
}
