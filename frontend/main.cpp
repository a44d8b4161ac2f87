#include "frontend/convert.hpp"

#if defined(__MINGW32__)
int _dowildcard = -1;  // expand wildcards in the operands at start-up, as a Windows console program does
#endif

int main(int argc, char** argv) { return convert_object(argc, argv); }
