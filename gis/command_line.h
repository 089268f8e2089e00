// The command line of a tessera_gis command, walked argument by argument: options written
// "--name VALUE" or "--name=VALUE", operands (layers, files), "--" after which every argument
// is an operand, and the values options take. Every command parses its options through it.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace gis {

class CommandLine {
 public:
  CommandLine(int argc, char** argv) : argc_(argc), argv_(argv) {}

  // Moves to the next argument; false after the last. A "--" among the options is taken
  // here: the arguments after it are operands.
  bool next();
  std::string_view arg() const { return arg_; }
  // --help or -h among the options.
  bool help() const { return !options_done_ && (arg_ == "--help" || arg_ == "-h"); }
  // An operand: an argument that does not start with "--", or any after "--".
  bool operand() const { return options_done_ || arg_.size() < 2 || arg_.substr(0, 2) != "--"; }
  // Whether the argument is the option `name`, alone or as "name=value".
  bool is(std::string_view name) const;
  // The value of the option `name`: the rest of "name=value", or the next argument (taken).
  // UsageError "NAME needs a value" when there is none.
  std::string value(std::string_view name);
  // The value of the option `name` as a whole number from lo to hi; UsageError "NAME takes a
  // whole number from LO to HI, not 'TEXT'" otherwise.
  int whole(std::string_view name, int lo, int hi);

 private:
  int argc_;
  char** argv_;
  int i_ = -1;
  std::string_view arg_;
  bool options_done_ = false;
};

// The number of layers a command sums: UsageError beyond the program's limit of images.
void check_layer_count(std::size_t count);

}  // namespace gis
