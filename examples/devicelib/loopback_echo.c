/* Finds an emulated loopback bridge, sends "AB" through it and prints what comes back.
 * Uses nothing but the device library's header and its shared library. */
#include <pthread.h>
#include <stdio.h>
#include <string.h>
#include <time.h>

#include "QB7720lib.h"

static pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER;
static pthread_cond_t changed = PTHREAD_COND_INITIALIZER;
static char bridge_address[18];
static unsigned char received[64];
static size_t received_count;

static void on_advertisement(const char* address, const char* name, signed char rssi, unsigned char* data) {
    (void)data;
    pthread_mutex_lock(&lock);
    if (bridge_address[0] == '\0') {
        snprintf(bridge_address, sizeof bridge_address, "%s", address);
        printf("found %s (%s) at %d dBm\n", address, name ? name : "no name", rssi);
        pthread_cond_broadcast(&changed);
    }
    pthread_mutex_unlock(&lock);
}

static void on_notification(const uuid_t* uuid, const unsigned char* data, unsigned long length) {
    char text[38];
    if (gatt_uuid_to_string(uuid, text, sizeof text) != 0 || strcmp(text, "0xfff1") != 0) return;
    pthread_mutex_lock(&lock);
    for (unsigned long i = 0; i < length && received_count < sizeof received; ++i) received[received_count++] = data[i];
    pthread_cond_broadcast(&changed);
    pthread_mutex_unlock(&lock);
}

static struct timespec in_ms(long ms) {
    struct timespec t;
    clock_gettime(CLOCK_REALTIME, &t);
    t.tv_sec += ms / 1000;
    t.tv_nsec += (ms % 1000) * 1000000L;
    if (t.tv_nsec >= 1000000000L) {
        t.tv_sec += 1;
        t.tv_nsec -= 1000000000L;
    }
    return t;
}

/* Scans (renewing every 500 ms, as the terminal does) until a bridge is heard or 10 s pass. */
static int find_bridge(char* address) {
    int found = 0;
    for (int tick = 0; tick < 20 && !found; ++tick) {
        int result = QB7720Ble_BLE_Scan(1, on_advertisement);
        if (result == QB7720LIB_NO_RADIO) {
            fprintf(stderr, "no radio\n");
            return 0;
        }
        struct timespec until = in_ms(500);
        pthread_mutex_lock(&lock);
        while (bridge_address[0] == '\0' && pthread_cond_timedwait(&changed, &lock, &until) == 0) {
        }
        found = bridge_address[0] != '\0';
        if (found) memcpy(address, bridge_address, sizeof bridge_address);
        pthread_mutex_unlock(&lock);
    }
    QB7720Ble_BLE_Scan(0, NULL);
    return found;
}

int main(void) {
    char address[18];
    if (!find_bridge(address)) {
        fprintf(stderr, "no bridge found\n");
        return 1;
    }
    QB7720HANDLE* handle = QB7720Ble_Connect(address, NULL);
    if (handle == NULL) {
        fprintf(stderr, "connect failed\n");
        return 1;
    }
    gatt_stream_t* stream = NULL;
    uint16_t mtu = 0;
    if (QB7720Ble_Get_MTU(handle, &stream, &mtu) != 0) {
        fprintf(stderr, "no MTU\n");
        QB7720Ble_Disconnect(handle);
        return 1;
    }
    printf("connected, MTU %u\n", (unsigned)mtu);
    QB7720Ble_register_notification(handle, on_notification, NULL);
    if (QB7720Ble_Open_Notification(handle, "0xfff1") != 0 || QB7720Ble_Write_Characteristic(handle, 19, 1, "AB", 2) != 0) {
        fprintf(stderr, "send failed\n");
        QB7720Ble_Disconnect(handle);
        return 1;
    }
    struct timespec until = in_ms(5000);
    pthread_mutex_lock(&lock);
    while (received_count < 2 && pthread_cond_timedwait(&changed, &lock, &until) == 0) {
    }
    char echo[sizeof received + 1];
    memcpy(echo, received, received_count);
    echo[received_count] = '\0';
    pthread_mutex_unlock(&lock);

    QB7720Ble_Close_Notification(handle, "0xfff1");
    QB7720Ble_Disconnect(handle);
    printf("received \"%s\"\n", echo);
    return strcmp(echo, "AB") == 0 ? 0 : 1;
}
