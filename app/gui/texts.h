// How the window words gears, inputs and where the game's gear comes from.
#ifndef GEARVANE_GUI_TEXTS_H
#define GEARVANE_GUI_TEXTS_H

#include <QJsonArray>
#include <QJsonObject>
#include <QString>

// -1 reverse, 0 neutral, 1..7: "reverse", "neutral", "1st".."7th".
QString GearShort(int gear);
// "reverse", "neutral", "1st gear".."7th gear".
QString GearLong(int gear);
// The lever's gear as the big figure shows it: "R", "N", "1".."7".
QString GearFigure(int gear);

// A gate or an answer of learning ({"button":13} or {"hat":"up"}): "button 13", "hat up".
QString InputText(const QJsonObject &input);
// Held buttons and the hat of a lever or device: "buttons 13, 19 · hat left", or "nothing held".
QString HeldText(const QJsonArray &buttons, const QJsonValue &hat);

// The `game` event in words: "the game reports 3rd" when the game itself said so, else
// "the game is taken to be in 3rd"; and why, for the line below it.
QString GameText(const QJsonObject &game);
QString GameSourceText(const QJsonObject &game);

#endif
