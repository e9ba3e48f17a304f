/* A Windows DirectInput 8 racing game's force feedback, for the Wine scenario of the VM tier: it
 * lists the game controllers, takes the wheel, checks its force feedback and actuators, starts a
 * centring spring (silent on this wheel) and plays what a racing game plays, each effect on the X
 * axis alone, as such games create them:
 *   constant    a constant force of 7500 for 1 s
 *   sine        a sine of magnitude 5000, period 200 ms, for 1 s
 *   ramp        a ramp from 2500 to 10000 over 1 s
 *   steering    a constant force of infinite duration whose magnitude is updated 60 times a second
 *               with DIEP_TYPESPECIFICPARAMS alone (a steering force), in steps of 250 ms
 *               (2500, 5000, 7500, 10000), then stopped
 * and exits with the last effect still downloaded, as a game that quits does. Every effect stays
 * created until the end (a game keeps its effects), which also keeps clear of Wine 8's re-use of a
 * freed effect slot with the old effect's type. Lines it prints start with "dinput:"; it exits 0
 * when every call succeeded and the wheel is as a game expects it.
 *
 * usage: dinput-wheel.exe MARKS    MARKS: the test wheel's command pipe as a Windows path (a
 *                                  "mark NAME play|stop" line goes there before each play and
 *                                  stop, so the wheel's record lines up with the calls)
 */
/* A DirectInput 8 game, whatever version the project's own code is built against. */
#undef DIRECTINPUT_VERSION
#define DIRECTINPUT_VERSION 0x0800
#define COBJMACROS
#include <dinput.h>
#include <stdio.h>
#include <string.h>
#include <windows.h>
#include <xinput.h>

static HANDLE marks = INVALID_HANDLE_VALUE;
static int failures;

static void Mark(const char* name, const char* what) {
    char line[100];
    DWORD written;
    int length = snprintf(line, sizeof(line), "mark %s %s\n", name, what);
    WriteFile(marks, line, (DWORD)length, &written, NULL);
}

static HRESULT Check(const char* what, HRESULT hr) {
    if (FAILED(hr)) {
        printf("dinput: FAIL: %s: 0x%08lx\n", what, (unsigned long)hr);
        ++failures;
    }
    return hr;
}

static void Expect(int ok, const char* what) {
    printf("dinput: %s: %s\n", ok ? "ok" : "FAIL", what);
    failures += !ok;
}

typedef struct {
    int count;
    int wheels;
    GUID wheel;
} Listing;

static BOOL CALLBACK ListDevice(const DIDEVICEINSTANCEA* device, void* context) {
    Listing* listing = context;
    WORD vendor = LOWORD(device->guidProduct.Data1), product = HIWORD(device->guidProduct.Data1);
    printf("dinput: device %d: \"%s\" %04x:%04x type 0x%08lx\n", listing->count,
           device->tszInstanceName, vendor, product, (unsigned long)device->dwDevType);
    if (vendor == 0x2D71 && product == 0x5A08) {
        if (listing->wheels++ == 0) {
            listing->wheel = device->guidInstance;
        }
    }
    ++listing->count;
    return DIENUM_CONTINUE;
}

static BOOL CALLBACK ListActuator(const DIDEVICEOBJECTINSTANCEA* object, void* context) {
    int* axes = context;
    printf("dinput: axis \"%s\" type 0x%08lx flags 0x%08lx\n", object->tszName,
           (unsigned long)object->dwType, (unsigned long)object->dwFlags);
    if ((object->dwType & DIDFT_FFACTUATOR) == 0) {
        return DIENUM_CONTINUE;
    }
    if (IsEqualGUID(&object->guidType, &GUID_XAxis)) {
        axes[0] = 1;
    } else if (IsEqualGUID(&object->guidType, &GUID_YAxis)) {
        axes[1] = 1;
    }
    return DIENUM_CONTINUE;
}

/* An effect on X alone, as a wheel game makes one: one axis by offset, Cartesian, direction 1. */
static DWORD xAxis[1] = {DIJOFS_X};
static LONG xDirection[1] = {1};
static void XEffect(DIEFFECT* effect, DWORD duration, void* parameters, DWORD size) {
    memset(effect, 0, sizeof(*effect));
    effect->dwSize = sizeof(*effect);
    effect->dwFlags = DIEFF_CARTESIAN | DIEFF_OBJECTOFFSETS;
    effect->dwDuration = duration;
    effect->dwGain = DI_FFNOMINALMAX;
    effect->dwTriggerButton = DIEB_NOTRIGGER;
    effect->cAxes = 1;
    effect->rgdwAxes = xAxis;
    effect->rglDirection = xDirection;
    effect->cbTypeSpecificParams = size;
    effect->lpvTypeSpecificParams = parameters;
}

static IDirectInputEffect* Play(IDirectInputDevice8A* device, const char* name, REFGUID type,
                                DIEFFECT* effect, DWORD ms) {
    IDirectInputEffect* created = NULL;
    char what[80];
    snprintf(what, sizeof(what), "CreateEffect(%s)", name);
    if (FAILED(
            Check(what, IDirectInputDevice8_CreateEffect(device, type, effect, &created, NULL)))) {
        return NULL;
    }
    Mark(name, "play");
    snprintf(what, sizeof(what), "Start(%s)", name);
    Check(what, IDirectInputEffect_Start(created, 1, 0));
    Sleep(ms);
    Mark(name, "stop");
    printf("dinput: %s played\n", name);
    return created;
}

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: dinput-wheel.exe MARKS\n");
        return 2;
    }
    setvbuf(stdout, NULL, _IONBF, 0);
    marks = CreateFileA(argv[1], GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                        OPEN_EXISTING, 0, NULL);
    Expect(marks != INVALID_HANDLE_VALUE, "the test wheel's pipe is open");
    HINSTANCE instance = GetModuleHandleA(NULL);
    WNDCLASSA windowClass;
    memset(&windowClass, 0, sizeof(windowClass));
    windowClass.lpfnWndProc = DefWindowProcA;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = "dinput-wheel";
    RegisterClassA(&windowClass);
    /* No display in the guest: a message-only window, which the cooperative level accepts. */
    HWND window = CreateWindowExA(0, "dinput-wheel", "dinput-wheel", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                  NULL, instance, NULL);

    IDirectInput8A* dinput = NULL;
    if (FAILED(Check("DirectInput8Create",
                     DirectInput8Create(instance, DIRECTINPUT_VERSION, &IID_IDirectInput8A,
                                        (void**)&dinput, NULL)))) {
        return 1;
    }
    Listing all = {0}, ff = {0};
    IDirectInput8_EnumDevices(dinput, DI8DEVCLASS_GAMECTRL, ListDevice, &all, DIEDFL_ATTACHEDONLY);
    printf("dinput: force-feedback devices:\n");
    IDirectInput8_EnumDevices(dinput, DI8DEVCLASS_GAMECTRL, ListDevice, &ff,
                              DIEDFL_ATTACHEDONLY | DIEDFL_FORCEFEEDBACK);
    Expect(all.count == 1 && all.wheels == 1, "DirectInput lists one game controller, the wheel");
    Expect(ff.wheels == 1, "the wheel has force feedback");
    if (ff.wheels == 0) {
        return 1;
    }

    IDirectInputDevice8A* device = NULL;
    if (FAILED(
            Check("CreateDevice", IDirectInput8_CreateDevice(dinput, &ff.wheel, &device, NULL)))) {
        return 1;
    }
    Check("SetDataFormat", IDirectInputDevice8_SetDataFormat(device, &c_dfDIJoystick2));
    int actuators[2] = {0, 0};
    IDirectInputDevice8_EnumObjects(device, ListActuator, actuators, DIDFT_AXIS);
    Expect(actuators[0] && actuators[1], "X and Y are force-feedback actuators");
    Check("SetCooperativeLevel", IDirectInputDevice8_SetCooperativeLevel(
                                     device, window, DISCL_EXCLUSIVE | DISCL_BACKGROUND));
    DIPROPDWORD autocenter;
    autocenter.diph.dwSize = sizeof(autocenter);
    autocenter.diph.dwHeaderSize = sizeof(autocenter.diph);
    autocenter.diph.dwObj = 0;
    autocenter.diph.dwHow = DIPH_DEVICE;
    autocenter.dwData = DIPROPAUTOCENTER_OFF;
    IDirectInputDevice8_SetProperty(device, DIPROP_AUTOCENTER, &autocenter.diph);
    if (FAILED(Check("Acquire", IDirectInputDevice8_Acquire(device)))) {
        return 1;
    }
    Check("DISFFC_RESET", IDirectInputDevice8_SendForceFeedbackCommand(device, DISFFC_RESET));
    Check("DISFFC_SETACTUATORSON",
          IDirectInputDevice8_SendForceFeedbackCommand(device, DISFFC_SETACTUATORSON));
    /* A centring spring first, as racing games start one (silent on this wheel, which has no
     * positional force); it also opens Wine's road to the device before the effects measured. */
    DIEFFECT effect;
    DICONDITION spring = {0, 5000, 5000, 10000, 10000, 0};
    XEffect(&effect, INFINITE, &spring, sizeof(spring));
    IDirectInputEffect* centring = NULL;
    if (SUCCEEDED(Check(
            "CreateEffect(spring)",
            IDirectInputDevice8_CreateEffect(device, &GUID_Spring, &effect, &centring, NULL)))) {
        Check("Start(spring)", IDirectInputEffect_Start(centring, 1, 0));
    }
    Sleep(500);

    DICONSTANTFORCE constant = {7500};
    XEffect(&effect, DI_SECONDS, &constant, sizeof(constant));
    IDirectInputEffect* constantEffect =
        Play(device, "wine-constant", &GUID_ConstantForce, &effect, 1300);

    DIPERIODIC sine = {5000, 0, 0, 200000};
    XEffect(&effect, DI_SECONDS, &sine, sizeof(sine));
    IDirectInputEffect* sineEffect = Play(device, "wine-sine", &GUID_Sine, &effect, 1300);

    DIRAMPFORCE ramp = {2500, 10000};
    XEffect(&effect, DI_SECONDS, &ramp, sizeof(ramp));
    IDirectInputEffect* rampEffect = Play(device, "wine-ramp", &GUID_RampForce, &effect, 1300);

    /* The steering force: created and started once, then only its magnitude, every frame. */
    DICONSTANTFORCE steer = {2500};
    XEffect(&effect, INFINITE, &steer, sizeof(steer));
    IDirectInputEffect* steering = NULL;
    if (SUCCEEDED(Check("CreateEffect(steering)",
                        IDirectInputDevice8_CreateEffect(device, &GUID_ConstantForce, &effect,
                                                         &steering, NULL)))) {
        Mark("wine-steering", "play");
        DWORD start = GetTickCount();
        Check("Start(steering)", IDirectInputEffect_Start(steering, 1, 0));
        int updates = 0;
        for (DWORD now = start; now - start < 1000; now = GetTickCount()) {
            /* The magnitude by the time since the play, so that late frames change nothing. */
            steer.lMagnitude = 2500 * (LONG)((now - start) / 250 + 1);
            DIEFFECT update;
            XEffect(&update, INFINITE, &steer, sizeof(steer));
            Check("SetParameters(steering)",
                  IDirectInputEffect_SetParameters(steering, &update, DIEP_TYPESPECIFICPARAMS));
            ++updates;
            Sleep(16);
        }
        Mark("wine-steering", "stop");
        Check("Stop(steering)", IDirectInputEffect_Stop(steering));
        printf("dinput: wine-steering played, %d updates\n", updates);
        Sleep(300);
        /* Played again until the program exits: the exit must stop it. */
        Mark("wine-exit", "play");
        Check("Start(steering) again", IDirectInputEffect_Start(steering, 1, 0));
        Sleep(500);
    }

    HMODULE xinput = LoadLibraryA("xinput1_4.dll");
    if (xinput != NULL) {
        typedef DWORD(WINAPI * GetState)(DWORD, XINPUT_STATE*);
        GetState getState = (GetState)(void*)GetProcAddress(xinput, "XInputGetState");
        int connected = 0;
        for (DWORD user = 0; getState != NULL && user < 4; ++user) {
            XINPUT_STATE state;
            connected += getState(user, &state) == ERROR_SUCCESS;
        }
        printf("dinput: XInput sees %d controllers\n", connected);
    }
    Mark("wine-exit", "stop");
    printf("dinput: exiting with the steering force playing, %d failures\n", failures);
    (void)constantEffect;
    (void)sineEffect;
    (void)rampEffect;
    /* A game that quits: no Stop, no Release; the process ends. */
    ExitProcess(failures == 0 ? 0 : 1);
}
