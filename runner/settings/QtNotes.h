// The toolkit's messages in a program that is quiet on success.
#pragma once

// From now on the toolkit's notes on its environment (no runtime folder,
// offscreen fonts: debug, info and warning messages) are dropped, and its
// errors are written to standard error as "program: message". Any thread
// may log, so the line goes to the process's standard error directly.
// `program` must outlive every message: a string literal.
void DropQtNotes(const char* program);
