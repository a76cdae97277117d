/* Flat C interface of the ZorvathHand driver.
 *
 * Plain functions over one driver object that the library creates and owns
 * itself, for programs that do not handle a ZHand object: C programs, and
 * other languages through their foreign-function interface (Python's ctypes,
 * for instance). Usable from C and C++; link with -lzhand
 * (`pkg-config --cflags --libs zhand`).
 *
 * Every function returns a result code: 0 on success, -1..-19 for a failure
 * found by the driver, a positive number for an error reported by the hand.
 * Every function but CreateHand returns -15 and does nothing else until
 * CreateHand has been called.
 *
 * Motor argument: one character, "1" to "4" for one motor, "G" for the three
 * finger motors, "S" for the spread; the character 0 addresses the hand as a
 * whole.
 *
 * Selector argument of Set and Get: one upper-case character naming a
 * parameter. Any other character (lower case included) returns -16 and sends
 * nothing.
 *
 *   selector   Set writes   Get reads
 *   'C'        MCV          MCV
 *   'M'        HOLD         S
 *   'O'        MOV          MOV
 *   'P'        (-16)        P
 *   'S'        MSG          SG
 *
 * The functions talk to the hand synchronously and wait for its answer; call
 * them from one thread at a time.
 */
#ifndef ZHAND_FLAT_H
#define ZHAND_FLAT_H

#include "zhand_export.h"

#ifdef __cplusplus
#define ZHAND_FLAT_NOEXCEPT noexcept
class ZHand;
extern "C" {
#else
#define ZHAND_FLAT_NOEXCEPT
typedef struct ZHand ZHand;
#endif

/* Number of integers that Get stores at most. */
#define ZHAND_GET_MAX_VALUES 4

/* The interface's own driver object: null until CreateHand has allocated it;
 * never destroyed. Read it, do not assign it. */
extern ZHAND_API ZHand* theHand;

/* Creates the driver object on port 1 (./COM1 in the working directory, else
 * /dev/ttyS0) and resets the hand. 0, or the code of the failed step; -1 when
 * the object already exists. The object stays even when the port or the hand
 * failed, so a later CreateHand returns -1. */
ZHAND_API int CreateHand(void) ZHAND_FLAT_NOEXCEPT;

ZHAND_API int Open(char motor) ZHAND_FLAT_NOEXCEPT;
ZHAND_API int Close(char motor) ZHAND_FLAT_NOEXCEPT;
/* counts and positions lie within 0..30000, else -18 and nothing is sent. */
ZHAND_API int IncrementalOpen(char motor, int counts) ZHAND_FLAT_NOEXCEPT;
ZHAND_API int IncrementalClose(char motor, int counts) ZHAND_FLAT_NOEXCEPT;
ZHAND_API int MoveTo(char motor, int position) ZHAND_FLAT_NOEXCEPT;
/* Positions of motors 1, 2, 3 and 4. */
ZHAND_API int MoveAllTo(int p1, int p2, int p3, int p4) ZHAND_FLAT_NOEXCEPT;
ZHAND_API int Home(void) ZHAND_FLAT_NOEXCEPT;
ZHAND_API int Terminate(char motor) ZHAND_FLAT_NOEXCEPT;

/* Writes the selector's parameter of the motor. -16 for a selector other
 * than 'C', 'M', 'O' or 'S'. */
ZHAND_API int Set(char motor, char selector, int value) ZHAND_FLAT_NOEXCEPT;

/* Reads the selector's parameter of the motor into values, which has room
 * for ZHAND_GET_MAX_VALUES (4) integers: one per motor addressed ('G' gives
 * three, one per finger). At most 4 are stored, whatever the hand answers;
 * elements the answer does not reach, and all of them on failure, are left
 * as they were. A null values still asks the hand and stores nothing. -16
 * for a selector other than 'C', 'M', 'O', 'P' or 'S'. */
ZHAND_API int Get(char motor, char selector, int* values) ZHAND_FLAT_NOEXCEPT;

ZHAND_API int SaveParameters(char motor) ZHAND_FLAT_NOEXCEPT;
ZHAND_API int LoadParameters(char motor) ZHAND_FLAT_NOEXCEPT;
ZHAND_API int LoadDefaults(char motor) ZHAND_FLAT_NOEXCEPT;

/* The hand's temperature in whole degrees. *value is left as it was when the
 * answer holds no number; a null value still asks the hand. */
ZHAND_API int GetTemperature(int* value) ZHAND_FLAT_NOEXCEPT;

/* Initialises the three fingers and the spread. */
ZHAND_API int InitHand(void) ZHAND_FLAT_NOEXCEPT;

#ifdef __cplusplus
}
#endif

#undef ZHAND_FLAT_NOEXCEPT

#endif /* ZHAND_FLAT_H */
