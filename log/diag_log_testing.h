#pragma once
// For tests only: returns the process log to its state at load.
namespace tavsn {
void ResetProcessLogForTesting();
}
