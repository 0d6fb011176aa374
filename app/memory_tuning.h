// Large blocks (a big playlist's arrays while it is read or saved) go back
// to the system when freed, instead of staying with the process: the C
// library's sliding threshold would otherwise keep them in its heap.
#pragma once

#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace wl {

inline void ReturnLargeBlocksToSystem() {
#ifdef __GLIBC__
    mallopt(M_MMAP_THRESHOLD, 1 << 20);
#endif
}

}  // namespace wl
