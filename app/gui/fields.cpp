// The number box and the key field.
#include "fields.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QKeyEvent>
#include <QLabel>
#include <QVBoxLayout>

#include "../../config/key_names.h"

NumberBox::NumberBox(int min, int max, QWidget *parent) : QLineEdit(parent), min(min), max(max)
{
    setValidator(new QIntValidator(min, max, this));
    setMaxLength(4);
    quiet.setSingleShot(true);
    quiet.setInterval(500);
    connect(&quiet, &QTimer::timeout, this, [this] { Finish(false); });
    // Only what the user types starts the wait; the window's own setText does not.
    connect(this, &QLineEdit::textEdited, &quiet, qOverload<>(&QTimer::start));
    connect(this, &QLineEdit::returnPressed, this, [this] { Finish(false); });
}

void NumberBox::Show(int value)
{
    shown = value;
    sent = -1;
    if (!quiet.isActive())
        setText(QString::number(value));
}

void NumberBox::Revert()
{
    quiet.stop();
    Show(shown);
}

void NumberBox::focusOutEvent(QFocusEvent *event)
{
    Finish(true);
    QLineEdit::focusOutEvent(event);
}

void NumberBox::Finish(bool leaving)
{
    quiet.stop();
    bool ok;
    int value = text().toInt(&ok);
    if (!ok || value < min || value > max) {
        // Something that is no value stays while the user is in the box, to be mended.
        if (leaving)
            Revert();
        return;
    }
    if (value != shown && value != sent) {
        sent = value;
        emit Chosen(value);
    }
}

namespace {

// Asks for a key and takes the next one pressed, by the code the keyboard reports.
class KeyCatcher : public QDialog {
public:
    KeyCatcher(const QString &what, QWidget *parent) : QDialog(parent)
    {
        setWindowTitle(tr("Press a key"));
        auto *layout = new QVBoxLayout(this);
        layout->addWidget(new QLabel(tr("Press the key that should %1.").arg(what)));
        note = new QLabel;
        layout->addWidget(note);
        auto *buttons = new QDialogButtonBox(QDialogButtonBox::Cancel);
        buttons->button(QDialogButtonBox::Cancel)->setFocusPolicy(Qt::NoFocus);
        connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
        layout->addWidget(buttons);
    }

    QString name;

protected:
    // Every key is an answer, Escape and Enter too: only the Cancel button cancels.
    bool event(QEvent *e) override
    {
        if (e->type() == QEvent::ShortcutOverride) {
            e->accept();
            return true;
        }
        return QDialog::event(e);
    }

    void keyPressEvent(QKeyEvent *e) override
    {
        // On X11 and Wayland the native scan code is the evdev code plus 8.
        const KeyName *key = e->nativeScanCode() > 8 ? FindKeyCode(static_cast<int>(e->nativeScanCode()) - 8)
                                                     : nullptr;
        if (!key) {
            note->setText(tr("That key cannot be sent as a shift key: press another, or choose from the list."));
            return;
        }
        name = key->name;
        accept();
    }

private:
    QLabel *note;
};

}  // namespace

KeyField::KeyField(const QString &what, QWidget *parent) : QWidget(parent), what(what)
{
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    list = new QComboBox;
    list->setMaxVisibleItems(20);
    int count;
    const KeyName *keys = KeyNames(&count);
    for (int i = 0; i < count; i++)
        list->addItem(keys[i].readable, QString(keys[i].name));
    press = new QPushButton(tr("Press a key…"));
    layout->addWidget(list, 1);
    layout->addWidget(press);
    connect(list, &QComboBox::activated, this, [this](int index) {
        QString name = list->itemData(index).toString();
        if (name != shown)
            emit Chosen(name);
    });
    connect(press, &QPushButton::clicked, this, &KeyField::Catch);
}

void KeyField::Show(const QString &name)
{
    shown = name;
    if (name.isEmpty()) {
        list->setCurrentIndex(-1);
        return;
    }
    int index = list->findData(name);
    if (index < 0) {
        list->addItem(name, name);
        index = list->count() - 1;
    }
    list->setCurrentIndex(index);
}

void KeyField::Catch()
{
    KeyCatcher catcher(what, this);
    if (catcher.exec() == QDialog::Accepted && catcher.name != shown) {
        Show(catcher.name);
        emit Chosen(catcher.name);
    }
}
