/* The export mark of libzhand: the library is built with hidden visibility,
 * and only what carries ZHAND_API (the ZHand class and the flat functions) is
 * visible to its users. */
#ifndef ZHAND_EXPORT_H
#define ZHAND_EXPORT_H

#if defined(__GNUC__) || defined(__clang__)
#define ZHAND_API __attribute__((visibility("default")))
#else
#define ZHAND_API
#endif

#endif /* ZHAND_EXPORT_H */
