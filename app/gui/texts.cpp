// The window's wording of what the daemon sends.
#include "texts.h"

#include <QCoreApplication>

#include "../../core/learn.h"

namespace {

QString Tr(const char *text)
{
    return QCoreApplication::translate("gearvane", text);
}

}  // namespace

QString GearShort(int gear)
{
    static const char *const Forward[] = {"1st", "2nd", "3rd", "4th", "5th", "6th", "7th"};
    if (gear >= 1 && gear <= GEAR_TOP)
        return Tr(Forward[gear - 1]);
    return gear == GEAR_REVERSE ? Tr("reverse") : Tr("neutral");
}

QString GearLong(int gear)
{
    return gear == GEAR_NONE ? Tr("neutral") : Tr(GearQuestion(gear));
}

QString GearFigure(int gear)
{
    return gear == GEAR_REVERSE ? "R" : gear >= 1 && gear <= GEAR_TOP ? QString::number(gear) : "N";
}

QString InputText(const QJsonObject &input)
{
    if (input.contains("button"))
        return Tr("button %1").arg(input["button"].toInt());
    return Tr("hat %1").arg(input["hat"].toString());
}

QString HeldText(const QJsonArray &buttons, const QJsonValue &hat)
{
    QStringList parts, numbers;
    for (const QJsonValue &b : buttons)
        numbers << QString::number(b.toInt());
    if (!numbers.isEmpty())
        parts << (numbers.size() == 1 ? Tr("button %1") : Tr("buttons %1")).arg(numbers.join(", "));
    if (hat.isString())
        parts << Tr("hat %1").arg(hat.toString());
    return parts.isEmpty() ? Tr("nothing held") : parts.join(" · ");
}

QString GameText(const QJsonObject &game)
{
    QString gear = GearShort(game["gear"].toInt());
    return game["source"] == "telemetry" ? Tr("the game reports %1").arg(gear)
                                         : Tr("the game is taken to be in %1").arg(gear);
}

QString GameSourceText(const QJsonObject &game)
{
    QString source = game["source"].toString();
    if (source == "counted")
        return Tr("counted from the taps sent");
    if (source == "reset")
        return Tr("after the reset button");
    if (source == "user")
        return Tr("as you set it");
    if (source == "start")
        return Tr("nothing has said otherwise yet");
    return source == "telemetry" ? Tr("from the game's telemetry") : QString();
}
