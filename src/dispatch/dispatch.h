#pragma once

namespace tarnvel {

// Runs the operation that argv[1] names, as the device's scripts call the tool. The vector
// ends with its null entry; the count is not consulted. Always returns 0.
int dispatch(char** argv);

} // namespace tarnvel
