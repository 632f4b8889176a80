/* The stand-in NDIS driver's kernel side: a \Device\{GUID} and its \DosDevices link for each
 * interface of Wine's table when the driver starts (as Wine's ndis.sys makes them), and
 * IOCTL_NDIS_QUERY_GLOBAL_STATS completed as NDIS completes a miniport's answer: success with
 * the bytes written, STATUS_BUFFER_TOO_SMALL for a short buffer (ERROR_INSUFFICIENT_BUFFER,
 * 122, to the caller), STATUS_NOT_SUPPORTED for an OID the miniport does not know
 * (ERROR_NOT_SUPPORTED, 50), STATUS_INVALID_PARAMETER (87) for an input that is not one OID.
 * Test machine only, never shipped. */
#include <ddk/wdm.h>

#include "ndis_stand_in.h"

#define IOCTL_NDIS_QUERY_GLOBAL_STATS_CODE 0x00170002

/* The device extension: the adapter's position in the stand-in's table. */
typedef struct {
  size_t adapter;
} DeviceContext;

static NTSTATUS QueryGlobalStats(size_t adapter, IRP* irp, const IO_STACK_LOCATION* stack) {
  ULONG oid;
  ULONG size = stack->Parameters.DeviceIoControl.OutputBufferLength;
  void* output = NULL;
  uint32_t written = 0;
  if (stack->Parameters.DeviceIoControl.InputBufferLength != sizeof(ULONG) ||
      irp->AssociatedIrp.SystemBuffer == NULL) {
    return STATUS_INVALID_PARAMETER;
  }
  oid = *(const ULONG*)irp->AssociatedIrp.SystemBuffer;
  if (size != 0) {
    if (irp->MdlAddress == NULL) return STATUS_INVALID_PARAMETER;
    output = MmGetSystemAddressForMdlSafe(irp->MdlAddress, NormalPagePriority);
    if (output == NULL) return STATUS_INSUFFICIENT_RESOURCES;
  }
  switch (StandInAnswer(adapter, oid, output, size, &written)) {
    case 0:
      irp->IoStatus.Information = written;
      return STATUS_SUCCESS;
    case 1:
      return STATUS_BUFFER_TOO_SMALL;
    default:
      return STATUS_NOT_SUPPORTED;
  }
}

static NTSTATUS WINAPI DeviceControl(DEVICE_OBJECT* device, IRP* irp) {
  IO_STACK_LOCATION* stack = IoGetCurrentIrpStackLocation(irp);
  const DeviceContext* context = (const DeviceContext*)device->DeviceExtension;
  NTSTATUS status = STATUS_INVALID_DEVICE_REQUEST;
  irp->IoStatus.Information = 0;
  if (stack->Parameters.DeviceIoControl.IoControlCode == IOCTL_NDIS_QUERY_GLOBAL_STATS_CODE) {
    status = QueryGlobalStats(context->adapter, irp, stack);
  }
  irp->IoStatus.Status = status;
  IoCompleteRequest(irp, IO_NO_INCREMENT);
  return status;
}

/* "<prefix><guid>" into text (64 characters, enough for both) and name pointing at it. */
static void NameOf(const WCHAR* prefix, const WCHAR* guid, WCHAR* text, UNICODE_STRING* name) {
  size_t n = 0;
  for (; *prefix != 0 && n + 1 < 64; ++prefix) text[n++] = *prefix;
  for (; *guid != 0 && n + 1 < 64; ++guid) text[n++] = *guid;
  text[n] = 0;
  RtlInitUnicodeString(name, text);
}

static void AddDevice(DRIVER_OBJECT* driver, size_t adapter) {
  WCHAR nameText[64];
  WCHAR linkText[64];
  UNICODE_STRING name;
  UNICODE_STRING link;
  DEVICE_OBJECT* device = NULL;
  NameOf(L"\\Device\\", StandInAdapterGuid(adapter), nameText, &name);
  NameOf(L"\\DosDevices\\", StandInAdapterGuid(adapter), linkText, &link);
  if (IoCreateDevice(driver, sizeof(DeviceContext), &name, FILE_DEVICE_PHYSICAL_NETCARD, 0, FALSE,
                     &device) != STATUS_SUCCESS) {
    return;
  }
  ((DeviceContext*)device->DeviceExtension)->adapter = adapter;
  if (IoCreateSymbolicLink(&link, &name) != STATUS_SUCCESS) IoDeleteDevice(device);
}

size_t StandInReadFile(const wchar_t* ntPath, char* buffer, size_t size) {
  UNICODE_STRING path;
  OBJECT_ATTRIBUTES attributes;
  IO_STATUS_BLOCK io;
  HANDLE file = NULL;
  NTSTATUS status;
  RtlInitUnicodeString(&path, ntPath);
  InitializeObjectAttributes(&attributes, &path, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, NULL,
                             NULL);
  if (ZwCreateFile(&file, GENERIC_READ | SYNCHRONIZE, &attributes, &io, NULL, FILE_ATTRIBUTE_NORMAL,
                   FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_OPEN,
                   FILE_SYNCHRONOUS_IO_NONALERT | FILE_NON_DIRECTORY_FILE, NULL,
                   0) != STATUS_SUCCESS) {
    return 0;
  }
  status = ZwReadFile(file, NULL, NULL, NULL, &io, buffer, (ULONG)size, NULL, NULL);
  ZwClose(file);
  return status == STATUS_SUCCESS ? io.Information : 0;
}

/* Wine's driver makes devices at the start only. Where WatchInterfaces is set, this thread
 * makes them for interfaces that appear later too, as Windows does for an adapter that
 * arrives, looking twice a second for as long as the driver is loaded. */
static size_t g_devicesMade = 0; /* adapters 0 .. g_devicesMade - 1 have their device */

static void WINAPI WatchInterfaces(void* context) {
  DRIVER_OBJECT* driver = (DRIVER_OBJECT*)context;
  LARGE_INTEGER interval;
  interval.QuadPart = -5000000; /* 500 ms, relative */
  for (;;) {
    KeDelayExecutionThread(KernelMode, FALSE, &interval);
    if (!StandInWatchingInterfaces()) continue;
    size_t count = StandInAddNewAdapters();
    for (; g_devicesMade < count; ++g_devicesMade) AddDevice(driver, g_devicesMade);
  }
}

NTSTATUS WINAPI DriverEntry(DRIVER_OBJECT* driver, UNICODE_STRING* registryPath) {
  size_t count = StandInAddNewAdapters();
  size_t i;
  HANDLE thread = NULL;
  (void)registryPath;
  driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = DeviceControl;
  for (i = 0; i < count; ++i) AddDevice(driver, i);
  g_devicesMade = count;
  if (PsCreateSystemThread(&thread, THREAD_ALL_ACCESS, NULL, NULL, NULL, WatchInterfaces, driver) ==
      STATUS_SUCCESS) {
    ZwClose(thread);
  }
  return STATUS_SUCCESS;
}
