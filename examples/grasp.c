/* Drives the hand through the flat C interface of libzhand: creates the hand
 * on port 1 (./COM1), initialises it, closes and opens the grasp and prints
 * the fingers' positions after each.
 *
 *   cc grasp.c $(pkg-config --cflags --libs zhand) -o grasp
 */
#include <stdio.h>
#include <zhand_flat.h>

static int Failed(const char* what, int code) {
    if (code == 0) return 0;
    fprintf(stderr, "%s failed: result code %d\n", what, code);
    return 1;
}

static int PrintFingers(const char* label) {
    int positions[ZHAND_GET_MAX_VALUES] = {0, 0, 0, 0};
    if (Failed("Get", Get('G', 'P', positions))) return 1;
    printf("%s F1 %d F2 %d F3 %d\n", label, positions[0], positions[1], positions[2]);
    return 0;
}

int main(void) {
    if (Failed("CreateHand", CreateHand())) return 1;
    if (Failed("InitHand", InitHand())) return 1;
    if (Failed("Close", Close('G')) || PrintFingers("closed:")) return 1;
    if (Failed("Open", Open('G')) || PrintFingers("opened:")) return 1;
    return 0;
}
