// raidctl make-image: the image builder of the "Make Bin" form from a
// command line, with the same assembly, checks and texts. It needs no
// enclosure and takes no lock.
#pragma once

#include <string>
#include <vector>

namespace raid {

// args as main received them (args[1] == "make-image"); returns the exit code.
int RunMakeImage(const std::vector<std::string>& args);
// The lines of raidctl's usage that describe make-image.
std::string MakeImageUsage();

}  // namespace raid
