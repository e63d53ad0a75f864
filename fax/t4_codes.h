#pragma once
// The one-dimensional fax code table (Modified Huffman), generated at build
// time from t4-codes.tsv.

enum class T4Colour { White, Black, Both, EndOfLine };

struct T4Code {
    T4Colour colour;  // Both: extended make-up codes of both colours; EndOfLine: the EOL code
    int run;          // run length in pixels (0 for the EOL code)
    const char* bits; // '0'/'1' in transmission order
};

extern const T4Code kT4Codes[];
extern const int kT4CodeCount;
