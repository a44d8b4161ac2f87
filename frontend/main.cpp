#include "frontend/convert.hpp"

int main(int argc, char** argv) { return convert_object(argc, argv); }
