// The shift keys, typed with SendInput by scan code, as a keyboard would: the key output of
// the input thread unless the vJoy shifter takes its place.
#ifndef GEARVANE_TRAY_KEYS_H
#define GEARVANE_TRAY_KEYS_H

#include <windows.h>

#include "output.h"

class KeyOutput final : public ShiftOutput {
public:
    // The keys of the next key-downs, as indexes into KeyScans(); a key that is down keeps
    // its own key-up.
    void SetKeys(int upCode, int downCode);

private:
    int Press(int32_t direction) override;
    bool Release(int key) override;

    int up = 0, down = 0;  // indexes into KeyScans()
};

// Whether `msg` is one of the key events sent here. Such keys are for the game: in
// gearvane's own window they would change the control that has the focus.
bool OwnKeyMessage(const MSG &msg);

// Sends the key-up of any key that is down, from any thread. For a crash: the process ends
// after it.
void ReleaseHeldKey();

#endif
