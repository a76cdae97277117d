/* Calls into the flat interface from a C translation unit. */
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

/* Get('G', 'P', values), called from C. */
int ReadFingersFromC(int* values);

#ifdef __cplusplus
}
#endif
