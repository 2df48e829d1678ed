#pragma once
// What libstrovia exports: only the public API. The library is built with
// hidden visibility, so every class or function an integrator may use
// carries STROVIA_EXPORT; everything else stays inside the library.

#if defined(STROVIA_BUILDING_LIBRARY)
#define STROVIA_EXPORT __attribute__((visibility("default")))
#else
#define STROVIA_EXPORT
#endif
