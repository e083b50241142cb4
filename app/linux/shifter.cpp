// The virtual shifter on uinput, through libevdev.
#include "shifter.h"

#include <libevdev/libevdev.h>

const ShiftKeys ShifterButtons = {BTN_TRIGGER, BTN_THUMB, "BTN_TRIGGER", "BTN_THUMB"};

namespace {

// What the shifter reports, and why: what udev's input_id and SDL look for in a game
// controller, and what a USB sequential shifter (a HID joystick with a few buttons) has.
// - Buttons BTN_TRIGGER and BTN_THUMB, the first two of the joystick range. SDL counts a
//   joystick's buttons from BTN_JOYSTICK on, so these are its first two, which Wine, Proton
//   and the games show as buttons 1 and 2. No keyboard keys, so that udev does not tag it
//   ID_INPUT_KEY and nothing takes it for a keyboard.
// - Axes ABS_X and ABS_Y, at rest in the middle of a symmetric range. Recent udev tags a
//   device ID_INPUT_JOYSTICK for its joystick buttons alone, but older udev wants X and Y
//   as well, and so does SDL's own test of a device, which SDL uses where udev's database
//   cannot be read: the Steam Linux Runtime's container that Proton runs in, and Flatpak.
//   ID_INPUT_JOYSTICK is also what gives the node to the user at the seat (uaccess), so
//   that the game may open it.
// - Bus BUS_VIRTUAL and no vendor or product id: it poses as no real device, so that no
//   game or controller mapping treats it as one. SDL then tells it by its name, which never
//   changes, so a game keeps its binding from one start to the next.
// - No force feedback, as a shifter has none.
enum { AXIS_MAX = 32767 };

Uinput MakeDevice(std::string *error)
{
    libevdev *dev = libevdev_new();
    libevdev_set_name(dev, "gearvane virtual shifter");
    libevdev_set_id_bustype(dev, BUS_VIRTUAL);
    libevdev_set_id_version(dev, 1);
    libevdev_enable_event_type(dev, EV_KEY);
    libevdev_enable_event_code(dev, EV_KEY, BTN_TRIGGER, nullptr);
    libevdev_enable_event_code(dev, EV_KEY, BTN_THUMB, nullptr);
    input_absinfo axis = {};
    axis.minimum = -AXIS_MAX;
    axis.maximum = AXIS_MAX;
    libevdev_enable_event_type(dev, EV_ABS);
    libevdev_enable_event_code(dev, EV_ABS, ABS_X, &axis);
    libevdev_enable_event_code(dev, EV_ABS, ABS_Y, &axis);
    Uinput device = CreateUinput(dev, "the virtual shifter", error);
    libevdev_free(dev);  // the uinput device keeps what it needs
    return device;
}

}  // namespace

std::unique_ptr<Shifter> Shifter::Create(int64_t now, std::string *error)
{
    std::unique_ptr<Shifter> s(new Shifter());
    s->device = MakeDevice(error);
    if (!s->device)
        return nullptr;
    s->readyAt = now + SETTLE_US;
    return s;
}
