// AddressSanitizer defaults of the fuzz targets (ASAN_OPTIONS still wins).
// A 16 MB quarantine instead of 256 MB: every input allocates its reader and
// decoder afresh, and with the large quarantine each of those landed on pages
// the kernel had to fault in again, which took a fifth of the time of every
// input. A use after free within one input is still caught.
extern "C" const char* __asan_default_options() { return "quarantine_size_mb=16"; }
