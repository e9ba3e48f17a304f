/* A game's way to the wheel's rumble through Debian's libSDL2, for the VM tier: it lists SDL's
 * joysticks, takes the first, as a game does, and either rumbles it as a game controller or plays
 * a sine, then a constant force along X, through SDL's haptic API. Linked dynamically, as a game
 * is.
 *
 *   sdl-client rumble LOW HIGH MS   SDL_GameControllerRumble (LOW, HIGH 0..65535), then waits
 *                                   until it has ended
 *   sdl-client blips COUNT MS       COUNT rumbles of MS ms each, a fifth of a second apart
 *   sdl-client list                 every joystick SDL lists, as a game's controller menu would
 *   sdl-client haptic               SDL_HAPTIC_SINE (period 200 ms, magnitude 16384, 1000 ms),
 *                                   then SDL_HAPTIC_CONSTANT (level 24576, 600 ms)
 *   sdl-client state                the first joystick's axes and buttons as SDL reads them
 *   sdl-client hotplug SECONDS      opens the first joystick and rumbles it, as a game in a race;
 *                                   when SDL says it was removed, and again when one is added,
 *                                   prints "MS removed" / "MS added: STATE" (MS of
 *                                   CLOCK_MONOTONIC, STATE read right after the open), and
 *                                   rumbles the new one; fails when that takes over SECONDS
 * Prints each step with SDL_GetTicks() times; exit status 0 when SDL did every step. With
 * WHEEL_MARKS naming the test wheel's command pipe, it marks "NAME play" right before each effect
 * starts and "NAME stop" when it is over, so the reports can be lined up with the calls.
 */
#include <SDL2/SDL.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

static void Mark(const char* name, const char* what) {
    const char* path = getenv("WHEEL_MARKS");
    FILE* marks = path ? fopen(path, "w") : NULL;
    if (marks != NULL) {
        struct timespec now;
        clock_gettime(CLOCK_MONOTONIC, &now);
        fprintf(marks, "mark-at %lld %s %s\n", now.tv_sec * 1000LL + now.tv_nsec / 1000000, name,
                what);
        fclose(marks);
    }
}

static int Fail(const char* what) {
    printf("sdl-client: %s: %s\n", what, SDL_GetError());
    SDL_Quit();
    return 1;
}

/* Keeps SDL's joystick layer running (it ends a timed rumble itself) for `ms`. */
static void Pump(Uint32 ms) {
    Uint32 end = SDL_GetTicks() + ms;
    while (SDL_GetTicks() < end) {
        SDL_GameControllerUpdate();
        SDL_Delay(5);
    }
}

/* Lists every joystick SDL offers, as a game's device menu would, and takes the first one, as a
 * game does that picks a wheel for the player: -1 when there is none or it has no force
 * feedback. */
static int FirstJoystick(void) {
    int count = SDL_NumJoysticks();
    printf("joysticks: %d\n", count);
    int haptic0 = 0;
    for (int i = 0; i < count; ++i) {
        SDL_Joystick* joystick = SDL_JoystickOpen(i);
        if (joystick == NULL) {
            printf("joystick %d: cannot open: %s\n", i, SDL_GetError());
            continue;
        }
        int haptic = SDL_JoystickIsHaptic(joystick) == SDL_TRUE;
        printf("joystick %d: \"%s\" %04x:%04x%s\n", i, SDL_JoystickName(joystick),
               SDL_JoystickGetVendor(joystick), SDL_JoystickGetProduct(joystick),
               haptic ? ", force feedback" : "");
        SDL_JoystickClose(joystick);
        if (i == 0) {
            haptic0 = haptic;
        }
    }
    return count > 0 && haptic0 ? 0 : -1;
}

static SDL_GameController* OpenController(int index) {
    if (!SDL_IsGameController(index)) {
        /* A wheel is in no controller database: a game or its user gives SDL a mapping. */
        char guid[64], mapping[256];
        SDL_JoystickGetGUIDString(SDL_JoystickGetDeviceGUID(index), guid, sizeof(guid));
        snprintf(mapping, sizeof(mapping),
                 "%s,Talvex DX Wheel,a:b0,b:b1,x:b2,y:b3,leftx:a0,lefty:a1,platform:Linux,", guid);
        if (SDL_GameControllerAddMapping(mapping) < 0) {
            Fail("SDL_GameControllerAddMapping");
            return NULL;
        }
    }
    SDL_GameController* controller = SDL_GameControllerOpen(index);
    if (controller == NULL) {
        Fail("SDL_GameControllerOpen");
        return NULL;
    }
    printf("%u game controller \"%s\" opened\n", SDL_GetTicks(),
           SDL_GameControllerName(controller));
    return controller;
}

static int Rumble(int index, Uint16 low, Uint16 high, Uint32 ms) {
    SDL_GameController* controller = OpenController(index);
    if (controller == NULL) {
        return 1;
    }
    Mark("sdl-rumble", "play");
    if (SDL_GameControllerRumble(controller, low, high, ms) < 0) {
        return Fail("SDL_GameControllerRumble");
    }
    printf("%u rumble low %u high %u for %u ms\n", SDL_GetTicks(), low, high, ms);
    Pump(ms + 300);
    Mark("sdl-rumble", "stop");
    printf("%u closing\n", SDL_GetTicks());
    SDL_GameControllerClose(controller);
    return 0;
}

static int Haptic(int index) {
    SDL_Joystick* joystick = SDL_JoystickOpen(index);
    SDL_Haptic* haptic = joystick ? SDL_HapticOpenFromJoystick(joystick) : NULL;
    if (haptic == NULL) {
        return Fail("SDL_HapticOpenFromJoystick");
    }
    SDL_HapticEffect sine;
    memset(&sine, 0, sizeof(sine));
    sine.type = SDL_HAPTIC_SINE;
    sine.periodic.direction.type = SDL_HAPTIC_CARTESIAN;
    sine.periodic.direction.dir[0] = 1;
    sine.periodic.period = 200;
    sine.periodic.magnitude = 16384;
    sine.periodic.length = 1000;
    SDL_HapticEffect constant;
    memset(&constant, 0, sizeof(constant));
    constant.type = SDL_HAPTIC_CONSTANT;
    constant.constant.direction.type = SDL_HAPTIC_CARTESIAN;
    constant.constant.direction.dir[0] = 1;
    constant.constant.level = 24576;
    constant.constant.length = 600;
    int sineId = SDL_HapticNewEffect(haptic, &sine);
    Mark("sdl-sine", "play");
    if (sineId < 0 || SDL_HapticRunEffect(haptic, sineId, 1) < 0) {
        return Fail("sine");
    }
    printf("%u sine started\n", SDL_GetTicks());
    SDL_Delay(1300);
    int constantId = SDL_HapticNewEffect(haptic, &constant);
    Mark("sdl-sine", "stop");
    Mark("sdl-constant", "play");
    if (constantId < 0 || SDL_HapticRunEffect(haptic, constantId, 1) < 0) {
        return Fail("constant");
    }
    printf("%u constant started\n", SDL_GetTicks());
    SDL_Delay(900);
    Mark("sdl-constant", "stop");
    printf("%u closing\n", SDL_GetTicks());
    SDL_HapticClose(haptic);
    SDL_JoystickClose(joystick);
    return 0;
}

static long long MonotonicMs(void) {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1000LL + now.tv_nsec / 1000000;
}

/* "axes A0 A1 ... buttons B0 B1 ...", as SDL has them for a joystick it has opened. */
static void PrintState(SDL_Joystick* joystick) {
    printf("axes");
    for (int i = 0; i < SDL_JoystickNumAxes(joystick); ++i) {
        printf(" %d", SDL_JoystickGetAxis(joystick, i));
    }
    printf(" buttons");
    for (int i = 0; i < SDL_JoystickNumButtons(joystick); ++i) {
        printf(" %d", SDL_JoystickGetButton(joystick, i));
    }
    printf("\n");
}

static int State(int index) {
    SDL_Joystick* joystick = SDL_JoystickOpen(index);
    if (joystick == NULL) {
        return Fail("SDL_JoystickOpen");
    }
    PrintState(joystick);
    SDL_JoystickClose(joystick);
    return 0;
}

/* A game in a race when the wheel is unplugged and plugged back: SDL's device events, and the
 * new device's state at the moment the game opens it. */
static int Hotplug(int index, int seconds) {
    SDL_Joystick* joystick = SDL_JoystickOpen(index);
    if (joystick == NULL) {
        return Fail("SDL_JoystickOpen");
    }
    SDL_JoystickID id = SDL_JoystickInstanceID(joystick);
    if (SDL_JoystickRumble(joystick, 0xC000, 0x8000, 60000) < 0) {
        return Fail("SDL_JoystickRumble");
    }
    printf("%lld playing\n", MonotonicMs());
    fflush(stdout);
    int removed = 0;
    Uint32 end = SDL_GetTicks() + (Uint32)seconds * 1000;
    while (SDL_GetTicks() < end) {
        SDL_Event event;
        if (!SDL_WaitEventTimeout(&event, 50)) {
            continue;
        }
        if (event.type == SDL_JOYDEVICEREMOVED && event.jdevice.which == id) {
            printf("%lld removed\n", MonotonicMs());
            fflush(stdout);
            SDL_JoystickClose(joystick);
            joystick = NULL;
            removed = 1;
        } else if (event.type == SDL_JOYDEVICEADDED && removed) {
            joystick = SDL_JoystickOpen(event.jdevice.which);
            if (joystick == NULL) {
                return Fail("SDL_JoystickOpen of the added device");
            }
            printf("%lld added: ", MonotonicMs());
            PrintState(joystick);
            if (SDL_JoystickRumble(joystick, 0xC000, 0x8000, 300) < 0) {
                return Fail("SDL_JoystickRumble on the added device");
            }
            SDL_Delay(500);
            SDL_JoystickClose(joystick);
            return 0;
        }
    }
    printf("sdl-client: no %s within %d s\n", removed ? "device added" : "removal", seconds);
    return 1;
}

static int List(void) {
    if (SDL_Init(SDL_INIT_JOYSTICK | SDL_INIT_HAPTIC) < 0) {
        return Fail("SDL_Init");
    }
    for (int i = 0; i < SDL_NumJoysticks(); ++i) {
        SDL_Joystick* joystick = SDL_JoystickOpen(i);
        if (joystick == NULL) {
            printf("joystick %d: \"%s\" (cannot be opened: %s)\n", i, SDL_JoystickNameForIndex(i),
                   SDL_GetError());
            continue;
        }
        printf("joystick %d: \"%s\" %04x:%04x%s\n", i, SDL_JoystickName(joystick),
               SDL_JoystickGetVendor(joystick), SDL_JoystickGetProduct(joystick),
               SDL_JoystickIsHaptic(joystick) == SDL_TRUE ? ", force feedback" : "");
        SDL_JoystickClose(joystick);
    }
    printf("joysticks: %d\n", SDL_NumJoysticks());
    SDL_Quit();
    return 0;
}

/* COUNT rumbles of MS ms each, a fifth of a second apart, as a game's short bumps. */
static int Blips(int index, int count, Uint32 ms) {
    SDL_GameController* controller = OpenController(index);
    if (controller == NULL) {
        return 1;
    }
    for (int i = 0; i < count; ++i) {
        if (SDL_GameControllerRumble(controller, 0xC000, 0x8000, ms) < 0) {
            return Fail("SDL_GameControllerRumble");
        }
        Pump(200);
    }
    printf("%u %d rumbles of %u ms\n", SDL_GetTicks(), count, ms);
    SDL_GameControllerClose(controller);
    return 0;
}

int main(int argc, char** argv) {
    if (argc == 2 && strcmp(argv[1], "list") == 0) {
        return List();
    }
    int rumble = argc == 5 && strcmp(argv[1], "rumble") == 0;
    int blips = argc == 4 && strcmp(argv[1], "blips") == 0;
    int state = argc == 2 && strcmp(argv[1], "state") == 0;
    int hotplug = argc == 3 && strcmp(argv[1], "hotplug") == 0;
    if (!rumble && !blips && !state && !hotplug && !(argc == 2 && strcmp(argv[1], "haptic") == 0)) {
        fprintf(stderr,
                "usage: sdl-client rumble LOW HIGH MS | blips COUNT MS | haptic | state | "
                "hotplug SECONDS | list\n");
        return 2;
    }
    if (SDL_Init(rumble || blips ? SDL_INIT_GAMECONTROLLER : SDL_INIT_JOYSTICK | SDL_INIT_HAPTIC) <
        0) {
        return Fail("SDL_Init");
    }
    int index = FirstJoystick();
    if (index < 0) {
        printf("sdl-client: SDL's first joystick is missing or has no force feedback\n");
        SDL_Quit();
        return 1;
    }
    int status =
        rumble  ? Rumble(index, (Uint16)atoi(argv[2]), (Uint16)atoi(argv[3]), (Uint32)atoi(argv[4]))
        : blips ? Blips(index, atoi(argv[2]), (Uint32)atoi(argv[3]))
        : state ? State(index)
        : hotplug ? Hotplug(index, atoi(argv[2]))
                  : Haptic(index);
    SDL_Quit();
    return status;
}
