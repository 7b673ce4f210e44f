// splinefit: fits a least-squares spline to the data named in Control.dat (see Splinefit.hpp).
// Without arguments it runs the fit; --help and --version answer and leave every file alone.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>

#include "Input.hpp"
#include "Parallel.hpp"
#include "Splinefit.hpp"

namespace {

// The plot script's installed path. The program's own location comes first, so that a tree
// installed with --prefix names its own copy; the configured location stands in when the program
// does not run from an installed tree (or the system cannot say where the program is).
std::string plot_script() {
  std::error_code error;
  std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
  if (!error) {
    std::filesystem::path script =
        (program.parent_path() / SPLINEFIT_PLOT_SCRIPT_FROM_BINDIR).lexically_normal();
    if (std::filesystem::is_regular_file(script, error)) return script.string();
  }
  return SPLINEFIT_PLOT_SCRIPT;
}

// One line per setting: its name, what it means and the values it accepts.
void print_settings(std::FILE* out, const Setting* settings, int count) {
  for (int k = 0; k < count; k++) {
    const Setting& s = settings[k];
    std::fprintf(out, "  %-10s %s (%s%s)\n", s.name, s.meaning, s.rule, s.at_most_ii ? " ii" : "");
  }
}

// One line per output file, in the order of output_files: its name, what it holds and when.
void print_outputs(std::FILE* out) {
  const char* label = "Writes";
  for (const OutputFileKind& kind : output_files) {
    std::fprintf(out, "%-7s %-24s %s%s%s\n", label, kind.name, kind.what, kind.when ? ", " : "",
                 kind.when ? kind.when : "");
    label = "";
  }
}

void print_usage(std::FILE* out) {
  std::string script = plot_script();
  std::error_code error;
  const char* where =
      std::filesystem::is_regular_file(script, error)
          ? ""
          : "(cmake --install puts it there; the source tree has plot/splinefit.gp)\n";
  std::fprintf(out,
               "Usage: splinefit [--help | --version]\n"
               "\n"
               "Fits a least-squares spline of degree 2 or 3 to measured points. Run it without\n"
               "arguments in a working directory that holds Control.dat and\n"
               "Computational-parameters.dat.\n"
               "\n"
               "Control.dat: the data path prefix Path and the data set name Inputfile, then\n");
  print_settings(out, control_settings, control_count);
  std::fprintf(out,
               "Computational-parameters.dat: a heading line, then one value per line, each\n"
               "followed by free text:\n");
  print_settings(out, parameter_settings, parameter_count);
  std::fprintf(out,
               "\n"
               "Reads   <Path><Inputfile>.dat, and <Path><Inputfile>.knots when J <= 0.\n");
  print_outputs(out);
  std::fprintf(out,
               "        Then waits for the Enter key. Warnings go to standard error.\n"
               "\n"
               "Environment, checked before any file is read or written:\n"
               "  SPLINEFIT_THREADS      threads to work on, a whole number from 1 to %u\n"
               "                         (default: every core up to %u); results stay the same\n"
               "  SPLINEFIT_WRITE_LIMIT  bytes the output files may take in all, a whole number,\n"
               "                         0 or more; writing beyond fails as on a full disk\n"
               "                         (default: no limit; meant for testing)\n"
               "\n"
               "Exit status: 0 complete run; 1 numerical failure; 2 unusable input file,\n"
               "unwritable output file, bad environment value or unknown argument;\n"
               "3 more data rows than Nmax allows.\n"
               "\n"
               "Plot: after a run, in the same directory,\n"
               "  gnuplot %s\n"
               "draws <Path><Inputfile>.png (gnuplot: apt-get install gnuplot-nox).\n"
               "%s"
               "\n"
               "  --help     print this text and exit\n"
               "  --version  print the version and exit\n",
               parallel::max_threads, parallel::max_threads, script.c_str(), where);
}

// --help and --version print to standard output and return 0; anything else is refused with
// the usage text on standard error and status 2.
int answer_arguments(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
    print_usage(stdout);
    return 0;
  }
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    std::printf("splinefit %s\n", SPLINEFIT_VERSION);
    return 0;
  }
  if (argc == 2)
    std::fprintf(stderr, "splinefit: unknown argument \"%s\"\n\n", argv[1]);
  else
    std::fprintf(stderr, "splinefit: %d arguments given; it takes none, or one option\n\n",
                 argc - 1);
  print_usage(stderr);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  return argc <= 1 ? splinefit_main() : answer_arguments(argc, argv);
}
