/* SPDX-License-Identifier: MIT */
/* Marks what libzambrel exports; everything else in the shared library stays hidden. */
#ifndef ZAMBREL_EXPORT_H
#define ZAMBREL_EXPORT_H

#ifndef ZAMBREL_PUBLIC
#if defined(__GNUC__) && !defined(_WIN32)
#define ZAMBREL_PUBLIC __attribute__((visibility("default")))
#else
#define ZAMBREL_PUBLIC
#endif
#endif

#endif /* ZAMBREL_EXPORT_H */
