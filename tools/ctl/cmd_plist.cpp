// velmora-ctl plist: converts property lists between XML, binary and OpenStep text.
#include <iostream>

#include "core/plist/codec.h"
#include "core/system/file_output.h"
#include "tools/common/suggest.h"
#include "tools/ctl/command.h"

namespace vl::ctl {

namespace {

const char kHelp[] =
    "usage: velmora-ctl plist convert --to xml|binary|openstep IN OUT\n"
    "\n"
    "Reads the property list IN in any format (XML, binary or OpenStep text, told apart by\n"
    "content) and writes it to OUT in the format asked for. OUT is replaced atomically: it\n"
    "holds either its old content or the whole new one. OUT must be a new file or a regular\n"
    "file (a symbolic link to a regular file replaces that file); a device, FIFO, socket,\n"
    "folder or any other link is refused. OpenStep text has no numbers,\n"
    "booleans or dates; they are written as strings.\n"
    "\n"
    "Exit status: 0 done, 1 IN unreadable or OUT not written, 2 wrong arguments.\n";

int convert(Args args) {
  if (takeFlag(args, "--help") || takeFlag(args, "-h")) {
    std::cout << kHelp;
    return kExitOk;
  }
  std::string to, error;
  if (!takeOption(args, "--to", &to, &error)) return usageError("plist", error.empty() ? "convert needs --to xml|binary|openstep" : error);
  pl::Format format;
  if (to == "xml") format = pl::Format::Xml;
  else if (to == "binary") format = pl::Format::Binary;
  else if (to == "openstep") format = pl::Format::OpenStep;
  else return usageError("plist", "unknown format '" + to + "' (xml, binary or openstep)");
  for (const auto& a : args)
    if (a.size() > 1 && a[0] == '-') return usageError("plist", "unknown option '" + a + "'");
  if (args.size() != 2) return usageError("plist", "convert needs IN and OUT");
  pl::ReadResult in = pl::readFile(args[0]);
  if (!in) return failure(in.error);  // names the file already
  pl::Data out = pl::write(*in.value, format);
  if (vl::Status written = pl::writeUserFile(args[1], out); !written) return failure(written.detail());
  return kExitOk;
}

int run(const Args& args) {
  if (args.empty()) return usageError("plist", "missing subcommand (convert)");
  if (isHelp(args[0])) {
    std::cout << kHelp;
    return kExitOk;
  }
  if (args[0] == "convert") return convert(Args(args.begin() + 1, args.end()));
  return usageError("plist", "unknown subcommand '" + args[0] + "'" + cli::didYouMean(args[0], {"convert"}));
}

}  // namespace

CommandGroup plistCommand() {
  return {"plist", "convert property lists between XML, binary and OpenStep text", kHelp, run};
}

}  // namespace vl::ctl
