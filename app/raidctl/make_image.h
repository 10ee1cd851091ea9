// raidctl make-image: the image builder of the "Make Bin" form from a
// command line, with the same assembly, checks and texts. It needs no
// enclosure and takes no lock.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "maintenance/image_builder.h"

namespace CLI {
class App;
}

namespace raid {

class CommandLine;

struct SubSpec {
  std::string path;
  std::string type;  // empty: from the file's name
  bool keep = false;
};

struct MakeOptions {
  std::string boot;
  std::vector<SubSpec> subs;
  std::string out;
  std::optional<uint32_t> seed;
  BuilderSettings settings;
};

// make-image in raidctl's command-line table; its values are kept here
// until Finish.
class MakeImageTable {
 public:
  void Add(CommandLine& line, CLI::App& root);
  // After a parse that chose make-image: the options, or the mistake
  // (empty when there is none).
  std::string Finish(const CommandLine& line, MakeOptions& o) const;

 private:
  std::string boot_, out_, size_, seed_, fan_, fanLimit_, thermal_, thermalLimit_;
  std::vector<std::string> subs_;
  bool noJumper_ = false, noChip_ = false, scheduleBackup_ = false, fastBackup_ = false;
};

// Builds the image; returns the exit code.
int RunMakeImage(const MakeOptions& o);

}  // namespace raid
