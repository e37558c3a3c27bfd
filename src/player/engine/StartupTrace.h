#pragma once
// The start-up trace, so that where the time to the first picture goes can be read off
// a user's machine.

namespace kino {

// Logs `what` with the milliseconds since the program was loaded, under
// kinolite.player; each mark once. Costs one test when that log is off.
void MarkStartup(const char* what);

} // namespace kino
