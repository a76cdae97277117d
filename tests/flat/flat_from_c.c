/* Compiled as C: the flat header must serve a C program, and a C caller must
 * reach the library's functions. */
#include "flat_from_c.h"

#include <zhand_flat.h>

int ReadFingersFromC(int* values) {
    return Get('G', 'P', values);
}
