#include "frontend/rebuild.hpp"

int main(int argc, char** argv) { return rebuild_object(argc, argv); }
