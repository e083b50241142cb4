// Storage for the shared values.
#include "state.h"

#include <string.h>

int32_t CurrentGear = 0;
int32_t WAIT1 = 0;
int32_t WAIT2 = 0;
char DebugText[DEBUG_TEXT_SIZE];

void AppendDebugText(const char *text)
{
    size_t used = strnlen(DebugText, sizeof DebugText - 1);
    size_t room = sizeof DebugText - 1 - used;
    size_t length = strnlen(text, room);
    memcpy(DebugText + used, text, length);
    DebugText[used + length] = '\0';
}
