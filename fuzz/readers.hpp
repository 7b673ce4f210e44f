// One entry point per input reader of splinefit, shared by the libFuzzer targets and by the
// replay test that runs every kept input through the ordinary build.
#pragma once

#include <string_view>

enum class InputReader { control, parameters, data, knots };

// The reader whose name is given ("control", "parameters", "data", "knots"); false for any
// other name.
bool input_reader_named(std::string_view name, InputReader* reader);

// Runs the reader on text as the program would, as if text were the whole content of its file.
// InputError and TooManyDataRows are the readers' ordinary answers and are swallowed; a result
// that breaks the reader's own contract (a value out of its checked range, a message that is not
// one sentence on one line) aborts the process, so the fuzzer reports it as a crash.
void feed_input_reader(InputReader reader, std::string_view text);
