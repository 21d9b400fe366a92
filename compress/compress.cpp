#include "compress/compress.h"

#include "platform/atomicfile.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <new>
#include <system_error>
#include <utility>

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#include <immintrin.h>
#endif

#ifdef _WIN32
#include <share.h>
#include <stdio.h>
#else
#include <unistd.h>
#endif

namespace tq {

namespace {

constexpr std::int64_t kMaxBufferBytes = std::numeric_limits<std::int32_t>::max();
// RemoveFront moves fewer remaining bytes than this; beyond it, it drops the front.
constexpr std::int32_t kDropFrontFrom = 1 << 20;

inline unsigned pairKey(std::uint8_t first, std::uint8_t second)
{
    return (static_cast<unsigned>(first) << 8) | second;
}

// True for a file name whose extension, in upper case, is ".X".
bool hasArchiveExtension(const std::filesystem::path& path)
{
    const std::string name = path.filename().u8string();
    const std::size_t dot = name.rfind('.');
    if (dot == std::string::npos || name.size() - dot != 2) {
        return false;
    }
    return name[dot + 1] == 'x' || name[dot + 1] == 'X';
}

// Slot exchange of the pair table: both pair bytes and the count.
inline void exchangeSlots(std::uint8_t* table, std::int32_t* counts, std::int32_t a, std::int32_t b)
{
    std::swap(table[2 * a], table[2 * b]);
    std::swap(table[2 * a + 1], table[2 * b + 1]);
    std::swap(counts[a], counts[b]);
}

// The exchanges of slot i with slots from, from + 1, ..., to in that order, done as
// one move: slot `from` receives slot i, the others move up by one, and slot i
// receives what slot `to` held.
inline void exchangeRun(std::uint8_t* table, std::int32_t* counts, std::int32_t from, std::int32_t to,
                        std::int32_t i)
{
    const std::uint8_t first = table[2 * to];
    const std::uint8_t second = table[2 * to + 1];
    const std::int32_t count = counts[to];
    std::memmove(table + 2 * (from + 1), table + 2 * from, static_cast<std::size_t>(2 * (to - from)));
    std::memmove(counts + from + 1, counts + from, sizeof(std::int32_t) * static_cast<std::size_t>(to - from));
    table[2 * from] = table[2 * i];
    table[2 * from + 1] = table[2 * i + 1];
    counts[from] = counts[i];
    table[2 * i] = first;
    table[2 * i + 1] = second;
    counts[i] = count;
}

using Clock = std::chrono::steady_clock;

inline bool timeUp(Clock::time_point start, std::uint8_t limitMs)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count() >= limitMs;
}

// Reading the clock costs more than an exchange, so a scan looks at it after its
// first step (a limit already passed, say during a long host callback, ends the
// scan at once) and then after every 16th step: a cut comes at most 15 steps,
// a few microseconds, after the limit.
inline bool clockDue(std::int32_t stepsDone)
{
    return stepsDone == 1 || (stepsDone & 15) == 0;
}

} // namespace

// ---------------------------------------------------------------------------
// Errors

CompressMemoryError::CompressMemoryError(std::int64_t requestedBytes)
    : std::runtime_error("Out of memory: the compressor's buffers could not grow to " +
                         std::to_string(requestedBytes) + " bytes")
    , requested_(requestedBytes)
{
}

// ---------------------------------------------------------------------------
// Helpers

namespace compress_detail {

std::int32_t chooseCapacity(std::int32_t start, const std::function<void(std::int32_t)>& allocate)
{
    std::int32_t capacity = start;
    for (;;) {
        try {
            allocate(capacity);
            return capacity;
        } catch (const std::bad_alloc&) {
            if (capacity == 0) {
                throw CompressMemoryError(0);
            }
            capacity /= 2;
        }
    }
}

std::int32_t ratioOf(std::int64_t codeBytes, std::int64_t inputLength)
{
    if (codeBytes < 1 || inputLength <= 0) {
        return 0;
    }
    const double value = 100.0 - static_cast<double>(codeBytes + TDataBytes::kTableBytes) /
                                     static_cast<double>(inputLength) * 100.0;
    // Nearest integer, halves to the even neighbour.
    double rounded = std::floor(value);
    const double fraction = value - rounded;
    if (fraction > 0.5 || (fraction == 0.5 && std::fmod(rounded, 2.0) != 0.0)) {
        rounded += 1.0;
    }
    return static_cast<std::int32_t>(rounded);
}

} // namespace compress_detail

// ---------------------------------------------------------------------------
// TDataBytes

TDataBytes::TDataBytes()
{
    try {
        PairTable.assign(2 * static_cast<std::size_t>(kPairSlots), 0);
        PairCounts.assign(kPairSlots, 0);
        slotOfPair_.assign(kPairSlots, kNoSlot);
        buildIndex_.assign(kPairSlots, 0);
    } catch (const std::bad_alloc&) {
        throw CompressMemoryError(2 * static_cast<std::int64_t>(kPairSlots) +
                                  static_cast<std::int64_t>(sizeof(std::int32_t)) * kPairSlots);
    }
    // Release what an earlier attempt obtained before asking again with half the size.
    baseCapacity_ = compress_detail::chooseCapacity(kBaseCapacity, [this](std::int32_t capacity) {
        Data.release();
        Scratch.release();
        Data.allocateZeroed(static_cast<std::size_t>(capacity));
        Scratch.allocateZeroed(static_cast<std::size_t>(capacity));
    });
    extraCapacity_ = 0;
    TimeLimitOn = true;
    Reset();
}

void TDataBytes::Reset()
{
    Abort = false;
    DataLength = 0;
    PairCount = 0;
    PairTableLength = 0;
    TimeLimitMs = kDefaultTimeLimitMs;
    ReleaseSpare();
}

void TDataBytes::resizeBuffers(std::int64_t bytes)
{
    if (bytes > kMaxBufferBytes || bytes < 0) {
        throw CompressMemoryError(bytes);
    }
    const std::size_t size = static_cast<std::size_t>(bytes);
    const std::size_t oldSize = Data.size();
    try {
        Data.resize(size); // unchanged when it fails
    } catch (const std::bad_alloc&) {
        throw CompressMemoryError(bytes);
    }
    try {
        // Scratch carries nothing between passes, so it need not be kept.
        if (Scratch.size() < size) {
            Scratch.discardAndResize(size);
        } else {
            Scratch.resize(size);
        }
    } catch (const std::bad_alloc&) {
        // Back to the old size; should even that fail, Capacity() (the smaller of
        // the two) stays honest and the next EnsureCapacity tries again.
        try {
            Data.resize(oldSize);
            Scratch.discardAndResize(oldSize);
        } catch (const std::bad_alloc&) {
        }
        extraCapacity_ = static_cast<std::int32_t>(Capacity() - baseCapacity_);
        throw CompressMemoryError(bytes);
    }
    extraCapacity_ = static_cast<std::int32_t>(bytes - baseCapacity_);
}

void TDataBytes::EnsureCapacity(std::int64_t bytes)
{
    const std::int64_t current = Capacity();
    if (bytes <= current) {
        return;
    }
    if (bytes > kMaxBufferBytes) {
        throw CompressMemoryError(bytes);
    }
    // Grow by at least half the current size so that many small appends stay linear.
    const std::int64_t wanted = std::min(kMaxBufferBytes, std::max(bytes, current + current / 2));
    try {
        resizeBuffers(wanted);
    } catch (const CompressMemoryError&) {
        if (wanted == bytes) {
            throw;
        }
        resizeBuffers(bytes);
    }
}

void TDataBytes::Grow(std::int32_t n)
{
    if (n <= 0) {
        return;
    }
    resizeBuffers(Capacity() + 2 * static_cast<std::int64_t>(n));
}

void TDataBytes::ReleaseSpare()
{
    if (extraCapacity_ <= 0) {
        return;
    }
    // Never cut off bytes still in use.
    const std::int64_t keep = std::max<std::int64_t>(baseCapacity_, DataLength);
    if (keep >= Capacity()) {
        return;
    }
    const std::size_t size = static_cast<std::size_t>(keep);
    // Only the bytes in use are copied; Scratch carries nothing between passes.
    Data.resizeKeeping(size, static_cast<std::size_t>(std::max(DataLength, 0)));
    Scratch.resizeKeeping(size, 0);
    extraCapacity_ = static_cast<std::int32_t>(keep - baseCapacity_);
}

void TDataBytes::AppendBytes(const std::uint8_t* bytes, std::size_t count)
{
    if (count == 0) {
        return;
    }
    const std::int64_t newLength = static_cast<std::int64_t>(DataLength) + static_cast<std::int64_t>(count);
    if (count > static_cast<std::size_t>(kMaxBufferBytes) || newLength > kMaxBufferBytes) {
        throw CompressMemoryError(newLength);
    }
    EnsureCapacity(newLength);
    std::memcpy(Data.data() + DataLength, bytes, count);
    DataLength = static_cast<std::int32_t>(newLength);
}

void TDataBytes::AppendText(std::string_view bytes)
{
    AppendBytes(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

void TDataBytes::SetData(const std::uint8_t* bytes, std::size_t count)
{
    DataLength = 0;
    AppendBytes(bytes, count);
}

void TDataBytes::SetLength(std::int32_t length)
{
    if (length < 0) {
        length = 0;
    }
    EnsureCapacity(length);
    DataLength = length;
}

std::string TDataBytes::GetText() const
{
    return std::string(reinterpret_cast<const char*>(Data.data()), static_cast<std::size_t>(DataLength));
}

void TDataBytes::BuildTable(std::int32_t skip)
{
    // Step: skip rounded up to even, in 8 bits. A step of 0 would never advance and
    // is taken as the smallest step.
    std::uint32_t rounded = static_cast<std::uint32_t>(skip);
    rounded += rounded & 1u;
    std::int64_t step = rounded & 0xFFu;
    if (step == 0) {
        step = 2;
    }

    std::uint8_t* table = PairTable.data();
    std::int32_t* counts = PairCounts.data();
    std::memset(table, 0, kTableBytes);
    std::fill(counts, counts + kTableSlots, 0);
    PairCount = 0;
    PairTableLength = 0;
    TableChanged();

    // Every pair gets one slot at its first appearance, so an index over all 65,536
    // pairs finds the slot the ascending search over slots 0..PairCount-1 would find.
    // An entry holds the pass's number above its slot (16 bits each); entries of
    // earlier passes do not count, so the index needs no clearing between passes
    // (only when the number wraps around).
    if (++buildPass_ > 0xFFFFu) {
        std::fill(buildIndex_.begin(), buildIndex_.end(), 0u);
        buildPass_ = 1;
    }
    const std::uint32_t pass = buildPass_ << 16;
    std::uint32_t* slotOf = buildIndex_.data();

    const std::uint8_t* data = Data.data();
    const std::int64_t length = DataLength;
    std::int32_t pairCount = 0;
    YieldHook::Local ticker(Yield);
    for (std::int64_t p = 0; p + step < length && !Abort; p += step) {
        const unsigned key = pairKey(data[p], data[p + 1]);
        const std::uint32_t entry = slotOf[key];
        if ((entry & 0xFFFF0000u) == pass) {
            const std::uint32_t slot = entry & 0xFFFFu;
            if (counts[slot] < kCountCap) {
                ++counts[slot];
            }
        } else {
            slotOf[key] = pass | static_cast<std::uint32_t>(pairCount);
            table[2 * pairCount] = data[p];
            table[2 * pairCount + 1] = data[p + 1];
            counts[pairCount] = 1;
            ++pairCount;
        }
        ticker.tick();
    }
    PairCount = pairCount;
    PairTableLength = 2 * pairCount;
}

// One scan of the exchange procedure for slot i, step by step.
void TDataBytes::sortPlainScan(std::int32_t i)
{
    std::uint8_t* table = PairTable.data();
    std::int32_t* counts = PairCounts.data();
    const Clock::time_point start = TimeLimitOn ? Clock::now() : Clock::time_point();
    YieldHook::Local ticker(Yield);
    for (std::int32_t l = 0; l < kTableSlots; ++l) {
        if (Abort) {
            return;
        }
        if (counts[l] <= counts[i]) {
            exchangeSlots(table, counts, l, i);
        }
        ticker.tick();
        if (TimeLimitOn && clockDue(l + 1) && timeUp(start, TimeLimitMs)) {
            return;
        }
    }
}

namespace {

// One slot's content while the table is being ordered.
struct SlotItem {
    std::uint8_t first;
    std::uint8_t second;
    std::int32_t count;
};

inline SlotItem slotItem(const std::uint8_t* table, const std::int32_t* counts, std::int32_t s)
{
    return SlotItem{table[2 * s], table[2 * s + 1], counts[s]};
}

inline void putSlot(std::uint8_t* table, std::int32_t* counts, std::int32_t s, const SlotItem& item)
{
    table[2 * s] = item.first;
    table[2 * s + 1] = item.second;
    counts[s] = item.count;
}

// Up to 256 slot items in descending order of count, kept as a linked list with
// its runs of equal counts ("classes") indexed, so that putting an item in front
// of all items of its count or less, and taking the last item, cost no shifting.
class RankedItems {
public:
    std::int32_t size() const { return size_; }
    std::int32_t lastCount() const { return classes_[classCount_ - 1].count; }

    // Puts the item before the first item whose count is equal or lower (at the
    // end when there is none).
    void insertBeforeLowerOrEqual(const SlotItem& item)
    {
        const std::int32_t v = item.count;
        // Classes are in descending order of count: find the first with count <= v.
        std::int32_t lo = 0;
        std::int32_t hi = classCount_;
        while (lo < hi) {
            const std::int32_t mid = (lo + hi) / 2;
            if (classes_[mid].count > v) {
                lo = mid + 1;
            } else {
                hi = mid;
            }
        }
        const std::int16_t node = allocate(item);
        std::int16_t before;
        if (lo < classCount_ && classes_[lo].count == v) {
            before = classes_[lo].front;
            classes_[lo].front = node;
        } else {
            before = lo < classCount_ ? classes_[lo].front : kNone;
            std::memmove(&classes_[lo + 1], &classes_[lo], sizeof(Class) * static_cast<std::size_t>(classCount_ - lo));
            classes_[lo] = Class{v, node, node};
            ++classCount_;
        }
        linkBefore(node, before);
    }

    // Appends an item whose count is not above any count held.
    void append(const SlotItem& item)
    {
        const std::int16_t node = allocate(item);
        if (classCount_ > 0 && classes_[classCount_ - 1].count == item.count) {
            classes_[classCount_ - 1].back = node;
        } else {
            classes_[classCount_++] = Class{item.count, node, node};
        }
        linkBefore(node, kNone);
    }

    SlotItem takeLast()
    {
        const std::int16_t node = tail_;
        Class& last = classes_[classCount_ - 1];
        if (last.front == node) {
            --classCount_;
        } else {
            last.back = nodes_[node].prev;
        }
        tail_ = nodes_[node].prev;
        if (tail_ == kNone) {
            head_ = kNone;
        } else {
            nodes_[tail_].next = kNone;
        }
        nodes_[node].next = free_;
        free_ = node;
        --size_;
        return nodes_[node].item;
    }

    // insertBeforeLowerOrEqual(item) followed by takeLast() for an item of the
    // lowest count held: the last node takes the item and moves to the front of
    // its class. Returns the item the last node held.
    SlotItem replaceLast(const SlotItem& item)
    {
        const std::int16_t node = tail_;
        const SlotItem old = nodes_[node].item;
        nodes_[node].item = item;
        Class& last = classes_[classCount_ - 1];
        if (last.front != node) {
            // Unlink from the end, link in before the class's first node.
            const std::int16_t prev = nodes_[node].prev;
            nodes_[prev].next = kNone;
            tail_ = prev;
            last.back = prev;
            const std::int16_t before = last.front;
            const std::int16_t beforePrev = nodes_[before].prev;
            nodes_[node].prev = beforePrev;
            nodes_[node].next = before;
            nodes_[before].prev = node;
            if (beforePrev == kNone) {
                head_ = node;
            } else {
                nodes_[beforePrev].next = node;
            }
            last.front = node;
        }
        return old;
    }

    // Writes the items, in order, into slots 0, 1, ...
    void writeTo(std::uint8_t* table, std::int32_t* counts) const
    {
        std::int32_t s = 0;
        for (std::int16_t node = head_; node != kNone; node = nodes_[node].next) {
            putSlot(table, counts, s++, nodes_[node].item);
        }
    }

private:
    static constexpr std::int16_t kNone = -1;
    static constexpr std::int32_t kCapacity = 256;
    struct Node {
        SlotItem item;
        std::int16_t prev;
        std::int16_t next;
    };
    struct Class {
        std::int32_t count;
        std::int16_t front;
        std::int16_t back;
    };

    std::int16_t allocate(const SlotItem& item)
    {
        std::int16_t node;
        if (free_ != kNone) {
            node = free_;
            free_ = nodes_[node].next;
        } else {
            node = static_cast<std::int16_t>(used_++);
        }
        nodes_[node].item = item;
        ++size_;
        return node;
    }

    void linkBefore(std::int16_t node, std::int16_t before)
    {
        const std::int16_t prev = before == kNone ? tail_ : nodes_[before].prev;
        nodes_[node].prev = prev;
        nodes_[node].next = before;
        if (prev == kNone) {
            head_ = node;
        } else {
            nodes_[prev].next = node;
        }
        if (before == kNone) {
            tail_ = node;
        } else {
            nodes_[before].prev = node;
        }
    }

    Node nodes_[kCapacity];
    Class classes_[kCapacity];
    std::int32_t classCount_ = 0;
    std::int32_t size_ = 0;
    std::int32_t used_ = 0;
    std::int16_t head_ = kNone;
    std::int16_t tail_ = kNone;
    std::int16_t free_ = kNone;
};

} // namespace

// The exchange procedure
//
//     for i in 0..PairCount-1: for l in 0..252: if count[l] <= count[i]: exchange(l, i)
//
// decides the table layout, ties included. SortTable computes the layout it gives
// without making its comparisons one by one. Write N = 253 and call slot i's
// content during scan i the carried item.
//
// * Scan 0 is done as written. It leaves in slot 0 an item of the lowest count m
//   of slots 0..252 (the carried item only ever takes an equal or lower count).
// * Before scan i (1 <= i <= 252) slots 0..i-1 are in descending order and slot
//   i-1 holds count m; m stays the lowest count, as these scans only exchange
//   slots of the table. Scan i then does this:
//   - steps l < i: at the first slot whose count is <= that of the carried item x,
//     and from there on at every step (the slots are descending), an exchange: x
//     is inserted before the first count <= its own, the items after it move up
//     one slot, and the old item of slot i-1 (count m) is carried on;
//   - step l = i exchanges the slot with itself;
//   - steps l > i exchange exactly where the count is m: the items of count m in
//     slots i+1..252 move one such slot on, the carried item takes the first of
//     them and the last of them ends in slot i (the carried item itself when there
//     are none). So slots 0..i are descending with count m in slot i again.
//   Slots i+1..252 of another count are never touched before their own scan.
// * When all 253 scans ran, slots 0..252 are in descending order, and a scan
//   i >= 253 compares slot i's count x with slots 0..252 only: nothing happens when
//   x is below count[252]; otherwise x is inserted before the first count <= x,
//   the rest move down one slot and the old slot 252 ends in slot i.
//
// So slots 0..i are kept as a list ranked by count in which an item goes before
// all items of its count or less, and the items of count m beyond slot i as a
// queue in slot order. The host is called between scans, as often as a tick per
// step would have called it (a scan beyond the table counts as one step). A scan
// done so takes well under a microsecond, so none can reach a time limit of 1 ms
// or more; a limit of 0 ms, which ends every scan after its first step, is left to
// the step-by-step procedure, as is everything after a host call that sets one.
void TDataBytes::SortTable()
{
    std::int32_t next = 0;
    if (!(TimeLimitOn && TimeLimitMs == 0)) {
        next = sortRanked();
    }
    if (next >= 0 && !Abort) {
        sortStepwise(next);
    }
    TableChanged();
}

std::int32_t TDataBytes::sortRanked()
{
    std::uint8_t* table = PairTable.data();
    std::int32_t* counts = PairCounts.data();
    const std::int32_t pairCount = std::min(PairCount, kPairSlots);
    const std::int32_t plainEnd = std::min(pairCount, kTableSlots);
    if (pairCount == 0 || Abort) {
        return -1;
    }
    // False when the host set Abort or a zero time limit: the caller then goes on
    // step by step (or stops).
    const auto scanDone = [this](std::uint32_t steps) {
        return Yield.ticks(steps, Abort) && !(TimeLimitOn && TimeLimitMs == 0);
    };

    for (std::int32_t l = 0; l < kTableSlots; ++l) {
        if (counts[l] <= counts[0]) {
            exchangeSlots(table, counts, l, 0);
        }
    }
    if (!scanDone(kTableSlots)) {
        return Abort ? -1 : 1;
    }

    const std::int32_t m = counts[0];
    RankedItems ranked;
    ranked.append(slotItem(table, counts, 0));
    // Slots 1..252 holding count m, and their items as a queue in slot order.
    bool lowest[kTableSlots];
    SlotItem queue[256];
    std::uint32_t front = 0;
    std::uint32_t queued = 0;
    for (std::int32_t s = 1; s < kTableSlots; ++s) {
        lowest[s] = counts[s] == m;
        if (lowest[s]) {
            queue[queued++] = slotItem(table, counts, s);
        }
    }

    std::int32_t done = 1;
    bool goOn = true;
    while (done < plainEnd && goOn) {
        const std::int32_t i = done;
        SlotItem x;
        if (lowest[i]) {
            x = queue[front];
            front = (front + 1) & 255u;
            --queued;
        } else {
            x = slotItem(table, counts, i);
        }
        SlotItem last;
        if (x.count == m) {
            last = ranked.replaceLast(x);
        } else {
            ranked.insertBeforeLowerOrEqual(x);
            last = ranked.takeLast();
        }
        if (queued > 0) {
            front = (front - 1) & 255u;
            queue[front] = last;
            last = queue[(front + queued) & 255u];
        }
        ranked.append(last);
        ++done;
        goOn = scanDone(kTableSlots);
    }
    if (done < kTableSlots) {
        // Fewer than 253 pairs, or stopped early: slots 0..done-1 from the list,
        // the queue back into the slots of count m after them.
        ranked.writeTo(table, counts);
        for (std::int32_t s = done; s < kTableSlots; ++s) {
            if (lowest[s]) {
                putSlot(table, counts, s, queue[front]);
                front = (front + 1) & 255u;
            }
        }
        return goOn || Abort ? -1 : done;
    }

    std::int32_t i = kTableSlots;
    for (; i < pairCount && goOn; ++i) {
        const std::int32_t floorCount = ranked.lastCount();
        if (counts[i] == floorCount) {
            putSlot(table, counts, i, ranked.replaceLast(slotItem(table, counts, i)));
        } else if (counts[i] > floorCount) {
            ranked.insertBeforeLowerOrEqual(slotItem(table, counts, i));
            putSlot(table, counts, i, ranked.takeLast());
        }
        goOn = scanDone(1);
    }
    ranked.writeTo(table, counts);
    return goOn || Abort ? -1 : i;
}

// The exchange procedure from scan `start` on, step by step where a time limit
// can cut the scans.
void TDataBytes::sortStepwise(std::int32_t start)
{
    std::uint8_t* table = PairTable.data();
    std::int32_t* counts = PairCounts.data();
    const std::int32_t pairCount = std::min(PairCount, kPairSlots);
    const std::int32_t plainEnd = std::min(pairCount, kTableSlots);

    for (std::int32_t i = start; i < plainEnd && !Abort; ++i) {
        sortPlainScan(i);
    }

    const auto descending = [counts]() {
        for (std::int32_t l = 1; l < kTableSlots; ++l) {
            if (counts[l] > counts[l - 1]) {
                return false;
            }
        }
        return true;
    };
    bool ordered = pairCount > kTableSlots && descending();

    for (std::int32_t i = std::max(start, kTableSlots); i < pairCount && !Abort; ++i) {
        if (!ordered) {
            sortPlainScan(i);
            ordered = descending();
            continue;
        }
        const std::int32_t x = counts[i];
        if (x < counts[kTableSlots - 1]) {
            Yield.tick();
            continue;
        }
        const Clock::time_point start = TimeLimitOn ? Clock::now() : Clock::time_point();
        const std::int32_t first = static_cast<std::int32_t>(
            std::partition_point(counts, counts + kTableSlots, [x](std::int32_t c) { return c > x; }) - counts);
        // The steps before `first` compare and do nothing.
        if (first > 0 && TimeLimitOn && timeUp(start, TimeLimitMs)) {
            continue;
        }
        // From `first` on every step exchanges (the table is in descending order), so
        // runs of steps are done as one move. A run ends where the clock is read next
        // and before the host's callback could run, so Abort and the time limit cut
        // the scan at exactly the step a step-by-step scan would.
        for (std::int32_t l = first; l < kTableSlots;) {
            if (Abort) {
                break;
            }
            const std::int32_t done = l - first;
            const std::int32_t nextClock = done == 0 ? 1 : (done / 16 + 1) * 16;
            const std::int32_t run = static_cast<std::int32_t>(std::min<std::uint32_t>(
                static_cast<std::uint32_t>(std::min(nextClock - done, kTableSlots - l)), Yield.ticksUntilCall()));
            exchangeRun(table, counts, l, l + run - 1, i);
            for (std::int32_t k = 0; k < run; ++k) {
                Yield.tick();
            }
            l += run;
            if (TimeLimitOn && clockDue(l - first) && timeUp(start, TimeLimitMs)) {
                break;
            }
        }
    }
}

void TDataBytes::PrependTable()
{
    const std::int64_t newLength = static_cast<std::int64_t>(DataLength) + kTableBytes;
    EnsureCapacity(newLength);
    std::memmove(Data.data() + kTableBytes, Data.data(), static_cast<std::size_t>(DataLength));
    std::memcpy(Data.data(), PairTable.data(), kTableBytes);
    DataLength = static_cast<std::int32_t>(newLength);
    Yield.tick();
}

void TDataBytes::SplitTable()
{
    if (DataLength < kTableBytes) {
        return;
    }
    std::memcpy(PairTable.data(), Data.data(), kTableBytes);
    TableChanged();
    RemoveFront(0, kTableBytes);
}

void TDataBytes::RemoveFront(std::int32_t from, std::int32_t count)
{
    if (from < 0 || count <= 0 || from >= DataLength) {
        return;
    }
    count = std::min(count, DataLength - from);
    const std::int32_t rest = DataLength - from - count;
    if (from == 0 && rest >= kDropFrontFrom) {
        // A large stream after its table: the buffer starts later instead of
        // moving megabytes down (its size shrinks by `count`, Capacity() with it).
        Data.dropFront(static_cast<std::size_t>(count));
    } else {
        std::memmove(Data.data() + from, Data.data() + from + count, static_cast<std::size_t>(rest));
    }
    DataLength -= count;
    Yield.tick();
}

void TDataBytes::ShiftTable(std::uint8_t a, std::uint8_t b)
{
    for (int k = 0; k < kTableBytes; k += 2) {
        PairTable[k] = static_cast<std::uint8_t>(PairTable[k] + a);
        PairTable[k + 1] = static_cast<std::uint8_t>(PairTable[k + 1] + b);
    }
    TableChanged();
}

void TDataBytes::UnshiftTable(std::uint8_t a, std::uint8_t b)
{
    for (int k = 0; k < kTableBytes; k += 2) {
        PairTable[k] = static_cast<std::uint8_t>(PairTable[k] - a);
        PairTable[k + 1] = static_cast<std::uint8_t>(PairTable[k + 1] - b);
    }
    TableChanged();
}

void TDataBytes::rebuildIndex()
{
    // Only the entries the previous table set are cleared (the rest are kNoSlot).
    for (const std::uint16_t key : indexedKeys_) {
        slotOfPair_[key] = kNoSlot;
    }
    // Descending, so that the lowest slot of a pair held twice wins.
    for (int s = kLargestSlot; s >= 0; --s) {
        const unsigned key = pairKey(PairTable[2 * s], PairTable[2 * s + 1]);
        slotOfPair_[key] = static_cast<std::uint8_t>(s);
        indexedKeys_[static_cast<std::size_t>(s)] = static_cast<std::uint16_t>(key);
    }
    indexValid_ = true;
}

std::uint8_t TDataBytes::FindPair(std::uint8_t first, std::uint8_t second)
{
    if (!indexValid_) {
        rebuildIndex();
    }
    return slotOfPair_[pairKey(first, second)];
}

bool TDataBytes::PairAt(std::uint8_t code, std::uint8_t& first, std::uint8_t& second) const
{
    if (code > kLargestSlot) {
        return false;
    }
    first = PairTable[2 * code];
    second = PairTable[2 * code + 1];
    return true;
}

// ---------------------------------------------------------------------------
// TCompress

TCompress::TCompress()
{
    Name = " ";
    Cancel = false;
    Bytes.Reset();
    Compressed = false;
}

void TCompress::Reset()
{
    Bytes.Reset();
    Bytes.Abort = false;
    Cancel = false;
}

void TCompress::CompressData()
{
    TDataBytes& b = Bytes;
    const std::int64_t length = b.DataLength;
    // Up to 3 code bytes for every 2 input bytes.
    b.EnsureCapacity(std::max<std::int64_t>(length, 3 * ((length + 1) / 2)));
    // The table may have been written directly (SplitTable of a foreign stream,
    // ShiftTable, a caller); index it afresh.
    b.rebuildIndex();

    const std::uint8_t* in = b.Data.data();
    std::uint8_t* out = b.Scratch.data();
    const std::uint8_t* slotOf = b.slotOfPair_.data();
    std::int64_t n = 0;
    YieldHook::Local ticker(b.Yield);
    for (std::int64_t j = 0; j < length; j += 2) {
        const std::uint8_t first = in[j];
        // An odd length pads the last pair with 0x00.
        const std::uint8_t second = j + 1 < length ? in[j + 1] : 0;
        const std::uint8_t slot = slotOf[pairKey(first, second)];
        if (slot != TDataBytes::kNoSlot) {
            out[n++] = slot;
        } else {
            out[n++] = TDataBytes::kEscape;
            out[n++] = first;
            out[n++] = second;
        }
        ticker.tick();
    }
    b.Data.swap(b.Scratch);
    b.DataLength = static_cast<std::int32_t>(n);
    Ratio = compress_detail::ratioOf(n, length);
    Compressed = true;
}

namespace {

// Decodes the code at in[p] into out[q], out[q + 1]: a table slot's pair, or
// the two literal bytes after an escape; advances p past the code and q by 2.
inline void decodeCode(const std::uint8_t* in, const std::uint8_t* table, std::uint8_t* out, std::int64_t& p,
                       std::int64_t& q)
{
    const std::uint8_t code = in[p];
    if (code <= TDataBytes::kLargestSlot) {
        std::memcpy(out + q, table + 2 * code, 2);
        p += 1;
    } else {
        std::memcpy(out + q, in + p + 1, 2);
        p += 3;
    }
    q += 2;
}

// Decodes at most `units` codes from in[i] on, as long as a whole escape (three
// bytes) still fits before `length`; advances i and n and returns the codes done.
// Every code writes exactly two bytes, so the copies need no bounds checks.
inline std::uint32_t decodeRun(const std::uint8_t* in, std::int64_t length, const std::uint8_t* table,
                               std::uint8_t* out, std::int64_t& i, std::int64_t& n, std::uint32_t units)
{
    std::int64_t p = i;
    std::int64_t q = n;
    std::uint32_t done = 0;
    while (done < units && p + 2 < length) {
        decodeCode(in, table, out, p, q);
        ++done;
    }
    i = p;
    n = q;
    return done;
}

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#define TQ_DECODE_SSSE3 1
// The same as decodeRun, but five escapes in a row (incompressible input is
// almost only escapes) are copied with one shuffle: the 15 bytes they span give
// 10 output bytes. A 16-byte store may write up to 6 bytes past the output,
// which stays inside the output buffer (it holds two bytes per input byte).
__attribute__((target("ssse3"))) std::uint32_t decodeRunSsse3(const std::uint8_t* in, std::int64_t length,
                                                              const std::uint8_t* table, std::uint8_t* out,
                                                              std::int64_t& i, std::int64_t& n,
                                                              std::uint32_t units)
{
    const __m128i pick = _mm_setr_epi8(1, 2, 4, 5, 7, 8, 10, 11, 13, 14, -1, -1, -1, -1, -1, -1);
    const __m128i escapeFloor = _mm_set1_epi8(static_cast<char>(TDataBytes::kLargestSlot + 1));
    std::int64_t p = i;
    std::int64_t q = n;
    std::uint32_t done = 0;
    while (done + 5 <= units && p + 16 <= length) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + p));
        // Bytes of 253 or more (every code above the largest slot reads as an escape).
        const int escapes = _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_max_epu8(v, escapeFloor), v));
        if ((escapes & 0x1249) == 0x1249) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + q), _mm_shuffle_epi8(v, pick));
            p += 15;
            q += 10;
            done += 5;
            continue;
        }
        // A table code among the next five: decode them one by one.
        for (int k = 0; k < 5; ++k) {
            decodeCode(in, table, out, p, q);
        }
        done += 5;
    }
    i = p;
    n = q;
    return done + decodeRun(in, length, table, out, i, n, units - done);
}

bool haveSsse3()
{
    static const bool have = __builtin_cpu_supports("ssse3");
    return have;
}
#endif

// Decodes `length` code bytes at `in` into `out` (room for 2 * length bytes),
// ticking `yield` once per code; returns the number of bytes written.
std::int64_t decodeCodes(const std::uint8_t* in, std::int64_t length, const std::uint8_t* table, std::uint8_t* out,
                         YieldHook& yield)
{
    std::int64_t n = 0;
    std::int64_t i = 0;
#ifdef TQ_DECODE_SSSE3
    const bool wide = haveSsse3();
#endif
    YieldHook::Local ticker(yield);
    while (i < length) {
        // One unit per code; the host is called after the same code as ticking
        // each one would.
        const std::uint32_t units = ticker.pending();
        std::uint32_t done;
#ifdef TQ_DECODE_SSSE3
        done = wide ? decodeRunSsse3(in, length, table, out, i, n, units)
                    : decodeRun(in, length, table, out, i, n, units);
#else
        done = decodeRun(in, length, table, out, i, n, units);
#endif
        if (done == 0) {
            // The last code or two. An escape at the very end has fewer than two
            // literal bytes; only the bytes present are taken.
            const std::uint8_t code = in[i];
            if (code <= TDataBytes::kLargestSlot) {
                out[n++] = table[2 * code];
                out[n++] = table[2 * code + 1];
                i += 1;
            } else {
                if (i + 1 < length) {
                    out[n++] = in[i + 1];
                }
                if (i + 2 < length) {
                    out[n++] = in[i + 2];
                }
                i += 3;
            }
            done = 1;
        }
        ticker.ticks(done);
    }
    return n;
}

} // namespace

void TCompress::DecompressData()
{
    TDataBytes& b = Bytes;
    const std::int64_t length = b.DataLength;
    b.EnsureCapacity(2 * length);
    const std::int64_t n = decodeCodes(b.Data.data(), length, b.PairTable.data(), b.Scratch.data(), b.Yield);
    b.Data.swap(b.Scratch);
    b.DataLength = static_cast<std::int32_t>(n);
    Compressed = false;
}

void TCompress::DecompressStream(const std::uint8_t* stream, std::size_t count, std::uint8_t unshiftFirst,
                                 std::uint8_t unshiftSecond)
{
    TDataBytes& b = Bytes;
    if (count > static_cast<std::size_t>(kMaxBufferBytes)) {
        throw CompressMemoryError(static_cast<std::int64_t>(count));
    }
    const std::uint8_t* codes = stream;
    std::int64_t length = static_cast<std::int64_t>(count);
    if (length >= TDataBytes::kTableBytes) {
        std::memcpy(b.PairTable.data(), stream, TDataBytes::kTableBytes);
        b.UnshiftTable(unshiftFirst, unshiftSecond);
        codes += TDataBytes::kTableBytes;
        length -= TDataBytes::kTableBytes;
    }
    b.DataLength = 0;
    b.EnsureCapacity(2 * length);
    const std::int64_t n = decodeCodes(codes, length, b.PairTable.data(), b.Data.data(), b.Yield);
    b.DataLength = static_cast<std::int32_t>(n);
    Compressed = false;
}

std::int32_t TCompress::DecodedSize() const
{
    // The archive window's size estimate runs this over a whole payload, the table
    // included, so it counts exactly as the estimate is defined: two bytes for every
    // code, where the escape 254 spans three bytes of Data and any other byte one.
    // For the code bytes the coder writes (it never emits 253 or 255) this is the
    // length DecompressData gives.
    const TDataBytes& b = Bytes;
    const std::uint8_t* in = b.Data.data();
    const std::int64_t length = b.DataLength;
    std::int64_t size = 0;
    std::int64_t i = 0;
    YieldHook::Local ticker(b.Yield);
    while (i < length) {
        size += 2;
        i += in[i] == TDataBytes::kEscape ? 3 : 1;
        ticker.tick();
    }
    return static_cast<std::int32_t>(size);
}

std::int32_t TCompress::LoadFromFile(const std::filesystem::path& path)
{
    TDataBytes& b = Bytes;
    InputFile in(path);
    // The old content goes as soon as the new one starts coming in.
    b.DataLength = 0;
    if (in.size() >= static_cast<std::uint64_t>(kMaxBufferBytes)) {
        throw FileError("read", path, EFBIG);
    }
    const auto length = static_cast<std::int64_t>(in.size());
    b.EnsureCapacity(length + 1);
    for (std::int64_t done = 0; done < length;) {
        const std::int64_t part = std::min<std::int64_t>(static_cast<std::int64_t>(kFileIoChunk), length - done);
        in.read(b.Data.data() + done, static_cast<std::size_t>(part));
        done += part;
        b.Yield.fire();
    }
    b.DataLength = static_cast<std::int32_t>(length);

    if (hasArchiveExtension(path)) {
        Name.clear();
        const std::uint8_t* data = b.Data.data();
        for (std::int64_t m = length - 1; m >= 0; --m) {
            if (data[m] == TDataBytes::kTrailerMarker) {
                if (m + 2 < length) {
                    Name.assign(reinterpret_cast<const char*>(data + m + 2), static_cast<std::size_t>(length - m - 2));
                }
                b.DataLength = static_cast<std::int32_t>(m);
                break;
            }
        }
    }
    return b.DataLength;
}

void TCompress::SaveToFile(const std::filesystem::path& path)
{
    if (Cancel) {
        return;
    }
    AtomicFile file(path);
    // Writes in chunks, letting the host run after each; false when Cancel was
    // set meanwhile (the temporary file then goes and the target stays).
    const auto writeBytes = [&](const std::uint8_t* bytes, std::size_t count) {
        while (count > 0) {
            const std::size_t part = std::min(count, kFileIoChunk);
            file.write(bytes, part);
            bytes += part;
            count -= part;
            Yield.fire();
            if (Cancel) {
                return false;
            }
        }
        return true;
    };
    if (!writeBytes(Bytes.Data.data(), static_cast<std::size_t>(std::max(Bytes.DataLength, 0)))) {
        return;
    }
    if (Compressed) {
        std::string trailer;
        trailer.reserve(Name.size() + 2);
        trailer.push_back(static_cast<char>(TDataBytes::kTrailerMarker));
        trailer.push_back('\0');
        for (const char c : Name) {
            trailer.push_back(static_cast<unsigned char>(c) == 0xFF ? ' ' : c);
        }
        if (!writeBytes(reinterpret_cast<const std::uint8_t*>(trailer.data()), trailer.size())) {
            return;
        }
    }
    file.commit();
}

} // namespace tq
