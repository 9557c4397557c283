// What the README says of the ARM build, held at compile time: the tests run as ARM-state code, as
// the device's does, with char unsigned, as the device's compilers have it.
#include <climits>

#if !defined(__arm__) || defined(__thumb__)
#error "the ARM tests must be built for ARM state (-marm)"
#endif
static_assert(CHAR_MIN == 0, "char must be unsigned, as on the device");
