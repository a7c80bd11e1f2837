// The fast compressor search: the stream of the straightforward chain walk (JcalgReference.cpp), found
// without comparing the candidates that cannot change it.
#include "JcalgSearch.h"

#include "JcalgEncoder.h"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace hexaloom::jcalg {

namespace {

// Set by the CMake option HEXALOOM_JCALG_CHECK_SEARCH: every search is checked against the plain walk (slow;
// for hunting a divergence that the differential fuzz target found).
constexpr bool kCheckSearch = HEXALOOM_JCALG_CHECK_SEARCH;

// Finds exactly the candidates the straightforward walk (JcalgReference.cpp) would accept, in the same order,
// without comparing the ones that cannot change the result.
//
// The walk accepts a candidate when it matches the required length `need` (at first 2, then the length of the
// previously accepted one), and a candidate that matches `need` bytes shares every key taken from its first
// `need` bytes. So besides the exact two-byte chains, chains keyed on 3 to 32 bytes (hashed, built lazily) let
// the walk jump to the next candidate that can be accepted. On top of that:
// - candidates nearer than the nearest three-byte match all match exactly two bytes; the nearest one (or the
//   one at the last distance) is the best of them, so they are not walked;
// - once no farther candidate of length `need` can beat the best gain (an upper bound per distance interval),
//   only candidates matching `need` + 1 bytes (and the one at the last distance, judged in its place) can
//   change anything, and a chain keyed on the last bytes of those need + 1 finds them;
// - once every accepted candidate gets the same length, the walk ends as soon as that bound allows;
// - inside long stretches with a period of 1 to 8 bytes, match lengths follow from the stretch lengths.
template <class Link> class FastSearch
{
public:
    bool Init(const std::uint8_t* data, std::uint32_t length, std::uint32_t window, JcAllocate allocate,
              JcRelease release)
    {
        m_data = data;
        m_length = length;
        m_window = window;
        m_release = release;
        // A node's link is read only while the node is nearer than the window, and it is overwritten only once
        // the ring has wrapped past it, so a ring of at least the window's size suffices.
        std::uint32_t ring = 1;
        while (ring < window && ring < (1u << 31))
            ring <<= 1;
        m_mask = ring - 1;
        // Blocks from a window behind the search position to one past it are in use at once.
        m_blockMask = 2 * (ring / kBlock) - 1;
        m_head2 = static_cast<std::uint32_t*>(allocate(65536 * sizeof(std::uint32_t)));
        m_prev2 = m_head2 ? static_cast<Link*>(allocate(std::size_t{ring} * sizeof(Link))) : nullptr;
        // Up to 16 slots per position of the window, no more than the data has positions.
        const std::uint32_t slotBits = std::clamp<std::uint32_t>(
            static_cast<std::uint32_t>(std::bit_width(std::min<std::uint64_t>(length, std::uint64_t{window} * 16))), 12,
            kSlotBits);
        m_slotShift = 32 - slotBits;
        m_slots = m_prev2 ? static_cast<std::uint32_t*>(allocate((std::size_t{1} << slotBits) * 4)) : nullptr;
        bool ok = m_slots != nullptr;
        for (std::size_t i = 0; ok && i < kPeriods; ++i) {
            m_failures[i] = static_cast<std::uint32_t*>(allocate(std::size_t{m_blockMask + 1} * 4));
            ok = m_failures[i] != nullptr;
        }
        for (std::size_t i = 0; ok && i < kLevels; ++i) {
            m_heads[i] = static_cast<std::uint32_t*>(allocate((std::size_t{1} << kHashBits) * 4));
            m_prevs[i] = m_heads[i] ? static_cast<Link*>(allocate(std::size_t{ring} * sizeof(Link))) : nullptr;
            ok = m_prevs[i] != nullptr;
        }
        if (!ok) {
            Release();
            return false;
        }
        for (std::uint32_t k = 0, level = 0; k < std::size(m_levelAtMost); ++k) {
            while (level + 2 < kLevels && kKeyLengths[level + 1] <= k)
                ++level;
            m_levelAtMost[k] = k >= 3 ? static_cast<std::int8_t>(level) : -1;
        }
        return true;
    }

    void Release()
    {
        for (std::size_t i = 0; i < kLevels; ++i) {
            if (m_prevs[i])
                m_release(m_prevs[i]);
            if (m_heads[i])
                m_release(m_heads[i]);
            m_prevs[i] = nullptr;
            m_heads[i] = nullptr;
        }
        for (std::size_t i = 0; i < kPeriods; ++i) {
            if (m_failures[i])
                m_release(m_failures[i]);
            m_failures[i] = nullptr;
        }
        if (m_slots)
            m_release(m_slots);
        m_slots = nullptr;
        if (m_prev2)
            m_release(m_prev2);
        if (m_head2)
            m_release(m_head2);
        m_prev2 = nullptr;
        m_head2 = nullptr;
    }

    // Chains store position + 1, so zero-filled tables start empty. The longer-key chains are brought up to
    // date only when a search needs them: long keys are rarely needed on data with short matches.
    void Insert(std::uint32_t position)
    {
        Enter(position);
        m_inserted = position + 1;
        // Positions arrive in order: the head and slot a few positions on are likely needed soon (random data
        // misses the cache there).
        if (position + 10 < m_length) {
            __builtin_prefetch(m_head2 + (m_data[position + 4] | m_data[position + 5] << 8));
            __builtin_prefetch(m_slots + SlotOf(position + 8));
        }
    }

    // Insert of every position from first to end - 1 (the positions a match covers). Inside a stretch of a
    // short period P the pairs repeat with period P, and so do their links (the distance back to the same pair
    // is at most P): past the stretch's first 2P positions the links are copied from a pattern, and only the
    // last P positions set the heads.
    void InsertRange(std::uint32_t first, std::uint32_t end)
    {
        std::uint32_t q = first;
        while (q < end) {
            std::uint32_t stop = std::min(end, q + kInsertTry);
            if constexpr (sizeof(Link) == 2) {
                if (end - q >= 2 * kInsertTry) {
                    if (const std::uint32_t period = PeriodAt(q); period != 0) {
                        // Pairs at x repeat those at x - P while data[x + 1] still repeats: x + 1 < the failure.
                        const std::uint32_t failure = FailureFrom(q + period, period, end + 1);
                        stop = std::max(q + 1, std::min(end, failure - 1));
                        if (stop >= q + 2 * period + kInsertTry) {
                            InsertPositions(q, q + 2 * period);
                            m_headFor = UINT32_MAX;
                            FillPeriodic(m_prev2, q, stop, period);
                            for (std::uint32_t x = stop - period; x < stop; ++x)
                                m_head2[Key2(x)] = x + 1;
                            // Three-byte keys repeat too (short of the last two positions): every key of the
                            // stretch recurs among its last 2P + 2 positions.
                            for (std::uint32_t x = std::max(q + 2 * period, stop - 2 * period - 2); x < stop; ++x)
                                EnterSlot(x);
                            q = stop;
                            continue;
                        }
                    }
                }
            }
            InsertPositions(q, stop);
            q = stop;
        }
        m_inserted = end;
        if (end + 4 < m_length)
            __builtin_prefetch(m_head2 + (m_data[end + 3] | m_data[end + 4] << 8));
    }

    // Kept inline: the coder calls it once a position.
    __attribute__((always_inline)) Match Find(std::uint32_t position, std::uint32_t lmax, std::uint32_t indexBits,
                                              std::uint32_t last)
    {
        // A plain if: the checked road is compiled in every build, so it cannot rot while the option is off.
        if (kCheckSearch)
            return CheckedFind(position, lmax, indexBits, last);
        return FastFind(position, lmax, indexBits, last);
    }

    // The search checked against the straightforward walk on the same chains; a difference ends the process
    // with the search's arguments and both results.
    __attribute__((noinline)) Match CheckedFind(std::uint32_t position, std::uint32_t lmax, std::uint32_t indexBits,
                                                std::uint32_t last)
    {
        const Match fast = FastFind(position, lmax, indexBits, last);
        const Match plain = PlainFind(position, lmax, indexBits, last);
        if (fast.distance != plain.distance || fast.length != plain.length || fast.gain != plain.gain) {
            std::fprintf(stderr, "jCalg1 search at %u (lmax %u, B %u, R %u): fast %u/%u/%d, plain walk %u/%u/%d\n",
                         position, lmax, indexBits, last, fast.distance, fast.length, fast.gain, plain.distance,
                         plain.length, plain.gain);
            std::abort();
        }
        return fast;
    }

    // The commonest search on data that does not compress, without the full search's frame: no three-byte
    // candidate in reach (the slot tells); then only the nearest two-byte candidate and the one at the last
    // distance count, exactly as in FullFind, where a short period starting here changes nothing either (so
    // it is looked for only when a three-byte candidate may be in reach). The record that picks the full
    // search's first walk (how far apart searches lie, how long pair chains prove) is kept by full searches
    // only: these never walk a chain, and keeping it here cost a sixth of the time on such data.
    __attribute__((always_inline)) Match FastFind(std::uint32_t position, std::uint32_t lmax, std::uint32_t indexBits,
                                                  std::uint32_t last)
    {
        if (lmax < kPlainBelow || position + 1 != m_inserted)
            return FullFind(position, lmax, indexBits, last);
        const std::uint32_t reach = std::min(m_window, position + 1);
        // Before this position entered, its pair chain's head was the nearest earlier node (one that a 16-bit
        // link would not reach is out of reach anyway).
        std::uint32_t link = m_headBefore;
        if (m_headFor != position) {
            link = m_head2[Key2(position)];
            while (link && link - 1 >= position)
                link = Follow(link, m_prev2[(link - 1) & m_mask]);
        }
        // On such data whether a two-byte candidate is in reach is a coin toss, and the nearest one is nearly
        // always too far to gain anything: the steps below avoid branching on the first, so that the one
        // branch taken nearly always (nothing to gain) is the only one that depends on the chain's head.
        // An empty head or slot (0) gives position + 1, out of reach.
        const std::uint32_t nearest2 = position - (link - 1);
        const bool none = nearest2 >= reach;
        const bool slotInReach = InReach(position, m_slotBefore, reach);
        const std::uint8_t* here = m_data + position;
        if (static_cast<unsigned>(!none) & static_cast<unsigned>(slotInReach)) {
            // The slot holds the newest position with the same hash of three bytes. Where that is another key
            // (a few percent of positions on audio), a few steps along the pair chain usually show that no
            // candidate in reach shares the third byte, and then this stays the search without one. What is
            // found here is handed on: whether a short period may start here, the pair chain's nearest node,
            // and the nearest three-byte candidate when known.
            Known known{link, UINT32_MAX, m_length - position < kLongStretch || !MayHaveShortPeriod(here)};
            if (SameThree(m_data + (m_slotBefore - 1), here)) {
                known.near3 = position - (m_slotBefore - 1);
                return FullFind(position, lmax, indexBits, last, known);
            }
            // ThirdByteWalk's walk, written out: through the helper it cost 5 instructions per byte on audio.
            for (std::uint32_t c = link, steps = 0; c && position - (c - 1) < reach;
                 c = Follow(c, m_prev2[(c - 1) & m_mask])) {
                if (m_data[c + 1] == here[2]) {
                    known.near3 = position - (c - 1);
                    return FullFind(position, lmax, indexBits, last, known);
                }
                if (++steps == kCollisionWalk)
                    return FullFind(position, lmax, indexBits, last, known);
            }
        }
        // The nearest candidate gains nothing from a distance of kAdjustBand2 on (two bytes cost more as a new
        // distance), unless at the last distance; a farther one at the last distance is judged too.
        // Without a branch per condition: whether the last distance lies in reach is a coin toss here. Out of
        // reach, the pair at distance 0 stands in (it always agrees, and the condition fails anyway).
        const std::uint32_t lastAt = last < reach ? last : 0;
        std::uint16_t pairThere, pairHere;
        std::memcpy(&pairThere, here - lastAt, 2);
        std::memcpy(&pairHere, here, 2);
        const bool lastToo = static_cast<unsigned>(last > nearest2) & static_cast<unsigned>(last < reach) &
                             static_cast<unsigned>(pairThere == pairHere);
        if (static_cast<unsigned>(none) | (static_cast<unsigned>(nearest2 >= kAdjustBand2) &
                                           static_cast<unsigned>(nearest2 != last) & static_cast<unsigned>(!lastToo)))
            return {};
        Match best;
        if (const std::int32_t gain = Gain(nearest2, 2, last, indexBits); gain > 0)
            best = {nearest2, 2, gain};
        if (lastToo) {
            if (const std::int32_t gain = Gain(last, 2, last, indexBits); gain > best.gain)
                best = {last, 2, gain};
        }
        return best;
    }

    // What the small search already found out before it handed over.
    struct Known
    {
        std::uint32_t link = 0;           // the pair chain's nearest node (position + 1), 0 when not looked for
        std::uint32_t near3 = UINT32_MAX; // the nearest three-byte candidate's distance, when known
        bool noPeriod = false;            // no short period starts here
    };

    // The search in stages: its state and a short period starting here (Begin); the nearest two-byte candidate
    // (NearestPairNode); the nearest three-byte one (NearestThree); the two-byte-only stretch before it
    // (JudgeTwoByteStretch); then the walk from accepted candidate to accepted candidate over ever longer
    // required lengths, each round settled early where it can be (SettledBySlot, the stretch walks), else
    // along a chain (PairChainStart, HashedChainStart). The stages stay inlined: the walk's state lives in
    // registers across them, and a call between them cost several percent on text.
    __attribute__((noinline)) Match FullFind(std::uint32_t position, std::uint32_t lmax, std::uint32_t indexBits,
                                             std::uint32_t last, Known known = {})
    {
        if (lmax < kPlainBelow)
            return PlainFind(position, lmax, indexBits, last);
        Begin(position, lmax, indexBits, last, known.noPeriod);
        const std::uint32_t reach = std::min(m_window, position + 1); // distances below this exist
        const std::uint32_t link = known.link != 0 ? known.link : NearestPairNode(position);
        if (!InReach(position, link, reach))
            return m_best;
        const std::uint32_t nearest2 = position - (link - 1);
        bool pairChainLong = false;
        const std::uint32_t near3 = NearestThree(position, link, reach, known.near3, pairChainLong);
        JudgeTwoByteStretch(nearest2, near3, reach, last);
        if (near3 == 0)
            return m_best;

        std::uint32_t need = 2;
        std::uint32_t current = position - near3;
        if (Accept(current, near3, need, 3))
            return m_best;
        // The candidate at the last distance is judged in its place in distance order even when the chain walked
        // does not hold it (a chain of need + 1 bytes, while it matches exactly `need`).
        bool lastPending = last > near3 && last < reach;
        // Every candidate at this distance or nearer has been judged.
        std::uint32_t passed = near3;
        // The walk starts on the exact pair chains, which cost nothing to keep; where they prove long (text,
        // code), it goes on along the hashed longer-key chains.
        bool hashed = pairChainLong;
        std::uint32_t skipFrom = 0;
        bool baseTried = false;
        std::uint32_t base = 0;
        std::uint32_t basePeriod = 0;
        std::uint32_t baseStretch = 0;

        // Judges the candidate at distance d > passed, and first the one at the last distance when the walk
        // passes it.
        enum class Step { Next, Accepted, Done };
        auto judge = [&](std::uint32_t d) __attribute__((always_inline))
        {
            if (static_cast<unsigned>(lastPending) & static_cast<unsigned>(d >= last)) {
                lastPending = false;
                if (Matches(position - last, need)) {
                    current = position - last;
                    passed = last;
                    return Accept(current, last, need, need) ? Step::Done : Step::Accepted;
                }
            }
            if (d >= reach)
                return Step::Done;
            const std::uint32_t candidate = position - d;
            const std::uint32_t want = d >= skipFrom ? need + 1 : need;
            if (m_data[candidate + want - 1] != m_here[want - 1] || !Matches(candidate, want))
                return Step::Next;
            current = candidate;
            passed = d;
            return Accept(candidate, d, need, want) ? Step::Done : Step::Accepted;
        };

        for (;;) {
            RunAlongStretch(current, need, passed, lastPending);
            const bool fixedLength = CappedLength(need, lmax) == need;
            skipFrom = SkipFrom(need, passed + 1);
            if (fixedLength && skipFrom <= passed + 1) {
                // Only the last distance, still ahead, can change the result.
                if (lastPending && Gain(last, need, last, indexBits) > m_best.gain &&
                    Agree(position - last, 0, need) == need)
                    m_best = {last, need, Gain(last, need, last, indexBits)};
                return m_best;
            }
            // Every candidate that can still change the result (besides the one at the last distance) shares
            // its first `width` bytes with the current position: once candidates of exactly `need` bytes are
            // useless from here on, it matches need + 1 bytes. So it lies on every chain keyed on some of those
            // bytes, at the offset of the key.
            const std::uint32_t width = skipFrom <= passed + 1 ? need + 1 : need;
            // The accepted candidate at distance d0 matches exactly `need` bytes: the data from d0 before the
            // current position on repeats with period d0 for need + d0 bytes. A candidate at a distance
            // d <= need - d0 matching more than `need` bytes would make that period go on past them, so
            // none does.
            const std::uint32_t d0 = position - current;
            if (width > need && m_currentExact && need >= d0)
                passed = std::max(passed, need - d0);
            if (SettledBySlot(position, reach, last, width, need, passed, lastPending))
                return m_best;
            // Inside a long stretch of period P every candidate lies in a stretch of the same bytes: the walk
            // goes from stretch to stretch, not from position to position. Where the width goes past the
            // stretch's end, a rare pair across that end usually serves better (bitmaps of 24 bits), unless
            // its chain proves long too.
            if (m_period != 0 && std::min(width, m_stretch) >= kStretchWalk && (width <= m_stretch || hashed)) {
                const Step step = StretchWalk(width, need, skipFrom, passed, judge, 0, m_period, m_stretch);
                if (step == Step::Accepted)
                    continue;
                return m_best;
            }
            // A long stretch a few bytes on serves the same way when the width goes past its end: every candidate
            // has a stretch there that ends at the same offset.
            if (hashed && m_period == 0 && width >= 2 * kStretchWalk) {
                if (!baseTried) {
                    baseTried = true;
                    FindBase(width, std::min(passed + 1, kBaseSearch), base, basePeriod, baseStretch);
                }
                if (base != 0 && base <= passed + 1 && width > base + baseStretch) {
                    const Step step = StretchWalk(width, need, skipFrom, passed, judge, base, basePeriod, baseStretch);
                    if (step == Step::Accepted)
                        continue;
                    return m_best;
                }
            }
            // Where the four-byte chains are being kept up to date anyway (they served a search a few positions
            // back), they beat a pair chain that shares only two of the bytes.
            if (!hashed && width >= 4 && m_period == 0 && m_built[1] + kFreshChain >= m_inserted)
                hashed = true;
            // The few distances below those a pair chain spanning the last two of the `width` bytes can reach
            // are judged one by one.
            if (!hashed && width - 2 > passed && width - 2 - passed <= kDirect) {
                Step step = Step::Next;
                for (std::uint32_t d = passed + 1; d <= width - 2 && step == Step::Next; ++d)
                    step = judge(d);
                if (step == Step::Done)
                    return m_best;
                if (step == Step::Accepted)
                    continue;
                passed = width - 2;
            }
            const Link* prev;
            std::uint32_t c;
            std::uint32_t offset = 0;
            std::uint32_t steps = 0;
            std::int8_t settledFrom = -1; // the level a shorter key stands in for
            if (!hashed) {
                PairChainStart(position, width, need, passed, current, prev, c, offset, steps);
            } else {
                // Chains of the longest key every such candidate must share. The sampled chains hold only every
                // kSample-th position; a candidate lies on one of the kSample chains keyed at consecutive
                // offsets, so the walk merges them in distance order.
                constexpr std::uint32_t sampledKey = kKeyLengths[kLevels - 1];
                if (!m_startHashed && width > need && width >= sampledKey + kSample - 1 &&
                    width - sampledKey <= passed + 1) {
                    const Step step = SampledWalk(width, passed, judge);
                    if (step == Step::Done)
                        return m_best;
                    if (step == Step::Accepted)
                        continue;
                }
                HashedChainStart(position, width, need, passed, current, prev, c, offset, settledFrom);
            }
            bool accepted = false;
            bool switched = false;
            for (;; c = Follow(c, prev[(c - 1) & m_mask])) {
                if (settledFrom >= 0 && ++steps == kSettledWalk)
                    Need(static_cast<std::size_t>(settledFrom));
                const bool more = c > offset; // a node below the offset would lie before the data
                const std::uint32_t d = more ? position - (c - 1 - offset) : UINT32_MAX;
                if (d <= passed) {
                    if (!hashed && ++steps > kPairWalk) {
                        switched = true;
                        break;
                    }
                    continue;
                }
                if (!hashed && d < reach && ++steps > kPairWalk) {
                    // A long pair chain; it holds no candidate between the last one judged and this one.
                    passed = d - 1;
                    switched = true;
                    break;
                }
                const Step step = judge(d);
                if (step == Step::Done)
                    return m_best;
                if (step == Step::Accepted) {
                    accepted = true;
                    break;
                }
            }
            if (switched) {
                hashed = true;
                m_pairsLong = true;
            } else if (!accepted) {
                return m_best;
            }
        }
    }

private:
    // A candidate matching `width` bytes shares their last three with the current position, at an entered
    // position: when the slot of those three bytes holds nothing in reach, no candidate is left to accept, and
    // only the one at the last distance (matching `need` bytes, never more) can still change the result. Audio
    // settles most of its full searches here, where a walk would judge two or three pair-chain nodes to find
    // nothing.
    __attribute__((always_inline)) bool SettledBySlot(std::uint32_t position, std::uint32_t reach, std::uint32_t last,
                                                      std::uint32_t width, std::uint32_t need, std::uint32_t passed,
                                                      bool lastPending)
    {
        if (width >= 4 && passed + 4 >= width && position + 1 == m_inserted &&
            NoneInReach(position + width - 3, reach)) {
            if (width > need && lastPending && Matches(position - last, need))
                Consider(last, need);
            return true;
        }
        return false;
    }

    // The pair chain keyed on the last two of the `width` bytes, from its first node beyond the distance
    // passed: at the edge of a stretch they are rare. The accepted candidate lies on it when the width is its
    // own length. Its nodes are candidate + offset, and only positions up to the current one are in the
    // chains.
    __attribute__((always_inline)) void PairChainStart(std::uint32_t position, std::uint32_t width, std::uint32_t need,
                                                       std::uint32_t passed, std::uint32_t current, const Link*& prev,
                                                       std::uint32_t& c, std::uint32_t& offset, std::uint32_t& steps)
    {
        offset = std::min(width - 2, passed);
        // Inside a long stretch every pair recurs at each period; the pair across the stretch's end is rare.
        // Any offset up to that one serves.
        if (m_period != 0 && m_stretch - 1 < offset)
            offset = m_stretch - 1;
        prev = m_prev2;
        if (width == need && passed == position - current) {
            c = Follow(current + offset + 1, prev[(current + offset) & m_mask]);
        } else {
            c = m_head2[Key2(position + offset)];
            while (c && (c - 1 >= position + offset || position + offset - (c - 1) <= passed) && steps < kPairWalk) {
                c = Follow(c, prev[(c - 1) & m_mask]);
                ++steps;
            }
        }
    }

    // A hashed chain keyed on the last bytes of the `width` (at an offset), from its head; or, where many of
    // its nodes lie nearer than the distance passed, the chain of a key of `need` bytes from the current
    // candidate. `settledFrom` is set where a shorter key stands in for a lagging level.
    __attribute__((always_inline)) void HashedChainStart(std::uint32_t position, std::uint32_t width,
                                                         std::uint32_t need, std::uint32_t passed,
                                                         std::uint32_t current, const Link*& prev, std::uint32_t& c,
                                                         std::uint32_t& offset, std::int8_t& settledFrom)
    {
        const std::int8_t top = m_startHashed ? kLevels - 2 : kLevels - 3;
        const std::int8_t below = Settle(LevelFor(width, top), settledFrom);
        bool fromHead = false;
        if (width > need && width - kKeyLengths[below] <= passed + 1) {
            const std::int8_t level = below;
            offset = width - kKeyLengths[level];
            Need(level);
            prev = m_prevs[level];
            // Nodes are candidate + offset; those at or nearer than the distance passed are done. Where many of
            // them lie nearer (runs, where each farther candidate is one byte longer), continuing from the
            // current candidate is cheaper.
            c = m_heads[level][HashAt(position + offset, kKeyLengths[level])];
            int budget = kHeadSkip;
            while (c && (c - 1 >= position + offset || position + offset - (c - 1) <= passed) && --budget)
                c = Follow(c, prev[(c - 1) & m_mask]);
            fromHead = budget > 0;
        }
        if (!fromHead) {
            const std::int8_t level = Settle(LevelFor(need, top), settledFrom);
            offset = 0;
            Need(level);
            prev = m_prevs[level];
            c = Follow(current + 1, prev[current & m_mask]);
        }
    }

    // The search's state, and the short period of a long stretch starting here, if any.
    __attribute__((always_inline)) void Begin(std::uint32_t position, std::uint32_t lmax, std::uint32_t indexBits,
                                              std::uint32_t last, bool noPeriod)
    {
        // The last full search's walk counts towards the choice of this one's.
        if (!m_startHashed)
            m_pairScore = m_pairsLong ? std::min(m_pairScore + 2, kPairScoreMax) : std::max(m_pairScore - 1, 0);
        m_here = m_data + position;
        m_lmax = lmax;
        m_indexBits = indexBits;
        m_last = last;
        m_best = {};
        m_period = 0;
        if (!noPeriod && m_length - position >= kLongStretch && MayHaveShortPeriod(m_here)) {
            for (std::uint32_t period = 1; period <= kPeriods; ++period) {
                if (m_here[period] == m_here[0] && std::memcmp(m_here + period, m_here, kLongStretch - period) == 0) {
                    m_period = period;
                    BuildStretches(period);
                    m_stretch = StretchEnd(period, position) - position;
                    break;
                }
            }
        }
    }

    // The pair chain's nearest node before the position (position + 1, 0 for none).
    __attribute__((always_inline)) std::uint32_t NearestPairNode(std::uint32_t position) const
    {
        std::uint32_t link = m_head2[Key2(position)];
        while (link && link - 1 >= position)
            link = Follow(link, m_prev2[(link - 1) & m_mask]);
        return link;
    }

    // The nearest three-byte candidate's distance (0 for none in reach): first along the pair chain from
    // `link`, which needs nothing built; where that chain is long, along the hashed three-byte chain.
    // Also picks the chains this search starts on; `pairChainLong` tells the walk to start on hashed ones.
    __attribute__((always_inline)) std::uint32_t NearestThree(std::uint32_t position, std::uint32_t link,
                                                              std::uint32_t reach, std::uint32_t knownNear3,
                                                              bool& pairChainLong)
    {
        std::uint32_t near3 = 0;
        // Where the pair chains proved long in most recent searches and searches come close together (text,
        // code), the walk starts on the hashed chains; every 16th search tries the pair chains again. Where
        // searches lie far apart (long matches), keeping the hashed chains costs more than walking pairs.
        const std::uint32_t gap = std::min(position - m_lastSearch, kGapCap);
        m_lastSearch = position;
        m_gapAverage = (m_gapAverage * 7 + gap * 16) / 8;
        m_startHashed = m_pairScore >= kPairScoreHashed && m_gapAverage < kCloseSearches * 16 &&
                        (++m_searches & (kPairRetry - 1)) != 0;
        m_pairsLong = false;
        pairChainLong = m_startHashed && !Stale(0);
        // The newest earlier position with the same hash of three bytes (the slot before this position was
        // entered) decides at once when it lies out of reach (no three-byte candidate in reach: it would be
        // newer) or matches three bytes (the nearest one: a nearer one would be newer).
        bool decided = false;
        if (knownNear3 != UINT32_MAX) {
            near3 = knownNear3;
            decided = true;
        } else if (position + 1 == m_inserted) {
            const std::uint32_t before = m_slotBefore;
            if (!InReach(position, before, reach)) {
                decided = true;
            } else if (SameThree(m_data + (before - 1), m_here)) {
                near3 = position - (before - 1);
                decided = true;
            }
        }
        if (!decided && !pairChainLong) {
            // A long pair chain hands over to the three-byte chains; where those lag far behind (rarely
            // needed here) the pair walk goes on for longer first.
            const std::uint32_t found = ThirdByteWalk(position, link, reach, Stale(0) ? kStalePairWalk : kPairWalk);
            if (found == UINT32_MAX)
                pairChainLong = true;
            else
                near3 = found;
        }
        m_pairsLong = pairChainLong;
        if (!decided && pairChainLong) {
            Need(0);
            std::uint32_t c = m_heads[0][HashAt(position, 3)];
            while (c) {
                const std::uint32_t candidate = c - 1;
                if (candidate < position) {
                    if (position - candidate >= reach)
                        break;
                    const std::uint8_t* there = m_data + candidate;
                    if (there[0] == m_here[0] && there[1] == m_here[1] && there[2] == m_here[2]) {
                        near3 = position - candidate;
                        break;
                    }
                }
                c = Follow(c, m_prevs[0][candidate & m_mask]);
            }
        }
        return near3;
    }

    // The two-byte-only stretch: gains fall with distance, so the nearest is its best, unless the last
    // distance lies in it.
    __attribute__((always_inline)) void JudgeTwoByteStretch(std::uint32_t nearest2, std::uint32_t near3,
                                                            std::uint32_t reach, std::uint32_t last)
    {
        if (near3 == 0 || nearest2 < near3) {
            Consider(nearest2, 2);
            if (last != nearest2 && last > nearest2 && last < reach && (near3 == 0 || last < near3) &&
                m_here[-static_cast<std::ptrdiff_t>(last)] == m_here[0] &&
                m_here[1 - static_cast<std::ptrdiff_t>(last)] == m_here[1])
                Consider(last, 2);
        }
    }

    // The accepted candidate lies in a stretch of the current position's short period P and matches exactly
    // the rest of that stretch, which ends before the current position's own: then each candidate P farther
    // back in the same stretch matches P bytes more, the candidates between them fewer than P bytes (another
    // phase of the period; P is the shortest one), and each of those is accepted in turn. Their lengths and
    // gains follow from the stretch, so they are accepted here without a walk.
    void RunAlongStretch(std::uint32_t& current, std::uint32_t& need, std::uint32_t& passed, bool& lastPending)
    {
        const std::uint32_t period = m_period;
        if (period == 0 || !m_currentExact || need < period || need >= m_stretch || need + 16 >= m_lmax)
            return;
        const std::uint32_t end = StretchEnd(period, current);
        if (end - current != need)
            return;
        const std::uint32_t position = static_cast<std::uint32_t>(m_here - m_data);
        const std::uint32_t limit = std::min(m_stretch, m_lmax - 16);
        const std::uint32_t reach = std::min(m_window, position + 1);
        // A candidate c - period lies in the same stretch when no failure (data[i] != data[i - period]) lies in
        // [c, end); none lies in [current + period, end). The lowest such c the length limit allows
        // (current - c < limit) is found by halving, each probe one look-up of the next failure.
        const std::uint32_t floor = std::max(current > limit ? current - limit : 0, period);
        std::uint32_t lowest = current + period; // no failure in [lowest, end)
        if (StretchEnd(period, floor - period) >= current + period) {
            lowest = floor;
        } else {
            std::uint32_t below = floor; // a failure lies in [below, current + period)
            while (lowest - below > 1) {
                const std::uint32_t middle = below + (lowest - below) / 2;
                if (StretchEnd(period, middle - period) >= current + period)
                    lowest = middle;
                else
                    below = middle;
            }
        }
        // Steps back by the period: each stays in the stretch, within the window and below the length limit.
        const std::uint32_t dist0 = position - current;
        const std::uint32_t low = std::max(period, lowest);
        std::uint32_t steps = current >= low ? (current - low) / period + 1 : 0;
        steps = std::min(steps, (reach - 1 - dist0) / period);
        steps = std::min(steps, limit > need ? (limit - 1 - need) / period : 0);
        // The gain of step j (distance dist0 + jP, length need + jP) grows with j (8P bits more against a
        // cost at most 6 bits higher) except for the short token (length <= 5) and the last distance, so the
        // best lies at one of those or at the last step: only they are judged, in order.
        auto consider = [&](std::uint32_t j) {
            const std::uint32_t distance = dist0 + j * period;
            const std::uint32_t length = need + j * period;
            const std::int32_t gain = Gain(distance, length, m_last, m_indexBits);
            if (gain > m_best.gain)
                m_best = {distance, length, gain};
        };
        const std::uint32_t lastStep = m_last > dist0 && (m_last - dist0) % period == 0 ? (m_last - dist0) / period : 0;
        std::uint32_t j = 1;
        for (; j <= steps && need + j * period <= 5; ++j)
            consider(j);
        if (lastStep >= j && lastStep < steps)
            consider(lastStep);
        if (steps >= j)
            consider(steps);
        const std::uint32_t c = current - steps * period;
        const std::uint32_t length = need + steps * period;
        if (c == current)
            return;
        current = c;
        need = length;
        passed = position - c;
        if (lastPending && m_last <= passed)
            lastPending = false;
    }

    // The current position's first min(width, stretch) bytes (at least kStretchWalk) have period P, and so do
    // every candidate's: it lies in a failure-free interval [a, e) (no data[i] != data[i - P] for i in it)
    // with c + P >= a and c + min(width, stretch) <= e, which holds a whole block (at least 2 blocks + P).
    // Such intervals are found from the block table, nearest first, and in each only the candidates that can
    // be accepted are judged, in distance order: with the first P bytes in phase, a candidate matches
    // min(e - c, stretch) bytes (Agree), or more when e - c equals the stretch, the only one that can match
    // more than the stretch. Ends with a judgement beyond the window (which judges a pending last
    // distance), so it never returns Step::Next.
    template <class Judge>
    auto StretchWalk(std::uint32_t width, std::uint32_t need, std::uint32_t skipFrom, std::uint32_t passed,
                     Judge& judge, std::uint32_t base, std::uint32_t period, std::uint32_t stretch)
        -> decltype(judge(0u))
    {
        using Step = decltype(judge(0u));
        const std::uint32_t* const table = m_failures[period - 1];
        const std::uint32_t position = static_cast<std::uint32_t>(m_here - m_data);
        const std::uint32_t reach = std::min(m_window, position + 1);
        if (passed + 1 >= reach || position < passed + 1)
            return judge(UINT32_MAX);
        // Candidates c lie in [lo, hi] - base: c + base is the start of the stretch looked at.
        const std::uint32_t hi = position - passed - 1 + base;
        const std::uint32_t lo = position - reach + 1 + base;
        auto freeBlock = [&](std::uint32_t k) { return table[k & m_blockMask] >= (std::uint64_t{k} + 1) * kBlock; };
        const std::uint32_t span = std::min(width, stretch);
        // The block wholly inside [c + P, c + span) of the nearest candidate; candidates farther back have
        // theirs at or below it.
        std::int64_t k = (std::int64_t{hi} + period + kBlock - 1) / kBlock;
        const std::int64_t kLow = lo / kBlock;
        while (k >= kLow) {
            if (!freeBlock(static_cast<std::uint32_t>(k))) {
                --k;
                continue;
            }
            const std::uint32_t e = table[k & m_blockMask];
            std::int64_t low = k;
            while (low > kLow && freeBlock(static_cast<std::uint32_t>(low - 1)))
                --low;
            // The interval's start: one past the last failure below block `low`, looked for byte by byte within
            // the block below it (which holds a failure unless it lies before the window).
            std::int64_t a = 0;
            if (low > kLow) {
                std::uint32_t i = static_cast<std::uint32_t>(low) * kBlock;
                while (i > period && m_data[i - 1] == m_data[i - 1 - period])
                    --i;
                a = i;
            }
            k = low - 1;
            const std::int64_t first = std::max<std::int64_t>(a - period, lo);
            const std::int64_t top = std::min<std::int64_t>(std::int64_t{e} - span, hi);
            if (top < first)
                continue;
            // The one phase whose first P bytes agree (P is the shortest period, so at most one does).
            std::int64_t c = top;
            while (c > top - period && c >= first && std::memcmp(m_data + c, m_here + base, period) != 0)
                --c;
            if (c <= top - period || c < first)
                continue;
            auto distance = [&](std::int64_t x) { return position + base - static_cast<std::uint32_t>(x); };
            auto want = [&](std::int64_t x) { return distance(x) >= skipFrom ? need + 1 : need; };
            // Candidates matching e - c < stretch bytes: the nearest that matches enough, and the next.
            if (std::int64_t{e} - c < stretch && width <= stretch) {
                const std::int64_t enough = std::int64_t{e} - need;
                if (c > enough)
                    c -= (c - enough + period - 1) / period * period;
                for (int tries = 0; tries < 2 && c >= first && std::int64_t{e} - c < stretch; ++tries, c -= period) {
                    if (std::int64_t{e} - c < want(c))
                        continue;
                    const Step step = judge(distance(c));
                    if (step != Step::Next)
                        return step;
                }
                // Those left below the stretch length match too little.
                if (c >= first && std::int64_t{e} - c < stretch)
                    c -= (c - (std::int64_t{e} - stretch) + period - 1) / period * period;
            }
            if (c < first)
                continue;
            // The candidate whose stretch ends where the current position's does: the bytes after may agree.
            if (std::int64_t{e} - c == stretch) {
                const Step step = judge(distance(c));
                if (step != Step::Next)
                    return step;
                c -= period;
            }
            // Farther ones match exactly `stretch` bytes; `want` only grows with the distance.
            if (c >= first && stretch >= want(c) && base == 0) {
                const Step step = judge(distance(c));
                if (step != Step::Next)
                    return step;
            }
        }
        return judge(UINT32_MAX);
    }

    // The first offset in [1, limit] where a stretch of a short period and at least kStretchWalk bytes starts
    // and ends within the width, with its period and length; base stays 0 when there is none.
    void FindBase(std::uint32_t width, std::uint32_t limit, std::uint32_t& base, std::uint32_t& period,
                  std::uint32_t& stretch)
    {
        const std::uint32_t position = static_cast<std::uint32_t>(m_here - m_data);
        for (std::uint32_t o = 1; o <= limit && o + kStretchWalk < width;) {
            const std::uint32_t p = PeriodAt(position + o);
            if (p == 0) {
                ++o;
                continue;
            }
            BuildStretches(p, o); // the stretch end at position + o is looked up
            const std::uint32_t length = StretchEnd(p, position + o) - (position + o);
            if (length >= kStretchWalk && o + length < width && position + o + length < m_length) {
                base = o;
                period = p;
                stretch = length;
                return;
            }
            o += length - p + 1; // later starts inside this stretch end at the same place
        }
    }

    // Walks the sampled chains of the longest key in distance order, judging each candidate beyond the
    // distance passed, until one is accepted or none is left; Step::Next when their heads lie too far
    // behind (then nothing was judged).
    template <class Judge>
    auto SampledWalk(std::uint32_t width, std::uint32_t passed, Judge& judge) -> decltype(judge(0u))
    {
        constexpr std::size_t level = kLevels - 1;
        constexpr std::uint32_t key = kKeyLengths[level];
        Need(level);
        const Link* const prev = m_prevs[level];
        const std::uint32_t position = static_cast<std::uint32_t>(m_here - m_data);
        std::uint32_t nodes[kSample];
        std::uint32_t offsets[kSample];
        for (std::uint32_t t = 0; t < kSample; ++t) {
            offsets[t] = width - key - (kSample - 1) + t;
            std::uint32_t n = m_heads[level][HashAt(position + offsets[t], key)];
            int budget = kHeadSkip;
            while (n && (n - 1 >= position + offsets[t] || position + offsets[t] - (n - 1) <= passed) && --budget)
                n = Follow(n, prev[(n - 1) & m_mask]);
            if (budget == 0)
                return decltype(judge(0u))::Next;
            nodes[t] = n;
        }
        for (;;) {
            std::uint32_t pick = kSample;
            std::uint32_t nearest = 0;
            for (std::uint32_t t = 0; t < kSample; ++t) {
                if (nodes[t] > offsets[t] && (pick == kSample || nodes[t] - 1 - offsets[t] > nearest)) {
                    pick = t;
                    nearest = nodes[t] - 1 - offsets[t];
                }
            }
            std::uint32_t d = UINT32_MAX;
            if (pick != kSample) {
                d = position - nearest;
                nodes[pick] = Follow(nodes[pick], prev[(nodes[pick] - 1) & m_mask]);
            }
            if (d <= passed)
                continue;
            const auto step = judge(d);
            if (step != decltype(step)::Next)
                return step;
        }
    }

    // The last level repeats the longest key for every kSample-th position only: searches that start on the
    // pair chains use it (on long-match data the full chain of that key would cost more than the rest of the
    // search); searches that start on the hashed chains use the full one.
    static constexpr std::size_t kLevels = 8;
    static constexpr std::uint32_t kKeyLengths[kLevels] = {3, 4, 6, 8, 12, 16, 32, 32};
    static constexpr std::uint32_t kHashBits = 15;
    static constexpr std::uint32_t kSlotBits = 20;
    // Multiplicative hashing: odd constants near 2^64 and 2^32 divided by the golden ratio spread the keys'
    // bits over the top bits, which index the tables.
    static constexpr std::uint64_t kMultiplier = 0x9E3779B97F4A7C15ull;
    static constexpr std::uint32_t kSlotMultiplier = 2654435761u;
    static constexpr std::uint32_t kPeriods = 8;
    static constexpr std::uint32_t kLongStretch = 32;
    // Positions per entry of the stretch tables (first failure per block).
    static constexpr std::uint32_t kBlock = 16;
    // Positions entered one by one before a range of inserted positions is looked at for a period again.
    static constexpr std::uint32_t kInsertTry = 32;
    // Shortest width for the walk from stretch to stretch: two blocks and a period.
    static constexpr std::uint32_t kStretchWalk = 2 * kBlock + kPeriods;
    // Offsets looked at for a stretch to walk from where the current position starts none.
    static constexpr std::uint32_t kBaseSearch = 64;
    // Nodes walked along a pair chain before the walk turns to the hashed chains.
    static constexpr std::uint32_t kPairWalk = 32;
    // Positions a longer-key chain may lag behind and still count as kept up to date.
    static constexpr std::uint32_t kFreshChain = 512;
    // Pair-chain nodes the small search looks at for a third byte before it hands over to the full one.
    static constexpr std::uint32_t kCollisionWalk = 9;
    // Positions behind the newest from which a level's chains count as lagging far behind.
    static constexpr std::uint32_t kStaleLevel = 1024;
    // Pair-chain nodes walked for a three-byte candidate while the three-byte chains lag far behind.
    static constexpr std::uint32_t kStalePairWalk = 256;
    // Nodes walked on a shorter key's chains after which the lagging level is brought up to date for the
    // searches that follow (the data may have changed its kind).
    static constexpr std::uint32_t kSettledWalk = 256;
    // Distances judged one by one where a pair chain cannot reach them.
    static constexpr std::uint32_t kDirect = 8;
    // The longest key's chains hold every kSample-th position.
    static constexpr std::uint32_t kSample = 8;

    // Below this maximum length the plain walk is the search: the stages compare in whole words and read up
    // to 16 bytes past the position, which a shorter rest may not have.
    static constexpr std::uint32_t kPlainBelow = 16;
    // Nodes a walk skips from a chain's head before it goes on from the accepted candidate instead.
    static constexpr int kHeadSkip = 16;
    // The record that picks a full search's first chains: it rises by 2 (to at most kPairScoreMax) after a
    // search that found the pair chains long and falls by 1 after one that did not; from kPairScoreHashed on,
    // searches that come close together (less than kCloseSearches bytes apart on average, gaps counted up to
    // kGapCap) start on the hashed chains, except every kPairRetry-th, which tries the pair chains again.
    static constexpr int kPairScoreMax = 8;
    static constexpr int kPairScoreHashed = 4;
    static constexpr std::uint32_t kCloseSearches = 32;
    static constexpr std::uint32_t kGapCap = 4096;
    static constexpr std::uint32_t kPairRetry = 16;

    // Chain links: a node (position + 1) refers to the next older node of its chain (position + 1, 0 for none).
    // With 16-bit links the older node is stored as the distance back, which a window of at most 65536 never
    // needs beyond 65535: an older node farther back is out of every later search's window. (Without a branch:
    // on music and audio whether the older node is that far is a coin toss.)
    static Link MakeLink(std::uint32_t node, std::uint32_t older)
    {
        if constexpr (sizeof(Link) == 2) {
            const std::uint32_t back = node - older;
            const auto near = static_cast<unsigned>(older != 0) & static_cast<unsigned>(back <= 0xFFFF);
            return static_cast<Link>(back & (0u - near));
        } else {
            return older;
        }
    }

    static std::uint32_t Follow(std::uint32_t node, Link link)
    {
        if constexpr (sizeof(Link) == 2)
            return link ? node - link : 0;
        else
            return link;
    }

    std::uint32_t Key2(std::uint32_t position) const { return m_data[position] | m_data[position + 1] << 8; }

    // Whether the 32 bytes at p may have a period up to 8 (needs 18 bytes at p): the first two bytes recur
    // P bytes on for some P (with SSE2 tested for all P at once, without a branch; audio samples, whose high
    // bytes repeat, rarely pass), and then the first 8 bytes do.
    static bool MayHaveShortPeriod(const std::uint8_t* p)
    {
#ifdef __SSE2__
        // Bit P - 1 of recurs(i): p[i] recurs P bytes on.
        const auto recurs = [p](std::uint32_t i) {
            const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 1 + i));
            return static_cast<std::uint32_t>(
                _mm_movemask_epi8(_mm_cmpeq_epi8(next, _mm_set1_epi8(static_cast<char>(p[i])))));
        };
        if ((recurs(0) & recurs(1) & 0xFFu) == 0)
            return false;
#else
        constexpr std::uint64_t ones = 0x0101010101010101ull;
        std::uint64_t x;
        std::memcpy(&x, p + 1, 8);
        x ^= ones * p[0];
        if (((x - ones) & ~x & (ones << 7)) == 0)
            return false;
#endif
        std::uint64_t first;
        std::memcpy(&first, p, 8);
        unsigned any = 0;
        for (std::uint32_t period = 1; period <= kPeriods; ++period) {
            std::uint64_t w;
            std::memcpy(&w, p + period, 8);
            any |= static_cast<unsigned>(w == first);
        }
        return any != 0;
    }

    void InsertPositions(std::uint32_t q, std::uint32_t end)
    {
        for (; q < end; ++q) {
            if (q + 10 < m_length)
                __builtin_prefetch(m_slots + SlotOf(q + 8));
            Enter(q);
        }
    }

    // Puts a position at the head of its pair chain and into its three-byte slot, keeping the head and the
    // slot it replaced for the search that follows. Everything is read before the tables are written: for all
    // the compiler knows, a write to a table may change the members, which it would then read again (and the
    // search right after reads them).
    __attribute__((always_inline)) void Enter(std::uint32_t q)
    {
        const std::uint32_t key2 = Key2(q);
        const std::uint32_t before = m_head2[key2];
        std::uint32_t* slot = nullptr;
        std::uint32_t slotBefore = 0;
        if (q + 2 < m_length) {
            slot = m_slots + SlotOf(q);
            slotBefore = *slot;
        }
        m_prev2[q & m_mask] = MakeLink(q + 1, before);
        m_head2[key2] = q + 1;
        if (slot)
            *slot = q + 1;
        m_headBefore = before;
        m_headFor = q;
        m_slotBefore = slotBefore;
    }

    // The slot of a position's three bytes holds the newest position entered with that hash; the one it held
    // before is kept for the search at that position. (Enter does the same inline, in the order its search
    // needs: a shared helper there cost 4 instructions per byte on audio.)
    void EnterSlot(std::uint32_t q)
    {
        if (q + 2 < m_length) {
            std::uint32_t& slot = m_slots[SlotOf(q)];
            m_slotBefore = slot;
            slot = q + 1;
        } else {
            m_slotBefore = 0;
        }
    }

    // Whether no entered position within `reach` before q has the hash of the three bytes at q (the slot holds
    // the newest one; every position entered so far lies before q).
    bool NoneInReach(std::uint32_t q, std::uint32_t reach) const
    {
        return !InReach(q, m_slots[SlotOf(q)], reach);
    }

    // Whether a node (position + 1, 0 for none) lies less than `reach` before q. No reach exceeds q + 1, the
    // distance an empty node gives.
    static bool InReach(std::uint32_t q, std::uint32_t node, std::uint32_t reach)
    {
        return q - (node - 1) < reach;
    }

    // The pair chain from `link` (nodes whose first two bytes are the position's), nearest first: the distance
    // of the first node within reach that shares the third byte too; 0 when the chain leaves the reach first,
    // UINT32_MAX when `limit` nodes were looked at in vain.
    __attribute__((always_inline)) std::uint32_t ThirdByteWalk(std::uint32_t position, std::uint32_t link,
                                                               std::uint32_t reach, std::uint32_t limit) const
    {
        const std::uint8_t third = m_data[position + 2];
        for (std::uint32_t c = link, steps = 0; InReach(position, c, reach); c = Follow(c, m_prev2[(c - 1) & m_mask])) {
            if (m_data[c + 1] == third)
                return position - (c - 1);
            if (++steps == limit)
                return UINT32_MAX;
        }
        return 0;
    }

    // Whether the three bytes at a and at b agree.
    static bool SameThree(const std::uint8_t* a, const std::uint8_t* b)
    {
        return a[0] == b[0] && a[1] == b[1] && a[2] == b[2];
    }

    std::uint32_t SlotOf(std::uint32_t q) const
    {
        const std::uint32_t v = m_data[q] | m_data[q + 1] << 8 | m_data[q + 2] << 16;
        return (v * kSlotMultiplier) >> m_slotShift;
    }

    // The shortest period up to kPeriods of the 32 bytes at q, or 0 (needs q + 40 <= length).
    std::uint32_t PeriodAt(std::uint32_t q) const
    {
        const std::uint8_t* p = m_data + q;
        if (!MayHaveShortPeriod(p))
            return 0;
        for (std::uint32_t period = 1; period <= kPeriods; ++period)
            if (p[period] == p[0] && std::memcmp(p + period, p, kLongStretch) == 0)
                return period;
        return 0;
    }

    // The first i >= from, below limit, with data[i] != data[i - period]; limit if none.
    std::uint32_t FailureFrom(std::uint32_t from, std::uint32_t period, std::uint32_t limit) const
    {
        std::uint32_t i = from;
        for (; i + 8 <= limit; i += 8) {
            std::uint64_t x, y;
            std::memcpy(&x, m_data + i, 8);
            std::memcpy(&y, m_data + i - period, 8);
            if (x != y)
                return i + static_cast<std::uint32_t>(__builtin_ctzll(x ^ y) >> 3);
        }
        while (i < limit && m_data[i] == m_data[i - period])
            ++i;
        return i;
    }

    // Links of positions q + 2P .. stop - 1, copied from those of q + P .. q + 2P - 1 (16-bit links: distances).
    void FillPeriodic(Link* prev, std::uint32_t q, std::uint32_t stop, std::uint32_t period)
    {
        Link pattern[64 + kPeriods];
        for (std::uint32_t i = 0; i < std::size(pattern); ++i)
            pattern[i] = prev[(q + period + i % period) & m_mask];
        for (std::uint32_t x = q + 2 * period; x < stop;) {
            const std::uint32_t slot = x & m_mask;
            const std::uint32_t count = std::min({stop - x, m_mask + 1 - slot, 64u});
            std::memcpy(prev + slot, pattern + (x - q - period) % period, count * sizeof(Link));
            x += count;
        }
    }

    // The end of the stretch with the given period that a position q starts: the first i >= q + period with
    // data[i] != data[i - period] (a failure), or the length. Failures are looked for within the block of
    // q + period; past its end, the table of the next block's first failure answers.
    std::uint32_t StretchEnd(std::uint32_t period, std::uint32_t q) const
    {
        std::uint32_t i = q + period;
        if (i >= m_length)
            return m_length;
        const auto blockEnd =
            static_cast<std::uint32_t>(std::min<std::uint64_t>((i | (kBlock - 1)) + std::uint64_t{1}, m_length));
        while (i < blockEnd) {
            if (i + 8 > m_length) {
                while (i < m_length && m_data[i] == m_data[i - period])
                    ++i;
                return i;
            }
            std::uint64_t x, y;
            std::memcpy(&x, m_data + i, 8);
            std::memcpy(&y, m_data + i - period, 8);
            if (x != y)
                return i + static_cast<std::uint32_t>(__builtin_ctzll(x ^ y) >> 3);
            i += 8;
        }
        return blockEnd == m_length ? m_length : m_failures[period - 1][(blockEnd / kBlock) & m_blockMask];
    }

    // Brings the table of first failures per block up to date for every block a search may ask for: up to the
    // one after the block of the newest position + period (+ ahead), from a window behind. A failure found stays the
    // answer until the blocks pass it, so each period scans the data once (eight bytes at a time); periods are
    // only brought up to date when a search meets a long stretch of theirs.
    void BuildStretches(std::uint32_t period, std::uint32_t ahead = 0)
    {
        std::uint32_t* const table = m_failures[period - 1];
        std::uint32_t& fail = m_nextFailure[period - 1];
        const std::uint32_t last = (m_inserted + period + ahead) / kBlock + 1;
        const std::uint32_t oldest = m_inserted > m_window + 2 * kBlock ? (m_inserted - m_window) / kBlock - 1 : 0;
        for (std::uint32_t k = std::max(m_blocksBuilt[period - 1], oldest); k <= last; ++k) {
            const std::uint64_t start = std::max<std::uint64_t>(std::uint64_t{k} * kBlock, period);
            if (start >= m_length) {
                fail = m_length;
            } else if (fail < start) {
                fail = static_cast<std::uint32_t>(start);
                for (; fail + 8 <= m_length; fail += 8) {
                    std::uint64_t x, y;
                    std::memcpy(&x, m_data + fail, 8);
                    std::memcpy(&y, m_data + fail - period, 8);
                    if (x != y) {
                        fail += static_cast<std::uint32_t>(__builtin_ctzll(x ^ y) >> 3);
                        break;
                    }
                }
                if (fail + 8 > m_length)
                    while (fail < m_length && m_data[fail] == m_data[fail - period])
                        ++fail;
            }
            table[k & m_blockMask] = fail;
        }
        m_blocksBuilt[period - 1] = std::max(m_blocksBuilt[period - 1], last + 1);
    }

    // Enters every position inserted so far into the chains of level i (the longest key: every kSample-th).
    // Positions a window or more behind the newest are of no use to any later search: they are left out (a
    // chain may then lead to an older node, which lies beyond every search's reach and ends the walk).
    void Build(std::size_t i)
    {
        const std::uint32_t keyLength = kKeyLengths[i];
        std::uint32_t q = std::max(m_built[i], m_inserted > m_window + 2 ? m_inserted - m_window - 2 : 0);
        const std::uint32_t end = std::min(m_inserted, m_length >= keyLength ? m_length - keyLength + 1 : 0);
        if (sizeof(Link) == 2 && i != kLevels - 1 && q < end && end - q >= 8 * kInsertTry)
            q = BuildStretches(i, q, end);
        BuildRange(i, q, end);
        m_built[i] = std::max(m_built[i], m_inserted);
    }

    // Enters positions from q on into the chains of level i (not the sampled one) in a long catch-up, and
    // returns where the rest is to be entered one by one. Inside a stretch of a short period P, a key lying
    // wholly in the stretch repeats the one P before, and so do the links (the newest earlier position with
    // the same hash lies at most P back): past the stretch's first 2P positions they are copied from a
    // pattern, and the heads are set from its last P positions (every key of the stretch recurs among them).
    __attribute__((noinline)) std::uint32_t BuildStretches(std::size_t i, std::uint32_t q, std::uint32_t end)
    {
        const std::uint32_t keyLength = kKeyLengths[i];
        while (q < end && end - q >= 8 * kInsertTry && q + 40 <= m_length) {
            // Where no period starts, the next look is a few chunks on (a stretch's first positions are
            // entered one by one anyway).
            std::uint32_t stop = q + 4 * kInsertTry;
            if (const std::uint32_t period = PeriodAt(q); period != 0) {
                // Keys at x repeat those at x - P while x + keyLength <= the failure.
                const std::uint32_t failure = FailureFrom(q + period, period, end + keyLength - 1);
                const std::uint32_t fillEnd = failure + 1 >= q + keyLength ? std::min(end, failure + 1 - keyLength) : q;
                if (fillEnd >= q + 2 * period + kInsertTry) {
                    BuildRange(i, q, q + 2 * period);
                    FillPeriodic(m_prevs[i], q, fillEnd, period);
                    for (std::uint32_t x = fillEnd - period; x < fillEnd; ++x)
                        m_heads[i][HashAt(x, keyLength)] = x + 1;
                    q = fillEnd;
                    continue;
                }
                stop = std::max(stop, fillEnd);
            }
            BuildRange(i, q, stop);
            q = stop;
        }
        return q;
    }

    // Enters positions q .. end - 1 into the chains of level i, one by one.
    __attribute__((always_inline)) void BuildRange(std::size_t i, std::uint32_t q, std::uint32_t end)
    {
        const std::uint32_t keyLength = kKeyLengths[i];
        std::uint32_t* const head = m_heads[i];
        Link* const prev = m_prevs[i];
        if (keyLength <= 8) {
            const std::uint32_t fast = std::min(end, m_length >= 8 ? m_length - 7 : 0);
            const unsigned shift = 64 - 8 * keyLength;
            for (; q < fast; ++q) {
                std::uint64_t w;
                std::memcpy(&w, m_data + q, 8);
                const auto h = static_cast<std::uint32_t>(((w << shift) * kMultiplier) >> (64 - kHashBits));
                // The head 8 positions on is fetched meanwhile: the chains' tables together outgrow the cache.
                if (q + 8 < fast) {
                    std::uint64_t ahead;
                    std::memcpy(&ahead, m_data + q + 8, 8);
                    __builtin_prefetch(head + (((ahead << shift) * kMultiplier) >> (64 - kHashBits)));
                }
                prev[q & m_mask] = MakeLink(q + 1, head[h]);
                head[h] = q + 1;
            }
            for (; q < end; ++q) {
                const std::uint32_t h = HashAt(q, keyLength);
                prev[q & m_mask] = MakeLink(q + 1, head[h]);
                head[h] = q + 1;
            }
        } else if (i == kLevels - 1) {
            BuildHashed<kKeyLengths[kLevels - 1]>(head, prev, (q + kSample - 1) / kSample * kSample, end, kSample);
        } else if (keyLength == 12) {
            BuildHashed<12>(head, prev, q, end, 1);
        } else if (keyLength == 16) {
            BuildHashed<16>(head, prev, q, end, 1);
        } else {
            BuildHashed<32>(head, prev, q, end, 1);
        }
    }

    // Enters positions q, q + step, ... below end into the chains of a key of K bytes, with the key's words
    // loaded directly while 32 bytes remain.
    template <std::uint32_t K>
    void BuildHashed(std::uint32_t* head, Link* prev, std::uint32_t q, std::uint32_t end, std::uint32_t step)
    {
        static_assert(K > 8 && K <= 32);
        const std::uint32_t fast = std::min(end, m_length >= 32 ? m_length - 31 : 0);
        for (; q < fast; q += step) {
            std::uint64_t words[4] = {};
            std::memcpy(words, m_data + q, (K + 7) / 8 * 8);
            const std::uint32_t h = Hash(words, K);
            prev[q & m_mask] = MakeLink(q + 1, head[h]);
            head[h] = q + 1;
        }
        for (; q < end; q += step) {
            const std::uint32_t h = HashAt(q, K);
            prev[q & m_mask] = MakeLink(q + 1, head[h]);
            head[h] = q + 1;
        }
    }

    // The longest-key level whose key is at most `length` bytes, no higher than `top` (-1 below three bytes).
    std::int8_t LevelFor(std::uint32_t length, std::int8_t top) const
    {
        return std::min(m_levelAtMost[std::min<std::size_t>(length, std::size(m_levelAtMost) - 1)], top);
    }

    // Whether the chains of level i lag far behind: bringing them up to date would enter every position since.
    bool Stale(std::size_t i) const
    {
        return m_built[i] + kStaleLevel < m_inserted;
    }

    // The level to walk for a key of level i: where that one lags far behind and a shorter key's chains
    // (at least four bytes) are up to date, those serve the same walk, with the nodes that share only the
    // shorter key to pass over; `from` is then set to i.
    std::int8_t Settle(std::int8_t i, std::int8_t& from) const
    {
        if (!Stale(static_cast<std::size_t>(i)))
            return i;
        for (std::int8_t lower = i - 1; lower >= 1; --lower) {
            if (!Stale(static_cast<std::size_t>(lower))) {
                from = i;
                return lower;
            }
        }
        return i;
    }

    void Need(std::size_t i)
    {
        if (m_built[i] < m_inserted)
            Build(i);
    }

    void LoadWords(std::uint32_t position, std::uint32_t room, std::uint64_t words[4]) const
    {
        const std::uint8_t* p = m_data + position;
        if (room >= 32) {
            std::memcpy(words, p, 32);
            return;
        }
        std::uint8_t buffer[32] = {};
        std::memcpy(buffer, p, room);
        std::memcpy(words, buffer, 32);
    }

    __attribute__((always_inline)) static std::uint32_t Hash(const std::uint64_t words[4], std::uint32_t keyLength)
    {
        std::uint64_t h;
        if (keyLength <= 8) {
            h = (words[0] << (64 - 8 * keyLength)) * kMultiplier;
        } else {
            h = words[0] * kMultiplier;
            std::uint32_t rest = keyLength - 8;
            static constexpr std::uint64_t multipliers[3] = {0xC2B2AE3D27D4EB4Full, 0x165667B19E3779F9ull,
                                                             0xD6E8FEB86659FD93ull};
            for (int w = 1; rest > 0; ++w) {
                const std::uint32_t take = std::min(rest, 8u);
                const std::uint64_t part = take == 8 ? words[w] : words[w] << (64 - 8 * take);
                h ^= (part ^ (part >> 29)) * multipliers[w - 1];
                h = h << 17 | h >> 47;
                rest -= take;
            }
            h *= kMultiplier;
        }
        return static_cast<std::uint32_t>(h >> (64 - kHashBits));
    }

    std::uint32_t HashAt(std::uint32_t position, std::uint32_t keyLength) const
    {
        std::uint64_t words[4];
        LoadWords(position, m_length - position, words);
        return Hash(words, keyLength);
    }

    // Index of the first difference between the candidate and the current position in [from, limit), or
    // limit; the bytes before `from` are known to agree. When the current position starts a long stretch
    // with a short period P and the candidate's first P bytes agree, the answer follows from the lengths of
    // the two stretches (the shorter one ends where the other goes on), which keeps long periodic stretches
    // (where each farther candidate matches P bytes more) from costing a whole comparison per candidate.
    std::uint32_t Agree(std::uint32_t candidate, std::uint32_t from, std::uint32_t limit) const
    {
        const std::uint8_t* a = m_data + candidate;
        const std::uint8_t* b = m_here;
        std::uint32_t i = from;
        if (m_period != 0) {
            for (; i < m_period && i < limit; ++i)
                if (a[i] != b[i])
                    return i;
            if (i >= limit)
                return limit;
            const std::uint32_t stretch = StretchEnd(m_period, candidate) - candidate;
            if (stretch != m_stretch)
                return std::min(std::max(std::min(stretch, m_stretch), i), limit);
            i = std::max(i, std::min(stretch, limit));
        }
        while (i + 8 <= limit) {
            std::uint64_t x, y;
            std::memcpy(&x, a + i, 8);
            std::memcpy(&y, b + i, 8);
            if (x != y)
                return i + static_cast<std::uint32_t>(__builtin_ctzll(x ^ y) >> 3);
            i += 8;
        }
        while (i < limit && a[i] == b[i])
            ++i;
        return i;
    }

    // Whether a candidate agrees with the current position on its first `count` (>= 1) bytes: up to 8 in one
    // masked word comparison (a search position has 16 bytes after it, and candidates lie before it).
    __attribute__((always_inline)) bool Matches(std::uint32_t candidate, std::uint32_t count) const
    {
        if constexpr (std::endian::native == std::endian::little) {
            if (count <= 8) {
                std::uint64_t x, y;
                std::memcpy(&x, m_data + candidate, 8);
                std::memcpy(&y, m_here, 8);
                return ((x ^ y) & (~std::uint64_t{0} >> (64 - 8 * count))) == 0;
            }
        }
        return Agree(candidate, 0, count) >= count;
    }

    void Consider(std::uint32_t distance, std::uint32_t length)
    {
        const std::int32_t gain = Gain(distance, length, m_last, m_indexBits);
        if (gain > m_best.gain)
            m_best = {distance, length, gain};
    }

    // The candidate matches at least `known` >= need bytes. Returns true when the walk stops early.
    bool Accept(std::uint32_t candidate, std::uint32_t distance, std::uint32_t& need, std::uint32_t known)
    {
        const std::uint32_t cap = CappedLength(need, m_lmax);
        const std::uint32_t length = cap <= need ? need : Agree(candidate, std::min(known, cap), cap);
        m_currentExact = cap > need && length < cap;
        const std::int32_t gain = Gain(distance, length, m_last, m_indexBits);
        if (gain > m_best.gain) {
            m_best = {distance, length, gain};
            if (distance <= 1 && length > kRunStop)
                return true;
        }
        need = length;
        return false;
    }

    // Smallest distance >= from beyond which no candidate of `length` bytes, other than the one at the last
    // distance, can beat the best gain, or UINT32_MAX. For a fixed length the gain is constant between the
    // breakpoints of adjust(D) and of the digits of the index-bit prefix, so a table of suffix maxima per
    // interval answers it.
    std::uint32_t SkipFrom(std::uint32_t length, std::uint32_t from)
    {
        if (m_intervalBits != m_indexBits)
            BuildIntervals();
        // The last interval starting at or before `from` (the first starts at 1), halving without branches
        // over the sorted starts, padded to 64 with UINT32_MAX.
        std::size_t k = 0;
        for (std::size_t half = 32; half != 0; half >>= 1)
            k = m_intervals[k + half] <= from ? k + half : k;
        for (std::size_t i = k; i < m_intervalCount; ++i) {
            const std::int32_t bound = length < kTabledLengths ? m_suffixGain[length][i] : SuffixGain(length, i);
            if (bound <= m_best.gain)
                return i == k ? from : m_intervals[i];
        }
        return UINT32_MAX;
    }

    std::int32_t SuffixGain(std::uint32_t length, std::size_t first) const
    {
        std::int32_t bound = 0;
        for (std::size_t i = first; i < m_intervalCount; ++i)
            bound = std::max(bound, Gain(m_intervals[i], length, 0, m_indexBits));
        return bound;
    }

    void BuildIntervals()
    {
        m_intervalBits = m_indexBits;
        m_intervalCount = 0;
        for (std::uint32_t p : {1u, kAdjustBand1, kAdjustBand2, kAdjustBand3, kAdjustBand4})
            if (p < m_window)
                m_intervals[m_intervalCount++] = p;
        for (std::uint32_t k = 2; k < 32; ++k) {
            const std::uint64_t p = ((std::uint64_t{1} << k) - 3) << m_indexBits;
            if (p >= m_window)
                break;
            m_intervals[m_intervalCount++] = static_cast<std::uint32_t>(p);
        }
        std::sort(m_intervals, m_intervals + m_intervalCount);
        std::fill(m_intervals + m_intervalCount, std::end(m_intervals), UINT32_MAX);
        for (std::uint32_t length = 0; length < kTabledLengths; ++length) {
            std::int32_t bound = 0;
            for (std::size_t i = m_intervalCount; i-- > 0;) {
                bound = std::max(bound, Gain(m_intervals[i], length, 0, m_indexBits));
                m_suffixGain[length][i] = bound;
            }
        }
    }

    __attribute__((noinline)) Match PlainFind(std::uint32_t position, std::uint32_t lmax, std::uint32_t indexBits,
                                              std::uint32_t last) const
    {
        return PlainWalk(
            m_data, position, m_window, lmax, indexBits, last, m_head2[Key2(position)],
            [](std::uint32_t node) { return node - 1; },
            [this](std::uint32_t node) { return Follow(node, m_prev2[(node - 1) & m_mask]); });
    }

    const std::uint8_t* m_data = nullptr;
    std::uint32_t m_length = 0;
    std::uint32_t m_window = 0;
    std::uint32_t m_mask = 0;
    JcRelease m_release = nullptr;
    std::uint32_t* m_head2 = nullptr;
    std::uint32_t* m_slots = nullptr; // newest position + 1 by a hash of its three bytes
    std::uint32_t m_slotShift = 32;
    std::uint32_t m_slotBefore = 0; // the slot's node before the newest position was entered
    std::uint32_t m_headBefore = 0; // the pair chain's head before position m_headFor was entered
    std::uint32_t m_headFor = UINT32_MAX;
    Link* m_prev2 = nullptr;
    std::uint32_t m_blockMask = 0;
    std::uint32_t* m_failures[kPeriods] = {}; // per period, the first failure at or after each block's start
    std::uint32_t m_nextFailure[kPeriods] = {};
    std::uint32_t m_blocksBuilt[kPeriods] = {};
    int m_pairScore = 0; // rises when searches find the pair chains long, falls when not
    std::uint32_t m_searches = 0;
    std::uint32_t m_lastSearch = 0;
    std::uint32_t m_gapAverage = 0; // bytes between full searches, times 16, averaged over the recent ones
    bool m_startHashed = false;     // this search started on the hashed chains
    bool m_pairsLong = false;       // this search found a pair chain long
    std::uint32_t m_period = 0;     // short period of a long stretch at the search position, 0 for none
    std::uint32_t m_stretch = 0;    // that stretch's length
    std::uint32_t* m_heads[kLevels] = {};
    Link* m_prevs[kLevels] = {};
    std::uint32_t m_built[kLevels] = {};
    std::uint32_t m_inserted = 0;
    static constexpr std::uint32_t kTabledLengths = 256;
    std::uint32_t m_intervals[64] = {};
    std::size_t m_intervalCount = 0;
    std::uint32_t m_intervalBits = 0;
    std::int32_t m_suffixGain[kTabledLengths][40] = {};
    std::int8_t m_levelAtMost[33] = {};

    // The search in progress.
    const std::uint8_t* m_here = nullptr;
    std::uint32_t m_lmax = 0;
    std::uint32_t m_indexBits = 8;
    std::uint32_t m_last = 1;
    Match m_best;
    bool m_currentExact = false; // the accepted candidate's length is its true match length
};

} // namespace

std::size_t EncodeWithFastSearch(const std::uint8_t* source, std::size_t length, std::uint8_t* destination,
                                 std::size_t capacity, std::uint32_t window, JcAllocate allocate, JcRelease release,
                                 JcProgress progress, void* progressContext, bool noChecksum, bool narrowLinks)
{
    if (narrowLinks) {
        FastSearch<std::uint16_t> search;
        return EncodeStream(search, source, length, destination, capacity, window, allocate, release, progress,
                            progressContext, noChecksum);
    }
    FastSearch<std::uint32_t> search;
    return EncodeStream(search, source, length, destination, capacity, window, allocate, release, progress,
                        progressContext, noChecksum);
}

} // namespace hexaloom::jcalg
