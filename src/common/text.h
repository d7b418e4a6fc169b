// Bounded text: every write into a fixed buffer goes through these helpers, which either fit
// the whole text or leave the buffer empty and say so. Nothing is ever cut and then acted on.
#pragma once

#include <cstddef>
#include <span>

namespace tarnvel {

// printf-style formatting into `out`. True when the whole text (and its terminator) fit;
// otherwise `out` holds the empty text.
bool fit_format(std::span<char> out, const char* fmt, ...) __attribute__((format(printf, 2, 3)));

// Copies `text` whole into `out`, or leaves the empty text there and returns false.
bool fit_copy(std::span<char> out, const char* text);

// Appends `text` to the text already in `out`, whole or not at all.
bool fit_append(std::span<char> out, const char* text);

// One line on stderr, "tarnvel: " and the message: a refusal that has no message of its own
// on stdout, where the device's scripts read. It stays one line whatever names it quotes:
// control bytes are shown escaped (\n, \x1b), and a message of more than 400 bytes keeps
// its first and last 200 around "...".
void refuse(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// The symbolic name of an error number for a refusal ("EROFS"), or "errno N" for one that a
// refused file operation does not meet. The C library's messages would cost the device tool a
// tenth of its size.
const char* errno_name(int err);

} // namespace tarnvel
