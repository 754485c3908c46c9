// A command-line tool's commands as one explicit table: each entry's name, its one-line summary
// for the tool's --help, its full help text, and what runs it. Each command's file offers a
// function that makes its entries; the tool's main.cpp lists them in the table.
#pragma once

#include <functional>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/common/cli_args.h"

namespace vl::cli {

template <class Signature>
struct Command {
  std::string name;
  std::string summary;
  std::string help;
  std::function<Signature> run;
};

template <class Signature>
const Command<Signature>* findCommand(const std::vector<Command<Signature>>& table, std::string_view name) {
  for (const auto& c : table)
    if (c.name == name) return &c;
  return nullptr;
}

// The names, in table order (for "did you mean" hints).
template <class Signature>
std::vector<std::string> commandNames(const std::vector<Command<Signature>>& table) {
  std::vector<std::string> names;
  for (const auto& c : table) names.push_back(c.name);
  return names;
}

// What every tool answers before its commands: no words (its help on stderr, status 2),
// --help or -h (its help, 0), --version ("<tool> <version>", 0). nullopt: a command follows.
inline std::optional<int> answerToolWords(const Args& args, std::string_view tool, void (*printHelp)(std::ostream&)) {
  if (args.empty()) {
    printHelp(std::cerr);
    return 2;
  }
  if (isHelp(args[0])) {
    printHelp(std::cout);
    return 0;
  }
  if (args[0] == "--version") {
    std::cout << tool << " " << VELMORA_VERSION_TEXT << "\n";
    return 0;
  }
  return std::nullopt;
}

}  // namespace vl::cli
