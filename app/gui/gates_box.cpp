// The gate list, in force or being learned, and the plate and learn buttons.
#include "gates_box.h"

#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QJsonArray>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "texts.h"

namespace {

// Gears in the order gate lists show them.
const int GateOrder[] = {1, 2, 3, 4, 5, 6, 7, -1};

const char *const PlateNames[] = {"standard", "nascar"};

QJsonObject FindGear(const QJsonArray &gates, int gear)
{
    for (const QJsonValue &g : gates)
        if (g.toObject()["gear"].toInt() == gear)
            return g.toObject();
    return {};
}

// A row of the list; the one asked for now stands out.
void AddRow(QTreeWidget *list, const QString &what, const QString &input, bool asked = false)
{
    auto *row = new QTreeWidgetItem(list, {what, input});
    QFont font = list->font();
    font.setBold(asked);
    row->setFont(0, font);
    row->setFont(1, font);
}

bool Fixed(const QJsonObject &settings, const char *key)
{
    return settings["fixed"].toArray().contains(QString(key));
}

}  // namespace

GatesBox::GatesBox(QWidget *parent) : QGroupBox(tr("Gates"), parent)
{
    auto *layout = new QVBoxLayout(this);
    auto *form = new QFormLayout;
    plate = new QComboBox;
    plate->addItems({tr("Standard (reverse in 8)"), tr("Nascar (reverse in 1)"), tr("Gate map")});
    form->addRow(tr("&Plate"), plate);
    layout->addLayout(form);
    gates = new QTreeWidget;
    gates->setColumnCount(2);
    gates->setHeaderHidden(true);
    gates->setRootIsDecorated(false);
    gates->setSelectionMode(QAbstractItemView::NoSelection);
    gates->setFocusPolicy(Qt::NoFocus);
    gates->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    layout->addWidget(gates, 1);
    prompt = new QLabel;
    prompt->setWordWrap(true);
    prompt->setMinimumHeight(prompt->fontMetrics().lineSpacing() * 3);
    prompt->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    layout->addWidget(prompt);
    auto *buttons = new QHBoxLayout;
    learnButton = new QPushButton(tr("&Learn gates"));
    skipButton = new QPushButton(tr("S&kip"));
    doneButton = new QPushButton(tr("D&one"));
    cancelButton = new QPushButton(tr("Ca&ncel"));
    doneButton->setToolTip(tr("Keep the gears learned so far and leave out the rest"));
    for (QPushButton *b : {learnButton, skipButton, doneButton, cancelButton})
        buttons->addWidget(b);
    layout->addLayout(buttons);
    connect(plate, &QComboBox::activated, this, &GatesBox::ChoosePlate);
    connect(learnButton, &QPushButton::clicked, this, [this] { emit Learn("start"); });
    connect(skipButton, &QPushButton::clicked, this, [this] { emit Learn("skip"); });
    connect(doneButton, &QPushButton::clicked, this, [this] { emit Learn("done"); });
    connect(cancelButton, &QPushButton::clicked, this, [this] { emit Learn("cancel"); });
    ShowGates();
    ShowButtons();
}

void GatesBox::ShowSettings(const QJsonObject &s)
{
    settings = s;
    QString plateName = s["plate"].toString();
    plate->setCurrentIndex(s.isEmpty()                  ? -1
                           : plateName == PlateNames[0] ? 0
                           : plateName == PlateNames[1] ? 1
                                                        : 2);
    if (!s["gate"].toString().isEmpty())
        lastGate = s["gate"].toString();
    ShowGates();
    ShowButtons();
}

void GatesBox::ShowLearning(const QJsonObject &l)
{
    if (l["state"] == "gears" && learning["state"] != "gears")
        learnEnd.clear();
    learning = l;
    QString how = l["ended"].toString();
    if (how == "saved")
        learnEnd = tr("The gates are learned and saved.");
    else if (how == "cancelled")
        learnEnd = tr("Learning cancelled: the gates are as they were.");
    else if (how == "nothing learned")
        learnEnd = tr("No gear was learned: the gates are as they were.");
    else if (how == "not saved")
        learnEnd = tr("The gates could not be saved (see the status lines): they are as they were.");
    else if (how == "lever lost")
        learnEnd = tr("The lever went away: learning cancelled, the gates are as they were.");
    ShowGates();
    ShowButtons();
}

void GatesBox::ShowLever(bool isAttached)
{
    attached = isAttached;
    ShowGates();
    ShowButtons();
}

void GatesBox::Say(const QString &text)
{
    prompt->setText(text);
}

void GatesBox::ChoosePlate(int index)
{
    if (index < 2) {
        emit Set("plate", PlateNames[index]);
        return;
    }
    if (lastGate.isEmpty()) {
        ShowSettings(settings);
        Say(tr("There is no gate map yet: Learn gates makes one."));
        return;
    }
    emit Set("gate", lastGate);
}

void GatesBox::ShowGates()
{
    gates->clear();
    QString state = learning["state"].toString();
    if (state == "gears" || state == "reset") {
        QJsonArray answers = learning["answers"].toArray();
        int asking = learning["asking"].toInt();
        bool past = true;  // before the gear asked: a gear without an answer was skipped
        for (int gear : GateOrder) {
            bool asked = state == "gears" && gear == asking;
            past = past && !asked;
            QJsonObject answer = FindGear(answers, gear);
            AddRow(gates, GearLong(gear),
                   !answer.isEmpty() ? InputText(answer)
                   : asked           ? tr("← move the lever here")
                   : past            ? tr("skipped")
                                     : QString(),
                   asked);
        }
        AddRow(gates, tr("reset"), state == "reset" ? tr("← press the reset button") : QString(), state == "reset");
        QString note = learning["note"].toString();
        QString ask = state == "reset"
                          ? tr("Optional: press the button that tells gearvane the game is in neutral, or Skip.")
                          : tr("%1: move the lever there, or Skip. Done keeps what is learned.").arg(GearLong(asking));
        Say(note.isEmpty() ? ask : note + "\n" + ask);
        return;
    }
    QJsonArray map = settings["gates"].toArray();
    for (int gear : GateOrder) {
        QJsonObject g = FindGear(map, gear);
        if (!g.isEmpty())
            AddRow(gates, GearLong(gear), InputText(g));
    }
    if (settings["reset-button"].toInt() > 0)
        AddRow(gates, tr("reset"), tr("button %1").arg(settings["reset-button"].toInt()));
    Say(!learnEnd.isEmpty() ? learnEnd
        : !attached         ? tr("Plug the lever in to learn its gates.")
                            : tr("A button per gear? Click Learn gates, then move the lever into each gear asked for."));
}

void GatesBox::ShowButtons()
{
    QString state = learning["state"].toString();
    bool on = state == "gears" || state == "reset";
    // What the command line sets cannot be changed here: it wins over the config file.
    bool fixed = Fixed(settings, "plate") || Fixed(settings, "gate");
    learnButton->setEnabled(!on && attached && !fixed);
    skipButton->setEnabled(on);
    doneButton->setEnabled(state == "gears");
    cancelButton->setEnabled(on);
    plate->setEnabled(!on && !fixed);
    plate->setToolTip(fixed ? tr("Set on gearvane's command line, which wins over the config file") : QString());
}
