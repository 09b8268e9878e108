#pragma once

namespace pictrim::ui {

// Ends the running modal loops and the application with an exit code.
void PostQuitMessage(int exitCode);

// The code given to the last PostQuitMessage; 0 when there was none.
int QuitCode();

}  // namespace pictrim::ui
