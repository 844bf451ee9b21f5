#include "FuzzTarget.h"

#include <cstdio>
#include <cstdlib>

namespace pendrel::fuzz {

void require(bool condition, const char *what)
{
    if (condition)
        return;
    std::fprintf(stderr, "fuzz: broken property: %s\n", what);
    std::abort();
}

} // namespace pendrel::fuzz
