// Which attached game controller is the lever: the one the user chose, by its instance and
// its name, else the only one there is. Pure: no Windows header, so that it is unit-tested
// on any host.
#ifndef GEARVANE_TRAY_LEVER_CHOICE_H
#define GEARVANE_TRAY_LEVER_CHOICE_H

#include <string.h>

#include <string>
#include <vector>

// A DirectInput instance GUID, as its 16 bytes.
struct InstanceId {
    unsigned char bytes[16];
    bool operator==(const InstanceId &o) const { return memcmp(bytes, o.bytes, sizeof bytes) == 0; }
};

struct Controller {
    InstanceId instance;
    std::wstring name;  // the product name
    bool inputs;        // it has buttons or a hat: it can be a lever
};

// The lever wanted. `name` is a part of a product name, any case (--device, the config file's
// device, or the full name of the one chosen); `instance`, when known, tells apart two
// controllers of one name.
struct LeverWanted {
    std::wstring name;
    bool known = false;
    InstanceId instance = {};
};

enum { CHOICE_NONE = -1, CHOICE_ASK = -2 };

// The index of the controller to drive. With a name: the wanted instance if it holds the name,
// else the first whose name holds it, else CHOICE_NONE (wait for it). Without: the only one
// with buttons or a hat; CHOICE_NONE when there is none, CHOICE_ASK when there are several.
int ChooseLever(const std::vector<Controller> &attached, const LeverWanted &wanted);

// Whether `name` holds `part`, in any case.
bool NameHolds(const std::wstring &name, const std::wstring &part);

#endif
