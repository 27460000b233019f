/* Every export of QB7720DLL, called in the documented order on the real backend of a machine without
 * Bluetooth (Wine): each gives its "nothing found" outcome and nothing crashes. */
#include <stdio.h>
#include <string.h>

#include "QB7720DLL.h"

static int failures = 0;
static int rssiCalls = 0;

#define EXPECT(condition)                                                           \
    do {                                                                            \
        if (!(condition)) {                                                         \
            fprintf(stderr, "%s:%d: failed: %s\n", __FILE__, __LINE__, #condition); \
            ++failures;                                                             \
        }                                                                           \
    } while (0)

static void QB7720_CALL onRssi(const uint8_t* address, int32_t rssi, int32_t tagByte) {
    (void)address;
    (void)rssi;
    (void)tagByte;
    ++rssiCalls;
}

static void QB7720_CALL onStatus(QB7720DeviceHandle handle, int32_t status) {
    (void)handle;
    (void)status;
}

static void QB7720_CALL onModem(QB7720DeviceHandle handle, int32_t dcd, int32_t ri, int32_t dsr,
                                int32_t cts) {
    (void)handle;
    (void)dcd;
    (void)ri;
    (void)dsr;
    (void)cts;
}

static void QB7720_CALL onData(void* context, const uint8_t* data, uint32_t length) {
    (void)context;
    (void)data;
    (void)length;
}

int main(void) {
    static const char* kId = "BluetoothLE#BluetoothLE00:11:22:33:44:55-c2:a1:b3:d4:e5:f6";
    DeviceEntry entries[4];
    uint32_t count = 4;
    uint16_t uuids[8] = {0};
    uint16_t uuidCount = 8;
    uint32_t mask = 0xAAAAAAAAu;
    uint8_t bytes[512];
    uint32_t length = sizeof bytes;
    uint16_t mtu = 0xBEEF;
    const uint8_t data[4] = {1, 2, 3, 4};

    memset(entries, 0x5A, sizeof entries);
    memset(bytes, 0, sizeof bytes);

    QB7720Init();
    QB7720Init();
    EXPECT(QB7720IsBluetoothOpened() == 0);
    EXPECT(QB7720GetBluetoothVer() == 0);

    QB7720EnumDevice(200, NULL, entries, &count);
    EXPECT(count == 0);
    count = 4;
    QB7720EnumDevice(0, "UART", entries, &count);
    EXPECT(count == 0);

    EXPECT(QB7720RegisterRSSINotify(onRssi) == 0);
    EXPECT(QB7720RegisterRSSINotify(NULL) == 0);
    EXPECT(rssiCalls == 0);

    EXPECT(QB7720OpenDevice(kId, onStatus) == NULL);
    EXPECT(QB7720OpenDevice("", NULL) == NULL);

    /* Per-handle exports on the null handle an open that found nothing gives. */
    EXPECT((QB7720GetAllOpHandle(NULL, uuids, &uuidCount) & 0xFF) == BridgeResultOk);
    EXPECT(uuidCount == 8);
    EXPECT((QB7720GetHandleAction(NULL, 0xFFF1, &mask) & 0xFF) == BridgeResultUnknownHandle);
    EXPECT(mask == 0xAAAAAAAAu);
    EXPECT((QB7720WriteBuffer(NULL, 0xFFF2, 0, data, sizeof data) & 0xFF) == BridgeResultUnknownHandle);
    EXPECT((QB7720ReadBuffer(NULL, 0xFFF3, bytes, &length) & 0xFF) == BridgeResultUnknownHandle);
    EXPECT(length == sizeof bytes);
    EXPECT((QB7720RegisterReadNotify(NULL, 0xFFF1, onData, NULL) & 0xFF) == BridgeResultUnknownHandle);
    EXPECT((QB7720GetMtu(NULL, &mtu) & 0xFF) == BridgeResultUnknownHandle);
    EXPECT(mtu == 0xBEEF);

    EXPECT(QB7720GetCfgPara(NULL, bytes) == 0);
    EXPECT(QB7720SetCfgPara(NULL, bytes) == 0);
    EXPECT(QB7720ResetCfgPara(NULL) == 0);
    EXPECT(QB7720GetExdCfg(NULL, bytes) == 0);
    EXPECT(QB7720SetExdCfg(NULL, bytes) == 0);
    EXPECT(QB7720ResetExdCfg(NULL) == 0);
    EXPECT(QB7720ResetCh(NULL) == 1);

    EXPECT(QB7720UartOpenDevice(kId, onStatus, onModem, onData) == NULL);
    EXPECT(QB7720UartWriteBuffer(NULL, data, sizeof data) == -2);
    EXPECT(QB7720UartSetSerialBaud(NULL, 115200, 8, 1, 0) == 0);
    EXPECT(QB7720UartSetSerialModem(NULL, 0, 1, 1) == 0);

    QB7720CloseDevice(NULL);

    if (failures != 0) {
        fprintf(stderr, "%d checks failed\n", failures);
        return 1;
    }
    printf("all 24 exports gave their nothing-found outcome\n");
    return 0;
}
