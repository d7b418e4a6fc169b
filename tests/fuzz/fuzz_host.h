// The stand-in device of the fuzz targets: one FakeHost for the whole fuzzing run (fixed paths
// rooted in its temporary folder, programs recorded instead of run, no real sleeps), emptied
// before each input so that one input never sees what another left behind.
#pragma once

#include "fake_host.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tarnvel::fuzz {

// The stand-in, with its records cleared, its rooted folder empty and that folder the working
// folder (so relative paths stay inside it too).
test::FakeHost& fresh_host();

// The input as text.
std::string text(const std::uint8_t* data, std::size_t size);

// The input cut at each NUL into words (an empty input is no word at all).
std::vector<std::string> words(const std::uint8_t* data, std::size_t size);

// `word` as a path inside the stand-in's folder `base`: no ".." can lead out of it.
std::string confined(const test::FakeHost& host, const std::string& base, std::string word);

} // namespace tarnvel::fuzz
