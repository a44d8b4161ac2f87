// The console key wait of a failure report.
#pragma once

// Waits for one key press on the console, read without echo. Where standard
// input is no terminal it reads at most one byte and returns, so scripts
// never hang.
void wait_for_key();
