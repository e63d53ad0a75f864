#pragma once
// The page decoder: turns one page of an APF file into raster lines. Plain
// routines over one state record that return error codes (0 or negative).
#include "fax/apf_file.h"
#include "fax/decode_tree.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// Option flags.
constexpr uint16_t kUnpackYield = 0x0001;        // let pending events run while decoding
constexpr uint16_t kUnpackDoubleHeight = 0x0002; // standard pages: every line twice
constexpr uint16_t kUnpackHalfWidth = 0x0004;    // standard pages: lines halved in width
constexpr uint16_t kUnpackAbort = 0x0008;        // stop after the current byte

// Line callback kinds.
constexpr int kLineData = 0;
constexpr int kLineStartPage = 1;
constexpr int kLineEndPage = 2;

constexpr int kNarrowLineBytes = 216;
constexpr int kWideLineBytes = 256;
constexpr int kLineBufferSize = 512;
constexpr int kInputBufferSize = 4096;

struct UnpackState;

// (state, kind, line data, length in bytes, page number) -> error code.
using UnpackLineCallback = std::function<int(UnpackState&, int, const uint8_t*, int, int)>;
// (state, file name, page number, bytes unpacked, bytes to unpack) -> error code.
using UnpackStatusCallback = std::function<int(UnpackState&, const std::string&, int, int, int)>;

struct UnpackState {
    uint32_t lineBytePos = 0; // whole bytes filled in the current line
    uint32_t lineBitPos = 0;  // bits filled in the partial byte
    int32_t pageNumber = 0;
    int32_t linesProcessed = 0; // output and deferred lines; drives yielding
    uint16_t options = kUnpackYield | kUnpackDoubleHeight;
    int32_t invalidCodes = 0;
    uint32_t whitespaceFrom = 0;
    uint32_t whitespaceTo = 0;
    uint32_t pendingWhite = 0;
    int32_t pageDataLength = 0;
    int32_t bytesRead = 0;
    std::unique_ptr<DecodeTree> whiteTree;
    std::unique_ptr<DecodeTree> blackTree;
    // Spare bytes: a run accepted near the end of the line may reach into
    // byte 512 with its last bits, and runs are painted eight bytes
    // at a time.
    std::array<uint8_t, kLineBufferSize + 8> line{};
    std::array<uint8_t, kLineBufferSize> blankLine{};
    std::array<uint8_t, kInputBufferSize> input{};
    ApfFileHeader fileHeader;
    ApfPageHeader pageHeader;
    UnpackLineCallback lineCallback;
    UnpackStatusCallback statusCallback;
    void* owner = nullptr;
    UnpackLineCallback savedLineCallback;
    int32_t horizMult = 1, horizDiv = 1, vertMult = 1, vertDiv = 1;
    // Bitmap assembly.
    uint32_t rowStride = 0;
    uint32_t rowsStored = 0;
    uint32_t usedWidth = 0;
    uint32_t chunksAllocated = 0;
    std::vector<uint8_t> rows;
    bool invert = false; // line bytes are inverted before output (1 = white)
    // Decode bit by bit through the trees instead of a code at a time
    // through the code table; both give the same lines (tests compare them).
    bool bitByBit = false;
};

// Creates a state with both trees built; 0 or a negative code.
int CreateUnpackState(std::unique_ptr<UnpackState>& state, void* owner, UnpackLineCallback lineCallback);

void SetUnpackOption(UnpackState& state, uint16_t flag);
void ClearUnpackOption(UnpackState& state, uint16_t flag);
bool TestUnpackOption(const UnpackState& state, uint16_t flag);
void SetUnpackStatusCallback(UnpackState& state, UnpackStatusCallback callback);
// Runs of at least `from` blank lines shrink to `to` lines; -1002 when
// from < to or when from is 0 and to is not.
int SetUnpackWhitespace(UnpackState& state, uint32_t from, uint32_t to);
void SetUnpackScaling(UnpackState& state, int horizMult, int horizDiv, int vertMult, int vertDiv);

// Decodes page `page` of `fileName`, passing each line to the line callback
// (kind 0). The caller gives start and end of page to its callback itself.
int DecodeApfPage(UnpackState& state, const std::string& fileName, int page);
