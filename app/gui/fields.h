// The window's editable fields: a number that applies once the user is done typing, and a
// shift key chosen from a list or by pressing it.
#ifndef GEARVANE_GUI_FIELDS_H
#define GEARVANE_GUI_FIELDS_H

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QWidget>

// A whole number from `min` to `max`. It hands a value on when the user is done with it:
// on Enter, on leaving the box, or after 500 ms without a keystroke; never on each
// keystroke, so typing 100 never applies 1 and then 10.
class NumberBox : public QLineEdit {
    Q_OBJECT
public:
    NumberBox(int min, int max, QWidget *parent = nullptr);
    // The value in force. While the user types, the box keeps what is typed.
    void Show(int value);
    // Puts the value in force back, as after a refusal.
    void Revert();

signals:
    void Chosen(int value);

protected:
    void focusOutEvent(QFocusEvent *event) override;

private:
    void Finish(bool leaving);

    QTimer quiet;
    int min, max;
    int shown = -1;  // the value in force
    int sent = -1;   // the last value handed on, so that Enter and then leaving send it once
};

// A shift key: a list by readable names ("Page Up"), and Press a key….
class KeyField : public QWidget {
    Q_OBJECT
public:
    // `what`: what the key does, for the question ("shift up").
    KeyField(const QString &what, QWidget *parent = nullptr);
    // The key in force, by its evdev name; one the list lacks is added under that name.
    void Show(const QString &name);

signals:
    void Chosen(const QString &name);

private:
    void Catch();

    QComboBox *list;
    QPushButton *press;
    QString what, shown;
};

#endif
