// The zyk-pdfa program's own interface between its files: exit statuses,
// option parsing, messages, the file-safety checks around every output, and
// the worker processes that run the library's conversions.
//
// The program uses the library only through its seven exported C functions.
// The library is not reentrant, so every conversion runs in a worker process
// (one for `convert`, several for `batch`); the parent alone decides what is
// written where, and it alone removes temporary files.
#pragma once

#include <signal.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <chrono>
#include <string>
#include <utility>
#include <vector>

namespace zyk_cli {

extern const char *const k_version;

// Exit statuses. Scripts rely on these values; they are documented in the
// help texts, the man page and the README.
constexpr int k_exit_ok = 0;
constexpr int k_exit_failed = 1;
constexpr int k_exit_usage = 2;
constexpr int k_exit_refused = 3;
constexpr int k_exit_interrupted = 130;

// Combines two statuses: interruption, then usage, then failure, then
// refusal outranks success.
int worse(int a, int b);

// ---- messages ---------------------------------------------------------------

// "zyk-pdfa: MESSAGE" on standard error.
void error_line(const std::string &msg);
// A one-line usage error that points to the command's --help; returns 2.
int usage_error(const std::string &msg, const std::string &command);
// The operating system's text for an errno value.
std::string errno_text(int e);
// What a non-regular file is, in words ("a folder", "a FIFO", ...).
std::string kind_words(mode_t mode);
// A JSON string body. Bytes that are not UTF-8 become \udc80..\udcff (the
// surrogate-escape convention: Python's os.fsencode() restores the bytes).
std::string json_escape(const std::string &s);
// A name for the terminal: control characters are shown as '?'.
std::string shown(const std::string &s);
// Replaces every occurrence of `from` in `s` with `to`.
std::string replace_all(std::string s, const std::string &from, const std::string &to);
// The current time as "YYYY-MM-DDTHH:MM:SSZ".
std::string utc_now();

// The library refuses inputs it cannot convert at all (encrypted, not a
// PDF); those failures get exit status 3, every other failure 1.
bool is_refusal(const std::string &library_message);

// ---- options ----------------------------------------------------------------

struct OptionSpec {
  char short_name;        // 0 when there is none
  const char *long_name;  // without the leading "--"
  bool takes_value;
};

// Options in the order given (long name, value) and the positional
// arguments. Accepts "--name value", "--name=value", "-x value", "-xVALUE",
// grouped flags ("-qv"), "-" as a positional argument and "--" to end
// options. `error` is set (and the rest is unusable) on a bad option.
struct ParsedArgs {
  std::vector<std::pair<std::string, std::string>> options;
  std::vector<std::string> positional;
  std::string error;
};
ParsedArgs parse_options(const std::vector<std::string> &args, const std::vector<OptionSpec> &specs);

// ---- signals ----------------------------------------------------------------

// Counts interrupts: 1 after the first Ctrl-C, 2 after the second or after
// SIGTERM (stop now).
extern volatile sig_atomic_t g_interrupts;
// Installs the interrupt handlers (without SA_RESTART, so that blocking calls
// return EINTR and the loops see the request at once).
void install_interrupt_handlers();

// ---- files ------------------------------------------------------------------

// A folder of this program's own beside an output: the worker's conversion
// writes into it (the library puts its temporary file there and renames it
// to `file()`), and only the parent commits `file()` to the real output path.
// Its name is known before the worker starts, so whatever a dead worker left
// behind can be removed without guessing.
struct Staging {
  std::string dir;
  std::string file() const { return dir + "/out.pdf"; }
  // Removes everything in the folder and the folder itself.
  void remove();
};

// Creates a staging folder inside `parent`; on failure fills *err with
// the reason and returns false.
bool make_staging(const std::string &parent, Staging *st, std::string *err);

// A private temporary folder (under $TMPDIR or /tmp).
bool make_private_dir(Staging *st, std::string *err);

// Checks that `out` may be replaced: it must not exist, or be a regular file
// (not a symbolic link, folder, FIFO, socket or device), and not be the input
// itself (`in` by device and inode) unless `replace_input`. Its folder must
// exist. On refusal *err holds the complete message.
bool check_output_path(const std::string &out, const struct stat *in, bool replace_input, std::string *err);

// Moves a finished conversion to `out` after checking it again; never
// follows a symbolic link and never replaces anything but a regular file.
bool commit_output(const Staging &st, const std::string &out, const struct stat *in, bool replace_input,
                   std::string *err);

// Copies a finished conversion to standard output.
bool copy_to_stdout(const std::string &path, std::string *err);

// An input ready for the library: a regular file, either the path given or
// a private copy of standard input or of a pipe (the library reads files
// whole; it would block on a FIFO).
struct Input {
  std::string given;  // as the user named it ("-" for standard input)
  std::string path;   // what the library reads
  struct stat st {};
  Staging copy;       // holds the private copy, when there is one
  ~Input() { copy.remove(); }
};
// Prepares an input; on failure *err is the complete message and the
// result is false.
bool open_input(const std::string &given, Input *in, std::string *err);

// The largest input the library reads.
constexpr long long k_max_input = 0x7fffffffLL;

// The library's message for a failure on `input`, followed by the reason
// the program can find itself (stat, access, errno), when it finds one.
std::string explain_input_failure(const std::string &library_message, const std::string &input);

// ---- workers ----------------------------------------------------------------

struct WorkerResult {
  bool ok = false;
  int pages = 0;
  std::string error;  // the library's message, with the reason found
};

struct Worker {
  pid_t pid = -1;
  int fd = -1;
  std::string data;
  Staging staging;
  std::size_t job = 0;
  std::chrono::steady_clock::time_point start;
};

// Starts a worker that converts `input` into `w->staging.file()`.
bool spawn_worker(const std::string &input, int part, Worker *w, std::string *err);
// Reads what the worker sent; returns false once its pipe is closed.
bool read_worker(Worker *w);
// Waits for the worker and interprets its report. Never removes anything.
WorkerResult reap_worker(Worker *w);
// Kills a worker at once and waits for it.
void kill_worker(Worker *w);

// ---- commands ---------------------------------------------------------------

int cmd_convert(const std::vector<std::string> &args);
int cmd_check(const std::vector<std::string> &args);
int cmd_report(const std::vector<std::string> &args);
int cmd_batch(const std::vector<std::string> &args, const std::vector<std::string> &all_args);

}  // namespace zyk_cli
