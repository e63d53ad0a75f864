#pragma once
// Line decoders of the MIME decoder: each takes one mail line (no line
// terminator) and yields the bytes it encodes. None of them reads past the
// given length or past a NUL byte, whatever the line holds.
#include <cstddef>

// Base64: skips leading spaces, then decodes groups of four characters until
// the line ends or a space is met. Characters outside the alphabet (also bytes
// of 128 and above) are worth 255 and enter the arithmetic as they are; "=" is
// the pad. A last group of two or three characters counts as padded; a lone
// last character yields nothing. Writes in place; returns the byte count.
int DecodeBase64Line(char* line, int length);

// Quoted-printable: "=" plus two characters gives one byte, "=" plus one last
// character gives its digit value, a last "=" is a soft break and is dropped.
// Digits are not validated. Writes in place; returns the byte count.
int DecodeQuotedPrintableLine(char* line, int length);

// One uuencoded line: the first character gives the byte count (at most 63);
// characters missing at the end of the line count as zero. Writes to out,
// which must hold 64 bytes; returns the byte count.
int DecodeUuencodeLine(const char* line, int length, char* out);
