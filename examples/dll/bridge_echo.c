/* Finds a QB7720 bridge by name, subscribes to its serial input (0xFFF1), writes a line to its
 * serial output (0xFFF2) and prints what comes back. With a loopback on the far side of the bridge
 * the line returns unchanged.
 *
 *   bridge_echo [name-part [text]]
 *
 * Exit status: 0 when the whole text came back, 1 otherwise.
 */
#include <stdatomic.h>
#include <stdio.h>
#include <string.h>

#include "QB7720DLL.h"

#if defined(_WIN32)
#include <windows.h>
static void sleepMs(unsigned ms) {
    Sleep(ms);
}
#else
#include <time.h>
static void sleepMs(unsigned ms) {
    struct timespec t = {(time_t)(ms / 1000), (long)(ms % 1000) * 1000000L};
    nanosleep(&t, NULL);
}
#endif

#define RECEIVE_UUID 0xFFF1
#define TRANSMIT_UUID 0xFFF2
#define MAX_ENTRIES 16

static char received[4096];
static atomic_uint receivedLength;

/* Runs on a library thread; the bytes are valid only during the call. */
static void QB7720_CALL onData(void* context, const uint8_t* data, uint32_t length) {
    unsigned have = atomic_load(&receivedLength);
    (void)context;
    if (length > sizeof received - 1 - have) length = (uint32_t)(sizeof received - 1 - have);
    memcpy(received + have, data, length);
    atomic_store(&receivedLength, have + length);
}

static void QB7720_CALL onStatus(QB7720DeviceHandle handle, int32_t status) {
    (void)handle;
    printf("connection status: %s\n", status ? "connected" : "disconnected");
}

int main(int argc, char** argv) {
    const char* namePart = argc > 1 ? argv[1] : "QB7720";
    const char* text = argc > 2 ? argv[2] : "Hello, bridge!";
    static DeviceEntry entries[MAX_ENTRIES];
    uint32_t count = MAX_ENTRIES;
    QB7720DeviceHandle handle;
    uint16_t mtu = 0;
    size_t length = strlen(text);
    BridgeResult result;
    int waited;

    QB7720Init();
    QB7720EnumDevice(2000, namePart, entries, &count);
    if (count == 0) {
        fprintf(stderr, "no bridge whose name contains \"%s\"\n", namePart);
        return 1;
    }
    printf("found %s (%s), rssi %d dBm\n", entries[0].name, entries[0].id, (int)entries[0].rssi);

    handle = QB7720OpenDevice(entries[0].id, onStatus);
    if (handle == NULL) {
        fprintf(stderr, "cannot open %s\n", entries[0].id);
        return 1;
    }
    result = QB7720RegisterReadNotify(handle, RECEIVE_UUID, onData, NULL);
    if ((result & 0xFF) != BridgeResultOk) {
        fprintf(stderr, "subscribing to 0xFFF1 failed: %d\n", (int)(result & 0xFF));
        QB7720CloseDevice(handle);
        return 1;
    }
    if ((QB7720GetMtu(handle, &mtu) & 0xFF) == BridgeResultOk) printf("MTU %u\n", (unsigned)mtu);
    /* One write without response must fit in MTU - 3 bytes. */
    if (mtu > 3 && length > (size_t)mtu - 3) length = (size_t)mtu - 3;

    result = QB7720WriteBuffer(handle, TRANSMIT_UUID, 0, (const uint8_t*)text, (uint32_t)length);
    if ((result & 0xFF) != BridgeResultOk) {
        fprintf(stderr, "writing to 0xFFF2 failed: %d\n", (int)(result & 0xFF));
        QB7720CloseDevice(handle);
        return 1;
    }
    printf("sent %u bytes: %.*s\n", (unsigned)length, (int)length, text);

    for (waited = 0; waited < 5000 && atomic_load(&receivedLength) < length; waited += 10) sleepMs(10);

    QB7720RegisterReadNotify(handle, RECEIVE_UUID, NULL, NULL);
    QB7720CloseDevice(handle);

    {
        unsigned got = atomic_load(&receivedLength);
        printf("received %u bytes: %.*s\n", got, (int)got, received);
        return got == length && memcmp(received, text, length) == 0 ? 0 : 1;
    }
}
