/* A HID minidriver for a root-enumerated virtual wheel: test and demo equipment that puts the
 * wheel inside the platform's own HID stack (HID class driver, SetupAPI, DirectInput). It answers
 * with the wheel's identity and report descriptor, reports the input state a test writes into the
 * control file, and appends every report it is sent to the reports file. */
#include <ntddk.h>

#include "channel.h"
#include "common/wheel_descriptor.h"

/* The minidriver side of the HID class interface, from its public documentation (mingw-w64 has no
 * hidport.h, and its hidclass.h has placeholder values for these IOCTLs). */
#define HID_MINIDRIVER_CODE(n) CTL_CODE(FILE_DEVICE_KEYBOARD, (n), METHOD_NEITHER, FILE_ANY_ACCESS)
#define MINI_GET_DEVICE_DESCRIPTOR HID_MINIDRIVER_CODE(0)
#define MINI_GET_REPORT_DESCRIPTOR HID_MINIDRIVER_CODE(1)
#define MINI_READ_REPORT HID_MINIDRIVER_CODE(2)
#define MINI_WRITE_REPORT HID_MINIDRIVER_CODE(3)
#define MINI_GET_STRING HID_MINIDRIVER_CODE(4)
#define MINI_ACTIVATE_DEVICE HID_MINIDRIVER_CODE(7)
#define MINI_DEACTIVATE_DEVICE HID_MINIDRIVER_CODE(8)
#define MINI_GET_DEVICE_ATTRIBUTES HID_MINIDRIVER_CODE(9)
#define MINI_SET_FEATURE CTL_CODE(FILE_DEVICE_KEYBOARD, 100, METHOD_IN_DIRECT, FILE_ANY_ACCESS)
#define MINI_GET_FEATURE CTL_CODE(FILE_DEVICE_KEYBOARD, 100, METHOD_OUT_DIRECT, FILE_ANY_ACCESS)
#define MINI_SET_OUTPUT_REPORT \
    CTL_CODE(FILE_DEVICE_KEYBOARD, 101, METHOD_IN_DIRECT, FILE_ANY_ACCESS)
#define MINI_GET_INPUT_REPORT \
    CTL_CODE(FILE_DEVICE_KEYBOARD, 104, METHOD_OUT_DIRECT, FILE_ANY_ACCESS)

typedef struct {
    ULONG Revision;
    PDRIVER_OBJECT DriverObject;
    PUNICODE_STRING RegistryPath;
    ULONG DeviceExtensionSize;
    BOOLEAN DevicesArePolled;
    UCHAR Reserved[3];
} HidMinidriverRegistration;

typedef struct {
    PDEVICE_OBJECT PhysicalDeviceObject;
    PDEVICE_OBJECT NextDeviceObject;
    PVOID MiniDeviceExtension;
} HidDeviceExtension;

typedef struct {
    ULONG Size;
    USHORT VendorID;
    USHORT ProductID;
    USHORT VersionNumber;
    USHORT Reserved[11];
} HidDeviceAttributes;

#pragma pack(push, 1)
typedef struct {
    UCHAR bLength;
    UCHAR bDescriptorType;
    USHORT bcdHID;
    UCHAR bCountry;
    UCHAR bNumDescriptors;
    UCHAR bReportType;
    USHORT wReportLength;
} HidDescriptor;
#pragma pack(pop)

typedef struct {
    PUCHAR reportBuffer;
    ULONG reportBufferLen;
    UCHAR reportId;
} HidXferPacket;

NTSTATUS NTAPI HidRegisterMinidriver(HidMinidriverRegistration* registration);

/* A function in the platform's kernel; mingw-w64's x64 header makes it a macro that reads a shared
 * page this kernel does not have. */
#undef KeQuerySystemTime
NTKERNELAPI VOID NTAPI KeQuerySystemTime(PLARGE_INTEGER time);

NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath);

static const WCHAR kManufacturer[] = L"Talvex";
static const WCHAR kProduct[] = L"USB Vibration Racing Wheel";
static const WCHAR kSerial[] = L"VW0001";

static NTSTATUS OpenChannelFile(const WCHAR* path, ACCESS_MASK access, ULONG disposition,
                                HANDLE* file) {
    UNICODE_STRING name;
    OBJECT_ATTRIBUTES attributes;
    IO_STATUS_BLOCK io;
    RtlInitUnicodeString(&name, path);
    InitializeObjectAttributes(&attributes, &name, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, NULL,
                               NULL);
    return ZwCreateFile(file, access | SYNCHRONIZE, &attributes, &io, NULL, FILE_ATTRIBUTE_NORMAL,
                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, disposition,
                        FILE_SYNCHRONOUS_IO_NONALERT | FILE_NON_DIRECTORY_FILE, NULL, 0);
}

static void ReadControl(struct HidWheelControl* control) {
    HANDLE file;
    IO_STATUS_BLOCK io;
    LARGE_INTEGER offset;
    struct HidWheelControl read;
    RtlZeroMemory(control, sizeof *control);
    control->axes[0] = control->axes[1] = control->axes[2] = control->axes[3] = 0x80;
    control->hat = HID_WHEEL_HAT_CENTRED;
    if (!NT_SUCCESS(
            OpenChannelFile(L"\\??\\C:\\hidwheel\\control", GENERIC_READ, FILE_OPEN, &file))) {
        return;
    }
    offset.QuadPart = 0;
    if (NT_SUCCESS(ZwReadFile(file, NULL, NULL, NULL, &io, &read, sizeof read, &offset, NULL)) &&
        io.Information == sizeof read) {
        *control = read;
    }
    ZwClose(file);
}

static void AppendRecord(USHORT kind, USHORT refused, const UCHAR* data, ULONG length) {
    struct HidWheelRecord record;
    LARGE_INTEGER now;
    LARGE_INTEGER offset;
    IO_STATUS_BLOCK io;
    HANDLE file;
    RtlZeroMemory(&record, sizeof record);
    KeQuerySystemTime(&now);
    record.time = now.QuadPart;
    record.kind = kind;
    record.refused = refused;
    record.length = length;
    if (data != NULL) {
        RtlCopyMemory(record.data, data, length < sizeof record.data ? length : sizeof record.data);
    }
    if (!NT_SUCCESS(OpenChannelFile(L"\\??\\C:\\hidwheel\\reports", FILE_APPEND_DATA, FILE_OPEN_IF,
                                    &file))) {
        return;
    }
    offset.HighPart = -1;
    offset.LowPart = FILE_WRITE_TO_END_OF_FILE;
    ZwWriteFile(file, NULL, NULL, NULL, &io, &record, sizeof record, &offset, NULL);
    ZwClose(file);
}

static ULONG BuildInputReport(UCHAR* report) {
    struct HidWheelControl control;
    int i;
    ReadControl(&control);
    report[0] = HID_WHEEL_REPORT_ID;
    for (i = 0; i < 4; ++i) {
        report[1 + i] = (UCHAR)(control.axes[i] <= 0xFF ? control.axes[i] : 0xFF);
    }
    report[5] = (UCHAR)(control.hat <= 7 ? control.hat : HID_WHEEL_HAT_CENTRED);
    report[6] = (UCHAR)(control.buttons & 0xFF);
    report[7] = (UCHAR)((control.buttons >> 8) & 0x0F);
    return HID_WHEEL_INPUT_LENGTH;
}

static BOOLEAN SendsRefused(void) {
    struct HidWheelControl control;
    ReadControl(&control);
    return control.failSends != 0;
}

static const WCHAR* StringFor(ULONG id) {
    switch (id & 0xFFFF) {
        case 1:
        case 14:
            return kManufacturer;
        case 2:
        case 15:
            return kProduct;
        case 3:
        case 16:
            return kSerial;
        default:
            return NULL;
    }
}

static NTSTATUS CopyOut(IRP* irp, ULONG capacity, const void* data, ULONG length) {
    if (irp->UserBuffer == NULL || capacity < length) {
        return STATUS_BUFFER_TOO_SMALL;
    }
    RtlCopyMemory(irp->UserBuffer, data, length);
    irp->IoStatus.Information = length;
    return STATUS_SUCCESS;
}

/* A report sent to the wheel: the packet's buffer holds the report ID and its data. */
static NTSTATUS ReceiveReport(IRP* irp, IO_STACK_LOCATION* stack, USHORT kind) {
    HidXferPacket* packet = (HidXferPacket*)irp->UserBuffer;
    BOOLEAN refused;
    if (packet == NULL) {
        packet = (HidXferPacket*)stack->Parameters.DeviceIoControl.Type3InputBuffer;
    }
    if (packet == NULL || packet->reportBuffer == NULL) {
        return STATUS_INVALID_PARAMETER;
    }
    refused = SendsRefused();
    AppendRecord(kind, refused ? 1 : 0, packet->reportBuffer, packet->reportBufferLen);
    if (refused) {
        return STATUS_UNSUCCESSFUL;
    }
    irp->IoStatus.Information = packet->reportBufferLen;
    return STATUS_SUCCESS;
}

static NTSTATUS NTAPI DispatchInternalControl(DEVICE_OBJECT* device, IRP* irp) {
    IO_STACK_LOCATION* stack = IoGetCurrentIrpStackLocation(irp);
    const ULONG capacity = stack->Parameters.DeviceIoControl.OutputBufferLength;
    NTSTATUS status = STATUS_NOT_SUPPORTED;
    (void)device;
    irp->IoStatus.Information = 0;
    switch (stack->Parameters.DeviceIoControl.IoControlCode) {
        case MINI_GET_DEVICE_DESCRIPTOR: {
            HidDescriptor descriptor;
            descriptor.bLength = sizeof descriptor;
            descriptor.bDescriptorType = 0x21;
            descriptor.bcdHID = 0x0111;
            descriptor.bCountry = 0;
            descriptor.bNumDescriptors = 1;
            descriptor.bReportType = 0x22;
            descriptor.wReportLength = sizeof kHidWheelReportDescriptor;
            status = CopyOut(irp, capacity, &descriptor, sizeof descriptor);
            break;
        }
        case MINI_GET_REPORT_DESCRIPTOR:
            status =
                CopyOut(irp, capacity, kHidWheelReportDescriptor, sizeof kHidWheelReportDescriptor);
            break;
        case MINI_GET_DEVICE_ATTRIBUTES: {
            HidDeviceAttributes attributes;
            RtlZeroMemory(&attributes, sizeof attributes);
            attributes.Size = sizeof attributes;
            attributes.VendorID = HID_WHEEL_VENDOR_ID;
            attributes.ProductID = HID_WHEEL_PRODUCT_ID;
            attributes.VersionNumber = HID_WHEEL_VERSION;
            status = CopyOut(irp, capacity, &attributes, sizeof attributes);
            break;
        }
        case MINI_GET_STRING: {
            const WCHAR* text =
                StringFor((ULONG)(ULONG_PTR)stack->Parameters.DeviceIoControl.Type3InputBuffer);
            if (text == NULL) {
                status = STATUS_INVALID_PARAMETER;
            } else {
                ULONG length = 0;
                while (text[length] != 0) {
                    ++length;
                }
                status = CopyOut(irp, capacity, text, (length + 1) * sizeof(WCHAR));
            }
            break;
        }
        case MINI_READ_REPORT: {
            /* The class driver asks again as soon as one is answered: a report every 10 ms is
             * enough for a wheel and keeps the device's host from spinning. */
            UCHAR report[HID_WHEEL_INPUT_LENGTH];
            LARGE_INTEGER delay;
            delay.QuadPart = -10 * 1000 * 10;
            KeDelayExecutionThread(KernelMode, FALSE, &delay);
            status = CopyOut(irp, capacity, report, BuildInputReport(report));
            break;
        }
        case MINI_GET_INPUT_REPORT: {
            HidXferPacket* packet = (HidXferPacket*)irp->UserBuffer;
            UCHAR report[HID_WHEEL_INPUT_LENGTH];
            const ULONG length = BuildInputReport(report);
            if (packet == NULL || packet->reportBuffer == NULL ||
                packet->reportBufferLen < length) {
                status = STATUS_BUFFER_TOO_SMALL;
            } else {
                RtlCopyMemory(packet->reportBuffer, report, length);
                irp->IoStatus.Information = length;
                status = STATUS_SUCCESS;
            }
            break;
        }
        case MINI_SET_FEATURE:
            status = ReceiveReport(irp, stack, HID_WHEEL_FEATURE);
            break;
        case MINI_SET_OUTPUT_REPORT:
            status = ReceiveReport(irp, stack, HID_WHEEL_OUTPUT);
            break;
        case MINI_WRITE_REPORT:
            status = ReceiveReport(irp, stack, HID_WHEEL_WRITE);
            break;
        case MINI_ACTIVATE_DEVICE:
        case MINI_DEACTIVATE_DEVICE:
            status = STATUS_SUCCESS;
            break;
        default:
            break;
    }
    irp->IoStatus.Status = status;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

static HidDeviceExtension* ExtensionOf(DEVICE_OBJECT* device) {
    return (HidDeviceExtension*)device->DeviceExtension;
}

/* Plug and play and power belong to the device below (the root-enumerated device object). */
static NTSTATUS NTAPI DispatchPnp(DEVICE_OBJECT* device, IRP* irp) {
    IoSkipCurrentIrpStackLocation(irp);
    return IoCallDriver(ExtensionOf(device)->NextDeviceObject, irp);
}

static NTSTATUS NTAPI DispatchPower(DEVICE_OBJECT* device, IRP* irp) {
    PoStartNextPowerIrp(irp);
    IoSkipCurrentIrpStackLocation(irp);
    return PoCallDriver(ExtensionOf(device)->NextDeviceObject, irp);
}

static NTSTATUS NTAPI AddDevice(DRIVER_OBJECT* driver, DEVICE_OBJECT* device) {
    (void)driver;
    device->Flags &= ~DO_DEVICE_INITIALIZING;
    return STATUS_SUCCESS;
}

static VOID NTAPI Unload(DRIVER_OBJECT* driver) {
    (void)driver;
}

NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath) {
    HidMinidriverRegistration registration;
    driver->MajorFunction[IRP_MJ_INTERNAL_DEVICE_CONTROL] = DispatchInternalControl;
    driver->MajorFunction[IRP_MJ_PNP] = DispatchPnp;
    driver->MajorFunction[IRP_MJ_POWER] = DispatchPower;
    driver->DriverExtension->AddDevice = AddDevice;
    driver->DriverUnload = Unload;
    RtlZeroMemory(&registration, sizeof registration);
    registration.Revision = 1;
    registration.DriverObject = driver;
    registration.RegistryPath = registryPath;
    registration.DeviceExtensionSize = 0;
    registration.DevicesArePolled = FALSE;
    return HidRegisterMinidriver(&registration);
}
