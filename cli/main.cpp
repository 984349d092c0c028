// zyk-pdfa: the command-line host program of the library.
//
//   zyk-pdfa convert [OPTIONS] INPUT OUTPUT
//   zyk-pdfa check [OPTIONS] FILE...
//   zyk-pdfa report [OPTIONS] FILE...
//   zyk-pdfa batch [OPTIONS] INPUT_DIR OUTPUT_DIR
//
// Each command lives in its own file (commands.cpp, batch.cpp); the rules
// for what may be written where are in files.cpp, the worker processes in
// worker.cpp.
#include <signal.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli.h"
#include "zyk_out_pdfa.h"

namespace {

const char *k_usage =
    "usage: zyk-pdfa COMMAND [OPTIONS] ARGS\n"
    "\n"
    "Turns PDF files into archival PDF/A files (part 1 or 2, level B),\n"
    "tells which PDF/A part a file declares, and reports on PDF files.\n"
    "\n"
    "commands:\n"
    "  convert [--part 1|2] INPUT OUTPUT     convert one file (default part 2)\n"
    "  check [--json] FILE...                print the PDF/A part each file declares\n"
    "  report FILE...                        print a JSON report per file, one per line\n"
    "  batch [--part 1|2] [-j N] [--log FILE] [--skip-existing] INPUT_DIR OUTPUT_DIR\n"
    "                                        convert every PDF under INPUT_DIR\n"
    "\n"
    "options of every command: -q/--quiet, -v/--verbose, -h/--help, and --\n"
    "to end the options. \"zyk-pdfa COMMAND --help\" explains each command.\n"
    "  --help       show this help\n"
    "  --version    show the version\n"
    "\n"
    "A declared PDF/A part is what a file says about itself, not a validation.\n"
    "\n"
    "exit status:\n"
    "  0    everything succeeded\n"
    "  1    some file failed (the message says why)\n"
    "  2    usage error\n"
    "  3    refused: an input is encrypted or not a PDF, and nothing else failed\n"
    "  130  interrupted (Ctrl-C)\n";

bool is_help(const std::string &a) { return a == "--help" || a == "-h" || a == "help"; }

}  // namespace

int main(int argc, char **argv) {
  using namespace zyk_cli;
  // Under a file-size limit a write must fail with EFBIG (and be reported,
  // its temporary file removed) instead of killing the process mid-write.
  // A closed standard output is an error to report, not a silent death.
  signal(SIGXFSZ, SIG_IGN);
  signal(SIGPIPE, SIG_IGN);
  // From the first moment on, Ctrl-C is a request that every command
  // answers at its next step (removing what it started), never a kill.
  install_interrupt_handlers();
  if (argc < 2) return usage_error("missing command", "");
  std::string cmd = argv[1];
  std::vector<std::string> args(argv + 2, argv + argc);
  if (is_help(cmd)) {
    std::fputs(k_usage, stdout);
    return k_exit_ok;
  }
  if (cmd == "--version" || cmd == "-V") {
    std::printf("zyk-pdfa %s\n", k_version);
    return k_exit_ok;
  }
  pdfa_init();
  if (cmd == "convert") return cmd_convert(args);
  if (cmd == "check") return cmd_check(args);
  if (cmd == "report") return cmd_report(args);
  if (cmd == "batch") return cmd_batch(args, std::vector<std::string>(argv, argv + argc));
  if (!cmd.empty() && cmd[0] == '-') return usage_error("unknown option " + cmd + " (options follow the command)", "");
  return usage_error("unknown command " + cmd, "");
}
