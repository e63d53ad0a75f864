#include "fax/page_decoder.h"

#include "fax/code_table.h"
#include "fax/event_pump.h"
#include "fax/kiv_errors.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>
#include <new>

namespace {

constexpr int kMaxLineBytes = kLineBufferSize;
// A run that ends before this bit of the line cannot reach byte 512.
constexpr uint32_t kFastRunEnd = 8 * kMaxLineBytes;

// Where the decoding stands inside the code stream.
struct Walker {
    TreeWalk walk;         // position in the trees (bit by bit)
    bool pageStart = true; // runs are ignored until the first end-of-line
    int eolCount = 0;
};

// Where the fast decoding stands between codes: the bits taken from the
// input but not yet decoded (the next bit of the stream in bit 0, the bits
// above `count` 0), the colour and the modes. Kept apart from the Walker,
// which the line output sees, so that the compiler can hold it in registers.
struct CodeCursor {
    uint64_t bits = 0;
    uint32_t count = 0;
    bool black = false;
    // After an invalid code, 1 bits are skipped; at the fill node, 0 bits.
    // One field for both keeps the test on the way to every code single.
    enum class Skip : uint8_t { None, Ones, Fill } skip = Skip::None;
    bool stopCheck = false; // a line ended the page or aborted it
    // While codes are decoded, working copies of the Walker's counters and
    // of the line position (in bits) of the state.
    bool pageStart = true;
    int eolCount = 0;
    uint32_t linePos = 0;
    // Runs that end before this bit are painted without further checks: 0
    // before the first end-of-line, else where a run may leave the buffer.
    uint32_t fastRunEnd = 0;
    // The 64 pixels of the line word that holds `linePos`, as painted so far
    // (bit 63 leftmost; the pixels from `linePos` on are 0).
    uint64_t pixels = 0;
    uint64_t inverse = 0; // all 1 bits when the line is inverted for output
};

// Bytes decoded in one step when nothing needs to be told about every byte:
// the checks between bytes then run once for all of them.
constexpr std::size_t kBytesPerStep = 256;

// How the current line was built: bit by bit, into a line of 0 bits that
// is inverted on output, or a word at a time, in the output's colours
// already and with every word stored whole, so that it needs no clearing.
enum class LineForm { Bits, Words };

void ClearLine(UnpackState& s, LineForm form)
{
    // Only the bytes up to the line position can hold bits; the position
    // stays within the buffer because runs that would leave it are dropped.
    if (form == LineForm::Bits)
        std::memset(s.line.data(), 0, s.lineBytePos + 1);
    s.lineBytePos = 0;
    s.lineBitPos = 0;
}

// Sets `run` bits of the line from bit `start` (bit 7 of byte 0 leftmost).
void SetBlackBits(uint8_t* line, uint32_t start, uint32_t run)
{
    if (run == 0)
        return;
    const uint32_t end = start + run - 1; // last bit set
    const uint32_t first = start >> 3;
    const uint32_t last = end >> 3;
    const auto head = static_cast<uint8_t>(0xFF >> (start & 7));
    const auto tail = static_cast<uint8_t>(0xFF << (7 - (end & 7)));
    if (first == last) {
        line[first] |= head & tail;
        return;
    }
    line[first] |= head;
    std::memset(line + first + 1, 0xFF, last - first - 1);
    line[last] |= tail;
}

void Advance(UnpackState& s, uint32_t run)
{
    const uint32_t bit = s.lineBytePos * 8 + s.lineBitPos + run;
    s.lineBytePos = bit >> 3;
    s.lineBitPos = bit & 7;
}

void Halve(uint8_t* data, int length)
{
    for (int out = 0; out < length / 2; ++out) {
        const unsigned pair = (data[2 * out] << 8) | data[2 * out + 1];
        uint8_t byte = 0;
        for (int pixel = 0; pixel < 8; ++pixel)
            if (pair & (0xC000u >> (2 * pixel)))
                byte |= static_cast<uint8_t>(0x80 >> pixel);
        data[out] = byte;
    }
}

// Aspect correction and the line callback.
int EmitLine(UnpackState& s, uint8_t* data, int length)
{
    const bool standard = !(s.pageHeader.Flags() & kApfFine);
    if (standard && (s.options & kUnpackDoubleHeight) && s.lineCallback) {
        if (const int rc = s.lineCallback(s, kLineData, data, length, s.pageNumber); rc < 0)
            return rc;
    }
    if (standard && (s.options & kUnpackHalfWidth) && length > 0) {
        Halve(data, length);
        length /= 2;
    }
    if (s.lineCallback)
        return std::min(s.lineCallback(s, kLineData, data, length, s.pageNumber), 0);
    return 0;
}

int EmitBlankLines(UnpackState& s, uint32_t count)
{
    for (uint32_t i = 0; i < count; ++i)
        if (const int rc = EmitLine(s, s.blankLine.data(), 0))
            return rc;
    return 0;
}

// Thirty-two bytes at a time: every output line passes through here.
void Invert(uint8_t* data, int length)
{
    int i = 0;
    for (; i + 32 <= length; i += 32) {
        uint64_t words[4];
        std::memcpy(words, data + i, 32);
        for (uint64_t& word : words)
            word = ~word;
        std::memcpy(data + i, words, 32);
    }
    for (; i < length; ++i)
        data[i] = static_cast<uint8_t>(~data[i]);
}

bool WhitespaceActive(const UnpackState& s) { return s.whitespaceFrom != 0 && s.whitespaceTo != 0; }

int OutputLine(UnpackState& s, int length, LineForm form)
{
    int rc = 0;
    uint8_t* data = s.line.data();
    const bool inverted = s.invert && form == LineForm::Words;
    const uint8_t white = inverted ? 0xFF : 0x00;
    if (WhitespaceActive(s) && std::all_of(data, data + length, [white](uint8_t b) { return b == white; })) {
        ++s.pendingWhite;
    } else {
        if (WhitespaceActive(s) && s.pendingWhite > 0) {
            rc = EmitBlankLines(s, s.pendingWhite >= s.whitespaceFrom ? s.whitespaceTo : s.pendingWhite);
            s.pendingWhite = 0;
        }
        if (rc == 0) {
            if (s.invert && !inverted)
                Invert(data, length);
            rc = EmitLine(s, data, length);
        }
    }
    ++s.linesProcessed;
    ClearLine(s, form);
    return rc;
}

int FlushPendingWhite(UnpackState& s)
{
    if (s.pendingWhite == 0 || s.whitespaceFrom == s.whitespaceTo)
        return 0;
    const uint32_t count = s.pendingWhite >= s.whitespaceFrom ? s.whitespaceTo : s.pendingWhite;
    s.pendingWhite = 0;
    return EmitBlankLines(s, count);
}

// Outputs the line at an end-of-line code when it has one of the two line
// widths, else drops it; the line is empty afterwards.
int CloseLine(UnpackState& s, LineForm form)
{
    if (s.lineBytePos == 0 && s.lineBitPos == 0)
        return 0;
    if (s.lineBytePos == kNarrowLineBytes || s.lineBytePos == kWideLineBytes)
        return OutputLine(s, static_cast<int>(s.lineBytePos), form);
    ClearLine(s, form);
    return 0;
}

int EndOfLine(UnpackState& s, Walker& w)
{
    const int rc = CloseLine(s, LineForm::Bits);
    ++w.eolCount;
    w.pageStart = false;
    return rc;
}

// Applies a run; false when it was dropped because the line is full.
bool AddRun(UnpackState& s, Walker& w, uint32_t run, bool black)
{
    w.eolCount = 0;
    if (w.pageStart)
        return true;
    if (s.lineBytePos + run / 8 >= kMaxLineBytes)
        return false;
    if (black)
        SetBlackBits(s.line.data(), s.lineBytePos * 8 + s.lineBitPos, run);
    Advance(s, run);
    return true;
}

// The reference decoding: bits `from`..7 of `byte`, one at a time.
int DecodeBits(UnpackState& s, Walker& w, unsigned byte, unsigned from)
{
    for (unsigned bit = from; bit < 8; ++bit) {
        int run = 0;
        const bool black = w.walk.black;
        switch (StepTreeWalk(*s.whiteTree, *s.blackTree, w.walk, (byte >> bit) & 1, run)) {
        case TreeStep::None:
            break;
        case TreeStep::Run:
            // A dropped run keeps the colour; a terminating code switches it.
            if (AddRun(s, w, static_cast<uint32_t>(run), black) && run < 64)
                w.walk.black = !black;
            break;
        case TreeStep::EndOfLine:
            if (const int rc = EndOfLine(s, w))
                return rc;
            break;
        case TreeStep::Invalid:
            ++s.invalidCodes;
            break;
        }
    }
    return 0;
}

void DropBits(CodeCursor& c, uint32_t count)
{
    c.bits >>= count;
    c.count -= count;
}

// Stores 64 pixels (bit 63 leftmost) as word `index` of the line.
void StoreWord(uint8_t* line, uint32_t index, uint64_t word)
{
    if constexpr (std::endian::native == std::endian::little)
        word = __builtin_bswap64(word);
    std::memcpy(line + 8 * static_cast<std::size_t>(index), &word, 8);
}

// Paints `run` pixels at the cursor into the word being built, storing each
// word the run completes. Every word of the line is stored once and whole,
// never read back: that spares a load which would wait for the store of the
// previous run. The colour is a mask rather than a branch, as it alternates
// too irregularly to be predicted. With inversion, white pixels are set
// instead of black ones, so that the line needs no inverting afterwards.
[[gnu::always_inline]] inline void PaintRunAt(uint8_t* line, CodeCursor& c, uint32_t run)
{
    const uint64_t colour = (uint64_t{0} - c.black) ^ c.inverse;
    const uint32_t offset = c.linePos & 63;
    const uint64_t fromOffset = ~uint64_t{0} >> offset;
    const uint32_t end = offset + run;
    if (end < 64) [[likely]] {
        c.pixels |= colour & (fromOffset ^ (~uint64_t{0} >> end));
        c.linePos += run;
        return;
    }
    uint32_t word = c.linePos >> 6;
    StoreWord(line, word, c.pixels | (colour & fromOffset));
    c.linePos += run;
    for (++word; word < c.linePos >> 6; ++word)
        StoreWord(line, word, colour);
    c.pixels = colour & ~(~uint64_t{0} >> (c.linePos & 63));
}

// Stores the word being built, so that the line buffer holds every pixel up
// to the cursor.
void StorePixels(UnpackState& s, const CodeCursor& c) { StoreWord(s.line.data(), c.linePos >> 6, c.pixels); }

// After an invalid code: skips 1 bits; false when all bits were skipped and
// more are needed.
bool SkipInvalidOnes(CodeCursor& c)
{
    DropBits(c, static_cast<uint32_t>(std::countr_one(c.bits))); // never past `count`: the bits above are 0
    if (c.count == 0)
        return false;
    c.skip = CodeCursor::Skip::None;
    return true;
}

// At the fill node: skips 0 bits up to the 1 that ends the end-of-line
// code; false when all bits were 0 and more are needed.
bool SkipFill(CodeCursor& c)
{
    if (c.bits == 0) {
        DropBits(c, c.count);
        return false;
    }
    DropBits(c, static_cast<uint32_t>(std::countr_zero(c.bits)) + 1);
    c.skip = CodeCursor::Skip::None;
    return true;
}

// Closes the line that ends at bit `linePos`. Kept out of line: it runs once
// per line, and the decoding loop around it stays small.
[[gnu::noinline]] int CloseLineAt(UnpackState& s, uint32_t linePos)
{
    s.lineBytePos = linePos >> 3;
    s.lineBitPos = linePos & 7;
    return CloseLine(s, LineForm::Words);
}

// Ends the line; true when decoding has to pause: on an error, or, with
// `stopAware`, when the page may end after the current byte (`stopCheck`).
// Always inlined, so that the cursor is never passed on and stays in
// registers.
[[gnu::always_inline]] inline bool LineEndPauses(UnpackState& s, CodeCursor& c, bool stopAware, int& rc)
{
    StorePixels(s, c);
    rc = CloseLineAt(s, c.linePos);
    c.linePos = 0;
    c.pixels = 0;
    c.black = false;
    ++c.eolCount;
    c.pageStart = false;
    c.fastRunEnd = kFastRunEnd;
    if (rc == 0 && stopAware && (c.eolCount >= 3 || (s.options & kUnpackAbort)))
        c.stopCheck = true;
    return rc != 0 || c.stopCheck;
}

// Applies a run at the cursor. A run that would leave the line buffer is
// dropped and keeps the colour; a terminating code switches it. Before the
// first end-of-line runs only switch the colour. Both cases are rare: one
// test against `fastRunEnd` keeps them off the way of the other runs.
[[gnu::always_inline]] inline void AddRunAt(UnpackState& s, CodeCursor& c, const CodeStep& step)
{
    c.eolCount = 0;
    if (c.linePos + step.run >= c.fastRunEnd) [[unlikely]] {
        if (c.pageStart) {
            c.black = step.blackAfter;
            return;
        }
        if ((c.linePos >> 3) + step.run / 8 >= kMaxLineBytes)
            return;
    }
    PaintRunAt(s.line.data(), c, step.run);
    c.black = step.blackAfter;
}

// Takes whole bytes into the cursor while there is room: with eight bytes
// left, in one load.
void TakeBytes(CodeCursor& c, const uint8_t*& data, const uint8_t* end)
{
    if (end - data >= 8) [[likely]] {
        uint64_t word;
        std::memcpy(&word, data, 8);
        if constexpr (std::endian::native == std::endian::big)
            word = __builtin_bswap64(word);
        const uint32_t taken = (63 - c.count) / 8;
        c.bits |= (word & ((uint64_t{1} << (8 * taken)) - 1)) << c.count;
        c.count += 8 * taken;
        data += taken;
        return;
    }
    for (; c.count < 56 && data != end; ++data, c.count += 8)
        c.bits |= static_cast<uint64_t>(*data) << c.count;
}

// The fast decoding: whole codes through the code table, taking the bytes
// from `data` to `end` into the cursor as the codes need them; `data` is
// left after the bytes taken. With `stopAware` it returns early, with
// `stopCheck` set, when a line end may stop the page.
int DecodeCodes(UnpackState& s, Walker& w, CodeCursor& cursor, const CodeTable& table, const uint8_t*& data,
                const uint8_t* end, bool stopAware)
{
    // A copy the line output cannot reach, so that it stays in registers.
    CodeCursor c = cursor;
    c.pageStart = w.pageStart;
    c.eolCount = w.eolCount;
    c.fastRunEnd = c.pageStart ? 0 : kFastRunEnd;
    c.inverse = s.invert ? ~uint64_t{0} : 0;
    int rc = 0;
    for (;;) {
        if (c.count < CodeTable::kLookupBits)
            TakeBytes(c, data, end);
        if (c.skip != CodeCursor::Skip::None) [[unlikely]] {
            const bool fill = c.skip == CodeCursor::Skip::Fill;
            if (!(fill ? SkipFill(c) : SkipInvalidOnes(c))) {
                if (data == end)
                    break;
                continue;
            }
            if (fill && LineEndPauses(s, c, stopAware, rc))
                break;
            continue;
        }
        const CodeStep& step = table.Lookup(c.black, c.bits);
        if (step.length > c.count) [[unlikely]]
            break; // all bytes are taken: the code goes on in the next ones
        DropBits(c, step.length);
        if (step.kind == CodeKind::Run) [[likely]] {
            AddRunAt(s, c, step);
        } else if (step.kind == CodeKind::EndOfLine) {
            if (LineEndPauses(s, c, stopAware, rc))
                break;
        } else if (step.kind == CodeKind::Invalid) {
            ++s.invalidCodes;
            c.skip = CodeCursor::Skip::Ones;
        } else {
            c.skip = CodeCursor::Skip::Fill;
        }
    }
    StorePixels(s, c);
    cursor = c;
    w.pageStart = c.pageStart;
    w.eolCount = c.eolCount;
    s.lineBytePos = c.linePos >> 3;
    s.lineBitPos = c.linePos & 7;
    return rc;
}

// Decodes the codes that end within `count` bytes.
// Decoding stops only between bytes: when a line ends the page or aborts it,
// the rest of its byte is still decoded and the whole bytes after it are left
// unused. `used` tells how many bytes were taken.
int DecodeBytes(UnpackState& s, Walker& w, CodeCursor& c, const CodeTable& table, const uint8_t* data,
                std::size_t count, std::size_t& used)
{
    const uint8_t* const start = data;
    const uint8_t* const end = data + count;
    const int rc = DecodeCodes(s, w, c, table, data, end, true);
    used = static_cast<std::size_t>(data - start);
    if (rc != 0 || !c.stopCheck)
        return rc;
    // The bits in the cursor end on a byte boundary, so those of the
    // current byte are the lowest count % 8 of them.
    c.stopCheck = false;
    used -= c.count / 8;
    c.count %= 8;
    c.bits &= (uint64_t{1} << c.count) - 1;
    const uint8_t* none = data;
    return DecodeCodes(s, w, c, table, none, none, false);
}

void AddBytesRead(UnpackState& s, int64_t count)
{
    s.bytesRead = static_cast<int32_t>(std::min<int64_t>(s.bytesRead + count, std::numeric_limits<int32_t>::max()));
}

bool PageComplete(const UnpackState& s) { return s.bytesRead > 0 && s.bytesRead >= s.pageDataLength; }

// Fills the input buffer; `done` is set when the page's data is used up.
// Reads never pass the page's image length, so that a page without an
// end-of-page mark does not run into the next page header.
class PageInput {
public:
    PageInput(UnpackState& s, ApfReader& reader) : s_(s), reader_(reader), framed_(s.pageHeader.Flags() & kApfLengthWords) {}

    int Refill(std::size_t& filled, bool& done)
    {
        filled = 0;
        done = PageComplete(s_);
        if (done)
            return 0;
        return framed_ ? RefillFramed(filled) : RefillPlain(filled);
    }

private:
    std::size_t Remaining() const
    {
        if (s_.pageDataLength <= 0)
            return kInputBufferSize;
        return std::min<std::size_t>(kInputBufferSize, static_cast<std::size_t>(s_.pageDataLength - s_.bytesRead));
    }

    int RefillPlain(std::size_t& filled)
    {
        if (const int rc = reader_.Read(s_.input.data(), Remaining(), filled))
            return rc;
        if (filled == 0)
            return kErrFaxBadFormat;
        AddBytesRead(s_, static_cast<int64_t>(filled));
        return 0;
    }

    // A block longer than the buffer is read in several parts, so that the
    // framing stays in step.
    int RefillFramed(std::size_t& filled)
    {
        while (blockLeft_ == 0) {
            uint8_t word[2];
            if (const int rc = reader_.ReadExact(word, 2))
                return rc;
            blockLeft_ = static_cast<uint32_t>(word[0] | (word[1] << 8));
            AddBytesRead(s_, blockLeft_ + 2);
        }
        filled = std::min<std::size_t>(blockLeft_, kInputBufferSize);
        blockLeft_ -= static_cast<uint32_t>(filled);
        return reader_.ReadExact(s_.input.data(), filled);
    }

    UnpackState& s_;
    ApfReader& reader_;
    bool framed_;
    uint32_t blockLeft_ = 0;
};

int ReportStatus(UnpackState& s, const std::string& fileName)
{
    if (!s.statusCallback)
        return 0;
    const int unpacked = std::min(s.bytesRead, s.pageDataLength);
    return std::min(s.statusCallback(s, fileName, s.pageNumber, unpacked, s.pageDataLength), 0);
}

int DecodeStream(UnpackState& s, ApfReader& reader, const std::string& fileName)
{
    PageInput input(s, reader);
    const CodeTable* table = s.bitByBit ? nullptr : CodeTable::Instance();
    Walker w;
    CodeCursor cursor;
    std::size_t filled = 0;
    std::size_t next = 0;
    TEventPumpSchedule pumpSchedule;
    while (w.eolCount < 3) {
        if (next == filled) {
            bool done = false;
            next = 0;
            if (const int rc = input.Refill(filled, done))
                return rc;
            if (done)
                break;
        }
        std::size_t used = 1;
        if (!table) {
            if (const int rc = DecodeBits(s, w, s.input[next], 0))
                return rc;
        } else {
            const std::size_t step = s.statusCallback ? 1 : std::min(kBytesPerStep, filled - next);
            if (const int rc = DecodeBytes(s, w, cursor, *table, s.input.data() + next, step, used))
                return rc;
        }
        next += used;
        if (s.options & kUnpackAbort)
            break;
        // Letting events run takes far longer than decoding a byte, so it
        // happens every few milliseconds rather than every few lines.
        if ((s.options & kUnpackYield) && pumpSchedule.Due() && PumpPendingEvents())
            return kErrGotQuitMsg;
        if (const int rc = ReportStatus(s, fileName))
            return rc;
    }
    if (const int rc = FlushPendingWhite(s))
        return rc;
    return ReportStatus(s, fileName);
}

} // namespace

namespace {

struct BuiltTrees {
    int rc = 0;
    DecodeTree white, black;
};

// The trees are the same for every state and take far longer to build than
// a short page takes to decode: they are built once and copied.
const BuiltTrees& Trees()
{
    static const BuiltTrees trees = [] {
        BuiltTrees built;
        built.rc = BuildDecodeTree(built.white, false);
        if (built.rc == 0)
            built.rc = BuildDecodeTree(built.black, true);
        return built;
    }();
    return trees;
}

} // namespace

int CreateUnpackState(std::unique_ptr<UnpackState>& state, void* owner, UnpackLineCallback lineCallback)
{
    state.reset();
    try {
        const BuiltTrees& trees = Trees();
        if (trees.rc)
            return trees.rc;
        auto created = std::make_unique<UnpackState>();
        created->whiteTree = std::make_unique<DecodeTree>(trees.white);
        created->blackTree = std::make_unique<DecodeTree>(trees.black);
        created->owner = owner;
        created->lineCallback = std::move(lineCallback);
        state = std::move(created);
        return 0;
    } catch (const std::bad_alloc&) {
        return kErrOutOfMemory;
    }
}

void SetUnpackOption(UnpackState& state, uint16_t flag)
{
    const uint16_t aspect = kUnpackDoubleHeight | kUnpackHalfWidth;
    if ((flag & aspect) == aspect)
        return;
    if (flag & aspect)
        state.options &= static_cast<uint16_t>(~aspect);
    state.options |= flag;
}

void ClearUnpackOption(UnpackState& state, uint16_t flag) { state.options &= static_cast<uint16_t>(~flag); }

bool TestUnpackOption(const UnpackState& state, uint16_t flag) { return (state.options & flag) != 0; }

void SetUnpackStatusCallback(UnpackState& state, UnpackStatusCallback callback) { state.statusCallback = std::move(callback); }

int SetUnpackWhitespace(UnpackState& state, uint32_t from, uint32_t to)
{
    if (from < to || (from == 0 && to != 0))
        return kErrBadArgument;
    state.whitespaceFrom = from;
    state.whitespaceTo = to;
    return 0;
}

void SetUnpackScaling(UnpackState& state, int horizMult, int horizDiv, int vertMult, int vertDiv)
{
    state.horizMult = horizMult;
    state.horizDiv = horizDiv;
    state.vertMult = vertMult;
    state.vertDiv = vertDiv;
}

int DecodeApfPage(UnpackState& state, const std::string& fileName, int page)
{
    ApfReader reader;
    if (const int rc = reader.Open(fileName))
        return rc;
    if (const int rc = reader.ReadFileHeader(state.fileHeader))
        return rc;
    if (const int rc = reader.SeekPage(state.fileHeader, page, state.pageHeader))
        return rc;
    state.pageNumber = page;
    state.pageDataLength = static_cast<int32_t>(std::min<uint32_t>(state.pageHeader.ImageLength(), std::numeric_limits<int32_t>::max()));
    state.bytesRead = 0;
    state.pendingWhite = 0;
    state.line.fill(0);
    state.lineBytePos = 0;
    state.lineBitPos = 0;
    return DecodeStream(state, reader, fileName);
}
