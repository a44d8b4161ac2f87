// Where the document of an input file is written.
#pragma once

// The input path with the extension of its last component replaced by
// ".xml", or ".xml" appended when that component has no dot. `separators`
// are the characters that end a directory or drive part.
char* output_path_for(const char* input_path, const char* separators);
