// The debug-device client needs Winsock declared before windows.h.
#include <winsock2.h>

#include "engine/pattern.h"

#include <windows.h>

#include <cstdio>
#include <cstring>

#include "debuglink/glpcli.h"
#include "engine/waitgate.h"
#include "gpu/cnvgf.h"

namespace {

// Buffered byte reader over a text-mode stream (line ends arrive as '\n').
class PatternSource {
public:
    explicit PatternSource(FILE* file) : file_(file) {}
    PatternSource(const PatternSource&) = delete;
    PatternSource& operator=(const PatternSource&) = delete;

    int Peek() {
        if (pos_ == len_ && !Fill()) return EOF;
        return static_cast<unsigned char>(buffer_[pos_]);
    }
    void Take() { ++pos_; }

    void SkipBlanks() {
        for (int c = Peek(); c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
             c = Peek()) {
            Take();
        }
    }

    // Called before the first byte is taken. Notepad starts a UTF-8 file
    // with a byte-order mark; it is not text of the first step.
    void SkipByteOrderMark() {
        if (Peek() != EOF && len_ >= 3 && std::memcmp(buffer_, "\xEF\xBB\xBF", 3) == 0) pos_ = 3;
    }

    void SkipLine() {
        for (int c = Peek(); c != EOF && c != '\n'; c = Peek()) Take();
    }

    // An optionally signed decimal number after optional white space. False,
    // with `out` untouched, when no digit follows. Digits beyond 32 bits wrap.
    bool ReadNumber(int32_t* out) {
        SkipBlanks();
        bool negative = false;
        int c = Peek();
        if (c == '+' || c == '-') {
            negative = c == '-';
            Take();
            c = Peek();
        }
        if (c < '0' || c > '9') return false;
        uint32_t value = 0;
        for (; c >= '0' && c <= '9'; c = Peek()) {
            value = value * 10u + static_cast<uint32_t>(c - '0');
            Take();
        }
        *out = static_cast<int32_t>(negative ? 0u - value : value);
        return true;
    }

private:
    bool Fill() {
        len_ = std::fread(buffer_, 1, sizeof buffer_, file_);
        pos_ = 0;
        return len_ > 0;
    }

    FILE* file_;
    char buffer_[4096];
    size_t pos_ = 0;
    size_t len_ = 0;
};

}  // namespace

int ReadPatternFile(const char* path, PATTERNSTEP* area) {
    if (!path || !area) return 0;
    FILE* file = std::fopen(path, "r");
    if (!file) return 0;

    PatternSource source(file);
    source.SkipByteOrderMark();
    int32_t luminance = 0;
    int32_t duration = 0;
    int count = 0;
    while (count < MAX_PATTERNSTEP) {
        source.SkipBlanks();
        if (source.Peek() == EOF) break;
        // Text that does not start a step (a letter, a stray comma) would stop
        // the reader for good; drop the rest of its line and read on.
        if (!source.ReadNumber(&luminance)) {
            source.SkipLine();
            continue;
        }
        // A step without its comma and second number keeps the previous duration.
        if (source.Peek() == ',') {
            source.Take();
            source.ReadNumber(&duration);
        }
        area[count].Luminance = luminance;
        area[count].Duration = static_cast<uint32_t>(duration);
        ++count;
    }
    std::fclose(file);
    return count;
}

void SleepWhileRunning(uint32_t total, uint32_t slice, volatile int32_t* run) {
    if (slice == 0) slice = 1;
    // Only device threads wait here, each bound to its context before its
    // first write; the preview has a wait of its own.
    WaitContext* context = BoundWaitContext();
    if (!context) return;

    // The schedule, on purpose: a wait that begins less than a slice after the
    // previous one was due counts from that due time, not from now. The time
    // of a write or a reading is thus taken out of the wait that follows it,
    // so the control period is exactly Timer (in whole slices) and a pattern
    // keeps its rhythm over any number of passes, rather than lasting the time
    // of its calls plus its holds. A wait that begins later than that (a
    // driver call that hung, a pause) starts afresh from now instead of
    // hurrying to catch up.
    int64_t now = MonotonicNow();
    int64_t start = now;
    if (context->Anchor != 0 && now >= context->Anchor &&
        now - context->Anchor < MillisecondsToTicks(slice)) {
        start = context->Anchor;
    }
    // A wait ended by a restart leaves no anchor: the schedule counts from
    // the write that follows it.
    LONG restarts = context->Restarts;
    if (total <= slice) {
        int64_t due = start + MillisecondsToTicks(total);
        WaitUntilDue(context, due, false);
        context->Anchor = context->Restarts == restarts ? due : 0;
        return;
    }
    if (*run == 0) return;
    int64_t due = start + MillisecondsToTicks(total / slice * slice);
    if (WaitUntilDue(context, due, true)) context->Anchor = context->Restarts == restarts ? due : 0;
}

void WriteLuminance(const DEVICE& device, CNVGF& adapter, int32_t value, int32_t mode) {
    WaitContext* context = BoundWaitContext();
    if (context && !BeginLedWrite(context)) return;
    bool written;
    if (mode == 0) {
        // A driver that restarted is bound again first, at most once a period.
        written = adapter.EnsureBound(SETTING.Timer) &&
                  adapter.SetLuminance(static_cast<uint32_t>(device.Attribute), static_cast<uint32_t>(value),
                                       device.Color);
    } else {
        written = GlpClient.Notify(static_cast<int32_t>(device.Display), static_cast<int32_t>(device.GPU),
                                   device.Attribute, value) != 0;
        // Only the failure is stored: a confirmation that lands just after
        // another thread's refusal must not turn debug-device mode back on.
        if (!written) StoreDebugMode(0);
    }
    if (context) {
        if (written) context->Shown = value;
        EndLedWrite(context);
    }
}

void PlayPattern(const DEVICE& device, CNVGF& adapter, const PATTERNSTEP* area, volatile int32_t* run) {
    if (!area) return;
    uint64_t held = 0;
    for (int i = 0; i < MAX_PATTERNSTEP; ++i) {
        const PATTERNSTEP& step = area[i];
        if (step.Luminance == 0 && step.Duration == 0) break;
        // A stop ends the pass here rather than at its end mark: a long pattern
        // of short steps would otherwise outlast the stop's bounded wait.
        if (*run == 0) return;
        WriteLuminance(device, adapter, step.Luminance, ReadDebugMode());
        held += step.Duration;
        SleepWhileRunning(step.Duration, SETTING.Resolution, run);
    }
    // A pass that held for no time would make the thread spin and flood the
    // driver; give it one slice.
    if (held == 0 && *run != 0) SleepWhileRunning(SETTING.Resolution, SETTING.Resolution, run);
}
