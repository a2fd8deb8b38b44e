/* Kernel-mode stand-in for the PEP driver: creates \Device\Tarvik with the \\.\Tarvik link and
 * answers the device control requests of one driver interface generation with a small state
 * model. It is built from what the bridge expects of the driver, not from the bridge's own
 * tables, so that a wrong code or buffer in the bridge shows up as a refused request. Tests and
 * the controller tool reach its state through the private requests of pep_sim_protocol.h. */
#include <ntifs.h>

#include "pep_sim_protocol.h"

#define MAX_ALARM_WAITERS 8

/* One accepted request: its code, the input length it must carry and its bridge index. */
typedef struct RequestShape {
  ULONG code;
  ULONG inputLength;
  int index;
} RequestShape;

#define V1_CODE(function) CTL_CODE(0x12, (function), METHOD_BUFFERED, FILE_READ_ACCESS | FILE_WRITE_ACCESS)
#define V2_CODE(function) CTL_CODE(0x17, (function), METHOD_BUFFERED, FILE_ANY_ACCESS)

enum {
  ACTIVE_CONNECTIONS = 0,
  TIME_ACTIVE = 1,
  ALARM_REGISTRATION = 2,
  ALARM_READ = 3,
  SPOOFING = 4,
  MEMORY = 5,
  QUALITY_OF_SERVICE = 6,
  MINOR_VERSION = 7,
  MAJOR_VERSION = 8
};

static const RequestShape variant1Requests[PEP_SIM_REQUESTS] = {
    {V1_CODE(0x206), 0, ACTIVE_CONNECTIONS}, {V1_CODE(0x207), 0, TIME_ACTIVE},
    {V1_CODE(0x208), 4, ALARM_REGISTRATION}, {V1_CODE(0x210), 4, ALARM_READ},
    {V1_CODE(0x201), 4, SPOOFING},           {V1_CODE(0x211), 4, MEMORY},
    {V1_CODE(0x214), 6, QUALITY_OF_SERVICE}, {V1_CODE(0x226), 0, MINOR_VERSION},
    {V1_CODE(0x225), 0, MAJOR_VERSION}};

/* The second generation shares one code between memory and quality of service; only the input
 * length tells them apart. */
static const RequestShape variant2Requests[PEP_SIM_REQUESTS] = {
    {V2_CODE(0x806), 0, ACTIVE_CONNECTIONS}, {V2_CODE(0x807), 0, TIME_ACTIVE},
    {V2_CODE(0x808), 8, ALARM_REGISTRATION}, {V2_CODE(0x80A), 8, ALARM_READ},
    {V2_CODE(0x801), 4, SPOOFING},           {V2_CODE(0x80B), 4, MEMORY},
    {V2_CODE(0x80B), 6, QUALITY_OF_SERVICE}, {V2_CODE(0x815), 0, MINOR_VERSION},
    {V2_CODE(0x814), 0, MAJOR_VERSION}};

/* mingw's wdm.h declares the object types as dllimport data of type POBJECT_TYPE*, which adds
 * one indirection too many; the import slot itself points at the kernel's POBJECT_TYPE, so bind
 * to the slot by its symbol name (which has one more underscore on i686). */
#if defined(__i386__)
#define IMPORT_SLOT(name) "__imp__" #name
#else
#define IMPORT_SLOT(name) "__imp_" #name
#endif
extern POBJECT_TYPE* eventObjectTypeSlot __asm__(IMPORT_SLOT(ExEventObjectType));

static PDEVICE_OBJECT simulatorDevice;
/* Guards everything below; IRPs may be dispatched on several threads of the device host. */
static KMUTEX stateLock;
static PepSimSnapshot state;
/* Variant 2: the waiters' own events, referenced when they registered. */
static PKEVENT alarmWaiters[MAX_ALARM_WAITERS];
static ULONG alarmWaiterCount;

static UNICODE_STRING deviceName = RTL_CONSTANT_STRING(L"\\Device\\Tarvik");
static UNICODE_STRING linkName = RTL_CONSTANT_STRING(L"\\DosDevices\\Tarvik");
/* Win32 programs create named objects in their session's namespace (session 1 under Wine);
 * the global one is the fall-back for a caller in session 0. */
static UNICODE_STRING sessionEventName = RTL_CONSTANT_STRING(L"\\Sessions\\1\\BaseNamedObjects\\g_kavo_shared_event");
static UNICODE_STRING globalEventName = RTL_CONSTANT_STRING(L"\\BaseNamedObjects\\g_kavo_shared_event");

static void lockState(void) { KeWaitForSingleObject(&stateLock, Executive, KernelMode, FALSE, NULL); }
static void unlockState(void) { KeReleaseMutex(&stateLock, FALSE); }

static ULONG readVariant(PUNICODE_STRING registryPath) {
  OBJECT_ATTRIBUTES attributes;
  HANDLE key;
  UNICODE_STRING valueName = RTL_CONSTANT_STRING(L"" PEP_SIM_VARIANT_VALUE);
  UCHAR buffer[sizeof(KEY_VALUE_PARTIAL_INFORMATION) + sizeof(ULONG)];
  PKEY_VALUE_PARTIAL_INFORMATION value = (PKEY_VALUE_PARTIAL_INFORMATION)buffer;
  ULONG length = 0;
  ULONG variant = 1;
  InitializeObjectAttributes(&attributes, registryPath, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, NULL, NULL);
  if (!NT_SUCCESS(ZwOpenKey(&key, KEY_READ, &attributes))) return variant;
  if (NT_SUCCESS(ZwQueryValueKey(key, &valueName, KeyValuePartialInformation, buffer, sizeof buffer, &length)) &&
      value->Type == REG_DWORD && value->DataLength == sizeof(ULONG)) {
    variant = *(ULONG*)value->Data;
  }
  ZwClose(key);
  return variant;
}

/* A handle in a request belongs to the calling process; the device host must make its own copy
 * before it can reference the event. */
static NTSTATUS referenceCallerEvent(HANDLE callerHandle, PKEVENT* event) {
  OBJECT_ATTRIBUTES attributes;
  CLIENT_ID caller;
  HANDLE callerProcess;
  HANDLE ownHandle;
  NTSTATUS status;
  caller.UniqueProcess = PsGetCurrentProcessId();
  caller.UniqueThread = NULL;
  InitializeObjectAttributes(&attributes, NULL, OBJ_KERNEL_HANDLE, NULL, NULL);
  status = ZwOpenProcess(&callerProcess, PROCESS_DUP_HANDLE, &attributes, &caller);
  if (!NT_SUCCESS(status)) return status;
  status = ZwDuplicateObject(callerProcess, callerHandle, ZwCurrentProcess(), &ownHandle, EVENT_MODIFY_STATE, 0, 0);
  ZwClose(callerProcess);
  if (!NT_SUCCESS(status)) return status;
  status = ObReferenceObjectByHandle(ownHandle, EVENT_MODIFY_STATE, *eventObjectTypeSlot, KernelMode,
                                     (PVOID*)event, NULL);
  ZwClose(ownHandle);
  return status;
}

static NTSTATUS referenceNamedEvent(PUNICODE_STRING name, PKEVENT* event) {
  OBJECT_ATTRIBUTES attributes;
  HANDLE handle;
  NTSTATUS status;
  InitializeObjectAttributes(&attributes, name, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, NULL, NULL);
  status = ZwOpenEvent(&handle, EVENT_MODIFY_STATE, &attributes);
  if (!NT_SUCCESS(status)) return status;
  status = ObReferenceObjectByHandle(handle, EVENT_MODIFY_STATE, *eventObjectTypeSlot, KernelMode,
                                     (PVOID*)event, NULL);
  ZwClose(handle);
  return status;
}

static ULONG readUlong(const UCHAR* bytes) {
  return (ULONG)bytes[0] | ((ULONG)bytes[1] << 8) | ((ULONG)bytes[2] << 16) | ((ULONG)bytes[3] << 24);
}

static const RequestShape* findRequest(ULONG code, ULONG inputLength, BOOLEAN* codeKnown) {
  const RequestShape* table = state.variant == 2 ? variant2Requests : variant1Requests;
  int i;
  *codeKnown = FALSE;
  for (i = 0; i < PEP_SIM_REQUESTS; ++i) {
    if (table[i].code != code) continue;
    *codeKnown = TRUE;
    if (table[i].inputLength == inputLength) return &table[i];
  }
  return NULL;
}

/* Answers one product request; called with stateLock held. Sets the bytes written. */
static NTSTATUS answerProductRequest(ULONG code, UCHAR* buffer, ULONG inputLength, ULONG outputLength,
                                     ULONG_PTR* written, HANDLE* eventToRegister) {
  BOOLEAN codeKnown;
  const RequestShape* shape;
  LONG answer = 0;
  ULONG i;
  state.totalRequests++;
  state.lastCode = code;
  state.lastInputLength = inputLength;
  for (i = 0; i < PEP_SIM_RECORDED_INPUT; ++i) state.lastInput[i] = i < inputLength ? buffer[i] : 0;
  shape = findRequest(code, inputLength, &codeKnown);
  if (!shape) return codeKnown ? STATUS_INVALID_PARAMETER : STATUS_INVALID_DEVICE_REQUEST;
  state.requests[shape->index]++;
  switch (shape->index) {
    case ACTIVE_CONNECTIONS: answer = state.settings.activeConnections; break;
    case TIME_ACTIVE: answer = (LONG)state.settings.timeActive; break;
    case MINOR_VERSION: answer = state.settings.minorVersion; break;
    case MAJOR_VERSION: answer = state.settings.majorVersion; break;
    case SPOOFING:
      state.spoofing = (LONG)readUlong(buffer);
      answer = state.settings.configurationReply;
      break;
    case MEMORY:
      state.memory = (LONG)readUlong(buffer);
      answer = state.settings.configurationReply;
      break;
    case QUALITY_OF_SERVICE:
      for (i = 0; i < 6; ++i) state.qos[i] = buffer[i];
      answer = state.settings.configurationReply;
      break;
    case ALARM_REGISTRATION:
      /* Handles are 32-bit values even in 64-bit processes; sign-extend like the system does.
       * A variant 2 registration counts once its event is held, so that a test which waits
       * for the count cannot raise an alarm the waiter would miss. */
      if (state.variant == 2) *eventToRegister = (HANDLE)(LONG_PTR)(LONG)readUlong(buffer);
      else state.alarmRegistrations++;
      answer = state.settings.configurationReply;
      break;
    case ALARM_READ: answer = state.pendingAlarm; break;
  }
  if (state.settings.silentRequests & (1u << shape->index)) return STATUS_SUCCESS;
  if (outputLength < sizeof(LONG)) return STATUS_BUFFER_TOO_SMALL;
  *(LONG*)buffer = answer;
  *written = sizeof(LONG);
  return STATUS_SUCCESS;
}

/* Signals the alarm event(s) of the running variant; returns how many were signalled. */
static ULONG signalAlarm(LONG rawValue) {
  PKEVENT events[MAX_ALARM_WAITERS];
  ULONG count = 0;
  ULONG i;
  lockState();
  state.pendingAlarm = rawValue;
  if (state.variant == 2) {
    for (i = 0; i < alarmWaiterCount; ++i) events[i] = alarmWaiters[i];
    count = alarmWaiterCount;
    alarmWaiterCount = 0;
  }
  unlockState();
  if (state.variant != 2) {
    PKEVENT named;
    if (NT_SUCCESS(referenceNamedEvent(&sessionEventName, &named)) ||
        NT_SUCCESS(referenceNamedEvent(&globalEventName, &named))) {
      events[0] = named;
      count = 1;
    }
  }
  for (i = 0; i < count; ++i) {
    KeSetEvent(events[i], IO_NO_INCREMENT, FALSE);
    ObDereferenceObject(events[i]);
  }
  return count;
}

static NTSTATUS completeRequest(PIRP irp, NTSTATUS status, ULONG_PTR written) {
  irp->IoStatus.Status = status;
  irp->IoStatus.Information = NT_SUCCESS(status) ? written : 0;
  IoCompleteRequest(irp, IO_NO_INCREMENT);
  return status;
}

static NTSTATUS NTAPI dispatchCreate(PDEVICE_OBJECT device, PIRP irp) {
  (void)device;
  lockState();
  state.opens++;
  unlockState();
  return completeRequest(irp, STATUS_SUCCESS, 0);
}

static NTSTATUS NTAPI dispatchClose(PDEVICE_OBJECT device, PIRP irp) {
  (void)device;
  return completeRequest(irp, STATUS_SUCCESS, 0);
}

static NTSTATUS NTAPI dispatchControl(PDEVICE_OBJECT device, PIRP irp) {
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
  ULONG inputLength = stack->Parameters.DeviceIoControl.InputBufferLength;
  ULONG outputLength = stack->Parameters.DeviceIoControl.OutputBufferLength;
  UCHAR* buffer = (UCHAR*)irp->AssociatedIrp.SystemBuffer;
  ULONG_PTR written = 0;
  NTSTATUS status = STATUS_SUCCESS;
  (void)device;

  if (code == PEP_SIM_SET_VALUES) {
    if (inputLength < sizeof(PepSimSettings)) return completeRequest(irp, STATUS_INVALID_PARAMETER, 0);
    lockState();
    state.settings = *(const PepSimSettings*)buffer;
    unlockState();
  } else if (code == PEP_SIM_GET_SNAPSHOT) {
    if (outputLength < sizeof(PepSimSnapshot)) return completeRequest(irp, STATUS_BUFFER_TOO_SMALL, 0);
    lockState();
    *(PepSimSnapshot*)buffer = state;
    unlockState();
    written = sizeof(PepSimSnapshot);
  } else if (code == PEP_SIM_RAISE_ALARM) {
    ULONG signalled;
    if (inputLength < sizeof(LONG) || outputLength < sizeof(ULONG))
      return completeRequest(irp, STATUS_INVALID_PARAMETER, 0);
    signalled = signalAlarm((LONG)readUlong(buffer));
    *(ULONG*)buffer = signalled;
    written = sizeof(ULONG);
  } else {
    HANDLE eventToRegister = NULL;
    lockState();
    status = answerProductRequest(code, buffer, inputLength, outputLength, &written, &eventToRegister);
    unlockState();
    if (NT_SUCCESS(status) && eventToRegister) {
      PKEVENT event;
      status = referenceCallerEvent(eventToRegister, &event);
      if (NT_SUCCESS(status)) {
        lockState();
        if (alarmWaiterCount < MAX_ALARM_WAITERS) {
          alarmWaiters[alarmWaiterCount++] = event;
          state.alarmRegistrations++;
          event = NULL;
        } else {
          status = STATUS_INSUFFICIENT_RESOURCES;
        }
        unlockState();
        if (event) ObDereferenceObject(event);
      }
    }
  }
  return completeRequest(irp, status, written);
}

static void NTAPI unloadSimulator(PDRIVER_OBJECT driver) {
  ULONG i;
  (void)driver;
  for (i = 0; i < alarmWaiterCount; ++i) ObDereferenceObject(alarmWaiters[i]);
  alarmWaiterCount = 0;
  IoDeleteSymbolicLink(&linkName);
  IoDeleteDevice(simulatorDevice);
}

NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath) {
  NTSTATUS status;
  KeInitializeMutex(&stateLock, 0);
  RtlZeroMemory(&state, sizeof state);
  alarmWaiterCount = 0;
  state.variant = readVariant(registryPath);
  if (state.variant != 1 && state.variant != 2) return STATUS_INVALID_PARAMETER;
  state.settings.configurationReply = 1;

  status = IoCreateDevice(driver, 0, &deviceName, FILE_DEVICE_UNKNOWN, 0, FALSE, &simulatorDevice);
  if (!NT_SUCCESS(status)) return status;
  status = IoCreateSymbolicLink(&linkName, &deviceName);
  if (!NT_SUCCESS(status)) {
    IoDeleteDevice(simulatorDevice);
    return status;
  }
  driver->MajorFunction[IRP_MJ_CREATE] = dispatchCreate;
  driver->MajorFunction[IRP_MJ_CLOSE] = dispatchClose;
  driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = dispatchControl;
  driver->DriverUnload = unloadSimulator;
  return STATUS_SUCCESS;
}
