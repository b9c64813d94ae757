// The busy cursor the library asks for while it connects, opens and executes. The application
// installs these two as the library's start-of-wait and end-of-wait hooks. Calls nest; a stop
// without a start, or a call from a thread other than the GUI thread, does nothing.
#pragma once

void WaitCursorStart() noexcept;
void WaitCursorStop() noexcept;
// Starts minus stops still in force (for tests).
int WaitCursorDepth() noexcept;
