// What the console tools do against signals and arguments that would hurt:
// Ctrl-C and SIGTERM end them even while they wait for input, and an output
// that is one of the inputs is refused before anything is written.
#pragma once

#include <string>
#include <vector>

namespace wl::tools {

// SIGINT and SIGTERM for the whole program (handlers installed once, without
// SA_RESTART; a signal ignored when the program started stays ignored). A signal is noted and makes WakeFd() readable for good, so
// that a wait in poll (TPipeStream given WakeFd() as its cancelFd) ends at
// once, whichever thread the signal reached and whenever it came. A second
// signal ends the program the default way.
void InstallInterruptHandlers();
// A SIGINT or SIGTERM has come.
bool Interrupted();
// Readable once a signal has come; -1 before InstallInterruptHandlers.
int InterruptWakeFd();

// When the output `output` ("-": standard output) is the same existing regular
// file as one of `inputs` ("-": standard input), through any spelling, symbolic
// or hard link: a message naming both ("cannot write OUT: it is the input
// file IN"); otherwise empty.
std::string OutputIsAnInput(const std::string& output, const std::vector<std::string>& inputs);

}  // namespace wl::tools
