// An OS call outside the platform folders.
#include <unistd.h>
