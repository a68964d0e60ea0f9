// The calls this library makes into the TINE client library, declared here
// so that either the real library or the project's stand-in can be linked.
// Only what the library uses is declared.
#pragma once

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// Data formats (TINE "CF_" codes) the library uses.
enum {
  CF_DOUBLE = 512,
  CF_INT32 = 515,
  CF_TEXT = 516,
  CF_FLOAT = 517,
  CF_STRUCT = 519,
  CF_NAME8 = 520,
  CF_NAME16 = 521,
  CF_NAME32 = 525,
  CF_NAME48 = 531,
  CF_NAME64 = 548,
  CF_IMAGE = 567,
  CF_DEFAULT = 767
};

// Access codes and call modes.
enum { CA_READ = 1, CA_WRITE = 2, CA_CONNECT = 0x2000 };
enum {
  CM_CANCEL = 0,
  CM_DATACHANGE = 2,
  CM_TIMER = 3,
  CM_EVENT = 6,
  CM_STREAM = 0x80,
  CM_MCAST = 0x200,
  CM_NETWORK = 0x200,
  CM_CONNECT = 0x2000,
  CM_SYNCNOTIFY = 0x8000
};

// TINE data container.
struct DTYPE {
  uint32_t dArrayLength;  // element count; for CF_IMAGE the frame buffer capacity
  int16_t dFormat;
  int16_t dReserved;
  int32_t dStamp;  // 32-bit field following the format code
  char dTag[16];
  double dTimeStamp;
  union {
    void* vptr;
    char* cptr;
    float* fptr;
    double* dptr;
    int32_t* lptr;
  } data;
};
typedef struct DTYPE DTYPE;

typedef void (*TLinkCallback)(int aId, int aCC, void* aRef);

int SystemStartCycleTimer(void);
int SystemKillCycleTimer(void);
int SetClnRecvQueueDepth(int aDepth);
int _SystemAssignBufferSpace(int aBytes, int aFlags);
int OpenIpcPipe(const char* aPipeName);
int CloseIpcPipe(const char* aPipeName);
int getPropertyInfoFromListenerEx(const char* aDevName, const char* aProperty, int* aSize,
                                  int* aFormat, char* aText);
int alsnExecLink(const char* aDevName, const char* aProperty, DTYPE* aDout, DTYPE* aDin,
                 short aAccess, int aTimeoutMs);
int alsnExecLinkEx(const char* aDevName, const char* aProperty, DTYPE* aDout, DTYPE* aDin,
                   short aAccess, int aTimeoutMs, double* aDataTimeStamp);
int AttachLinkEx2(const char* aDevName, const char* aProperty, DTYPE* aDout, DTYPE* aDin,
                  short aAccess, int aIntervalMs, TLinkCallback aCallback, int aMode,
                  int aCallbackId, void* aReference);
int SetSubscriptionRenewalThreshold(int aLinkId, int aThreshold);
int GetDataFromCallbackId(int aCallbackId, DTYPE* aDout, short* aStatus);
int CloseLink(int aLinkId);
int GetErrorListSize(void);
const char* cc2str(int aCode);
const char* GetSystemVersionString(void);
int feclog(const char* aFormat, ...);

// Value conversion out of a container: aNum values (or, for text, up to
// *aLength characters, then the count written) into the destination.
// 0 on success, else a completion code.
int getValuesAsDouble(DTYPE* aData, double* aValues, int aNum);
int getValuesAsFloat(DTYPE* aData, float* aValues, int aNum);
int getValuesAsLong(DTYPE* aData, int32_t* aValues, int aNum);
int getValuesAsString(DTYPE* aData, char* aText, int* aLength);
// Data time stamps: seconds since the Unix epoch with fraction.
double makeDataTimeStamp(void);
void SetDataTimeStamp(double aTimeStamp);

#ifdef __cplusplus
}
#endif
