#pragma once

// User and group ids that files are handed to (Linux, when run through
// sudo). Windows has no such ids: files belong to whoever runs the
// program, and the types exist only so the same calls compile.
#include <sys/types.h>

#ifdef _WIN32
using uid_t = unsigned int;
using gid_t = unsigned int;
#endif
