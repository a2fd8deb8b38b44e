/* Private control requests of the PEP driver simulator: how tests and the controller tool set
 * its state, read back what the bridge sent and raise alarms. Shared by the kernel-mode driver
 * (C) and the user-mode side (C++), so only fixed-width plain types appear here. */
#ifndef PEP_SIM_PROTOCOL_H
#define PEP_SIM_PROTOCOL_H

#include <stdint.h>

/* Service name, device and link the simulator creates. */
#define PEP_SIM_SERVICE_NAME "PepDriverSimulator"
#define PEP_SIM_DEVICE_PATH "\\\\.\\Tarvik"
/* Registry value under the service key that selects the driver interface (1 or 2). */
#define PEP_SIM_VARIANT_VALUE "Variant"

/* A device type in the vendor range, so that no product control code can collide with these. */
#define PEP_SIM_DEVICE_TYPE 0x9A17u
#define PEP_SIM_CODE(function) ((PEP_SIM_DEVICE_TYPE << 16) | ((uint32_t)(function) << 2))

/* Input: PepSimSettings. Replaces the values the driver answers with. */
#define PEP_SIM_SET_VALUES PEP_SIM_CODE(0x901)
/* Output: PepSimSnapshot. */
#define PEP_SIM_GET_SNAPSHOT PEP_SIM_CODE(0x902)
/* Input: int32 raw alarm value. Stores it for the next alarm read and signals the waiters'
 * event(s); output: uint32 number of events signalled. */
#define PEP_SIM_RAISE_ALARM PEP_SIM_CODE(0x903)

/* Request indexes of the bridge, as the simulator counts them. */
#define PEP_SIM_REQUESTS 9

#define PEP_SIM_RECORDED_INPUT 16

typedef struct PepSimSettings {
  int32_t activeConnections;
  uint32_t timeActive;
  int32_t majorVersion;
  int32_t minorVersion;
  /* Acknowledgement written for spoofing, memory and quality-of-service requests. */
  int32_t configurationReply;
  /* Bit n set: requests of index n are answered without writing the output buffer. */
  uint32_t silentRequests;
} PepSimSettings;

typedef struct PepSimSnapshot {
  uint32_t variant;
  PepSimSettings settings;
  int32_t spoofing;
  int32_t memory;
  uint8_t qos[6];
  uint8_t reserved[2];
  /* Opens of the device by anyone, the simulator's own clients included. */
  uint32_t opens;
  /* Product requests received (private ones are not counted), per index and in total,
   * including those rejected as unknown. */
  uint32_t requests[PEP_SIM_REQUESTS];
  uint32_t totalRequests;
  uint32_t alarmRegistrations;
  int32_t pendingAlarm;
  /* The last product request as it arrived. */
  uint32_t lastCode;
  uint32_t lastInputLength;
  uint8_t lastInput[PEP_SIM_RECORDED_INPUT];
} PepSimSnapshot;

#endif
