// The conversion driver: one object file in, its XML document beside it.
#pragma once

// Converts the file named by the first operand; returns the exit status.
int convert_object(int argc, char** argv);
