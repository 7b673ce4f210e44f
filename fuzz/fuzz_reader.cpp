// libFuzzer target for one input reader, chosen at compile time by SPLINEFIT_FUZZ_READER.
#include <cstddef>
#include <cstdint>

#include "readers.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  feed_input_reader(InputReader::SPLINEFIT_FUZZ_READER,
                    {reinterpret_cast<const char*>(data), size});
  return 0;
}
