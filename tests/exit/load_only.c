/* Loads both libraries and exits without calling anything: nothing of theirs may run at exit. */
#include <stdio.h>

#include "QB7720DLL.h"
#include "QB7720lib.h"

int main(void) {
    /* Taking the addresses keeps both libraries linked without calling into them. */
    void (*volatile keep[2])(void) = {(void (*)(void))QB7720Init, (void (*)(void))QB7720Ble_Disconnect};
    printf("loaded %d libraries\n", keep[0] != NULL && keep[1] != NULL ? 2 : 0);
    return 0;
}
