// The rebuilding driver: a document in, its object file written.
#pragma once

// Rebuilds the object file of the document named by the first operand, at
// the second operand or beside the document; returns the exit status.
int rebuild_object(int argc, char** argv);
