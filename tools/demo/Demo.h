// The guided walk through the library on the modem simulator, shared by
// `veskgsm demo` and the `veskgsm-demo` program.
#pragma once

namespace vesk {

// Starts a simulator on a fresh pseudo-terminal, drives it through the
// component step by step and prints each step on standard output. Returns
// the exit status: 0 when every step did what it should, 1 otherwise.
int RunDemo();

}  // namespace vesk
