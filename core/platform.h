// Platform services: the only road from the portable code to the operating system.
// The Windows front end implements them with the real calls; the unit tests with a recording fake.
#ifndef GEARVANE_PLATFORM_H
#define GEARVANE_PLATFORM_H

#include <stdint.h>

// The dialog's window, opaque to the portable code.
typedef struct DialogWindow *DialogHandle;

// The two fields of a controller report that the program reads.
struct ControllerSample {
    uint32_t dwButtons;  // bit n set: button n+1 held
    uint32_t dwPOV;      // hat in hundredths of a degree, 65535 when centred
};

// Polls the first controller once for its buttons and hat. Returns false when the
// poll failed; *sample is then meaningless and must not be decoded.
bool PollController(ControllerSample *sample);

// True only when the radio button `id` of the dialog is checked (not indeterminate).
bool IsRadioChecked(DialogHandle dlg, int id);

// The hardware scan code of virtual key `vk`.
unsigned LookUpScanCode(unsigned vk);

// Injects one key event into the input stream of the focused application.
void SendKeyEvent(unsigned vk, unsigned scanCode, bool keyUp);

// Replaces the text of the dialog's debug window.
void SetDebugWindowText(DialogHandle dlg, const char *text);

// A modal warning box owned by `owner`, with the program's caption; returns when dismissed.
void ShowWarning(DialogHandle owner, const char *text);

// Asks the thread's message loop to end.
void RequestQuit(void);

#endif
