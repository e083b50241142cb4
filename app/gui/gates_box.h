// The Gates box: the plate or gate map in force, and learning: the answers so far, the gear
// asked for, Skip, Done and Cancel, and the optional reset button.
#ifndef GEARVANE_GUI_GATES_BOX_H
#define GEARVANE_GUI_GATES_BOX_H

#include <QGroupBox>
#include <QJsonObject>

class QComboBox;
class QLabel;
class QPushButton;
class QTreeWidget;

class GatesBox : public QGroupBox {
    Q_OBJECT
public:
    explicit GatesBox(QWidget *parent = nullptr);

    // What the daemon sends: the settings in force, learning's state, and whether there is
    // a lever to learn. An empty object means none is known.
    void ShowSettings(const QJsonObject &settings);
    void ShowLearning(const QJsonObject &learning);
    void ShowLever(bool attached);
    // A line under the list, until the next change: why a click did nothing.
    void Say(const QString &text);

signals:
    void Set(const QString &key, const QString &value);
    void Learn(const QString &action);

private:
    void ChoosePlate(int index);
    void ShowGates();
    void ShowButtons();

    QComboBox *plate;
    QTreeWidget *gates;
    QLabel *prompt;
    QPushButton *learnButton, *skipButton, *doneButton, *cancelButton;

    QJsonObject settings, learning;
    bool attached = false;
    QString lastGate;  // the gate map last in force, for going back to it from a plate
    QString learnEnd;  // how learning ended, until it starts again
};

#endif
