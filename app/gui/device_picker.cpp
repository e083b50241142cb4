// The device picker's list, fed by the daemon's devices and device-input events.
#include "device_picker.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "connection.h"
#include "texts.h"

namespace {

enum Column { COL_NAME, COL_HELD, COL_NODE };
enum Role { ROLE_NODE = Qt::UserRole, ROLE_SETTING, ROLE_READABLE };

QTreeWidgetItem *FindNode(QTreeWidget *list, const QString &node)
{
    for (int i = 0; i < list->topLevelItemCount(); i++)
        if (list->topLevelItem(i)->data(0, ROLE_NODE).toString() == node)
            return list->topLevelItem(i);
    return nullptr;
}

}  // namespace

DevicePicker::DevicePicker(Connection *connection, const QJsonArray &devices, QWidget *parent)
    : QDialog(parent), connection(connection)
{
    setWindowTitle(tr("Choose the lever"));
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(tr("Move the shifter into a gear: the device whose buttons change is the lever.")));
    list = new QTreeWidget;
    list->setColumnCount(3);
    list->setHeaderLabels({tr("Device"), tr("Held now"), tr("Node")});
    list->setRootIsDecorated(false);
    list->header()->setSectionResizeMode(COL_NAME, QHeaderView::Stretch);
    list->header()->setSectionResizeMode(COL_NODE, QHeaderView::ResizeToContents);
    list->header()->setStretchLastSection(false);
    list->setColumnWidth(COL_HELD, 160);
    list->setMinimumWidth(600);
    layout->addWidget(list);
    note = new QLabel;
    note->setWordWrap(true);
    layout->addWidget(note);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close);
    use = buttons->addButton(tr("&Use as the lever"), QDialogButtonBox::AcceptRole);
    layout->addWidget(buttons);

    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(use, &QPushButton::clicked, this, &DevicePicker::UseChosen);
    connect(list, &QTreeWidget::itemDoubleClicked, this, &DevicePicker::UseChosen);
    connect(list, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem *item) {
        use->setEnabled(item && item->data(0, ROLE_READABLE).toBool());
    });
    connect(connection, &Connection::Message, this, &DevicePicker::OnMessage);
    connect(connection, &Connection::ConnectedChanged, this, [this](bool connected) {
        if (!connected)
            reject();
    });
    ShowDevices(devices);
    QPointer<DevicePicker> self(this);
    connection->Send({{"type", "watch-devices"}, {"on", true}}, [self](bool ok, const QString &error) {
        if (self && !ok)
            self->note->setText(tr("No live input: %1").arg(error));
    });
}

DevicePicker::~DevicePicker()
{
    if (connection)
        connection->Send({{"type", "watch-devices"}, {"on", false}});
}

void DevicePicker::OnMessage(const QJsonObject &message)
{
    if (message["type"] == "devices")
        ShowDevices(message["devices"].toArray());
    else if (message["type"] == "device-input")
        ShowInput(message);
}

void DevicePicker::ShowDevices(const QJsonArray &devices)
{
    QString current = list->currentItem() ? list->currentItem()->data(0, ROLE_NODE).toString() : QString();
    list->clear();
    for (const QJsonValue &value : devices) {
        QJsonObject d = value.toObject();
        auto *item = new QTreeWidgetItem(list);
        bool readable = d["readable"].toBool();
        QString name = d["name"].toString();
        item->setText(COL_NAME, d["driving"].toBool() ? tr("%1 (the lever now)").arg(name) : name);
        item->setText(COL_NODE, d["node"].toString());
        item->setText(COL_HELD, readable ? QString() : tr("cannot be read"));
        item->setToolTip(COL_HELD, d["why"].toString());
        item->setData(0, ROLE_NODE, d["node"].toString());
        // What names it in the config file: its by-id link where it has one, as --learn saves.
        item->setData(0, ROLE_SETTING, d.contains("setting") ? d["setting"].toString() : name);
        item->setData(0, ROLE_READABLE, readable);
        item->setDisabled(!readable);
        if (d["node"].toString() == current || (current.isEmpty() && d["driving"].toBool()))
            list->setCurrentItem(item);
    }
    if (devices.isEmpty())
        note->setText(tr("No device with joystick buttons or a hat is plugged in."));
    use->setEnabled(list->currentItem() && list->currentItem()->data(0, ROLE_READABLE).toBool());
}

void DevicePicker::ShowInput(const QJsonObject &input)
{
    QTreeWidgetItem *item = FindNode(list, input["node"].toString());
    if (!item)
        return;
    QString held = HeldText(input["buttons"].toArray(), input["hat"]);
    // The first report of each device is its state when the picker opened; a change after
    // that is a device being moved, and is marked.
    if (!item->text(COL_HELD).isEmpty() && item->text(COL_HELD) != held) {
        if (QTreeWidgetItem *before = FindNode(list, moved))
            before->setIcon(COL_NAME, QIcon());
        moved = input["node"].toString();
        item->setIcon(COL_NAME, style()->standardIcon(QStyle::SP_MediaPlay));
    }
    item->setText(COL_HELD, held);
}

void DevicePicker::UseChosen()
{
    QTreeWidgetItem *item = list->currentItem();
    if (!item || !item->data(0, ROLE_READABLE).toBool())
        return;
    use->setEnabled(false);
    QString setting = item->data(0, ROLE_SETTING).toString();
    QPointer<DevicePicker> self(this);
    connection->Send({{"type", "set"}, {"settings", QJsonObject{{"device", setting}}}},
                     [self](bool ok, const QString &error) {
                         if (!self)
                             return;
                         if (ok) {
                             self->accept();
                             return;
                         }
                         self->note->setText(error);
                         self->use->setEnabled(true);
                     });
}
