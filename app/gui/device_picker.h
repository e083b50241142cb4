// The device picker: the devices that can be levers, each with its live buttons and hat, so
// that the user sees which one moves when the shifter does. Choosing one makes it the lever.
#ifndef GEARVANE_GUI_DEVICE_PICKER_H
#define GEARVANE_GUI_DEVICE_PICKER_H

#include <QDialog>
#include <QJsonArray>
#include <QJsonObject>
#include <QPointer>

class Connection;
class QLabel;
class QPushButton;
class QTreeWidget;

class DevicePicker : public QDialog {
    Q_OBJECT
public:
    // Asks the daemon for live input while it is open, and no longer once it closes.
    DevicePicker(Connection *connection, const QJsonArray &devices, QWidget *parent = nullptr);
    ~DevicePicker() override;

private:
    void OnMessage(const QJsonObject &message);
    void ShowDevices(const QJsonArray &devices);
    void ShowInput(const QJsonObject &input);
    void UseChosen();

    QPointer<Connection> connection;  // it may go first as the window closes
    QTreeWidget *list;
    QLabel *note;
    QPushButton *use;
    QString moved;  // the node of the device that moved last
};

#endif
