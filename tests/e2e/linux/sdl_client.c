/* A game's view of a controller through SDL2: opens the joystick named on the command line
 * and prints what SDL reports, a line each: "opened NAME: B buttons, A axes, H hats",
 * "NS buttonN down|up" (N from 1 as games show it, NS the CLOCK_MONOTONIC time when SDL
 * handed the event over) and "closed". SIGTERM and SIGINT end it. */
#include <SDL.h>
#include <fcntl.h>
#include <poll.h>
#include <stdio.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

static long long Now(void)
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000000000LL + ts.tv_nsec;
}

/* Sleeps until the joystick's node has an event, or 100 ms, so that the clock tells when SDL
 * has the event rather than when it was asked; SDL reads its own copy of each. */
static void AwaitEvent(int node)
{
    struct pollfd p = {node, POLLIN, 0};
    char drop[4096];
    if (poll(&p, 1, 100) > 0)
        while (read(node, drop, sizeof drop) > 0) {
        }
}

int main(int argc, char **argv)
{
    if (argc != 2)
        return 2;
    setvbuf(stdout, NULL, _IOLBF, 0);
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    if (SDL_Init(SDL_INIT_JOYSTICK) != 0) {
        fprintf(stderr, "SDL_Init: %s\n", SDL_GetError());
        return 1;
    }
    SDL_Joystick *joystick = NULL;
    SDL_JoystickID id = -1;
    int node = -1;
    for (;;) {
        if (node >= 0)
            AwaitEvent(node);
        else
            SDL_WaitEventTimeout(NULL, 100);
        SDL_Event e;
        while (SDL_PollEvent(&e)) {
            const char *name;
            switch (e.type) {
            case SDL_JOYDEVICEADDED:
                name = SDL_JoystickNameForIndex(e.jdevice.which);
                if (joystick || !name || strcmp(name, argv[1]) != 0)
                    break;
                joystick = SDL_JoystickOpen(e.jdevice.which);
                if (!joystick) {
                    printf("cannot open %s: %s\n", argv[1], SDL_GetError());
                    break;
                }
                id = SDL_JoystickInstanceID(joystick);
                node = open(SDL_JoystickPath(joystick), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
                printf("opened %s: %d buttons, %d axes, %d hats\n", SDL_JoystickName(joystick),
                       SDL_JoystickNumButtons(joystick), SDL_JoystickNumAxes(joystick),
                       SDL_JoystickNumHats(joystick));
                break;
            case SDL_JOYBUTTONDOWN:
            case SDL_JOYBUTTONUP:
                if (e.jbutton.which == id)
                    printf("%lld button%d %s\n", Now(), e.jbutton.button + 1, e.jbutton.state ? "down" : "up");
                break;
            case SDL_JOYDEVICEREMOVED:
                if (joystick && e.jdevice.which == id) {
                    SDL_JoystickClose(joystick);
                    close(node);
                    joystick = NULL;
                    id = node = -1;
                    printf("closed\n");
                }
                break;
            }
        }
    }
}
