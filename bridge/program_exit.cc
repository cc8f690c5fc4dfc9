#include "program_exit.h"

namespace bridge {
namespace {

struct ErrorMeaning {
  int number;
  const char* meaning;
};

constexpr ErrorMeaning ERRORS[] = {
    {1001, "no data file named on the command line"},
    {1002, "the data file does not exist"},
    {1003, "a picture type other than .GIF, .JPG, .TIF"},
    {1004, "the output file cannot be opened or written"},
    {1005, "the frame range is empty"},
    {2001, "the referer is not allowed"},
    {2002, "a query command the language does not know"},
};
constexpr int OUTPUT_ERROR = 1004;

// A POSIX parent sees only the low eight bits of an exit code.
const ErrorMeaning* error_of(const ProgramExit& exit) {
  if (exit.signal) return nullptr;
  for (const ErrorMeaning& error : ERRORS) {
    if (exit.code == error.number ||
        (EXIT_CODE_IS_BYTE && exit.code == (error.number & 0xFF)))
      return &error;
  }
  return nullptr;
}

}  // namespace

std::string describe_exit(const ProgramExit& exit) {
  if (exit.signal) return "signal " + std::to_string(exit.signal);
  std::string text = "exit code " + std::to_string(exit.code);
  if (const ErrorMeaning* error = error_of(exit))
    text += " (error " + std::to_string(error->number) + ": " + error->meaning +
            ")";
  return text;
}

int error_number(const ProgramExit& exit) {
  const ErrorMeaning* error = error_of(exit);
  return error ? error->number : 0;
}

bool output_failed(const ProgramExit& exit) {
  const ErrorMeaning* error = error_of(exit);
  return error && error->number == OUTPUT_ERROR;
}

}  // namespace bridge
